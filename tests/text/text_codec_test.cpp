#include "support/qstring_printer.h"

#include "text/text_codec.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

using namespace teloria;

namespace {

QByteArray bytes(const char* s, qsizetype n = -1)
{
    return n < 0 ? QByteArray(s) : QByteArray(s, n);
}

QString fffd(int n = 1)
{
    return QString(n, QChar(0xFFFD));
}

} // namespace

TEST(EncodingLabel, ResolvesAsBrowsersDo)
{
    const struct {
        const char* label;
        const char* converter;
    } cases[] = {
        {"utf-8", "UTF-8"},
        {"UTF8", "UTF-8"},
        {" \t Utf-8 \r\n\f", "UTF-8"},
        {"unicode-1-1-utf-8", "UTF-8"},
        {"x-unicode20utf8", "UTF-8"},
        // The whole gbk family decodes with GB18030.
        {"gb2312", "GB18030"},
        {"GB2312", "GB18030"},
        {"gbk", "GB18030"},
        {"x-gbk", "GB18030"},
        {"chinese", "GB18030"},
        {"csgb2312", "GB18030"},
        {"csiso58gb231280", "GB18030"},
        {"gb_2312", "GB18030"},
        {"gb_2312-80", "GB18030"},
        {"iso-ir-58", "GB18030"},
        {"gb18030", "GB18030"},
        {"big5", "Big5-HKSCS"},
        {"big5-hkscs", "Big5-HKSCS"},
        {"x-x-big5", "Big5-HKSCS"},
        {"shift_jis", "windows-31j"},
        {"sjis", "windows-31j"},
        {"ms932", "windows-31j"},
        {"euc-jp", "EUC-JP"},
        {"iso-2022-jp", "ISO-2022-JP"},
        {"euc-kr", "windows-949"},
        {"ks_c_5601-1987", "windows-949"},
        {"iso-8859-1", "windows-1252"},
        {"latin1", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"iso-8859-2", "ISO-8859-2"},
        {"iso-8859-8-i", "ISO-8859-8"},
        {"iso-8859-9", "windows-1254"},
        {"tis-620", "windows-874"},
        {"koi8-r", "KOI8-R"},
        {"windows-1251", "windows-1251"},
        {"utf-16", "UTF-16LE"},
        {"utf-16le", "UTF-16LE"},
        {"utf-16be", "UTF-16BE"},
        {"hz-gb-2312", "replacement"},
        {"iso-2022-kr", "replacement"},
        {"x-user-defined", "x-user-defined"},
        // Unknown.
        {"", ""},
        {"   ", ""},
        {"bogus", ""},
        {"utf-7", ""},
        {"gb 2312", ""},
        {"\vutf-8", ""}, // a vertical tab is not ASCII whitespace
        {"gb2312;", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolveEncodingLabel(c.label), QByteArray(c.converter)) << '"' << c.label << '"';
}

// One telling byte sequence per encoding: this also proves every converter
// name in the label table opens in ICU (a wrong name would fall back to UTF-8).
TEST(DecodeBytes, EveryFamilyDecodesWithItsOwnConverter)
{
    const struct {
        const char* label;
        QByteArray in;
        QString out;
    } cases[] = {
        {"utf-8", "\xE4\xB8\xAD", u"中"_qs},
        {"gb2312", "\xD6\xD0\xB9\xFA", u"中国"_qs},
        {"gbk", "\xE9" "F\x88\xD2", u"镕堃"_qs},
        {"gb18030", "\x95\x32\x82\x36", u"\U00020000"_qs},
        {"gbk", "\x80", u"€"_qs}, // GBK's single-byte euro
        {"gb18030", "\xA2\xE3", u"€"_qs},
        {"big5", "\xA4\xA4", u"中"_qs},
        {"shift_jis", "\x92\x86", u"中"_qs},
        {"euc-jp", "\xC3\xE6", u"中"_qs},
        {"iso-2022-jp", "\x1B$BCf\x1B(B", u"中"_qs},
        {"euc-kr", "\xB0\xA1", u"가"_qs},
        {"utf-16le", bytes("\x2D\x4E", 2), u"中"_qs},
        {"utf-16be", bytes("\x4E\x2D", 2), u"中"_qs},
        {"windows-1252", "\x80\x81", u"€\u0081"_qs},
        {"iso-8859-2", "\xA1", u"Ą"_qs},
        {"windows-1251", "\xC0", u"А"_qs},
        {"koi8-r", "\xC1", u"а"_qs},
        {"ibm866", "\x80", u"А"_qs},
        {"windows-874", "\xA1", u"ก"_qs},
        {"macintosh", "\x80", u"Ä"_qs},
        {"x-mac-cyrillic", "\x80", u"А"_qs},
        {"iso-8859-7", "\xC1", u"Α"_qs},
        {"iso-8859-8", "\xE0", u"א"_qs},
        {"windows-1256", "\xC7", u"ا"_qs},
        {"x-user-defined", "a\x80\xFF", u"a\uF780\uF7FF"_qs},
        {"hz-gb-2312", "~{VP~}", fffd()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeBytes(c.in, resolveEncodingLabel(c.label)), c.out) << c.label;
    EXPECT_EQ(decodeBytes("", resolveEncodingLabel("hz-gb-2312")), QString());
}

TEST(DecodeBytes, MalformedBytesBecomeReplacementCharacters)
{
    const struct {
        const char* converter;
        QByteArray in;
        QString out;
    } cases[] = {
        {"UTF-8", "a\xFF" "b", u"a\uFFFDb"_qs},
        {"UTF-8", "\xC3", fffd()},
        {"UTF-8", "a\xE4\xB8" "b", u"a\uFFFDb"_qs},  // a cut-off sequence is one U+FFFD
        {"UTF-8", "\xED\xA0\x80", fffd(3)},           // an encoded surrogate
        {"UTF-8", "\xC0\xAF", fffd(2)},               // an overlong form
        {"GB18030", "\xD6", fffd()},
        {"GB18030", "\xFF" "a", u"\uFFFDa"_qs},
        {"GB18030", "\x81\x30\x81", fffd()},
        {"UTF-16LE", bytes("\x2D\x4E\x41", 3), u"中\uFFFD"_qs},
        {"UTF-16LE", bytes("\x00\xD8" "a\x00", 4), u"\uFFFDa"_qs},
        {"windows-1255", "\xD9", fffd()},             // unassigned: not ICU's U+001A
        {"ISO-8859-3", "\xA5", fffd()},
        {"windows-31j", "\x82 ", u"\uFFFD "_qs},        // a lead byte before ASCII
        {"Big5-HKSCS", "\xA4 ", u"\uFFFD "_qs},
        {"", "\xFF", fffd()},                          // no converter: UTF-8
        {"no-such-converter", "a\xFF", u"a\uFFFD"_qs},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeBytes(c.in, c.converter), c.out) << c.converter << ' ' << c.in.toHex().constData();
}

TEST(ContentTypeCharset, ReadsTheParameterQuotedOrNot)
{
    const struct {
        const char* header;
        const char* charset;
    } cases[] = {
        {"text/html; charset=gbk", "gbk"},
        {"text/html;charset=GB2312", "GB2312"},
        {"text/html; charset=\"gbk\"", "gbk"},
        {"text/html; CharSet=utf-8 ", "utf-8"},
        {"text/html ; q=1 ; charset=big5 ; level=2", "big5"},
        {"text/html; foo=\"a;charset=utf-8\"; charset=gbk", "gbk"},
        {"text/html; charset=\"g\\bk\"", "gbk"},
        {"text/html; charset=", ""},
        {"text/html; charset = gbk", ""}, // not a charset parameter
        {"text/html", ""},
        {"", ""},
        {"charset=gbk", ""}, // that is the type, not a parameter
    };
    for (const auto& c : cases)
        EXPECT_EQ(charsetFromContentType(c.header), QByteArray(c.charset)) << c.header;
}

// The page is the given prefix followed by 中 in GBK: it reads as 中 when the
// prescan finds gbk, and as two U+FFFD when the page falls back to UTF-8.
TEST(MetaPrescan, FindsTheDeclarationLikeABrowser)
{
    const struct {
        const char* prefix;
        bool gbk;
    } cases[] = {
        {"<meta charset=\"gbk\">", true},
        {"<META CHARSET=GBK>", true},
        {"<meta charset='gb2312'/>", true},
        {"<meta charset = gbk >", true},
        {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">", true},
        {"<meta content=\"text/html; charset=gb2312\" http-equiv=\"content-type\">", true},
        {"<meta http-equiv=Content-Type content='text/html;charset=\"gbk\"'>", true},
        {"<meta/charset=gbk>", true},
        {"<meta charset=\"bogus\"><meta charset=\"gbk\">", true},
        {"<!-- x --><meta charset=gbk>", true},
        {"<meta content=\"text/html; charset=gbk\">", false},           // no http-equiv
        {"<meta name=\"x\" content=\"charset=gbk\">", false},
        {"<meta http-equiv=\"refresh\" content=\"0; charset=gbk\">", false},
        {"<!-- <meta charset=\"gbk\"> -->", false},
        {"<div title=\"<meta charset=gbk>\"></div>", false},
        {"<metadata charset=gbk>", false},
        {"<meta charset=\"utf-8\">", false},
        {"<meta charset=\"utf-16le\">", false},                         // UTF-16 means UTF-8 here
        {"<meta charset=\"bogus\">", false},
        {"<meta charset=\"gbk", false},                                   // never closed
    };
    for (const auto& c : cases) {
        const QByteArray page = QByteArray(c.prefix) + "\xD6\xD0";
        const QString expected = QString::fromLatin1(c.prefix) + (c.gbk ? u"中"_qs : fffd(2));
        EXPECT_EQ(decodePage(page, "text/html"), expected) << c.prefix;
    }
}

TEST(MetaPrescan, LooksAtTheFirst1024BytesOnly)
{
    const QByteArray meta = "<meta charset=gbk>";
    const QByteArray inside = QByteArray(1024 - meta.size(), ' ') + meta;
    const QByteArray beyond = QByteArray(1025 - meta.size(), ' ') + meta;
    EXPECT_EQ(prescanMetaCharset(inside), "GB18030");
    EXPECT_EQ(prescanMetaCharset(beyond), "");
}

TEST(DecodePage, HeaderThenByteOrderMarkThenMetaThenUtf8)
{
    const struct {
        const char* name;
        QByteArray body;
        const char* contentType;
        QString text;
    } cases[] = {
        {"header", "\xD6\xD0", "text/html; charset=gbk", u"中"_qs},
        {"header over meta", "<meta charset=utf-8>\xD6\xD0", "text/html; charset=gb2312",
         u"<meta charset=utf-8>中"_qs},
        {"unknown header label, meta", "<meta charset=gbk>\xD6\xD0", "text/html; charset=bogus",
         u"<meta charset=gbk>中"_qs},
        {"header utf-8 with its mark", "\xEF\xBB\xBF\xE4\xB8\xAD", "text/html; charset=utf-8", u"中"_qs},
        {"utf-8 mark", "\xEF\xBB\xBF\xE4\xB8\xAD", "text/html", u"中"_qs},
        {"utf-16le mark", bytes("\xFF\xFE\x2D\x4E", 4), "", u"中"_qs},
        {"utf-16be mark", bytes("\xFE\xFF\x4E\x2D", 4), "", u"中"_qs},
        {"mark over meta", "\xEF\xBB\xBF<meta charset=gbk>\xE4\xB8\xAD", "text/html",
         u"<meta charset=gbk>中"_qs},
        {"meta only", "<meta charset=\"utf-8\">\xE4\xB8\xAD", "text/html", u"<meta charset=\"utf-8\">中"_qs},
        {"nothing: UTF-8", "\xE4\xB8\xAD", "", u"中"_qs},
        {"nothing, GBK bytes", "\xD6\xD0", "", fffd(2)},
        {"empty", "", "text/html; charset=gbk", u""_qs},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodePage(c.body, c.contentType), c.text) << c.name;
}

TEST(EncodeGbk, WritesGbkBytesAndGb18030ForTheRest)
{
    const struct {
        QString text;
        QByteArray gbk;
    } cases[] = {
        {u""_qs, ""},
        {u"ID,13800138000,\r\n~"_qs, "ID,13800138000,\r\n~"},
        {u"中国移动"_qs, "\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF"},
        {u"镕堃"_qs, "\xE9" "F\x88\xD2"},                     // GBK, not GB2312
        {u"·"_qs, "\xA1\xA4"},
        {u"€"_qs, "\x80"},                                     // CP936's euro
        {u"a€b€"_qs, "a\x80" "b\x80"},
        {u"\uE5E5"_qs, "\xA3\xA0"},                            // CP936's user-defined code
        {u"😀"_qs, "\x94\x39\xFC\x36"},                       // outside GBK: four bytes
        {u"\U00020000"_qs, "\x95\x32\x82\x36"},
        {u"\u0080"_qs, "\x81\x30\x81\x30"},
        {QString(QChar(0xD800)) + u"a"_qs, "?a"},              // an unpaired surrogate
        {u"a"_qs + QString(QChar(0xDC00)), "a?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encodeGbk(c.text).toHex(' '), c.gbk.toHex(' ')) << c.text.toStdString();
}

TEST(EncodeGbk, RoundTripsThroughTheGbkDecoder)
{
    for (const QString& text : {u"ID,手机号码,号码归属,号码类型"_qs, u"😀𠀀中国移动"_qs,
                               u"€ 5, ·, 镕堃, ḿ, ĉ"_qs, u"\u00A0\u3000\uFFFD"_qs}) {
        EXPECT_EQ(decodeBytes(encodeGbk(text), resolveEncodingLabel("gbk")), text) << text.toStdString();
    }
}
