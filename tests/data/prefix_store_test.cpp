#include "data/data_files.h"
#include "data/override_file.h"
#include "data/phone_dat.h"
#include "data/prefix_store.h"
#include "data/segment_table.h"

#include "service/service_test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>

namespace teloria::data {
namespace {

using service::testing::writeFile;

std::string datBytes(std::vector<PhoneDat::Row> rows)
{
    return *PhoneDat::serialise(std::move(rows));
}

// Points XDG_DATA_HOME at a temporary folder for one test.
class DataFolder {
public:
    DataFolder()
        : saved_(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", root_.path().toUtf8());
        QDir(root_.path()).mkpath(QStringLiteral("teloria"));
    }
    ~DataFolder() { qputenv("XDG_DATA_HOME", saved_); }
    std::string file(const char* name) const { return root_.filePath(QStringLiteral("teloria/") + name).toStdString(); }
    std::string outside(const char* name) const { return root_.filePath(name).toStdString(); }

private:
    QTemporaryDir root_;
    QByteArray saved_;
};

struct PriorityCase {
    std::uint32_t prefix;
    const char* location;
    const char* cardType;
    const char* sourceEnd; // the end of the source's name
    Tier tier;
    const char* areaCode; // a file's own, else the one of the place
    const char* zip;
};

void PrintTo(const PriorityCase& c, std::ostream* os) { *os << c.prefix; }

// Override table over phone.dat over built-in data; a source lacking the
// location or the operator keeps the lower source's. The area code is the
// file's own where it has one, else the place's; a new place drops the zip
// of the old one.
class PriorityTest : public ::testing::TestWithParam<PriorityCase> {
protected:
    static void SetUpTestSuite()
    {
        folder_ = new DataFolder;
        writeFile(folder_->file("a.dat"), datBytes({
            {1380013, "广东省", "深圳市", "518000", "0755", 2}, // over built-in 北京/中国移动
            {1380014, "", "", "", "", 3},                     // no place: built-in 北京 stays
            {1380015, "吉林", "延吉", "133000", "0433", 0},    // no operator: built-in 中国移动 stays
            {1380017, "广东", "广州", "510000", "020", 1},     // one record, two card types
            {1380018, "广东", "广州", "510000", "020", 3},
            {1500000, "湖北", "襄樊", "", "", 1},
        }));
        writeFile(folder_->file("b.tsv"), "# corrections\n"
                                          "1500000\t湖北\t武汉\t\n"      // place only: a.dat's operator stays
                                          "151\t\t\t中国联通\n"          // a whole segment, operator only
                                          "1510000\t上海市\t\t\n"        // a longer prefix wins over 151
                                          "1380016\t新疆\t库尔勒\t移动\n");
        loaded_ = new LoadedStore(loadStore(DataSettings{}));
    }
    static void TearDownTestSuite()
    {
        delete loaded_;
        delete folder_;
    }
    static DataFolder* folder_;
    static LoadedStore* loaded_;
};
DataFolder* PriorityTest::folder_ = nullptr;
LoadedStore* PriorityTest::loaded_ = nullptr;

TEST_P(PriorityTest, HigherSourcesWinAndLackingFieldsKeepLowerOnes)
{
    const PriorityCase& c = GetParam();
    const Answer& a = loaded_->store->mobile(c.prefix);
    EXPECT_EQ(a.location, c.location);
    EXPECT_EQ(a.cardType, c.cardType);
    EXPECT_TRUE(a.source.ends_with(c.sourceEnd)) << a.source;
    EXPECT_EQ(a.tier, c.tier);
    EXPECT_EQ(a.areaCode, c.areaCode);
    EXPECT_EQ(a.zip, c.zip);
}

INSTANTIATE_TEST_SUITE_P(Cases, PriorityTest, ::testing::Values(
    PriorityCase{1380013, "广东 深圳", "中国联通", "a.dat", Tier::PhoneDat, "0755", "518000"},
    PriorityCase{1380014, "北京", "中国电信", "a.dat", Tier::PhoneDat, "010", ""},
    PriorityCase{1380015, "吉林 延边", "中国移动", "a.dat", Tier::PhoneDat, "0433", "133000"},
    PriorityCase{1380016, "新疆 巴音郭楞", "中国移动", "b.tsv", Tier::Override, "0996", ""},
    PriorityCase{1380017, "广东 广州", "中国移动", "a.dat", Tier::PhoneDat, "020", "510000"},
    PriorityCase{1380018, "广东 广州", "中国电信", "a.dat", Tier::PhoneDat, "020", "510000"},
    PriorityCase{1500000, "湖北 武汉", "中国移动", "b.tsv", Tier::Override, "027", ""},
    PriorityCase{1519999, "新疆 伊犁", "中国联通", "b.tsv", Tier::Override, "0999", ""}, // built-in place kept
    PriorityCase{1510000, "上海", "中国联通", "b.tsv", Tier::Override, "021", ""},
    PriorityCase{1380012, "北京", "中国移动", "built-in", Tier::BuiltIn, "010", ""}
));

TEST_F(PriorityTest, ReportsEveryFileWithItsPrefixes)
{
    ASSERT_EQ(loaded_->reports.size(), 2u);
    // A phone.dat is dated by its version (2301), a table without a "# date:" line by its modification time.
    EXPECT_EQ(reportLine(loaded_->reports[0]), "loaded 6 prefixes from " + folder_->file("a.dat") + ", dated 2023-01");
    EXPECT_EQ(loaded_->reports[0].date, "2023-01");
    EXPECT_TRUE(reportLine(loaded_->reports[1]).starts_with("loaded 10003 prefixes from " + folder_->file("b.tsv")
                                                            + ", dated 20"))
        << reportLine(loaded_->reports[1]);
    EXPECT_EQ(loaded_->reports[1].date.size(), 10u);
}

// Learned answers sit above phone.dat files and built-in data, below override tables.
TEST_F(PriorityTest, LearnedAnswersStayBelowOverrides)
{
    PrefixStore& store = *loaded_->store;
    EXPECT_TRUE(store.needsUpstream(1921234)); // 192: no location in the built-in data
    EXPECT_TRUE(store.learn(1921234, "四川省成都市", ""));
    EXPECT_EQ(store.mobile(1921234).location, "四川 成都");
    EXPECT_EQ(store.mobile(1921234).cardType, "中国广电"); // kept
    EXPECT_EQ(store.mobile(1921234).tier, Tier::Learned);
    EXPECT_FALSE(store.needsUpstream(1921234));

    EXPECT_TRUE(store.learn(1380013, "广东 广州", "中国联通")); // over phone.dat
    EXPECT_EQ(store.mobile(1380013).location, "广东 广州");
    EXPECT_FALSE(store.learn(1500000, "北京", "中国电信")); // an override holds it
    EXPECT_EQ(store.mobile(1500000).location, "湖北 武汉");
    EXPECT_FALSE(store.learn(1921235, "北京<br/>卡类型：x", "")); // never markup
    EXPECT_FALSE(store.learn(999999, "北京", ""));
    for (const std::uint32_t outside : {0u, 999999u, 2000000u, 4294967295u})
        EXPECT_EQ(store.mobile(outside).location, "未知") << outside;
}

// Readers on many threads while one thread learns: every read sees a whole answer.
TEST(PrefixStore, LearningWhileOthersReadIsSafe)
{
    PrefixStore store;
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&store, &stop, t] {
            while (!stop.load())
                for (std::uint32_t p = 1920000 + t; p < 1920400; p += 4) {
                    const Answer& a = store.mobile(p);
                    ASSERT_FALSE(a.location.empty());
                    ASSERT_EQ(a.cardType, "中国广电");
                }
        });
    for (std::uint32_t p = 1920000; p < 1920400; ++p)
        store.learn(p, "四川 成都", "");
    stop = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(store.mobile(1920399).location, "四川 成都");
    EXPECT_EQ(store.mobile(1920399).areaCode, "028"); // a learned place has its area code too
}

// Discovery: the user's folder in name order, then the system's; a broken
// file is skipped with its reason and the rest still load; --data first.
TEST(DataFiles, FoundInNameOrderAndABrokenOneIsSkipped)
{
    DataFolder folder;
    writeFile(folder.file("b.dat"), datBytes({{1380013, "广东", "深圳", "", "", 1}}));
    writeFile(folder.file("a.dat"), datBytes({{1380013, "广东", "广州", "", "", 1}}));
    writeFile(folder.file("c.dat"), "2301"); // too short
    writeFile(folder.file("d.tsv"), "1380014\t广东\n"); // two fields
    writeFile(folder.file("notes.txt"), "not data");
    writeFile(folder.outside("given.tsv"), "1380015\t广东\t珠海\t\n");

    const auto files = discoverDataFiles();
    ASSERT_GE(files.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.begin() + 4),
              (std::vector<std::string>{folder.file("a.dat"), folder.file("b.dat"), folder.file("c.dat"),
                                        folder.file("d.tsv")}));

    const LoadedStore loaded = loadStore(DataSettings{{folder.outside("given.tsv")}, true, {}, {}});
    // Load order: the folders' files in name order, then --data.
    ASSERT_GE(loaded.reports.size(), 5u);
    EXPECT_TRUE(loaded.reports[0].loaded);
    EXPECT_TRUE(loaded.reports[1].loaded);
    EXPECT_FALSE(loaded.reports[2].loaded);
    EXPECT_NE(reportLine(loaded.reports[2]).find("c.dat: not a usable phone.dat file: too short"), std::string::npos);
    EXPECT_FALSE(loaded.reports[3].loaded);
    EXPECT_NE(loaded.reports[3].reason.find("line 1 (byte 0): 2 fields"), std::string::npos) << loaded.reports[3].reason;
    EXPECT_TRUE(loaded.reports[4].loaded);
    EXPECT_EQ(loaded.reports[4].path, folder.outside("given.tsv"));
    EXPECT_EQ(loaded.store->mobile(1380013).location, "广东 深圳"); // b.dat after a.dat: the later file wins
    EXPECT_EQ(loaded.store->mobile(1380015).location, "广东 珠海");

    const LoadedStore noDiscovery = loadStore(DataSettings{{}, false, {}, {}});
    EXPECT_TRUE(noDiscovery.reports.empty());
    EXPECT_EQ(noDiscovery.store->mobile(1380013).location, "北京");
}

// A data file's text never reaches a page with markup or a field marker in it.
TEST(DataFiles, RecordsCarryingMarkupAreRefusedAtLoad)
{
    DataFolder folder;
    service::testing::PhoneDatBuilder b;
    b.records = {"广东<br/>卡类型：中国联通|深圳|518000|0755", "广东|深圳|518000|0755"};
    b.entries = {{1380013, 0, 1}, {1380014, 1, 1}};
    writeFile(folder.file("evil.dat"), b.build());
    writeFile(folder.file("evil.tsv"), "1380015\t广东\t深圳\x0d卡类型：\t\n1380016\t广东\t珠海\t\n");
    const LoadedStore loaded = loadStore(DataSettings{});
    ASSERT_EQ(loaded.reports.size(), 2u);
    EXPECT_EQ(reportLine(loaded.reports[0]), "loaded 1 prefixes from " + folder.file("evil.dat")
                                                 + ", dated 2023-01 (skipped 1 records, the first: record at offset 8 holds markup "
                                                   "(an angle bracket or ampersand))");
    EXPECT_NE(reportLine(loaded.reports[1]).find("skipped 1 lines, the first: line 1 (byte 0) holds a control character"),
              std::string::npos);
    EXPECT_EQ(loaded.store->mobile(1380013).location, "北京"); // the built-in answer
    EXPECT_EQ(loaded.store->mobile(1380014).location, "广东 深圳");
    EXPECT_EQ(loaded.store->mobile(1380015).location, "北京");
    EXPECT_EQ(loaded.store->mobile(1380016).location, "广东 珠海");
}

struct BadOverrideCase {
    const char* text;
    const char* reason;
    std::size_t offset;
};

TEST(OverrideTable, MalformedLinesNameLineAndByte)
{
    for (const BadOverrideCase& c : {BadOverrideCase{"13\t广东\t深圳\t\n", "line 1 (byte 0): '13' is not a prefix", 0},
                                     BadOverrideCase{"# c\n12345678\ta\tb\tc\n", "line 2 (byte 4): '12345678'", 4},
                                     BadOverrideCase{"1380013\ta\tb\tc\n2380013\ta\tb\tc\n", "line 2 (byte 14)", 14},
                                     BadOverrideCase{"1380013\ta\tb\n", "3 fields", 0},
                                     BadOverrideCase{"1380013\ta\tb\tc\td\n", "5 fields", 0}}) {
        std::string error;
        std::size_t offset = 99;
        EXPECT_FALSE(OverrideTable::parse(c.text, &error, &offset)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(offset, c.offset) << c.text;
    }
    const auto ok = OverrideTable::parse("1380013\t广东\t广州\t\n1380013\t广东\t深圳\t移动\t# a note\n\n"
                                         "# comment\r\n151\t\t\t联通\r\n");
    ASSERT_TRUE(ok);
    ASSERT_EQ(ok->lines.size(), 2u);
    EXPECT_EQ(ok->lines[1].city, "深圳"); // the last line of a prefix given twice
    EXPECT_EQ(ok->lines[0].prefix, "151"); // shorter prefixes first, so longer ones win
    EXPECT_EQ(ok->lines[0].prefixCount(), 10000u);
    EXPECT_EQ(ok->lines[1].firstPrefix(), 1380013u);
}

} // namespace
} // namespace teloria::data
