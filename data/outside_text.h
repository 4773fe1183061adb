#pragma once
// Text from outside — data files, an upstream's pages, rows of the learned
// database — is checked here, in one place, before any of it is kept: bounded
// in length, valid UTF-8, no control, format or line/paragraph-separator
// characters (Unicode Cc, Cf, Zl, Zp: NUL, NEL U+0085, U+200B, U+202E,
// U+2028, U+2029, U+FEFF ...), no markup and no field markers; then put in
// Unicode normal form C, so one name has one spelling in bytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace teloria::data {

inline constexpr std::size_t kMaxPlaceBytes = 64;    // a province or a city
inline constexpr std::size_t kMaxCardTypeBytes = 32; // "中国广电虚拟运营商" is 27
inline constexpr std::size_t kMaxCodeBytes = 16;     // a postcode or an area code

// True when text may go into a page, a file or a log line: valid UTF-8 with
// none of the characters above, no markup ('<', '>', '&'), no field
// separator ('|') and no field markers ("归属地", "卡类型"). Otherwise *why
// says what it holds.
bool isSafeText(std::string_view text, std::string* why = nullptr);

// text in normal form C when it is safe and at most maxBytes long (before
// and after); otherwise nothing and *why.
std::optional<std::string> acceptOutsideText(std::string_view text, std::size_t maxBytes, std::string* why = nullptr);

} // namespace teloria::data
