// Encoding labels: the WHATWG label table, and the charset parameter of a
// Content-Type header.
#include "text/text_codec.h"

#include "text/codec_common.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>

namespace teloria {

using namespace codec;

namespace {

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

} // namespace teloria
