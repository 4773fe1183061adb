#pragma once
// What kind of line a row holds, for a pipeline to filter on: "mobile",
// "iot" (a machine-to-machine number: 146, 148, 1440, 10 64x…, 14 40x…),
// "landline", "service" (a short service number such as 10086 or 95588, or a
// 400/800 number) or "not a number".

#include <string_view>

namespace teloria::data {

// typed: the line as the user gave it; cardType: the card type of its answer
// (empty when there is none), which tells a machine-to-machine segment.
std::string_view numberKind(std::string_view typed, std::string_view cardType);

} // namespace teloria::data
