// Runs the real teloria-batch against a lookup service on loopback and checks
// what it writes, where, and with which exit status.
#include "cli/lookup_server.h"

#include "export/result_file.h"
#include "lookup/result_table.h"
#include "service/bundled_service.h"
#include "data/segment_table.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <unistd.h>

namespace teloria::testing {
namespace {

struct Outcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Outcome runBatch(const QStringList& args, const QByteArray& input = {},
                 const std::map<QString, QString>& env = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TELORIA_SERVICE"));
    for (const auto& [key, value] : env)
        environment.insert(key, value);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TELORIA_BATCH_BINARY), args);
    EXPECT_TRUE(process.waitForStarted(10'000));
    process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(90'000)) << "teloria-batch did not finish";
    Outcome outcome;
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

// The location and card type the test service gives a number, chosen by its
// last digit; some hold a comma or a double quote, which the file writer quotes.
const char* const kPlaces[] = {"北京", "广东 深圳", "上海,浦东", "内蒙古 呼和浩特", "新疆 乌鲁木齐"};
const char* const kCards[] = {"移动全球通卡", "联通如意通卡", "电信\"天翼\"卡"};

std::string placeOf(const std::string& n) { return kPlaces[n.empty() ? 0 : static_cast<unsigned char>(n.back()) % 5]; }
std::string cardOf(const std::string& n) { return kCards[n.empty() ? 0 : static_cast<unsigned char>(n.back()) % 3]; }

std::string pageOf(const std::string& n)
{
    return "<html><body>号码：" + n + "<br/>归属地：" + placeOf(n) + "<br/>卡类型：" + cardOf(n) +
           "<br/></body></html>";
}

Answer plainAnswer(const std::string& n) { return {pageOf(n)}; }

struct Row {
    std::string number, location, card;
};

Row answeredRow(const std::string& n) { return {n, placeOf(n), cardOf(n)}; }
Row failedRow(const std::string& n) { return {n, "", ""}; }

// The window's result file for these rows, from the window's own writer.
QByteArray resultFile(const std::vector<Row>& rows, FileEncoding encoding = FileEncoding::Gbk)
{
    ResultTable table;
    table.configure();
    for (const Row& r : rows) {
        const int id = table.rowCount() + 1;
        table.addRow(QString::number(id));
        table.setSubItem(id, 1, QString::fromStdString(r.number));
        table.setSubItem(id, 2, QString::fromStdString(r.location));
        table.setSubItem(id, 3, QString::fromStdString(r.card));
    }
    return resultFileBytes(table, encoding);
}

std::vector<Row> answeredRows(const std::vector<std::string>& numbers)
{
    std::vector<Row> rows;
    for (const auto& n : numbers)
        rows.push_back(answeredRow(n));
    return rows;
}

QByteArray lines(const std::vector<std::string>& numbers, const char* end = "\n")
{
    QByteArray text;
    for (const auto& n : numbers)
        text += QByteArray::fromStdString(n) + end;
    return text;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString base(const LookupServer& s) { return QString::fromStdString(s.baseUrl()); }

// ---------------------------------------------------------------------------
// The output is the window's result file, byte for byte.

struct EncodingCase {
    const char* name;
    QStringList args;
    FileEncoding encoding;
};

class BatchOutputBytes : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(BatchOutputBytes, EqualTheResultFileWriterForTheSameRows)
{
    LookupServer server(plainAnswer);
    const std::vector<std::string> numbers = {"13800138000", "15912345671", " 18612345672 ",
                                              "13312345673", "17712345674", "19912345675"};
    const Outcome o = runBatch(QStringList{"--service", base(server)} + GetParam().args, lines(numbers));
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, resultFile(answeredRows(numbers), GetParam().encoding));
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, BatchOutputBytes,
    ::testing::Values(EncodingCase{"GbkByDefault", {}, FileEncoding::Gbk},
                      EncodingCase{"GbkNamed", {"--encoding", "gbk"}, FileEncoding::Gbk},
                      EncodingCase{"Utf8", {"--encoding", "utf-8"}, FileEncoding::Utf8},
                      EncodingCase{"Utf8WithFourJobs", {"--encoding", "utf-8", "--jobs", "4"}, FileEncoding::Utf8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BatchOutputBytes, PageWithoutMarkersGivesEmptyCellsAndCountsAsAnswered)
{
    const std::string page = "<p>no such number,\r\nsorry</p>";
    LookupServer server([&](const std::string&) { return Answer{page}; });
    const Outcome o = runBatch({"--service", base(server)}, "123\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, resultFile({{"123", "", ""}}));
}

// ---------------------------------------------------------------------------
// Where the numbers come from, and how lines are split.

struct InputCase {
    const char* name;
    QStringList args;          // "@FILE" stands for the input file's path
    QByteArray fileBytes;      // written to the input file when args name it
    QByteArray stdinBytes;
    std::vector<std::string> numbers; // what the service must be asked, in order
    bool readAsGb18030 = false;       // standard error says the input is not UTF-8
};

class BatchInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(BatchInput, GivesOneRequestAndOneRowPerLine)
{
    const InputCase& c = GetParam();
    LookupServer server(plainAnswer);
    QTemporaryDir dir;
    QStringList args{"--service", base(server)};
    for (const QString& a : c.args)
        args << (a == "@FILE" ? writeFile(dir, "numbers.txt", c.fileBytes) : a);

    const Outcome o = runBatch(args, c.stdinBytes);
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(server.arrived(), c.numbers);
    EXPECT_EQ(o.out, resultFile(answeredRows(c.numbers)));
    EXPECT_EQ(o.err.contains("not UTF-8: reading it as GB18030"), c.readAsGb18030) << o.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Sources, BatchInput,
    ::testing::Values(
        InputCase{"FileWithLf", {"@FILE"}, "13800138000\n13900139000\n", "ignored\n", {"13800138000", "13900139000"}},
        InputCase{"FileWithCrLf", {"@FILE"}, "13800138000\r\n13900139000\r\n", {}, {"13800138000", "13900139000"}},
        InputCase{"FileWithoutLastBreak", {"@FILE"}, "13800138000\n13900139000", {}, {"13800138000", "13900139000"}},
        InputCase{"FileWithByteOrderMark", {"@FILE"}, "\xEF\xBB\xBF" "13800138000\r\n", {}, {"13800138000"}},
        InputCase{"BlankLineInsideIsAnEmptyNumber", {"@FILE"}, "13800138000\n\n13900139000\n", {}, {"13800138000", "", "13900139000"}},
        InputCase{"LoneCrEndsTheLine", {"@FILE"}, "138\r001\n", {}, {"138", "001"}},
        InputCase{"OldMacFile", {"@FILE"}, "13800138000\r13900139000\r\r15000000000", {}, {"13800138000", "13900139000", "", "15000000000"}},
        InputCase{"Utf16LeByItsMark", {"@FILE"}, QByteArray("\xFF\xFE" "1\0" "3\0" "8\0" "\r\0\n\0" "\x17\x53\xAC\x4E" "\n\0", 16), {}, {"138", "北京"}},
        InputCase{"Utf16BeByItsMark", {"@FILE"}, QByteArray("\xFE\xFF" "\0" "1" "\0" "3" "\0\n" "\x53\x17\x4E\xAC", 12), {}, {"13", "北京"}},
        InputCase{"GbkFromAWindowsTool", {"@FILE"}, "13800138000\r\n\xB1\xB1\xBE\xA9 13900139000\r\n", {}, {"13800138000", "北京 13900139000"}, true},
        InputCase{"Utf8IsNotTakenForGbk", {"@FILE"}, "北京 13900139000\n", {}, {"北京 13900139000"}},
        InputCase{"EmptyFile", {"@FILE"}, "", {}, {}},
        InputCase{"StdinByDash", {"-"}, {}, "13800138000\r\n13900139000\r\n", {"13800138000", "13900139000"}},
        InputCase{"StdinWhenNoFile", {}, {}, "13800138000\n", {"13800138000"}},
        InputCase{"EmptyStdin", {}, {}, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Several requests in flight, rows still in input order.

TEST(BatchJobs, AnswersOutOfOrderStillGiveRowsInInputOrder)
{
    constexpr int kJobs = 8;
    std::vector<std::string> numbers;
    for (int i = 0; i < 48; ++i)
        numbers.push_back(std::to_string(13800000000LL + 7919LL * i));
    // The first kJobs numbers are answered at once, so that every worker gets
    // going; after them each even-placed number is answered only after the one
    // that follows it: every such pair is answered in reverse, which needs two
    // requests in flight at once.
    std::map<std::string, std::string> after;
    for (std::size_t i = kJobs; i + 1 < numbers.size(); i += 2)
        after[numbers[i]] = numbers[i + 1];
    LookupServer server([&](const std::string& n) {
        const auto it = after.find(n);
        return Answer{pageOf(n), false, it == after.end() ? std::nullopt : std::optional(it->second)};
    });
    const Outcome o = runBatch({"--service", base(server), "--jobs", QString::number(kJobs)},
                               lines(numbers));

    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, resultFile(answeredRows(numbers)));
    const std::vector<std::string> answered = server.answered();
    ASSERT_TRUE(std::is_permutation(answered.begin(), answered.end(), numbers.begin(), numbers.end()));
    const auto place = [&](const std::string& n) { return std::find(answered.begin(), answered.end(), n); };
    for (const auto& [later, earlier] : after)
        EXPECT_LT(place(earlier), place(later)) << later << " was answered before " << earlier;
    EXPECT_GE(server.peakInFlight(), 2);
    EXPECT_LE(server.peakInFlight(), kJobs);
}

TEST(BatchJobs, OneJobKeepsOneRequestInFlight)
{
    std::vector<std::string> numbers;
    for (int i = 0; i < 12; ++i)
        numbers.push_back(std::to_string(15000000000LL + i));
    LookupServer server(plainAnswer);
    const Outcome o = runBatch({"--service", base(server), "--jobs", "1"}, lines(numbers));
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(server.answered(), numbers);
    EXPECT_EQ(server.peakInFlight(), 1);
}

// ---------------------------------------------------------------------------
// Exit status, and nothing written to -o FILE when the command is refused.

struct StatusCase {
    const char* name;
    QStringList args;  // "@SERVICE", "@DEAD", "@OUT", "@NUMBERS", "@GOOD", "@MISSING", "@DIR" are filled in
    int status;
    bool outputWritten;
    const char* errorMentions; // a piece of standard error's text
};

class BatchStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(BatchStatus, MatchesWhatHappened)
{
    const StatusCase& c = GetParam();
    // 13900000002 is dropped mid-answer by the service.
    LookupServer server([](const std::string& n) {
        return Answer{pageOf(n), n == "13900000002"};
    });
    QTemporaryDir dir;
    const QString out = writeFile(dir, "out.csv", "previous contents\r\n");
    const QString numbers = writeFile(dir, "numbers.txt", "13900000001\n13900000002\n13900000003\n");
    const QString good = writeFile(dir, "good.txt", "13900000001\n13900000003\n");
    const RefusingPort refusing;
    const QString dead = QString::fromStdString(refusing.baseUrl());
    QStringList args;
    for (const QString& a : c.args) {
        if (a == "@SERVICE") args << base(server);
        else if (a == "@DEAD") args << dead;
        else if (a == "@OUT") args << out;
        else if (a == "@NUMBERS") args << numbers;
        else if (a == "@GOOD") args << good;
        else if (a == "@MISSING") args << dir.filePath("no-such-file.txt");
        else if (a == "@DIR") args << dir.path();
        else if (a == "@OUT_IN_MISSING_DIR") args << dir.filePath("no-such-dir/out.csv");
        else args << a;
    }

    const Outcome o = runBatch(args, "13900000001\n");
    EXPECT_EQ(o.status, c.status) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains(c.errorMentions)) << o.err.toStdString();
    if (c.outputWritten) {
        EXPECT_NE(readFile(out), "previous contents\r\n");
    } else { // refused: the old file stands untouched and nothing went to standard output
        EXPECT_EQ(readFile(out), "previous contents\r\n");
        EXPECT_TRUE(o.out.isEmpty());
    }
    if (c.status == 2) {
        EXPECT_TRUE(server.arrived().empty()) << "a refused command must make no request";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchStatus,
    ::testing::Values(
        StatusCase{"EveryRequestAnswered", {"--service", "@SERVICE", "-o", "@OUT", "@GOOD"}, 0, true, "0 failed requests"},
        StatusCase{"OneRequestFailed", {"--service", "@SERVICE", "-o", "@OUT", "@NUMBERS"}, 3, true, "1 failed request"},
        StatusCase{"ServiceDownKeepsTheOldFile", {"--service", "@DEAD", "-o", "@OUT", "@NUMBERS"}, 1, false, "3 requests failed: "},
        StatusCase{"BadTimeout", {"--service", "@SERVICE", "--timeout", "0", "-o", "@OUT", "@NUMBERS"}, 2, false, "--timeout"},
        StatusCase{"UnknownFormat", {"--service", "@SERVICE", "--format", "xml", "-o", "@OUT", "@NUMBERS"}, 2, false, "--format"},
        StatusCase{"UnknownField", {"--service", "@SERVICE", "--fields", "id,phone", "-o", "@OUT", "@NUMBERS"}, 2, false, "phone"},
        StatusCase{"MissingInputFile", {"--service", "@SERVICE", "-o", "@OUT", "@MISSING"}, 2, false, "no-such-file.txt"},
        StatusCase{"InputIsADirectory", {"--service", "@SERVICE", "-o", "@OUT", "@DIR"}, 2, false, "directory"},
        StatusCase{"TwoInputFiles", {"--service", "@SERVICE", "-o", "@OUT", "@NUMBERS", "@NUMBERS"}, 2, false, "one input file"},
        StatusCase{"JobsZero", {"--service", "@SERVICE", "--jobs", "0", "-o", "@OUT", "@NUMBERS"}, 2, false, "--jobs"},
        StatusCase{"JobsAboveLimit", {"--service", "@SERVICE", "--jobs", "65", "-o", "@OUT", "@NUMBERS"}, 2, false, "--jobs"},
        StatusCase{"JobsNotANumber", {"--service", "@SERVICE", "--jobs", "many", "-o", "@OUT", "@NUMBERS"}, 2, false, "--jobs"},
        StatusCase{"UnknownEncoding", {"--service", "@SERVICE", "--encoding", "latin1", "-o", "@OUT", "@NUMBERS"}, 2, false, "--encoding"},
        StatusCase{"UnknownOption", {"--service", "@SERVICE", "--fast", "-o", "@OUT", "@NUMBERS"}, 2, false, "fast"},
        StatusCase{"MalformedService", {"--service", "ftp://example", "-o", "@OUT", "@NUMBERS"}, 2, false, "--service"},
        StatusCase{"OutputInMissingDirectory", {"--service", "@SERVICE", "-o", "@OUT_IN_MISSING_DIR", "@NUMBERS"}, 2, false, "no-such-dir"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BatchStatus, FailedRequestsStillGiveTheirRowsWithEmptyCells)
{
    LookupServer server([](const std::string& n) { return Answer{pageOf(n), n == "13900000002"}; });
    const Outcome o = runBatch({"--service", base(server), "--encoding", "utf-8"},
                               "13900000001\n13900000002\n13900000003\n");
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, resultFile({answeredRow("13900000001"), failedRow("13900000002"),
                                 answeredRow("13900000003")},
                                FileEncoding::Utf8));
}

TEST(BatchStatus, AnErrorStatusIsAFailedRequestAndTheRowKeepsThePage)
{
    LookupServer server([](const std::string& n) {
        return Answer{"归属地：未知<br/>", false, std::nullopt, n == "2" ? 500 : 404};
    });
    const Outcome o = runBatch({"--service", base(server), "--keep-going"}, "1\n2\n3\n");
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, resultFile({{"1", "未知", ""}, {"2", "未知", ""}, {"3", "未知", ""}}));
    EXPECT_TRUE(o.err.contains("3 failed requests")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("\n2 requests failed: HTTP 404\n")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("\n1 request failed: HTTP 500\n")) << o.err.toStdString();
}

// The service answers 400 for a line that is not a number: an answer, counted
// apart, never a reason to give up.
TEST(BatchStatus, LinesThatAreNotNumbersAreCountedApart)
{
    LookupServer server([](const std::string& n) {
        return n.size() == 11 ? Answer{pageOf(n)} : Answer{"<p>not a number</p>", false, std::nullopt, 400};
    });
    const Outcome o = runBatch({"--service", base(server)}, "abc\n\n\n--\n13800138000\n");
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(server.arrived().size(), 5u);
    EXPECT_EQ(o.out, resultFile({{"abc", "", ""}, {"", "", ""}, {"", "", ""}, {"--", "", ""},
                                 answeredRow("13800138000")}));
    EXPECT_TRUE(o.err.contains("5 numbers, 0 failed requests")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("\n4 lines are not numbers\n")) << o.err.toStdString();
}

struct GiveUpCase {
    const char* name;
    QStringList args;
    std::size_t asked;
    const char* errorMentions;
};

class BatchGiveUp : public ::testing::TestWithParam<GiveUpCase> {};

// The service dies after two numbers: three failed requests in a row end the
// asking, and every row is still written.
TEST_P(BatchGiveUp, StopsAskingAfterThreeFailuresInARowUnlessToldToKeepGoing)
{
    const GiveUpCase& c = GetParam();
    std::vector<std::string> numbers;
    for (int i = 0; i < 10; ++i)
        numbers.push_back(std::to_string(13900000000LL + i));
    LookupServer server([](const std::string& n) { return Answer{pageOf(n), n.back() >= '2'}; });
    const Outcome o = runBatch(QStringList{"--service", base(server)} + c.args, lines(numbers));
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(server.arrived().size(), c.asked);
    std::vector<Row> rows{answeredRow(numbers[0]), answeredRow(numbers[1])};
    for (std::size_t i = 2; i < numbers.size(); ++i)
        rows.push_back(failedRow(numbers[i]));
    EXPECT_EQ(o.out, resultFile(rows));
    EXPECT_TRUE(o.err.contains(c.errorMentions)) << o.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchGiveUp,
    ::testing::Values(GiveUpCase{"GivesUp", {}, 5, "gave up after 3 failed requests in a row"},
                      GiveUpCase{"KeepsGoing", {"--keep-going"}, 10, "8 requests failed: transfer closed\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A service that accepts and never answers: all jobs wait out their time-out
// together, so the run takes one time-out, not one per number.
TEST(BatchGiveUp, AHungServiceCostsOneTimeOutPerJobsNumbers)
{
    CountingSilentServer server;
    const Outcome o = runBatch({"--service", QString::fromStdString(server.baseUrl()), "--jobs", "8",
                                "--timeout", "1"},
                               lines({"1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_EQ(o.status, 1) << o.err.toStdString();
    EXPECT_EQ(server.peakOpen(), 8u);
    EXPECT_TRUE(o.err.contains("timed out")) << o.err.toStdString();
}

// ---------------------------------------------------------------------------
// -o FILE, the service setting, and standard error.

TEST(BatchOutputFile, ReplacesTheFileAndLeavesNothingBeside)
{
    LookupServer server(plainAnswer);
    QTemporaryDir dir;
    const QString out = writeFile(dir, "result.csv", QByteArray(4096, 'x'));
    const Outcome o = runBatch({"--service", base(server), "-o", out}, "13800138000\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.out.isEmpty());
    EXPECT_EQ(readFile(out), resultFile({answeredRow("13800138000")}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"result.csv"});
}

// ---------------------------------------------------------------------------
// With no service named, the numbers are looked up in-process: the same bytes
// as over HTTP from the bundled service, whatever the input.

std::vector<std::string> awkwardInputs()
{
    std::vector<std::string> inputs = {
        "13800138000", " 138 0013 8000 ", "+8613800138000", "008613800138000", "86 138-0013-8000",
        "010-12345678", "075512345678", "+86 755 1234 5678", "abc", "", "1380013800", "138001380001",
        "１３８００１３８０００", "13800138000&mobile=13900139000", "138=139", "138%2000", "北京", "\t13800138000",
        std::string(70, '1'), "19912345678", "14112345678", "17012345678", "0", "+", "\"13800138000\"",
        "13800138000,13900139000"};
    // Every segment of the built-in table.
    const auto& segments = data::SegmentTable::builtIn();
    for (int prefix = 1000; prefix <= 1999; ++prefix) {
        const std::string number = std::to_string(prefix) + "1234567";
        if (!segments.operatorOf(number).empty())
            inputs.push_back(number);
    }
    return inputs;
}

TEST(BatchInProcess, WritesTheBytesTheHttpPathWrites)
{
    QString why;
    const auto bundled = BundledService::start(&why);
    ASSERT_TRUE(bundled) << why.toStdString();
    const std::vector<std::string> inputs = awkwardInputs();
    ASSERT_GT(inputs.size(), 100u);
    const QByteArray input = lines(inputs);
    for (const QStringList& format : {QStringList{}, QStringList{"--encoding", "utf-8"},
                                      QStringList{"--format", "tsv", "--fields",
                                                  "id,number,location,card,province,city"},
                                      QStringList{"--format", "jsonl"}}) {
        const Outcome local = runBatch(format, input);
        const Outcome http = runBatch(QStringList{"--service", bundled->baseUrl(), "--jobs", "4"} + format, input);
        EXPECT_EQ(local.status, http.status) << format.join(' ').toStdString();
        EXPECT_EQ(local.status, 0) << local.err.toStdString();
        EXPECT_EQ(local.out, http.out) << format.join(' ').toStdString();
        EXPECT_EQ(local.out.count('\n'), qsizetype(inputs.size() + (format.contains("tsv") ? 1 : 0)));
        // The summary differs only in the seconds.
        static const QRegularExpression seconds(QStringLiteral(R"(, [0-9.]+ s\n)"));
        EXPECT_EQ(QString::fromUtf8(local.err).remove(seconds), QString::fromUtf8(http.err).remove(seconds));
    }
}

TEST(BatchInProcess, DataFilesAddToTheStoreAndAreRefusedWithAService)
{
    QTemporaryDir dir;
    const QString fixes = writeFile(dir, "fixes.tsv", "1380013\t广东\t深圳\t中国移动\n");
    const Outcome o = runBatch({"--data", fixes, "--format", "tsv", "--no-header", "--fields",
                                "number,province,city,card,source"},
                               "13800138000\n13800138\n");
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, "13800138000\t广东\t深圳\t中国移动\t" + fixes.toUtf8() + "\n13800138\t\t\t\t\n");
    EXPECT_TRUE(o.err.startsWith("teloria-batch: ")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains(fixes.toUtf8())) << o.err.toStdString();

    LookupServer server(plainAnswer);
    const Outcome refused = runBatch({"--data", fixes, "--service", base(server)}, "13800138000\n");
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(server.arrived().empty());
}

// A redirect to another host is a failed request, never followed; one on the
// same host is followed.
TEST(BatchRedirects, StayOnTheServiceHost)
{
    LookupServer elsewhere(plainAnswer);
    const TestServer front([&](httplib::Server& s) {
        s.Get("/sim_search138.asp", [&](const httplib::Request& req, httplib::Response& res) {
            const std::string mobile = req.get_param_value("mobile");
            if (mobile == "13800138001") // same host, another path
                res.set_redirect("/moved?mobile=" + mobile);
            else // the same service, named by another host name
                res.set_redirect("http://localhost:" + elsewhere.baseUrl().substr(elsewhere.baseUrl().rfind(':') + 1) +
                                 "/sim_search138.asp?mobile=" + mobile);
        });
        s.Get("/moved", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(pageOf(req.get_param_value("mobile")), "text/html; charset=utf-8");
        });
    });
    const Outcome o = runBatch({"--service", QString::fromStdString(front.baseUrl())}, "13800138001\n13800138002\n");
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    EXPECT_EQ(o.out, resultFile({answeredRow("13800138001"), failedRow("13800138002")}));
    EXPECT_TRUE(elsewhere.arrived().empty());
    EXPECT_TRUE(o.err.contains("1 request failed: a redirect to another host was not followed")) << o.err.toStdString();
}

// A line-in, line-out filter: each line's row comes out before the next line
// goes in, without the input ending.
TEST(BatchFilter, AnswersEachLineBeforeTheNextArrives)
{
    LookupServer server(plainAnswer);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TELORIA_SERVICE"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TELORIA_BATCH_BINARY),
                  {"--service", base(server), "--jobs", "4", "--format", "tsv", "--fields", "number,city",
                   "--no-header", "-"});
    ASSERT_TRUE(process.waitForStarted(10'000));
    for (const std::string n : {"13800138001", "13800138003", "13800138000"}) {
        process.write(QByteArray::fromStdString(n) + "\n");
        QByteArray line;
        while (!line.endsWith('\n') && process.waitForReadyRead(30'000))
            line += process.readAllStandardOutput();
        const std::string place = placeOf(n);
        const auto space = place.find(' ');
        EXPECT_EQ(line.toStdString(), n + "\t" + (space == std::string::npos ? "" : place.substr(space + 1)) + "\n");
    }
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(30'000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
}

// Targets that cannot be written fail before the first request.
TEST(BatchOutputFile, UnwritableTargetsFailAtOnce)
{
    LookupServer server(plainAnswer);
    QTemporaryDir dir;
    const QString dangling = dir.filePath("dangling.csv");
    ASSERT_TRUE(QFile::link(dir.filePath("gone/away.csv"), dangling));
    const QString readOnly = writeFile(dir, "read-only.csv", "old\r\n");
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
    QStringList targets{dangling, QStringLiteral("/proc/version")};
    if (::geteuid() != 0) // the superuser writes read-only files
        targets << readOnly;
    for (const QString& target : targets) {
        const Outcome o = runBatch({"--service", base(server), "-o", target}, "13800138000\n");
        EXPECT_EQ(o.status, 2) << target.toStdString();
        EXPECT_TRUE(o.err.contains(target.toLocal8Bit())) << o.err.toStdString();
    }
    EXPECT_TRUE(server.arrived().empty());
    EXPECT_EQ(readFile(readOnly), "old\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

TEST(BatchService, EnvironmentNamesTheServiceAndTheOptionOverridesIt)
{
    LookupServer server(plainAnswer);
    const RefusingPort refusing;
    const QString dead = QString::fromStdString(refusing.baseUrl());

    const Outcome fromEnvironment = runBatch({}, "13800138000\n", {{"TELORIA_SERVICE", base(server)}});
    EXPECT_EQ(fromEnvironment.status, 0);
    EXPECT_EQ(fromEnvironment.out, resultFile({answeredRow("13800138000")}));

    const Outcome overridden = runBatch({"--service", base(server)}, "13800138001\n", {{"TELORIA_SERVICE", dead}});
    EXPECT_EQ(overridden.status, 0);
    EXPECT_EQ(server.arrived(), (std::vector<std::string>{"13800138000", "13800138001"}));

    const Outcome malformed = runBatch({}, "1\n", {{"TELORIA_SERVICE", "not a url"}});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_TRUE(malformed.err.contains("TELORIA_SERVICE"));
}

TEST(BatchStandardError, HoldsOnlyTheSummaryWhenItIsNotATerminal)
{
    LookupServer server(plainAnswer);
    const Outcome o = runBatch({"--service", base(server)}, "1\n2\n3\n");
    EXPECT_EQ(o.status, 0);
    const QString err = QString::fromUtf8(o.err);
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^3 numbers, 0 failed requests, \d+(\.\d+)? s\n$)"))
                    .match(err)
                    .hasMatch())
        << err.toStdString();
}

} // namespace
} // namespace teloria::testing
