#include "cli/data_command.h"

#include "data/phone_dat.h"
#include "service/service_test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
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
    ExitCase{{"lookup", "13800138000"}, 0, "13800138000\t北京\t中国移动\tbuilt-in"},
    ExitCase{{"--data", "@good.dat", "lookup", "+86 138 0013 0000"}, 0, "广东 深圳\t中国移动\t"},
    ExitCase{{"--data", "@good.dat", "--data", "@good.tsv", "lookup", "13800130000"}, 0, "上海\t中国移动\t"},
    ExitCase{{"lookup", "13800138000", "hello"}, 1, "'hello' is not a phone number"},
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
    EXPECT_EQ(later.out.substr(0, later.out.find('\n')), "13800130000\t广东 深圳\t中国移动\t" + command.path("merged.dat"));
    EXPECT_NE(later.out.find("15000000000\t湖北 武汉\t中国联通"), std::string::npos) << later.out;
    EXPECT_NE(later.out.find("15100000000\t广东 广州\t中国电信"), std::string::npos) << later.out;
    ASSERT_EQ(command.run({"merge", "@good.dat", "@good.tsv", "-o", "@merged.tsv"}).status, 0);
    EXPECT_NE(command.run({"--data", "@merged.tsv", "lookup", "13800130000"}).out.find("\t上海\t"), std::string::npos);
    // A failed conversion leaves no file behind.
    EXPECT_EQ(command.run({"convert", "@short.dat", "@never.tsv"}).status, 1);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(command.path("never.tsv"))));
}

} // namespace
} // namespace teloria::cli
