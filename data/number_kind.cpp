#include "data/number_kind.h"

#include "data/number_normalizer.h"

#include <algorithm>
#include <string>

namespace teloria::data {
namespace {

// 110, 12345, 10086, 95588, 96xxx; 400 and 800 numbers.
bool isServiceNumber(std::string_view typed)
{
    std::string digits;
    for (const char c : typed) {
        if (c >= '0' && c <= '9')
            digits.push_back(c);
        else if (c != ' ' && c != '-' && c != '\t' && c != '\r')
            return false;
    }
    if (digits.size() >= 3 && digits.size() <= 6)
        return digits[0] == '1' || digits[0] == '9';
    return digits.size() == 10 && (digits.starts_with("400") || digits.starts_with("800"));
}

} // namespace

std::string_view numberKind(std::string_view typed, std::string_view cardType)
{
    const auto number = cleanNumber(typed);
    if (!number)
        return isServiceNumber(typed) ? "service" : "not a number";
    switch (number->kind) {
    case NumberKind::Iot: return "iot";
    case NumberKind::Landline: return "landline";
    case NumberKind::Mobile: break;
    }
    return cardType.find("物联网") != std::string_view::npos ? "iot" : "mobile";
}

} // namespace teloria::data
