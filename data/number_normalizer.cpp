#include "data/number_normalizer.h"

#include <algorithm>

namespace teloria::data {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::optional<CleanNumber> asMobile(std::string_view d)
{
    if (d.size() != 11 || d[0] != '1' || d[1] < '3')
        return std::nullopt;
    return CleanNumber{NumberKind::Mobile, std::string(d), 0};
}

std::optional<CleanNumber> asLandline(std::string_view d)
{
    if (d.size() < 10 || d.size() > 12 || d[0] != '0' || d[1] == '0')
        return std::nullopt;
    // Beijing (10) and the 2x cities have 2-digit area codes, all others 3.
    const int area = (d[1] == '1' || d[1] == '2') ? 3 : 4;
    const auto subscriber = static_cast<int>(d.size()) - area;
    if (subscriber < 7 || subscriber > 8)
        return std::nullopt;
    return CleanNumber{NumberKind::Landline, std::string(d), area};
}

} // namespace

std::optional<CleanNumber> cleanNumber(std::string_view typed)
{
    std::string s;
    s.reserve(typed.size());
    for (const char c : typed) {
        if (isBlank(c) || c == '-')
            continue;
        s.push_back(c);
    }
    if (s.empty() || s.size() > 20)
        return std::nullopt;

    bool international = false;
    std::string_view rest = s;
    if (rest.starts_with('+')) {
        if (!rest.starts_with("+86"))
            return std::nullopt; // another country
        rest.remove_prefix(3);
        international = true;
    } else if (rest.starts_with("0086")) {
        rest.remove_prefix(4);
        international = true;
    }
    if (rest.empty() || !std::all_of(rest.begin(), rest.end(), isDigit))
        return std::nullopt;

    if (international) {
        if (auto mobile = asMobile(rest))
            return mobile;
        if (rest[0] == '0')
            return asLandline(rest);
        return asLandline("0" + std::string(rest));
    }
    if (rest.size() == 13 && rest.starts_with("86"))
        return asMobile(rest.substr(2));
    if (rest[0] == '1')
        return asMobile(rest);
    return asLandline(rest);
}

} // namespace teloria::data
