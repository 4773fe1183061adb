#include "cli/data_command.h"

#include "data/data_files.h"
#include "data/phone_dat.h"
#include "data/prefix_rows.h"
#include "service/service_test_support.h"

#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <thread>
#include <sstream>

namespace teloria::cli {
namespace {

using data::PhoneDat;
using service::testing::writeFile;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs teloria-data in a temporary folder; "@name" in an argument stands for a file there.
class DataCommand {
public:
    DataCommand()
    {
        saved_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("xdg")).toUtf8()); // empty: the built-in data alone
        writeFile(path("good.dat"), *PhoneDat::serialise({{1380013, "广东", "深圳", "518000", "0755", 1},
                                                          {1500000, "湖北", "武汉", "", "", 2}}));
        writeFile(path("good.tsv"), "1380013\t上海\t\t\n151\t广东\t广州\t电信\n");
        writeFile(path("other.dat"), *PhoneDat::serialise({{1380013, "浙江", "杭州", "", "", 1}}, "2402"));
        writeFile(path("short.dat"), "2301\x08");
        std::string truncated = *PhoneDat::serialise({{1380013, "广东", "深圳", "", "", 1}});
        writeFile(path("truncated.dat"), truncated.substr(0, truncated.size() - 2));
        writeFile(path("bad.tsv"), "1380013\t广东\t深圳\t\n13\t广东\t深圳\t\n");
        writeFile(path("markup.tsv"), "1380013\t广东\t<b>深圳</b>\t\n");
    }
    ~DataCommand() { qputenv("XDG_DATA_HOME", saved_); }

    std::string path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }

    Outcome run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "teloria-data");
        for (auto& a : args)
            if (a.starts_with('@'))
                a = path(a.substr(1));
        std::ostringstream out, err;
        const int status = runDataCommand(args, out, err);
        return {status, out.str(), err.str()};
    }

private:
    QTemporaryDir dir_;
    QByteArray saved_;
};

struct ExitCase {
    std::vector<std::string> args;
    int status;
    const char* text; // part of stdout or stderr
};

void PrintTo(const ExitCase& c, std::ostream* os)
{
    for (const auto& a : c.args)
        *os << a << ' ';
}

class DataCommandExitTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(DataCommandExitTest, ExitsZeroOneOrTwo)
{
    const DataCommand command;
    const Outcome r = command.run(GetParam().args);
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_NE((r.out + r.err).find(GetParam().text), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Cases, DataCommandExitTest, ::testing::Values(
    ExitCase{{"--help"}, 0, "Usage: teloria-data"},
    ExitCase{{"-v"}, 0, "teloria-data "},
    ExitCase{{}, 2, "no command given"},
    ExitCase{{"frob"}, 2, "unknown command 'frob'"},
    ExitCase{{"lookup"}, 2, "at least one number"},
    ExitCase{{"convert", "@good.dat"}, 2, "convert takes IN and OUT"},
    ExitCase{{"merge", "@good.dat"}, 2, "-o OUT"},
    ExitCase{{"check"}, 2, "check takes one FILE"},
    ExitCase{{"--data"}, 2, "--data needs a file name"},
    ExitCase{{"stats", "--foo"}, 2, "unknown option '--foo'"},
    ExitCase{{"check", "-x", "@good.dat"}, 2, "unknown option '-x'"},
    ExitCase{{"lookup", "--", "13800138000"}, 0, "13800138000\t北京\t中国移动\t010\t\tbuilt-in"},
    ExitCase{{"lookup", "13800138000"}, 0, "13800138000\t北京\t中国移动\t010\t\tbuilt-in"},
    ExitCase{{"--data", "@good.dat", "lookup", "+86 138 0013 0000"}, 0, "广东 深圳\t中国移动\t0755\t518000\t"},
    ExitCase{{"--data", "@good.dat", "--data", "@good.tsv", "lookup", "13800130000"}, 0, "上海\t中国移动\t021\t"},
    // the later source wins, and lookup names it
    ExitCase{{"--data", "@good.dat", "--data", "@other.dat", "lookup", "13800130000"}, 0, "浙江 杭州\t中国移动\t"},
    ExitCase{{"--data", "@other.dat", "--data", "@good.dat", "lookup", "13800130000"}, 0, "广东 深圳\t中国移动\t"},
    ExitCase{{"lookup", "13800138000", "hello"}, 1, "'hello' is not a phone number"},
    ExitCase{{"lookup", "（+86）138 0013 8000"}, 0, "13800138000\t北京\t中国移动\t010\t\tbuilt-in"},
    ExitCase{{"info", "x"}, 2, "info takes no arguments"},
    ExitCase{{"--data", "@other.dat", "info"}, 0, "\tphone.dat\t1\t2024-02\t"},
    ExitCase{{"info"}, 0, "built-in\tbuilt-in\t-\t20"},
    ExitCase{{"--data", "@other.dat", "stats"}, 0, "other.dat\t1\t2024-02\n"},
    ExitCase{{"check", "@good.dat"}, 0, "sound, 2 prefixes"},
    ExitCase{{"check", "@good.tsv"}, 0, "sound, 10001 prefixes"},
    ExitCase{{"check", "@short.dat"}, 1, "byte 0: too short"},
    ExitCase{{"check", "@truncated.dat"}, 1, "the index is truncated"},
    ExitCase{{"check", "@bad.tsv"}, 1, "bad.tsv: line 2 (byte 23): '13' is not a prefix"},
    ExitCase{{"check", "@markup.tsv"}, 1, "markup.tsv: line 1 (byte 0) holds markup"},
    ExitCase{{"check", "@missing.dat"}, 1, "cannot open"},
    ExitCase{{"stats", "@good.dat"}, 0, "total\t2\t2 (100.0%)\t2 (100.0%)"},
    ExitCase{{"stats", "@short.dat"}, 1, "too short"},
    ExitCase{{"convert", "@bad.tsv", "@out.dat"}, 1, "'13' is not a prefix"}
));

// convert and merge: what they write, check accepts and reads back.
TEST(DataCommandFiles, ConvertAndMergeWriteSoundFiles)
{
    const DataCommand command;
    ASSERT_EQ(command.run({"convert", "@good.tsv", "@from-tsv.dat"}).status, 0);
    EXPECT_EQ(command.run({"check", "@from-tsv.dat"}).out, command.path("from-tsv.dat") + ": sound, 10001 prefixes\n");
    ASSERT_EQ(command.run({"convert", "@good.dat", "@back.tsv"}).status, 0);
    EXPECT_EQ(command.run({"stats", "@back.tsv"}).out, command.run({"stats", "@good.dat"}).out);

    // Later files win per prefix.
    ASSERT_EQ(command.run({"merge", "@good.tsv", "@good.dat", "-o", "@merged.dat"}).status, 0);
    const Outcome later = command.run({"--data", "@merged.dat", "lookup", "13800130000", "15000000000", "15100000000"});
    EXPECT_EQ(later.out.substr(0, later.out.find('\n')), "13800130000\t广东 深圳\t中国移动\t0755\t518000\t" + command.path("merged.dat"));
    EXPECT_NE(later.out.find("15000000000\t湖北 武汉\t中国联通"), std::string::npos) << later.out;
    EXPECT_NE(later.out.find("15100000000\t广东 广州\t中国电信"), std::string::npos) << later.out;
    ASSERT_EQ(command.run({"merge", "@good.dat", "@good.tsv", "-o", "@merged.tsv"}).status, 0);
    EXPECT_NE(command.run({"--data", "@merged.tsv", "lookup", "13800130000"}).out.find("\t上海\t"), std::string::npos);
    // A failed conversion leaves no file behind.
    EXPECT_EQ(command.run({"convert", "@short.dat", "@never.tsv"}).status, 1);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(command.path("never.tsv"))));
}

// One rule in every layer: the user folder's files in name order, then each --data in order; the later wins.
TEST(DataCommandPrecedence, TheLaterSourceWins)
{
    const DataCommand command;
    QDir().mkpath(QString::fromStdString(command.path("xdg/teloria")));
    writeFile(command.path("xdg/teloria/01-a.dat"), *PhoneDat::serialise({{1380013, "广东", "深圳", "", "", 1},
                                                                          {1380014, "广东", "深圳", "", "", 1}}));
    writeFile(command.path("xdg/teloria/02-b.dat"), *PhoneDat::serialise({{1380013, "浙江", "杭州", "", "", 1}}));
    const Outcome folder = command.run({"lookup", "13800130000", "13800140000"});
    EXPECT_EQ(folder.out, "13800130000\t浙江 杭州\t中国移动\t0571\t\t" + command.path("xdg/teloria/02-b.dat") + "\n"
                          "13800140000\t广东 深圳\t中国移动\t0755\t\t" + command.path("xdg/teloria/01-a.dat") + "\n");
    // --data after the folders; a folder file named again with --data takes its --data place.
    const Outcome given = command.run({"--data", "@good.dat", "lookup", "13800130000"});
    EXPECT_NE(given.out.find("广东 深圳\t中国移动\t0755\t518000\t" + command.path("good.dat")), std::string::npos) << given.out;
    const Outcome again = command.run({"--data", "@xdg/teloria/01-a.dat", "lookup", "13800130000"});
    EXPECT_NE(again.out.find("01-a.dat"), std::string::npos) << again.out;
    // info lists them in load order.
    const std::string info = command.run({"--data", "@good.dat", "info"}).out;
    EXPECT_LT(info.find("01-a.dat"), info.find("02-b.dat"));
    EXPECT_LT(info.find("02-b.dat"), info.find("good.dat"));
    // merge lets the later file win the same way.
    ASSERT_EQ(command.run({"merge", "@xdg/teloria/01-a.dat", "@xdg/teloria/02-b.dat", "-o", "@m.tsv"}).status, 0);
    EXPECT_NE(command.run({"stats", "@m.tsv"}).status, 1);
    const std::string merged = command.run({"--data", "@m.tsv", "lookup", "13800130000"}).out;
    EXPECT_NE(merged.find("浙江 杭州"), std::string::npos) << merged;
    // The system folder comes before the user's.
    const auto folders = data::dataFolders();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders.front(), "/usr/share/teloria");
    EXPECT_EQ(folders.back(), command.path("xdg/teloria"));
}

// A merged file answers as its files loaded one over the other do: a field
// the higher file leaves empty or blank keeps the lower one's, whichever
// format each is in.
TEST(DataCommandFiles, MergedFileAnswersAsTheFilesLoadedTogether)
{
    struct Case {
        const char* name;
        std::string base; // bytes of base.dat or base.tsv
        const char* baseName;
        std::string correction;
        const char* correctionName;
        const char* expected; // lookup of 13800130000: location, card type
    };
    const std::vector<Case> cases = {
        {"a table without card type over a phone.dat",
         *PhoneDat::serialise({{1380013, "北京", "", "100000", "010", 2}}), "base.dat",
         "1380013\t广东\t深圳\t\n", "fix.tsv", "广东 深圳\t中国联通"},
        {"a table without place over a table", "138\t湖北\t武汉\t中国移动\n", "base.tsv",
         "1380013\t \t　\t中国电信\n", "fix.tsv", "湖北 武汉\t中国电信"},
        {"a phone.dat with a blank place over a phone.dat",
         *PhoneDat::serialise({{1380013, "湖北", "武汉", "", "", 1}}), "base.dat",
         *PhoneDat::serialise({{1380013, " ", " ", "", "", 3}}), "fix.dat", "湖北 武汉\t中国电信"},
        {"a phone.dat with an unknown card byte over a phone.dat",
         *PhoneDat::serialise({{1380013, "广东", "深圳", "", "", 2}}), "base.dat",
         *PhoneDat::serialise({{1380013, "海南", "", "", "", 200}}), "fix.dat", "海南\t中国联通"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DataCommand command;
        writeFile(command.path(c.baseName), c.base);
        writeFile(command.path(c.correctionName), c.correction);
        const std::string base = "@" + std::string(c.baseName);
        const std::string fix = "@" + std::string(c.correctionName);
        // A later --data file wins over an earlier one, as a later merged file does.
        const Outcome loaded = command.run({"--data", base, "--data", fix, "lookup", "13800130000"});
        EXPECT_NE(loaded.out.find(c.expected), std::string::npos) << loaded.out << loaded.err;
        for (const char* out : {"@merged.dat", "@merged.tsv"}) {
            SCOPED_TRACE(out);
            ASSERT_EQ(command.run({"merge", base, fix, "-o", out}).status, 0);
            const Outcome merged = command.run({"--data", out, "lookup", "13800130000"});
            EXPECT_NE(merged.out.find(c.expected), std::string::npos) << merged.out << merged.err;
        }
    }
}

// Blank place fields in a phone.dat say nothing: the built-in place stays, as
// it does for the same data in a table.
TEST(DataCommandFiles, BlankPhoneDatPlaceKeepsTheBuiltInOne)
{
    const DataCommand command;
    writeFile(command.path("blank.dat"), *PhoneDat::serialise({{1380013, " ", " ", "", "", 2}}));
    writeFile(command.path("blank.tsv"), "1380013\t \t \t中国联通\n");
    for (const char* file : {"@blank.dat", "@blank.tsv"}) {
        SCOPED_TRACE(file);
        EXPECT_NE(command.run({"--data", file, "lookup", "13800138000"}).out.find("\t北京\t中国联通\t"),
                  std::string::npos);
    }
}

// convert and merge keep every field the store keeps, in either format; a
// card type with no phone.dat byte stays in a table and is named when a
// phone.dat cannot hold it.
TEST(DataCommandFiles, ConvertKeepsEveryField)
{
    const DataCommand command;
    writeFile(command.path("full.tsv"),
              "1380013\t广东\t深圳\t中国移动\t518000\t0755\n1349000\t北京\t\t中国电信卫星\n1500000\t湖北\t武汉\t\t430000\t\n");
    const auto original = data::readPrefixRows(command.path("full.tsv"));
    ASSERT_TRUE(original) << original.error().reason;
    ASSERT_EQ(original->size(), 3u);
    EXPECT_EQ((*original)[0].facts.cardType, "中国电信卫星");

    ASSERT_EQ(command.run({"convert", "@full.tsv", "@copy.tsv"}).status, 0);
    EXPECT_EQ(data::readPrefixRows(command.path("copy.tsv")), original);
    ASSERT_EQ(command.run({"merge", "@full.tsv", "-o", "@merged.tsv"}).status, 0);
    EXPECT_EQ(data::readPrefixRows(command.path("merged.tsv")), original);

    const Outcome toDat = command.run({"convert", "@full.tsv", "@full.dat"});
    ASSERT_EQ(toDat.status, 0) << toDat.err;
    EXPECT_NE(toDat.err.find("card type 中国电信卫星 of 1 prefixes has no phone.dat byte"), std::string::npos)
        << toDat.err;
    ASSERT_EQ(command.run({"convert", "@full.dat", "@back.tsv"}).status, 0);
    auto expected = *original;
    expected[0].facts.cardType.clear(); // what a phone.dat cannot hold
    EXPECT_EQ(data::readPrefixRows(command.path("back.tsv")), expected);
}

// A table with outside text that could break a line or hide itself is not
// sound, and a line far longer than any sound one is passed over; a table
// that starts with a byte-order mark is.
TEST(DataCommandFiles, TablesRefuseInvisibleAndOverlongTextAndAcceptAByteOrderMark)
{
    struct Case {
        const char* name;
        std::string text;
        int status;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"byte-order mark", "\xEF\xBB\xBF# prefix\tprovince\tcity\tcard type\n1380013\t广东\t深圳\t\n", 0, "sound, 1 prefixes"},
        {"byte-order mark on a data line", "\xEF\xBB\xBF" "1380013\t广东\t深圳\t\n", 0, "sound, 1 prefixes"},
        {"line separator", "1380013\t广东\u2028深圳\t\t\n", 1, "line 1 (byte 0) holds a line break (U+2028)"},
        {"next line", "1380013\t广东\t深圳\u0085\t\n", 1, "holds a control character (U+0085)"},
        {"right-to-left override", "1380013\t\u202E广东\t\t\n", 1, "format character (U+202E)"},
        {"zero-width space", "1380013\t广东\t\t中国\u200B移动\n", 1, "format character (U+200B)"},
        {"byte-order mark inside", "# a comment\n1380013\t\uFEFF广东\t\t\n", 1, "line 2 (byte 12)"},
        {"a field of 2 MiB", "1380013\t广东\t" + std::string(2u << 20, 'x') + "\t\n", 1, "longer than 1024 bytes"},
        {"a place of 65 bytes", "1380013\t" + std::string(65, 'x') + "\t\t\n", 1, "longer than 64 bytes"},
        {"a card type of 33 bytes", "1380013\t广东\t\t" + std::string(33, 'x') + "\n", 1, "longer than 32 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DataCommand command;
        writeFile(command.path("t.tsv"), c.text);
        const Outcome r = command.run({"check", "@t.tsv"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
        // What the programs load: the line is skipped with its reason, never served.
        const Outcome loaded = command.run({"--data", "@t.tsv", "lookup", "13800130000"});
        if (c.status != 0)
            EXPECT_NE(loaded.out.find("\t北京\t"), std::string::npos) << loaded.out;
        else
            EXPECT_NE(loaded.out.find("\t广东 深圳\t"), std::string::npos) << loaded.out;
    }
}

// A pipe is never read as a data file (it would block) and is written in
// place, never replaced by a regular file.
TEST(DataCommandFiles, PipesAreRefusedAsInputAndWrittenInPlace)
{
    const DataCommand command;
    const std::string fifo = command.path("pipe.dat");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", "@pipe.dat"}, {"convert", "@pipe.dat", "@out.tsv"},
          {"--data", "@pipe.dat", "lookup", "13800138000"}}) {
        const Outcome r = command.run(args);
        EXPECT_NE(r.err.find("pipe.dat: a pipe, not a regular file"), std::string::npos) << r.err;
        if (args[0] != "--data") {
            EXPECT_EQ(r.status, 1);
        }
    }

    std::string received;
    std::thread reader([&] {
        std::ifstream in(fifo, std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), {});
    });
    const Outcome r = command.run({"convert", "@good.dat", "@pipe.dat"});
    reader.join();
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(received, *PhoneDat::serialise({{1380013, "广东", "深圳", "518000", "0755", 1},
                                              {1500000, "湖北", "武汉", "", "", 2}}));
}

} // namespace
} // namespace teloria::cli
