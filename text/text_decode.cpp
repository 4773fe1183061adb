// Decoding: bytes to text with the ICU converter of a resolved label, and a
// fetched page by what it declares.
#include "text/text_codec.h"

#include "text/codec_common.h"

#include <unicode/ucnv_cb.h>

#include <array>
#include <string_view>

namespace teloria {

using namespace codec;

namespace {

// Every malformed or unmapped sequence becomes one U+FFFD (ICU's own
// substitution would give U+001A for single-byte code pages). In GB18030 the
// lone byte 0x80 is the euro sign, as in GBK.
struct ToUnicodeContext {
    bool euroAt80;
};

void U_CALLCONV substituteReplacement(const void* context, UConverterToUnicodeArgs* args,
                                      const char* codeUnits, int32_t length,
                                      UConverterCallbackReason reason, UErrorCode* err)
{
    if (reason > UCNV_IRREGULAR)
        return;
    const auto* ctx = static_cast<const ToUnicodeContext*>(context);
    UChar out = 0xFFFD;
    if (ctx && ctx->euroAt80 && length == 1 && static_cast<unsigned char>(codeUnits[0]) == 0x80)
        out = 0x20AC;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &out, 1, 0, err);
}

QString decodeWithIcu(QByteArrayView bytes, const char* converterName, bool* opened)
{
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr cnv(ucnv_open(converterName, &err));
    if (U_FAILURE(err) || !cnv) {
        *opened = false;
        return {};
    }
    *opened = true;
    static const ToUnicodeContext plain{false};
    static const ToUnicodeContext gb18030{true};
    const bool isGb18030 = std::string_view(converterName) == kGb18030;
    ucnv_setToUCallBack(cnv.get(), substituteReplacement, isGb18030 ? &gb18030 : &plain, nullptr,
                        nullptr, &err);

    QString out;
    // Mostly one UTF-16 unit per byte or fewer; grows when a page needs more.
    qsizetype capacity = bytes.size() + 16;
    out.resize(capacity);
    const char* source = bytes.data();
    const char* const sourceEnd = source + bytes.size();
    qsizetype written = 0;
    for (;;) {
        auto* target = reinterpret_cast<UChar*>(out.data()) + written;
        auto* const targetStart = target;
        err = U_ZERO_ERROR;
        ucnv_toUnicode(cnv.get(), &target, reinterpret_cast<UChar*>(out.data()) + capacity,
                       &source, sourceEnd, nullptr, true, &err);
        written += target - targetStart;
        if (err != U_BUFFER_OVERFLOW_ERROR)
            break;
        capacity *= 2;
        out.resize(capacity);
    }
    out.truncate(written);
    return out;
}
struct Bom {
    std::string_view bytes;
    const char* converter;
};
constexpr std::array<Bom, 3> kBoms{{
    {"\xEF\xBB\xBF", kUtf8},
    {"\xFF\xFE", kUtf16Le},
    {"\xFE\xFF", kUtf16Be},
}};

} // namespace

QString decodeBytes(QByteArrayView bytes, const QByteArray& converterName)
{
    if (converterName == kReplacement)
        return bytes.isEmpty() ? QString() : QString(QChar(0xFFFD));
    if (converterName == kUserDefined) {
        QString out(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            out[i] = QChar(b < 0x80 ? char16_t(b) : char16_t(0xF780 + b - 0x80));
        }
        return out;
    }
    if (bytes.isEmpty())
        return {};
    bool opened = false;
    if (!converterName.isEmpty()) {
        QString text = decodeWithIcu(bytes, converterName.constData(), &opened);
        if (opened)
            return text;
    }
    return decodeWithIcu(bytes, kUtf8, &opened);
}

QString decodePage(QByteArrayView body, QByteArrayView contentType)
{
    QByteArray converter = resolveEncodingLabel(charsetFromContentType(contentType));
    const std::string_view bytes = view(body);
    const Bom* bom = nullptr;
    for (const Bom& candidate : kBoms)
        if (bytes.substr(0, candidate.bytes.size()) == candidate.bytes)
            bom = &candidate;
    if (converter.isEmpty() && bom)
        converter = bom->converter;
    if (converter.isEmpty())
        converter = prescanMetaCharset(body);
    if (converter.isEmpty())
        converter = kUtf8;
    if (bom && converter == bom->converter)
        body = body.sliced(qsizetype(bom->bytes.size()));
    return decodeBytes(body, converter);
}

} // namespace teloria
