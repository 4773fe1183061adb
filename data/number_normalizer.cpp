#include "data/number_normalizer.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <vector>

namespace teloria::data {
namespace {

// Longer text than this is no pasted number, with or without a note beside it (the service cuts there too).
constexpr std::size_t kMaxLineBytes = kMaxNumberBytes;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
// Characters people put between the digits of one number.
bool isSeparator(char c) { return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')' || c == '[' || c == ']'; }
// Characters a number may be written with; anything else (a letter, a CJK
// character, a tab, a comma) ends it.
bool isNumberChar(char c) { return isDigit(c) || isSeparator(c) || c == '+'; }

std::optional<CleanNumber> asMobile(std::string_view d)
{
    if (d.size() != 11 || d[0] != '1' || d[1] < '3')
        return std::nullopt;
    return CleanNumber{NumberKind::Mobile, std::string(d), 0};
}

std::optional<CleanNumber> asIot(std::string_view d)
{
    if (d.size() != 13 || !(d.starts_with("1064") || d.starts_with("1440")))
        return std::nullopt;
    return CleanNumber{NumberKind::Iot, std::string(d), 0};
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

// The text as one number and nothing else, separators aside.
std::optional<CleanNumber> wholeNumber(std::string_view typed)
{
    std::string s;
    s.reserve(typed.size());
    for (const char c : typed) {
        if (isBlank(c) || isSeparator(c))
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
        if (auto iot = asIot(rest))
            return iot;
        if (rest[0] == '0')
            return asLandline(rest);
        return asLandline("0" + std::string(rest));
    }
    if (rest.size() == 13 && rest.starts_with("86"))
        return asMobile(rest.substr(2));
    if (rest.size() == 13)
        return asIot(rest);
    if (rest[0] == '1')
        return asMobile(rest);
    return asLandline(rest);
}

// Full-width digits, signs and spaces as their ASCII forms; nothing for text
// that is not UTF-8.
std::optional<std::string> compatibilityForm(std::string_view typed)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status))
        return std::nullopt;
    const auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(typed.data(), static_cast<int32_t>(typed.size())));
    if (text.indexOf(char16_t{0xFFFD}) >= 0)
        return std::nullopt; // broken UTF-8
    const icu::UnicodeString normal = nfkc->normalize(text, status);
    if (U_FAILURE(status))
        return std::nullopt;
    std::string out;
    normal.toUTF8String(out);
    // The ideographic full stop is a dot between digits too.
    for (std::size_t at; (at = out.find("\xE3\x80\x82")) != std::string::npos;)
        out.replace(at, 3, ".");
    return out;
}

// The one number among other text: runs of number characters, each read
// whole and, failing that, word by word. Exactly one distinct number or nothing.
std::optional<CleanNumber> onlyNumberIn(std::string_view line)
{
    std::vector<CleanNumber> found;
    auto keep = [&found](std::optional<CleanNumber> n) {
        if (n && std::none_of(found.begin(), found.end(), [&n](const CleanNumber& f) { return f.digits == n->digits; }))
            found.push_back(std::move(*n));
    };
    std::size_t i = 0;
    while (i < line.size()) {
        if (!isNumberChar(line[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < line.size() && isNumberChar(line[end]))
            ++end;
        const std::string_view run = line.substr(i, end - i);
        i = end;
        if (std::none_of(run.begin(), run.end(), isDigit))
            continue;
        if (auto whole = wholeNumber(run)) {
            keep(std::move(whole));
            continue;
        }
        for (std::size_t w = 0; w < run.size();) {
            const std::size_t space = std::min(run.find(' ', w), run.size());
            if (space > w)
                keep(wholeNumber(run.substr(w, space - w)));
            w = space + 1;
        }
    }
    if (found.size() != 1)
        return std::nullopt;
    return std::move(found.front());
}

} // namespace

std::optional<CleanNumber> cleanNumber(std::string_view typed)
{
    if (auto number = wholeNumber(typed))
        return number; // the common case: a number as it is, no copy of the text
    if (typed.empty() || typed.size() > kMaxLineBytes)
        return std::nullopt;
    // A control character (NUL, ESC ...) beside a number is no pasted text: nothing is picked out of it.
    if (std::any_of(typed.begin(), typed.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return (u < 0x20 && !isBlank(c)) || u == 0x7F;
        }))
        return std::nullopt;
    if (std::any_of(typed.begin(), typed.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        const auto normal = compatibilityForm(typed);
        if (!normal)
            return onlyNumberIn(typed); // not UTF-8: its ASCII digits may still be the one number
        if (auto number = wholeNumber(*normal))
            return number;
        return onlyNumberIn(*normal);
    }
    return onlyNumberIn(typed);
}

} // namespace teloria::data
