#include "lookup/number_import.h"
#include "text/text_codec.h"

#include "data/number_normalizer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <xlsxwriter.h>

using namespace teloria;

namespace {

bool cleans(const QString& cell)
{
    return data::cleanNumber(cell.toStdString()).has_value();
}

QByteArray utf16(const QString& text, bool littleEndian)
{
    QByteArray bytes(littleEndian ? "\xFF\xFE" : "\xFE\xFF");
    for (const QChar c : text) {
        const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
        bytes.append(littleEndian ? lo : hi);
        bytes.append(littleEndian ? hi : lo);
    }
    return bytes;
}

} // namespace

TEST(NumberImport, TextIsDecodedAsTeloriaBatchReadsIt)
{
    const QString names = u"张三\t13800138000\r\n李四 13012345678"_qs;
    struct Case {
        const char* name;
        QByteArray bytes;
        QString text;
    };
    const Case cases[] = {
        {"ASCII", "13800138000\n", "13800138000\n"},
        {"UTF-8", names.toUtf8(), names},
        {"UTF-8 with its mark, dropped", "\xEF\xBB\xBF" + names.toUtf8(), names},
        {"UTF-16 LE", utf16(names, true), names},
        {"UTF-16 BE", utf16(names, false), names},
        {"GB18030 from a Windows tool", encodeGbk(names), names},
        {"not UTF-8: GB18030 throughout", encodeGbk(u"号码\n"_qs) + "13800138000\xA1\xA1", u"号码\n13800138000　"_qs},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeNumberText(c.bytes), c.text) << c.name;
}

TEST(NumberImport, LinesAreTheNonBlankOnesWhateverTheirBreaks)
{
    struct Case {
        const char* name;
        QString text;
        QString lines;
        int count;
    };
    const Case cases[] = {
        {"LF", "1\n2\n", "1\n2", 2},
        {"CR LF and a last line without a break", "1\r\n2\r\n3", "1\n2\n3", 3},
        {"lone CR from old Mac tools", "1\r2\r", "1\n2", 2},
        {"blank and space-only lines go", "\n1\n\n  \n\t\n2\n\n", "1\n2", 2},
        {"a line keeps its spaces and text", " 138 0013 8000 \n张三\t13800138000", " 138 0013 8000 \n张三\t13800138000", 2},
        {"empty", "", "", 0},
    };
    for (const Case& c : cases) {
        const ImportedNumbers got = numberLines(c.text);
        EXPECT_EQ(got.text, c.lines) << c.name;
        EXPECT_EQ(got.count, c.count) << c.name;
    }
}

TEST(NumberImport, CsvCellsMayBeQuotedWithCommasQuotesAndBreaks)
{
    const TableRows rows = parseCsv(u"a,\"b,c\",\"say \"\"hi\"\"\"\r\n,\"two\nlines\",\r\n\r\nlast"_qs);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (QStringList{"a", "b,c", "say \"hi\""}));
    EXPECT_EQ(rows[1], (QStringList{"", "two\nlines", ""}));
    EXPECT_EQ(rows[2], (QStringList{"last"}));
}

TEST(NumberImport, TheFirstColumnMostlyOfNumbersIsTakenBelowItsHeader)
{
    struct Case {
        const char* name;
        TableRows rows;
        QString numbers; // empty: none found
    };
    const Case cases[] = {
        {"header skipped, names beside",
         {{"姓名", "手机"}, {"张三", "13800138000"}, {"李四", "130-1234-5678"}, {"王五", ""}, {"赵六", "18912345678"}},
         "13800138000\n130-1234-5678\n18912345678"},
        {"no header", {{"13800138000"}, {"13012345678"}}, "13800138000\n13012345678"},
        {"the first such column, not a later one",
         {{"id", "phone", "other"}, {"1", "13800138000", "13012345678"}, {"2", "18912345678", "13012345679"}},
         "13800138000\n18912345678"},
        {"half is not most", {{"13800138000"}, {"x"}, {"y"}, {"13012345678"}}, ""},
        {"a column of notes with one number is passed over",
         {{"note", "mobile"}, {"call 13800138000", "13012345678"}, {"later", "18912345678"}},
         "13012345678\n18912345678"},
        {"nothing", {}, ""},
    };
    for (const Case& c : cases) {
        const ImportedNumbers got = numberColumn(c.rows, cleans);
        EXPECT_EQ(got.text, c.numbers) << c.name;
        EXPECT_EQ(got.error.isEmpty(), !c.numbers.isEmpty()) << c.name;
    }
}

// Real workbooks, written by libxlsxwriter as a spreadsheet program would:
// shared strings in the normal mode, inline strings in the constant-memory mode.
TEST(NumberImport, XlsxWrittenByLibxlsxwriterReadsBack)
{
    QTemporaryDir dir;
    for (const bool constantMemory : {false, true}) {
        const QByteArray path = QFile::encodeName(dir.filePath(constantMemory ? "inline.xlsx" : "shared.xlsx"));
        lxw_workbook_options options{};
        options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
        lxw_workbook* book = workbook_new_opt(path.constData(), &options);
        lxw_worksheet* sheet = workbook_add_worksheet(book, "名单");
        worksheet_write_string(sheet, 0, 0, "姓名", nullptr);
        worksheet_write_string(sheet, 0, 1, "手机", nullptr);
        worksheet_write_string(sheet, 1, 0, "张三", nullptr);
        worksheet_write_number(sheet, 1, 1, 13800138000.0, nullptr);
        worksheet_write_string(sheet, 2, 0, "李四", nullptr);
        worksheet_write_string(sheet, 2, 1, "130 1234 5678", nullptr);
        worksheet_write_string(sheet, 4, 0, "王五", nullptr); // row 4 has no number; row 3 is missing
        worksheet_write_number(sheet, 5, 1, 18912345678.0, nullptr);
        ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);

        const ImportedNumbers got = importNumbers(QFile::decodeName(path), cleans);
        EXPECT_TRUE(got.error.isEmpty()) << got.error.toStdString();
        EXPECT_EQ(got.text, "13800138000\n130 1234 5678\n18912345678") << constantMemory;
        EXPECT_EQ(got.count, 3);
    }
}

TEST(NumberImport, FilesThatCannotBeReadSaySo)
{
    QTemporaryDir dir;
    const QString fake = dir.filePath("fake.xlsx");
    QFile f(fake);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("13800138000\n");
    f.close();
    struct Case {
        const char* name;
        QString path;
    };
    for (const Case& c : {Case{"not a zip", fake}, Case{"missing", dir.filePath("missing.txt")},
                          Case{"missing xlsx", dir.filePath("missing.xlsx")}}) {
        const ImportedNumbers got = importNumbers(c.path, cleans);
        EXPECT_FALSE(got.error.isEmpty()) << c.name;
        EXPECT_EQ(got.count, 0) << c.name;
    }
}
