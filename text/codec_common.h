#pragma once
// What the parts of the character-set layer share: the converter names they
// pass around, ASCII helpers for header and markup bytes, and ICU converter
// ownership. Not for use outside lookup/.

#include <QByteArrayView>

#include <unicode/ucnv.h>

#include <memory>
#include <string_view>

namespace teloria::codec {

inline constexpr char kUtf8[] = "UTF-8";
inline constexpr char kGb18030[] = "GB18030";
inline constexpr char kUtf16Le[] = "UTF-16LE";
inline constexpr char kUtf16Be[] = "UTF-16BE";
inline constexpr char kWindows1252[] = "windows-1252";
inline constexpr char kReplacement[] = "replacement";
inline constexpr char kUserDefined[] = "x-user-defined";

inline bool isAsciiWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

inline char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline std::string_view view(QByteArrayView bytes)
{
    return {bytes.data(), static_cast<std::size_t>(bytes.size())};
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

} // namespace teloria::codec
