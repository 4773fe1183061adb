#pragma once
// The GBK-encoded HTML pages the service answers with.

#include "service/location_resolver.h"

#include <string>
#include <string_view>

namespace teloria::service {

inline constexpr char kPageContentType[] = "text/html; charset=GBK";

// The answer for one number: the number, then "归属地：" + location + "<br/>"
// and "卡类型：" + card type + "<br/>". number holds digits only.
std::string answerPage(std::string_view number, const Answer& answer);

// A page for a query that is not a phone number: it holds neither field
// marker, so a client cutting fields out of it gets empty cells.
const std::string& notANumberPage();

// Short pages for the other errors, without the markers either.
const std::string& notFoundPage();
const std::string& methodNotAllowedPage();
const std::string& tooLongPage();
const std::string& tooLargePage();
const std::string& headersTooLargePage();
const std::string& badRequestPage();

} // namespace teloria::service
