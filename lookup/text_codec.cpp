#include "text_codec.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace teloria {

namespace {

constexpr char kUtf8[] = "UTF-8";
constexpr char kGb18030[] = "GB18030";
constexpr char kUtf16Le[] = "UTF-16LE";
constexpr char kUtf16Be[] = "UTF-16BE";
constexpr char kWindows1252[] = "windows-1252";
constexpr char kReplacement[] = "replacement";
constexpr char kUserDefined[] = "x-user-defined";

struct LabelGroup {
    const char* converter;
    const char* labels; // separated by single spaces
};

// The labels of the WHATWG Encoding Standard, each group with the ICU
// converter that decodes it. The whole gbk family decodes with GB18030, a
// superset of GB2312 and GBK, so pages labelled gb2312 that use GBK characters
// come out right. Big5 is Big5-HKSCS there, Shift_JIS is windows-31j, EUC-KR
// is windows-949, and the Latin-1 labels mean windows-1252.
const std::unordered_map<std::string_view, const char*>& labelTable()
{
    static const auto table = [] {
        const LabelGroup groups[] = {
            {kUtf8, "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
            {"ibm-866", "866 cp866 csibm866 ibm866"},
            {"ISO-8859-2",
             "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
            {"ISO-8859-3",
             "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
            {"ISO-8859-4",
             "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
            {"ISO-8859-5",
             "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
            {"ISO-8859-6",
             "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
            {"ISO-8859-7",
             "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
            // ISO-8859-8-I differs from ISO-8859-8 in text direction only.
            {"ISO-8859-8",
             "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 iso_8859-8 iso_8859-8:1988 visual csiso88598i iso-8859-8-i logical"},
            {"ISO-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
            {"ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
            {"ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
            {"ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
            {"ISO-8859-16", "iso-8859-16"},
            {"KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
            {"KOI8-U", "koi8-ru koi8-u"},
            {"macintosh", "csmacintosh mac macintosh x-mac-roman"},
            {"windows-874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
            {"windows-1250", "cp1250 windows-1250 x-cp1250"},
            {"windows-1251", "cp1251 windows-1251 x-cp1251"},
            {kWindows1252,
             "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
            {"windows-1253", "cp1253 windows-1253 x-cp1253"},
            {"windows-1254",
             "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 latin5 windows-1254 x-cp1254"},
            {"windows-1255", "cp1255 windows-1255 x-cp1255"},
            {"windows-1256", "cp1256 windows-1256 x-cp1256"},
            {"windows-1257", "cp1257 windows-1257 x-cp1257"},
            {"windows-1258", "cp1258 windows-1258 x-cp1258"},
            {"x-mac-cyrillic", "x-mac-cyrillic x-mac-ukrainian"},
            {kGb18030,
             "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk gb18030"},
            {"Big5-HKSCS", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
            {"EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
            {"ISO-2022-JP", "csiso2022jp iso-2022-jp"},
            {"windows-31j",
             "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
            {"windows-949",
             "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 windows-949"},
            {kReplacement,
             "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"},
            {kUtf16Be, "unicodefffe utf-16be"},
            {kUtf16Le, "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
            {kUserDefined, "x-user-defined"},
        };
        std::unordered_map<std::string_view, const char*> map;
        for (const LabelGroup& group : groups) {
            std::string_view labels = group.labels;
            while (!labels.empty()) {
                const std::size_t space = std::min(labels.find(' '), labels.size());
                map.emplace(labels.substr(0, space), group.converter);
                labels.remove_prefix(std::min(space + 1, labels.size()));
            }
        }
        return map;
    }();
    return table;
}

bool isAsciiWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

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

std::string_view view(QByteArrayView bytes)
{
    return {bytes.data(), static_cast<std::size_t>(bytes.size())};
}

bool startsWith(std::string_view s, std::size_t pos, std::string_view prefix)
{
    if (s.size() - pos < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (asciiLower(s[pos + i]) != prefix[i])
            return false;
    return true;
}

// The charset=... inside the content attribute of a <meta http-equiv>.
std::string charsetFromMetaContent(std::string_view s)
{
    std::size_t pos = 0;
    for (;;) {
        pos = s.find("charset", pos); // s is lower-cased already
        if (pos == std::string_view::npos)
            return {};
        pos += 7;
        while (pos < s.size() && isAsciiWhitespace(s[pos]))
            ++pos;
        if (pos >= s.size() || s[pos] != '=')
            continue;
        ++pos;
        while (pos < s.size() && isAsciiWhitespace(s[pos]))
            ++pos;
        if (pos >= s.size())
            return {};
        if (s[pos] == '"' || s[pos] == '\'') {
            const std::size_t close = s.find(s[pos], pos + 1);
            if (close == std::string_view::npos)
                return {};
            return std::string(s.substr(pos + 1, close - pos - 1));
        }
        std::size_t end = pos;
        while (end < s.size() && !isAsciiWhitespace(s[end]) && s[end] != ';')
            ++end;
        return std::string(s.substr(pos, end - pos));
    }
}

// A small version of the HTML prescan: walks the bytes as tags, comments and
// text, reading attributes the way a browser's prescan does, so that a
// "<meta" inside a comment or inside another tag's attribute is not taken.
class MetaPrescan {
public:
    explicit MetaPrescan(std::string_view s) : s_(s) {}

    QByteArray run()
    {
        while (pos_ < s_.size()) {
            if (startsWith(s_, pos_, "<!--")) {
                const std::size_t close = s_.find("-->", pos_ + 2);
                if (close == std::string_view::npos)
                    return {};
                pos_ = close + 3;
            } else if (startsWith(s_, pos_, "<meta") && pos_ + 5 < s_.size()
                       && (isAsciiWhitespace(s_[pos_ + 5]) || s_[pos_ + 5] == '/')) {
                pos_ += 6;
                if (QByteArray found = meta(); !found.isEmpty())
                    return found;
            } else if (s_[pos_] == '<' && pos_ + 1 < s_.size()
                       && (isLetter(s_[pos_ + 1])
                           || (s_[pos_ + 1] == '/' && pos_ + 2 < s_.size() && isLetter(s_[pos_ + 2])))) {
                pos_ += 1;
                while (pos_ < s_.size() && !isAsciiWhitespace(s_[pos_]) && s_[pos_] != '>')
                    ++pos_;
                std::string name, value;
                while (attribute(name, value)) {
                }
            } else if (startsWith(s_, pos_, "<!") || startsWith(s_, pos_, "</")
                       || startsWith(s_, pos_, "<?")) {
                const std::size_t close = s_.find('>', pos_ + 1);
                if (close == std::string_view::npos)
                    return {};
                pos_ = close + 1;
            } else {
                ++pos_;
            }
        }
        return {};
    }

private:
    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    // The attributes of one <meta>; the resolved charset when it declares one.
    QByteArray meta()
    {
        bool gotPragma = false;
        enum { Unset, No, Yes } needPragma = Unset;
        QByteArray charset;
        bool seenHttpEquiv = false, seenContent = false, seenCharset = false;
        std::string name, value;
        while (attribute(name, value)) {
            if (name == "http-equiv" && !seenHttpEquiv) {
                seenHttpEquiv = true;
                gotPragma = value == "content-type";
            } else if (name == "content" && !seenContent) {
                seenContent = true;
                if (charset.isEmpty()) {
                    const std::string label = charsetFromMetaContent(value);
                    if (!label.empty()) {
                        charset = resolveEncodingLabel(QByteArrayView(label.data(), label.size()));
                        needPragma = Yes;
                    }
                }
            } else if (name == "charset" && !seenCharset) {
                seenCharset = true;
                charset = resolveEncodingLabel(QByteArrayView(value.data(), value.size()));
                needPragma = No;
            }
        }
        if (needPragma == Unset || (needPragma == Yes && !gotPragma) || charset.isEmpty())
            return {};
        if (charset == kUtf16Le || charset == kUtf16Be)
            return kUtf8;
        if (charset == kUserDefined)
            return kWindows1252;
        return charset;
    }

    // Reads the next attribute; false at the tag's '>' or the end of the bytes.
    bool attribute(std::string& name, std::string& value)
    {
        name.clear();
        value.clear();
        while (pos_ < s_.size() && (isAsciiWhitespace(s_[pos_]) || s_[pos_] == '/'))
            ++pos_;
        if (pos_ >= s_.size())
            return false;
        if (s_[pos_] == '>') {
            ++pos_;
            return false;
        }
        for (;;) {
            if (pos_ >= s_.size())
                return false;
            const char c = s_[pos_];
            if (c == '=' && !name.empty()) {
                ++pos_;
                break;
            }
            if (isAsciiWhitespace(c)) {
                while (pos_ < s_.size() && isAsciiWhitespace(s_[pos_]))
                    ++pos_;
                if (pos_ >= s_.size())
                    return false;
                if (s_[pos_] != '=')
                    return true;
                ++pos_;
                break;
            }
            if (c == '/' || c == '>')
                return true;
            name += asciiLower(c);
            ++pos_;
        }
        while (pos_ < s_.size() && isAsciiWhitespace(s_[pos_]))
            ++pos_;
        if (pos_ >= s_.size())
            return false;
        const char first = s_[pos_];
        if (first == '"' || first == '\'') {
            ++pos_;
            while (pos_ < s_.size() && s_[pos_] != first)
                value += asciiLower(s_[pos_++]);
            if (pos_ >= s_.size())
                return false;
            ++pos_;
            return true;
        }
        if (first == '>')
            return true;
        while (pos_ < s_.size() && !isAsciiWhitespace(s_[pos_]) && s_[pos_] != '>')
            value += asciiLower(s_[pos_++]);
        return pos_ < s_.size();
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

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

QByteArray resolveEncodingLabel(QByteArrayView label)
{
    std::string_view s = view(label);
    while (!s.empty() && isAsciiWhitespace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isAsciiWhitespace(s.back()))
        s.remove_suffix(1);
    if (s.empty() || s.size() > 32)
        return {};
    std::string lower(s);
    std::transform(lower.begin(), lower.end(), lower.begin(), asciiLower);
    const auto& table = labelTable();
    const auto it = table.find(lower);
    return it == table.end() ? QByteArray() : QByteArray(it->second);
}

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

QByteArray charsetFromContentType(QByteArrayView contentType)
{
    const std::string_view s = view(contentType);
    std::size_t pos = s.find(';');
    while (pos != std::string_view::npos && pos < s.size()) {
        ++pos; // past ';'
        while (pos < s.size() && isAsciiWhitespace(s[pos]))
            ++pos;
        std::string name;
        while (pos < s.size() && s[pos] != ';' && s[pos] != '=')
            name += asciiLower(s[pos++]);
        if (pos >= s.size())
            break;
        if (s[pos] == ';')
            continue;
        ++pos; // past '='
        std::string value;
        if (pos < s.size() && s[pos] == '"') {
            ++pos;
            while (pos < s.size() && s[pos] != '"') {
                if (s[pos] == '\\' && pos + 1 < s.size())
                    ++pos;
                value += s[pos++];
            }
            pos = s.find(';', pos);
        } else {
            const std::size_t end = std::min(s.find(';', pos), s.size());
            value.assign(s.substr(pos, end - pos));
            while (!value.empty() && isAsciiWhitespace(value.back()))
                value.pop_back();
            pos = end;
        }
        if (name == "charset" && !value.empty())
            return QByteArray(value.data(), qsizetype(value.size()));
    }
    return {};
}

QByteArray prescanMetaCharset(QByteArrayView body)
{
    return MetaPrescan(view(body).substr(0, 1024)).run();
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
