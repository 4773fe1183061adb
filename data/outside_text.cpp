#include "data/outside_text.h"

#include <QByteArrayView>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace teloria::data {

namespace {

bool refuse(std::string* why, std::string reason)
{
    if (why)
        *why = std::move(reason);
    return false;
}

std::string codePointName(UChar32 c)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

} // namespace

bool isSafeText(std::string_view text, std::string* why)
{
    if (!QByteArrayView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8())
        return refuse(why, "is not UTF-8 text");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t i = 0; i < length;) {
        const char c = text[static_cast<std::size_t>(i)];
        if (c == '<' || c == '>' || c == '&')
            return refuse(why, "holds markup (an angle bracket or ampersand)");
        if (c == '|')
            return refuse(why, "holds a field separator (a vertical bar)");
        UChar32 cp = 0;
        U8_NEXT(bytes, i, length, cp);
        switch (u_charType(cp)) {
        case U_CONTROL_CHAR:
            return refuse(why, "holds a control character (" + codePointName(cp) + ")");
        case U_FORMAT_CHAR:
            return refuse(why, "holds an invisible format character (" + codePointName(cp) + ")");
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
            return refuse(why, "holds a line break (" + codePointName(cp) + ")");
        default:
            break;
        }
    }
    for (const std::string_view marker : {"归属地", "卡类型"})
        if (text.find(marker) != std::string_view::npos)
            return refuse(why, "holds a field marker (" + std::string(marker) + ")");
    return true;
}

std::optional<std::string> acceptOutsideText(std::string_view text, std::size_t maxBytes, std::string* why)
{
    if (text.size() > maxBytes) {
        refuse(why, "is longer than " + std::to_string(maxBytes) + " bytes");
        return std::nullopt;
    }
    if (!isSafeText(text, why))
        return std::nullopt;
    bool ascii = true;
    for (const char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return std::string(text);
    // Taken once: every thread then reads ICU's normaliser through this
    // static's guard, which ThreadSanitizer sees, not only through ICU's own
    // one-time set-up, which it cannot.
    static const icu::Normalizer2* const nfc = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* instance = icu::Normalizer2::getNFCInstance(status);
        return U_SUCCESS(status) ? instance : nullptr;
    }();
    if (!nfc) {
        refuse(why, "cannot be normalised");
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    if (nfc->isNormalized(source, status) && U_SUCCESS(status))
        return std::string(text);
    status = U_ZERO_ERROR;
    const icu::UnicodeString normal = nfc->normalize(source, status);
    std::string out;
    normal.toUTF8String(out);
    if (U_FAILURE(status) || out.size() > maxBytes || !isSafeText(out, why)) {
        if (U_FAILURE(status) || out.size() > maxBytes)
            refuse(why, "is longer than " + std::to_string(maxBytes) + " bytes in normal form");
        return std::nullopt;
    }
    return out;
}

} // namespace teloria::data
