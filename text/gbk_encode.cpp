// The GBK encoder: text to CP936 bytes, GB18030 for what GBK lacks.
#include "text/text_codec.h"

#include "text/codec_common.h"

namespace teloria {

using namespace codec;

namespace {

// Encodes a run without euro signs or unpaired surrogates with ICU's GB18030
// converter: its one- and two-byte codes are GBK's, and it gives every other
// character a four-byte code. Two deliberate choices around it:
// - the euro sign is CP936's 0x80 (GB18030 puts it at A2E3, which a GBK
//   reader does not know); decoding 0x80 as GB18030 gives the euro back;
// - private-use characters keep CP936's user-defined codes (U+E5E5 is A3A0,
//   as in CP936 and GB18030-2005), though WHATWG decoders read A3A0 as U+3000.
void appendGb18030(QByteArray& out, QStringView run, UConverter* cnv)
{
    if (run.isEmpty())
        return;
    const qsizetype start = out.size();
    const qsizetype capacity = run.size() * 4; // at most four bytes per UTF-16 unit
    out.resize(start + capacity);
    UErrorCode err = U_ZERO_ERROR;
    const int32_t n = ucnv_fromUChars(cnv, out.data() + start, int32_t(capacity),
                                      reinterpret_cast<const UChar*>(run.utf16()),
                                      int32_t(run.size()), &err);
    out.resize(U_SUCCESS(err) || err == U_STRING_NOT_TERMINATED_WARNING ? start + n : start);
}

UConverter* gb18030Encoder()
{
    thread_local ConverterPtr cnv = [] {
        UErrorCode err = U_ZERO_ERROR;
        ConverterPtr c(ucnv_open(kGb18030, &err));
        if (U_FAILURE(err))
            c.reset();
        return c;
    }();
    return cnv.get();
}

} // namespace

QByteArray encodeGbk(QStringView text)
{
    QByteArray out;
    UConverter* cnv = gb18030Encoder();
    if (!cnv)
        return out;
    out.reserve(text.size() * 2);
    qsizetype runStart = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
            continue;
        }
        const bool euro = c == 0x20AC;
        if (!euro && !QChar::isSurrogate(c))
            continue;
        appendGb18030(out, text.sliced(runStart, i - runStart), cnv);
        out += euro ? '\x80' : '?';
        runStart = i + 1;
    }
    appendGb18030(out, text.sliced(runStart), cnv);
    return out;
}

} // namespace teloria
