// Every program's command line through the one layer, run as the real
// binaries: what each exits with and a piece of what it says, for unknown
// options, missing values, pairs that contradict each other, --help and
// --version. The window is run offscreen: none of these cases may open it
// (one that did would wait for a close that never comes).

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

enum class Program { Window, Batch, Lookupd, Data };

const char* binary(Program p)
{
    switch (p) {
    case Program::Window:
        return TELORIA_WINDOW_BINARY;
    case Program::Batch:
        return TELORIA_BATCH_BINARY;
    case Program::Lookupd:
        return TELORIA_LOOKUPD_BINARY;
    case Program::Data:
        return TELORIA_DATA_BINARY;
    }
    return "";
}

enum class Stream { Out, Err };

struct Case {
    Program program;
    std::vector<const char*> args; // "@" at the start stands for the scratch folder
    std::vector<std::pair<const char*, const char*>> env;
    int status;
    Stream stream;      // where the text is said
    const char* text;   // a piece of it
};

constexpr auto W = Program::Window;
constexpr auto B = Program::Batch;
constexpr auto L = Program::Lookupd;
constexpr auto D = Program::Data;
constexpr auto Out = Stream::Out;
constexpr auto Err = Stream::Err;

const std::vector<Case> kCases = {
    // teloria, the window
    {W, {"--help"}, {}, 0, Out, "  --service URL "},
    {W, {"--help"}, {}, 0, Out, "  --no-learn "},
    {W, {"-v"}, {}, 0, Out, "data: built-in segment table of "},
    {W, {"-platform", "offscreen", "--version"}, {}, 0, Out, "teloria "},
    {W, {"--colour"}, {}, 2, Err, "teloria: unknown option '--colour'\nUsage: teloria [options]"},
    {W, {"--data"}, {}, 2, Err, "--data needs a file name"},
    {W, {"--data", ""}, {}, 2, Err, "--data needs a file name"},
    {W, {"stray"}, {}, 2, Err, "unexpected argument 'stray'"},
    {W, {"--service", "http://127.0.0.1:9", "--data", "x.dat"}, {}, 2, Err, "--data is for the bundled service"},
    {W, {"--service", "http://127.0.0.1:9", "--upstream", "http://127.0.0.1:9"}, {}, 2, Err,
     "--upstream is for the bundled service"},
    {W, {"--service", "http://127.0.0.1:9/lookup"}, {}, 2, Err, "without a path\nUsage: teloria"},
    {W, {"--no-learn"}, {{"TELORIA_SERVICE", "http://127.0.0.1:9"}}, 2, Err, "--no-learn is for the bundled service"},
    {W, {"--no-learn", "--learned", "x.sqlite"}, {}, 2, Err, "contradict"},
    {W, {"--upstream", "ftp://127.0.0.1/"}, {}, 2, Err, "--upstream:"},
    {W, {}, {{"TELORIA_UPSTREAM", "not a url"}}, 2, Err, "TELORIA_UPSTREAM:"},
    {W, {"--upstream-rate", "0"}, {}, 2, Err, "--upstream-rate '0'"},
    // teloria-batch
    {B, {"--help"}, {}, 0, Out, "  --learned FILE "},
    {B, {"--help"}, {}, 0, Out, "  -o, --output FILE "},
    {B, {"--version"}, {}, 0, Out, "teloria-batch "},
    {B, {"--fast"}, {}, 2, Err, "teloria-batch: unknown option '--fast'\nUsage: teloria-batch [options] [FILE|-]"},
    {B, {"--jobs"}, {}, 2, Err, "--jobs needs a value (N)"},
    {B, {"--jobs", "0"}, {}, 2, Err, "--jobs takes a whole number from 1 to 64, not '0'"},
    {B, {"--service", ""}, {}, 2, Err, "--service needs a URL"},
    {B, {"--service", "http://127.0.0.1:99999"}, {}, 2, Err,
     "--service: 'http://127.0.0.1:99999' is not a valid URL: Invalid port or port number out of range\nUsage: "},
    {B, {"--service", "ftp://example"}, {}, 2, Err, "is not an http:// or https:// URL\nUsage: teloria-batch"},
    {B, {"--service", "http://127.0.0.1:9", "--data", "x.dat"}, {}, 2, Err, "--data is for the bundled service"},
    {B, {"--service", "http://127.0.0.1:9", "--learned", "x.sqlite"}, {}, 2, Err, "--learned is for the bundled"},
    {B, {"--upstream", "http://127.0.0.1:9"}, {{"TELORIA_SERVICE", "http://127.0.0.1:9"}}, 2, Err,
     "--upstream is for the bundled"},
    {B, {"--no-learn", "--learned", "x.sqlite"}, {}, 2, Err, "contradict"},
    {B, {"--upstream-timeout", "ten"}, {}, 2, Err, "--upstream-timeout 'ten'"},
    {B, {"--no-learn", "--refresh-days", "30", "-"}, {}, 0, Err, "0 numbers, 0 failed requests"},
    {B, {"-o", "@/missing/out.csv", "-"}, {}, 2, Err, "cannot write"},
    {B, {"--service", "http://127.0.0.1:9", "-"}, {{"TELORIA_UPSTREAM", "http://127.0.0.1:9"}}, 0, Err,
     "TELORIA_UPSTREAM is ignored"},
    // teloria-lookupd
    {L, {"--help"}, {}, 0, Out, "  --listen HOST:PORT "},
    {L, {"--help"}, {}, 0, Out, "  --refresh-days N "},
    {L, {"-v"}, {}, 0, Out, "teloria-lookupd "},
    {L, {"--verbose"}, {}, 2, Err, "teloria-lookupd: unknown option '--verbose'\nUsage: teloria-lookupd [options]"},
    {L, {"--listen"}, {}, 2, Err, "--listen needs a value (HOST:PORT)"},
    {L, {"--listen", "127.0.0.1"}, {}, 2, Err, "is not HOST:PORT"},
    {L, {"--no-learn", "--learned", "x.sqlite"}, {}, 2, Err, "contradict"},
    {L, {"stray"}, {}, 2, Err, "unexpected argument 'stray'"},
    // teloria-data and its commands
    {D, {"--help"}, {}, 0, Out, "Commands:\n  lookup NUMBER...\n"},
    {D, {"--version"}, {}, 0, Out, "teloria-data "},
    {D, {"merge", "--help"}, {}, 0, Out, "Usage: teloria-data merge [options] A B... -o OUT"},
    {D, {"learn", "--help"}, {}, 0, Out, "  --segments LIST "},
    {D, {"update", "--help"}, {}, 0, Out, "  --dry-run "},
    {D, {"--frob"}, {}, 2, Err, "teloria-data: unknown option '--frob'\nUsage: teloria-data [options] COMMAND"},
    {D, {"stats", "--foo"}, {}, 2, Err, "unknown option '--foo'\nUsage: teloria-data stats [options] [FILE...]"},
    {D, {"update", "--rollback", "x.dat"}, {}, 2, Err, "--rollback takes nothing else"},
    {D, {"--learned"}, {}, 2, Err, "--learned needs a file name"},
    {D, {"merge", "@/a.tsv", "-o"}, {}, 2, Err, "-o needs a file name"},
    {D, {"merge", "@/a.tsv", "-o", "@/missing/out.tsv"}, {}, 2, Err, "cannot write"},
    {D, {"convert", "@/a.tsv", "@/missing/out.dat"}, {}, 2, Err, "cannot write"},
    {D, {"export-learned", "-o", "@/missing/out.tsv"}, {}, 2, Err, "cannot write"},
    {D, {"lookup", "--data", "@/a.tsv", "13800130000"}, {}, 0, Out, "广东 深圳"},
    {D, {"--data", "@/a.tsv", "lookup", "--", "13800130000"}, {}, 0, Out, "广东 深圳"},
};

std::string describe(const Case& c)
{
    std::string text = binary(c.program);
    text = text.substr(text.rfind('/') + 1);
    for (const auto& [name, value] : c.env)
        text = std::string(name) + "=" + value + " " + text;
    for (const char* a : c.args)
        text += std::string(" '") + a + "'";
    return text;
}

TEST(CommandLine, EveryProgramExitsAndSaysAsTheTableSays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::ofstream(dir.filePath(QStringLiteral("a.tsv")).toStdString()) << "1380013\t广东\t深圳\t\n";
    for (const Case& c : kCases) {
        SCOPED_TRACE(describe(c));
        QStringList arguments;
        for (const char* a : c.args)
            arguments << (a[0] == '@' ? dir.path() + QString::fromUtf8(a + 1) : QString::fromUtf8(a));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"TELORIA_SERVICE", "TELORIA_UPSTREAM"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("no-data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("no-config")));
        for (const auto& [name, value] : c.env)
            env.insert(QString::fromUtf8(name), QString::fromUtf8(value));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QString::fromUtf8(binary(c.program)), arguments);
        ASSERT_TRUE(process.waitForStarted());
        process.closeWriteChannel(); // standard input is empty
        if (!process.waitForFinished(30'000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "still running after 30 s (a window opened?)";
            continue;
        }
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.status) << err.toStdString();
        const QString& said = c.stream == Stream::Out ? out : err;
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.text)))
            << "stdout:\n" << out.toStdString() << "stderr:\n" << err.toStdString();
    }
}

} // namespace
