#pragma once
// Why a request counts as failed, in the words every program shows: the
// window's end box and row tips, and teloria-batch's summary on standard error.

#include "net/page_fetch.h"

#include <QString>

namespace teloria {

// Empty when the request did not fail. A 400 is the service's answer for a
// line that is not a number, not a failure; any other status outside 2xx is
// "HTTP <status>"; no answer at all is libcurl's description without the
// milliseconds and byte counts, so the same failure reads the same every time.
QString failureReason(const FetchResult& result);

} // namespace teloria
