// The pieces of teloria-batch's stream in-process: the input cut into numbers
// however its blocks fall, and the rows in each output format.
#include "cli/number_input.h"
#include "cli/row_format.h"

#include "export/result_file.h"

#include <gtest/gtest.h>

namespace teloria::cli {
namespace {

struct SplitCase {
    const char* name;
    QByteArray bytes;
    QStringList numbers;
};

class NumberInputBlocks : public ::testing::TestWithParam<SplitCase> {};

// Where a block may end: everywhere in a short input; in a long one, near
// both ends, around every KiB (the line bound of 4096 characters lies there in
// every encoding here) and every 31 bytes between.
bool cutWorthTrying(qsizetype cut, qsizetype size)
{
    const qsizetype fromKiB = cut % 1024;
    return size <= 1024 || cut < 64 || size - cut < 64 || fromKiB <= 16 || fromKiB >= 1024 - 16 || cut % 31 == 0;
}

// Every way of cutting the bytes into two blocks, and byte by byte, gives the same numbers.
TEST_P(NumberInputBlocks, GiveTheSameNumbersWhereverABlockEnds)
{
    const SplitCase& c = GetParam();
    for (qsizetype cut = 0; cut <= c.bytes.size(); ++cut) {
        if (!cutWorthTrying(cut, c.bytes.size()))
            continue;
        NumberInput input;
        QStringList numbers;
        input.feed(c.bytes.first(cut), false, numbers);
        input.feed(c.bytes.sliced(cut), false, numbers);
        input.feed({}, true, numbers);
        EXPECT_EQ(numbers, c.numbers) << "cut at " << cut;
    }
    NumberInput input;
    QStringList numbers;
    for (const char b : c.bytes)
        input.feed(QByteArray(1, b), false, numbers);
    input.feed({}, true, numbers);
    EXPECT_EQ(numbers, c.numbers) << "byte by byte";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberInputBlocks,
    ::testing::Values(
        SplitCase{"CrLfIsOneBreak", "1\r\n2\r\n", {"1", "2"}},
        SplitCase{"LoneCrAndBlankLines", "1\r\r2\n\n3", {"1", "", "2", "", "3"}},
        SplitCase{"Utf8Mark", "\xEF\xBB\xBF" "1\n", {"1"}},
        SplitCase{"Utf8", "北京\n1", {"北京", "1"}},
        SplitCase{"Gb18030", "1\n\xB1\xB1\xBE\xA9\r\n", {"1", "北京"}},
        SplitCase{"Utf16Le", QByteArray("\xFF\xFE" "1\0\r\0\n\0" "\x3D\xD8\x00\xDE" "\n\0", 12), {"1", "😀"}},
        SplitCase{"Utf16Be", QByteArray("\xFE\xFF" "\0" "1" "\0\r" "\x4E\xAC", 8), {"1", "京"}},
        SplitCase{"AsciiThenUtf8", "13800138000\r\n北京\r1", {"13800138000", "北京", "1"}},
        // A line longer than 4096 characters is not a number: it comes empty.
        SplitCase{"LongestLineKept", QByteArray(4096, '7') + "\n1", {QString(4096, u'7'), "1"}},
        SplitCase{"LongerLineEmpty", "1\n" + QByteArray(4097, '7') + "\r\n2\n", {"1", "", "2"}},
        SplitCase{"LongerUtf8LineEmpty", QByteArray(4097 * 3, '7').replace("777", "京") + "\n2", {"", "2"}},
        SplitCase{"LongLineAtTheEnd", "1\n" + QByteArray(20000, 'x'), {"1", ""}},
        SplitCase{"LongUtf16Line", QByteArray("\xFF\xFE", 2) + QByteArray(5000 * 2, '\0').replace(QByteArray(2, '\0'), QByteArray("7\0", 2)) + QByteArray("\n\0" "1\0", 4), {"", "1"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A line of megabytes with no break is passed over: what the input holds
// stays within a line's worth, and the numbers after it come as usual.
TEST(NumberInputLongLines, AreNeverHeldWhole)
{
    for (const QByteArray& start : {QByteArray(), QByteArray("\xEF\xBB\xBF" "1\n"), QByteArray("\xFF\xFE", 2)}) {
        const bool utf16 = start.startsWith("\xFF\xFE");
        NumberInput input;
        QStringList numbers;
        input.feed(start, false, numbers);
        const QByteArray block = utf16 ? QByteArray("7\0", 2).repeated(32 * 1024) : QByteArray(64 * 1024, '7');
        qsizetype held = 0;
        for (int i = 0; i < 64; ++i) { // 4 MiB
            input.feed(block, false, numbers);
            held = std::max(held, input.heldBytes());
        }
        input.feed(utf16 ? QByteArray("\n\0" "1\0\n\0", 6) : QByteArray("\n13800138000\n"), true, numbers);
        EXPECT_LE(held, 2 * block.size()) << start.toHex().toStdString();
        EXPECT_EQ(numbers.mid(numbers.size() - 2), (QStringList{"", utf16 ? "1" : "13800138000"}));
    }
}

TEST(NumberInputEncoding, TellsWhenTheInputIsReadAsGb18030)
{
    NumberInput utf8;
    QStringList numbers;
    utf8.feed("13800138000\n北京\n", true, numbers);
    EXPECT_TRUE(utf8.note().isEmpty());
    NumberInput gbk;
    gbk.feed("13800138000\n\xB1\xB1\xBE\xA9\n", true, numbers);
    EXPECT_EQ(gbk.encoding(), NumberInput::Encoding::Gb18030);
    EXPECT_FALSE(gbk.note().isEmpty());
}

struct FormatCase {
    const char* name;
    OutputFormat format;
    QString fields;
    bool header;
    QByteArray expected; // header (if any), then the two rows below
    FileEncoding encoding = FileEncoding::Utf8; // as teloria-batch's options give it: csv GBK, the others UTF-8
};

class RowFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RowFormats, WriteTheChosenColumnsEscapedForTheFormat)
{
    const FormatCase& c = GetParam();
    QString bad;
    const auto fields = fieldsByNames(c.fields, &bad);
    ASSERT_TRUE(fields) << bad.toStdString();
    const RowFormat format(c.format, *fields, c.encoding, c.header);
    QByteArray out = format.header();
    RowCells plain;
    plain.location = QStringLiteral("广东 深圳");
    plain.card = QStringLiteral("移动");
    plain.province = QStringLiteral("广东");
    plain.city = QStringLiteral("深圳");
    format.append(out, 1, QStringLiteral("13800138000"), plain);
    RowCells awkward;
    awkward.location = QStringLiteral("a\tb\\c\r\nd\"e,f");
    awkward.card = QString(QChar(0x01));
    format.append(out, 2, QStringLiteral(" 1,\"2\" "), awkward);
    EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RowFormats,
    ::testing::Values(
        FormatCase{"CsvIsTheResultFileInGbk", OutputFormat::Csv, "id,number,location,card", true,
                   "1,13800138000,\xB9\xE3\xB6\xAB \xC9\xEE\xDB\xDA,\xD2\xC6\xB6\xAF\r\n"
                   "2,\" 1,\"\"2\"\" \",\"a\tb\\c\r\nd\"\"e,f\",\x01\r\n", FileEncoding::Gbk},
        FormatCase{"TsvInGbkWhenAsked", OutputFormat::Tsv, "location", false,
                   "\xB9\xE3\xB6\xAB \xC9\xEE\xDB\xDA\n"
                   "a\\tb\\\\c\\r\\nd\"e,f\n", FileEncoding::Gbk},
        FormatCase{"TsvWithHeader", OutputFormat::Tsv, "number,province,city,card", true,
                   "number\tprovince\tcity\tcard\n"
                   "13800138000\t广东\t深圳\t移动\n"
                   " 1,\"2\" \t\t\t\x01\n"},
        FormatCase{"TsvEscapesTabsBreaksAndBackslashes", OutputFormat::Tsv, "location", false,
                   "广东 深圳\n"
                   "a\\tb\\\\c\\r\\nd\"e,f\n"},
        FormatCase{"JsonLines", OutputFormat::Jsonl, "id,number,location,card,zip", true,
                   "{\"id\":1,\"number\":\"13800138000\",\"location\":\"广东 深圳\",\"card\":\"移动\",\"zip\":\"\"}\n"
                   "{\"id\":2,\"number\":\" 1,\\\"2\\\" \",\"location\":\"a\\tb\\\\c\\r\\nd\\\"e,f\",\"card\":\"\\u0001\",\"zip\":\"\"}\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace teloria::cli
