#include "data/phone_dat.h"

#include "service/service_test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace teloria::data {
namespace {

using service::testing::PhoneDatBuilder;
using service::testing::sampleDat;

TEST(PhoneDat, FindsEveryPrefixOfTheIndex)
{
    std::string error;
    const auto dat = PhoneDat::parse(sampleDat().build(), &error);
    ASSERT_TRUE(dat) << error;
    EXPECT_EQ(dat->entryCount(), 4u);
    EXPECT_EQ(dat->version(), "2301");

    struct Want {
        std::uint32_t prefix;
        const char* province;
        const char* city;
        const char* cardType;
    };
    for (const Want& w : {Want{1380013, "测试省", "样例市", "中国联通"}, Want{1700123, "北京", "北京", "中国电信虚拟运营商"},
                          Want{1921234, "甲省", "乙市", "中国广电"}, Want{1999999, "甲省", "乙市", "未知"}}) {
        const auto hit = dat->find(w.prefix);
        ASSERT_TRUE(hit) << w.prefix;
        EXPECT_EQ(hit->province, w.province);
        EXPECT_EQ(hit->city, w.city);
        EXPECT_EQ(hit->cardType, w.cardType);
    }
    for (std::uint32_t absent : {1000000u, 1380012u, 1380014u, 1999998u, 2000000u})
        EXPECT_FALSE(dat->find(absent)) << absent;
}

TEST(PhoneDat, NamesEveryCardTypeByte)
{
    const char* names[] = {"未知", "中国移动", "中国联通", "中国电信", "中国电信虚拟运营商", "中国联通虚拟运营商",
                           "中国移动虚拟运营商", "中国广电", "中国广电虚拟运营商", "未知"};
    for (int code = 0; code <= 9; ++code)
        EXPECT_EQ(PhoneDat::cardTypeName(static_cast<std::uint8_t>(code)), names[code]) << code;
    EXPECT_EQ(PhoneDat::cardTypeName(255), "未知");
}

struct MalformedCase {
    const char* name;
    std::function<std::string()> bytes;
    const char* reason; // part of the message
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class MalformedPhoneDatTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedPhoneDatTest, IsRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(PhoneDat::parse(GetParam().bytes(), &error));
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

std::string withLe32(std::string bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return bytes;
}

std::uint32_t indexStartOf(const std::string& bytes)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[4 + i]);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedPhoneDatTest, ::testing::Values(
    MalformedCase{"Empty", [] { return std::string(); }, "too short"},
    MalformedCase{"SevenBytes", [] { return std::string("2301\x08\0\0", 7); }, "too short"},
    MalformedCase{"IndexInsideHeader", [] { return withLe32(sampleDat().build(), 4, 4); }, "outside the file"},
    MalformedCase{"IndexPastEnd", [] { return withLe32(sampleDat().build(), 4, 1u << 30); }, "outside the file"},
    MalformedCase{"NoEntries", [] {
        auto b = sampleDat();
        b.entries.clear();
        return b.build();
    }, "no entries"},
    MalformedCase{"TruncatedEntry", [] {
        auto bytes = sampleDat().build();
        bytes.pop_back();
        return bytes;
    }, "truncated"},
    MalformedCase{"RecordOffsetInIndex", [] {
        const auto bytes = sampleDat().build();
        return withLe32(bytes, indexStartOf(bytes) + 4, indexStartOf(bytes));
    }, "outside the record area"},
    MalformedCase{"RecordOffsetInHeader", [] {
        const auto bytes = sampleDat().build();
        return withLe32(bytes, indexStartOf(bytes) + 4, 2);
    }, "outside the record area"},
    MalformedCase{"RecordWithoutNul", [] {
        auto bytes = sampleDat().build();
        bytes[indexStartOf(bytes) - 1] = 'x';
        return bytes;
    }, "no closing NUL"},
    MalformedCase{"ThreeFields", [] {
        auto b = sampleDat();
        b.records[1] = "北京|北京|100000";
        return b.build();
    }, "3 fields"},
    MalformedCase{"ShortPrefix", [] {
        auto b = sampleDat();
        b.entries[0].prefix = 138001;
        return b.build();
    }, "not a 7-digit mobile prefix"},
    MalformedCase{"Unsorted", [] {
        auto b = sampleDat();
        std::swap(b.entries[0], b.entries[1]);
        return b.build();
    }, "ascending"}
));

struct UnsafeRecordCase {
    std::string record;
    const char* reason; // part of the reason kept
};

// A record that could change what a client reads from a page is skipped with
// its entries; the rest of the file still loads.
TEST(PhoneDat, SkipsRecordsThatCarryMarkupMarkersOrBrokenText)
{
    for (const UnsafeRecordCase& c : {
             UnsafeRecordCase{"广东<br/>卡类型：中国联通|深圳|518000|0755", "markup"},
             UnsafeRecordCase{"广东|深圳卡类型：中国联通|518000|0755", "卡类型"},
             UnsafeRecordCase{"广东|归属地：深圳|518000|0755", "归属地"},
             UnsafeRecordCase{"广东|深圳\r\n|518000|0755", "control character"},
             UnsafeRecordCase{"\xB1\xB1\xBE\xA9|x|1|2", "not UTF-8"}, // GBK bytes
             UnsafeRecordCase{"广东|深圳\u2028|518000|0755", "line break (U+2028)"},
             UnsafeRecordCase{"广东|\u202E圳深|518000|0755", "format character (U+202E)"},
             UnsafeRecordCase{"\u200B广东|深圳|518000|0755", "format character (U+200B)"},
             UnsafeRecordCase{"广东|深圳|518000\u0085|0755", "control character (U+0085)"},
             UnsafeRecordCase{"广东|深圳|518000|0755\uFEFF", "format character (U+FEFF)"},
             UnsafeRecordCase{"广东|" + std::string(65, 'x') + "|518000|0755", "longer than 64 bytes"},
             UnsafeRecordCase{"广东|深圳|" + std::string(17, '1') + "|0755", "longer than 16 bytes"},
         }) {
        auto b = sampleDat();
        b.records[0] = c.record;
        std::string error;
        const auto dat = PhoneDat::parse(b.build(), &error);
        ASSERT_TRUE(dat) << error;
        EXPECT_EQ(dat->entryCount(), 3u) << c.record;
        EXPECT_FALSE(dat->find(1380013)) << c.record;
        EXPECT_TRUE(dat->find(1700123)) << c.record;
        EXPECT_EQ(dat->skippedRecords(), 1u);
        EXPECT_EQ(dat->skipOffset(), 8u);
        EXPECT_NE(dat->skipReason().find(c.reason), std::string::npos) << dat->skipReason();
    }
}

// What the writer writes, the reader reads back: shared records, every card
// type byte, zip and area code, and the last row of a prefix given twice.
// Entries pointing at many offsets inside one long run of bytes: each offset
// is read once and no further than a record can reach, so the parse stays
// linear in the file and keeps nothing of the run.
TEST(PhoneDat, EntriesInsideOneLongRecordAreSkippedCheaply)
{
    constexpr std::size_t kRun = 4u << 20;
    std::string bytes = "2301";
    const std::uint32_t indexStart = static_cast<std::uint32_t>(8 + kRun + 1);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>((indexStart >> (8 * i)) & 0xFF));
    bytes += std::string(kRun, 'a');
    bytes.push_back('\0');
    for (std::uint32_t n = 0; n < 256; ++n) {
        const std::uint32_t prefix = 1300000 + n;
        const std::uint32_t offset = 8 + n * 4096 + (n % 2); // two entries share nothing; one run holds them all
        for (const std::uint32_t v : {prefix, offset})
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        bytes.push_back('\1');
    }
    std::string error;
    const auto dat = PhoneDat::parse(bytes, &error);
    ASSERT_TRUE(dat) << error;
    EXPECT_EQ(dat->entryCount(), 0u);
    EXPECT_EQ(dat->skippedRecords(), 256u);
    EXPECT_NE(dat->skipReason().find("longer than"), std::string::npos) << dat->skipReason();
}

// Text is kept in normal form C: a decomposed name reads as the composed one.
TEST(PhoneDat, FieldsAreKeptInNormalFormC)
{
    auto b = sampleDat();
    b.records[0] = "Re\u0301union|深圳|518000|0755";
    const auto dat = PhoneDat::parse(b.build());
    ASSERT_TRUE(dat);
    ASSERT_TRUE(dat->find(1380013));
    EXPECT_EQ(dat->find(1380013)->province, "R\u00E9union");
}

TEST(PhoneDat, WriterAndReaderRoundTrip)
{
    std::vector<PhoneDat::Row> rows;
    for (std::uint8_t code = 0; code <= 9; ++code)
        rows.push_back({1990000u + code * 7u, "广东", "深圳", "518000", "0755", code});
    rows.push_back({1300000, "北京", "北京", "100000", "010", 2});
    rows.push_back({1300000, "上海", "上海", "200000", "021", 1}); // wins over the line above
    rows.push_back({1399999, "吉林", "", "", "", 1});
    std::string error;
    const auto bytes = PhoneDat::serialise(rows, "2407", &error);
    ASSERT_TRUE(bytes) << error;
    const auto dat = PhoneDat::parse(*bytes, &error);
    ASSERT_TRUE(dat) << error;
    EXPECT_EQ(dat->version(), "2407");
    ASSERT_EQ(dat->entryCount(), 12u);
    EXPECT_EQ(bytes->find("广东|深圳"), bytes->rfind("广东|深圳")); // one record for ten entries
    for (std::uint8_t code = 0; code <= 9; ++code) {
        const auto hit = dat->find(1990000u + code * 7u);
        ASSERT_TRUE(hit);
        EXPECT_EQ(hit->cardTypeCode, code);
        EXPECT_EQ(hit->zip, "518000");
        EXPECT_EQ(hit->areaCode, "0755");
    }
    EXPECT_EQ(dat->find(1300000)->province, "上海");
    EXPECT_EQ(dat->find(1399999)->city, "");
    // Writing what was read gives the same bytes.
    std::vector<PhoneDat::Row> again;
    for (std::size_t i = 0; i < dat->entryCount(); ++i) {
        const auto h = dat->entry(i);
        again.push_back({h.prefix, std::string(h.province), std::string(h.city), std::string(h.zip),
                         std::string(h.areaCode), h.cardTypeCode});
    }
    EXPECT_EQ(PhoneDat::serialise(again, "2407"), bytes);
    // Text that would be skipped on reading is not written.
    rows.push_back({1500000, "广东<br/>", "深圳", "", "", 1});
    EXPECT_FALSE(PhoneDat::serialise(rows, "2407", &error));
    EXPECT_NE(error.find("markup"), std::string::npos) << error;
}

// Cut at every length: a cut inside the header or an entry is refused, a cut
// on an entry boundary leaves a shorter but valid index; nothing is read past
// the end (the sanitizer build checks that).
TEST(PhoneDat, EveryTruncationIsRefusedOrShortensTheIndex)
{
    const std::string full = sampleDat().build();
    const std::uint32_t indexStart = indexStartOf(full);
    for (std::size_t length = 0; length < full.size(); ++length) {
        const auto dat = PhoneDat::parse(std::string_view(full).substr(0, length));
        const bool onBoundary = length > indexStart && (length - indexStart) % 9 == 0;
        EXPECT_EQ(dat.has_value(), onBoundary) << length;
        if (dat) {
            EXPECT_EQ(dat->entryCount(), (length - indexStart) / 9);
        }
    }
}

TEST(PhoneDat, LoadNamesTheFileInItsMessage)
{
    QTemporaryDir dir;
    const std::string missing = dir.filePath("missing.dat").toStdString();
    const auto none = PhoneDat::load(missing);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().kind, ErrorKind::NotFound);
    EXPECT_NE(none.error().reason.find(missing + ": cannot open"), std::string::npos) << none.error().reason;

    const std::string broken = dir.filePath("broken.dat").toStdString();
    service::testing::writeFile(broken, "2301");
    const auto bad = PhoneDat::load(broken);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().kind, ErrorKind::BadInput);
    EXPECT_NE(bad.error().reason.find(broken + ": not a usable phone.dat file: too short"), std::string::npos)
        << bad.error().reason;

    const auto folder = PhoneDat::load(dir.path().toStdString());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().kind, ErrorKind::Refused);

    const std::string good = dir.filePath("good.dat").toStdString();
    service::testing::writeFile(good, sampleDat().build());
    const auto dat = PhoneDat::load(good);
    ASSERT_TRUE(dat) << dat.error().reason;
    EXPECT_EQ(dat->entryCount(), 4u);
}

} // namespace
} // namespace teloria::data
