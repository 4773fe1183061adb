#include "export/result_file.h"
#include "lookup/result_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using teloria::FileEncoding;
using teloria::ResultTable;
using teloria::SaveOutcome;

namespace {

// Texts and their bytes in GBK (CP936). The two last are outside GBK and
// come out as their GB18030 four-byte sequences.
const QString kBeijing = QStringLiteral("北京 移动");
const QByteArray kBeijingGbk = QByteArray::fromHex("b1b1 bea9 20 d2c6 b6af");
const QString kGlobal = QStringLiteral("移动全球通卡");
const QByteArray kGlobalGbk = QByteArray::fromHex("d2c6 b6af c8ab c7f2 cda8 bfa8");
const QString kShenzhen = QStringLiteral("广东 深圳");
const QByteArray kShenzhenGbk = QByteArray::fromHex("b9e3 b6ab 20 c9ee dbda");
const QString kFullWidthComma = QStringLiteral("，");
const QByteArray kFullWidthCommaGbk = QByteArray::fromHex("a3ac");
const QString kEmoji = QStringLiteral("😀");              // U+1F600
const QByteArray kEmojiGb18030 = QByteArray::fromHex("9439 fc36");
const QString kExtB = QStringLiteral("𠀀");               // U+20000, CJK Extension B
const QByteArray kExtBGb18030 = QByteArray::fromHex("9532 8236");

QByteArray bytes(std::initializer_list<QByteArray> parts)
{
    QByteArray all;
    for (const QByteArray& p : parts)
        all += p;
    return all;
}

struct LineCase {
    const char* name;
    QStringList cells;
    QByteArray expected;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class CsvLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(CsvLineTest, WritesExactGbkBytes)
{
    const LineCase& c = GetParam();
    EXPECT_EQ(teloria::csvLine(c.cells).toHex(' ').toStdString(), c.expected.toHex(' ').toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Cells, CsvLineTest,
    ::testing::Values(
        LineCase{"ChineseLocationAndCardType",
                 {"1", "13800138000", kBeijing, kGlobal},
                 bytes({"1,13800138000,", kBeijingGbk, ",", kGlobalGbk})},
        LineCase{"UnsetCellsGiveAdjacentCommas",
                 {"2", "13900000000", "", ""},
                 "2,13900000000,,"},
        LineCase{"OnlyTheIdSet", {"3", "", "", ""}, "3,,,"},
        LineCase{"CommaIsQuoted",
                 {"4", "139", "a,b", kGlobal},
                 bytes({"4,139,\"a,b\",", kGlobalGbk})},
        LineCase{"DoubleQuoteIsQuotedAndDoubled",
                 {"5", "139", QStringLiteral("号码\"归属\""), "x"},
                 bytes({"5,139,\"", QByteArray::fromHex("bac5 c2eb"), "\"\"",
                        QByteArray::fromHex("b9e9 caf4"), "\"\"\",x"})},
        LineCase{"LineFeedIsQuoted", {"6", "139", "a\nb", ""}, "6,139,\"a\nb\","},
        LineCase{"CarriageReturnIsQuoted", {"7", "139", "a\rb", ""}, "7,139,\"a\rb\","},
        LineCase{"CrLfIsQuoted", {"8", "139", "<p>\r\n</p>", ""}, "8,139,\"<p>\r\n</p>\","},
        LineCase{"OtherPunctuationStaysAsItIs",
                 {"9", " 139 ", "a;b\t'c'", kFullWidthComma},
                 bytes({"9, 139 ,a;b\t'c',", kFullWidthCommaGbk})},
        LineCase{"OutsideGbkBecomesGb18030",
                 {"10", "139", kEmoji, kExtB},
                 bytes({"10,139,", kEmojiGb18030, ",", kExtBGb18030})},
        LineCase{"QuotedCellOutsideGbk",
                 {"11", "139", kExtB + ",", ""},
                 bytes({"11,139,\"", kExtBGb18030, ",\","})}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(CsvLineUtf8, WritesUtf8WithoutByteOrderMark)
{
    EXPECT_EQ(teloria::csvLine({"1", "139", kShenzhen + ",", kEmoji}, FileEncoding::Utf8),
              QByteArray("1,139,\"") + kShenzhen.toUtf8() + ",\"," + kEmoji.toUtf8());
}

// A configured table holding the given rows; each row is the three data cells,
// an empty text standing for a cell that was never set.
void fill(ResultTable& table, const QList<QStringList>& rows)
{
    table.configure();
    for (const QStringList& cells : rows) {
        table.addRow(QString::number(table.rowCount() + 1));
        const int row = table.rowCount();
        for (int k = 1; k <= 3; ++k) {
            if (!cells.value(k - 1).isEmpty())
                table.setSubItem(row, k, cells.value(k - 1));
        }
    }
}

QList<QStringList> snapshot(const ResultTable& table)
{
    QList<QStringList> rows;
    for (int r = 1; r <= table.rowCount(); ++r)
        rows.append({table.rowText(r), table.subItem(r, 1), table.subItem(r, 2), table.subItem(r, 3)});
    return rows;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeBytes(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST(ResultFileBytes, OneCrLfLinePerRowInTableOrder)
{
    ResultTable table;
    fill(table, {{"13800138000", kBeijing, kGlobal}, {"13900000000"}, {"18600000000", kShenzhen, ""}});
    EXPECT_EQ(teloria::resultFileBytes(table).toHex(' ').toStdString(),
              bytes({"1,13800138000,", kBeijingGbk, ",", kGlobalGbk, "\r\n",
                     "2,13900000000,,\r\n",
                     "3,18600000000,", kShenzhenGbk, ",\r\n"})
                  .toHex(' ')
                  .toStdString());
}

TEST(ResultFileBytes, RowIdsAreWrittenAsStored)
{
    ResultTable table;
    table.configure();
    table.addRow("7");
    table.addRow("x");
    EXPECT_EQ(teloria::resultFileBytes(table), QByteArray("7,,,\r\nx,,,\r\n"));
}

class WriteResultFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("1.txt"); }
};

TEST_F(WriteResultFile, FileHoldsTheTableBytesAndNothingBeside)
{
    ResultTable table;
    fill(table, {{"13800138000", kBeijing, kGlobal}, {"13900000000", kEmoji, kExtB}});
    const SaveOutcome outcome = teloria::writeResultFile(table, path());
    ASSERT_TRUE(outcome.ok) << outcome.reason.toStdString();
    EXPECT_EQ(outcome.path, path());
    EXPECT_EQ(readAll(path()), teloria::resultFileBytes(table));
    EXPECT_EQ(entries(dir.path()), QStringList{"1.txt"}); // no temporary file left
}

TEST_F(WriteResultFile, LargeTableSpanningManyBlocks)
{
    ResultTable table;
    QList<QStringList> rows;
    for (int i = 0; i < 5000; ++i)
        rows.append({QString::number(13800000000LL + i), i % 2 ? kBeijing : kShenzhen + "," + kExtB, kGlobal});
    fill(table, rows);
    ASSERT_TRUE(teloria::writeResultFile(table, path()).ok);
    const QByteArray expected = teloria::resultFileBytes(table);
    ASSERT_GT(expected.size(), 128 * 1024);
    EXPECT_TRUE(readAll(path()) == expected);
}

TEST_F(WriteResultFile, EmptyTableGivesZeroByteFile)
{
    ResultTable table;
    table.configure();
    writeBytes(path(), "old contents\r\n");
    ASSERT_TRUE(teloria::writeResultFile(table, path()).ok);
    EXPECT_TRUE(QFileInfo::exists(path()));
    EXPECT_EQ(QFileInfo(path()).size(), 0);
}

TEST_F(WriteResultFile, SavingTwiceReplacesTheFile)
{
    ResultTable table;
    fill(table, {{"13800138000", kBeijing, kGlobal}, {"13900000000", kShenzhen, kGlobal}});
    ASSERT_TRUE(teloria::writeResultFile(table, path()).ok);
    table.clear();
    fill(table, {{"18600000000", kShenzhen, kGlobal}});
    ASSERT_TRUE(teloria::writeResultFile(table, path()).ok);
    EXPECT_EQ(readAll(path()).toHex(' ').toStdString(),
              bytes({"1,18600000000,", kShenzhenGbk, ",", kGlobalGbk, "\r\n"}).toHex(' ').toStdString());
}

TEST_F(WriteResultFile, Utf8FileHasNoByteOrderMark)
{
    ResultTable table;
    fill(table, {{"13800138000", kBeijing, kGlobal}});
    ASSERT_TRUE(teloria::writeResultFile(table, path(), FileEncoding::Utf8).ok);
    EXPECT_EQ(readAll(path()),
              QByteArray("1,13800138000,") + kBeijing.toUtf8() + "," + kGlobal.toUtf8() + "\r\n");
}

// ---- failures: an error result naming the path, the table untouched, an
// existing file byte-identical, no temporary file left behind.

// Runs the process as an unprivileged user while it lives, so that file
// rights hold even when the tests run as root. The saved user id stays root,
// so the destructor can switch back.
class Unprivileged {
public:
    Unprivileged()
    {
        if (geteuid() == 0)
            active_ = setresgid(65534, 65534, 0) == 0 && setresuid(65534, 65534, 0) == 0;
    }
    ~Unprivileged()
    {
        if (active_) {
            [[maybe_unused]] const int u = setresuid(0, 0, 0);
            [[maybe_unused]] const int g = setresgid(0, 0, 0);
        }
    }
    bool ok() const { return geteuid() != 0; }

private:
    bool active_ = false;
};

// Caps the size of any file this process writes, so a write fails part-way
// with "file too large"; root is bound by it as well.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes)
    {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit cap = old_;
        cap.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &cap);
    }
    ~FileSizeCap()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

struct FailureCase {
    const char* name;
    // Prepares the directory and gives the target path.
    std::function<QString(const QString& dir)> target;
    // Holds while the write runs (user switch, size cap).
    std::function<std::shared_ptr<void>()> during;
    QString reason; // expected reason; empty: any non-empty system text
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const QByteArray kPreviousFile = "1,13700000000,previous,good\r\n";

class WriteFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(WriteFailure, ReportsAndKeepsEverythingAsItWas)
{
    const FailureCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString target = c.target(dir.path());
    if (target.isEmpty())
        GTEST_SKIP() << "not available here";
    const bool hadFile = QFileInfo(target).isFile();
    const QByteArray before = hadFile ? readAll(target) : QByteArray();
    const QStringList entriesBefore = entries(QFileInfo(target).absolutePath());

    ResultTable table;
    QList<QStringList> rows;
    for (int i = 0; i < 3000; ++i)
        rows.append({QString::number(13800000000LL + i), kBeijing, kGlobal});
    fill(table, rows);
    const auto tableBefore = snapshot(table);

    SaveOutcome outcome;
    {
        const std::shared_ptr<void> guard = c.during ? c.during() : nullptr;
        if (c.during && !guard)
            GTEST_SKIP() << "cannot set up the failure here";
        outcome = teloria::writeResultFile(table, target);
    }

    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.path, target);
    if (c.reason.isEmpty())
        EXPECT_FALSE(outcome.reason.isEmpty());
    else
        EXPECT_EQ(outcome.reason, c.reason);
    const QString text = teloria::saveErrorText(outcome);
    EXPECT_TRUE(text.contains(target) && text.contains(outcome.reason)) << text.toStdString();

    EXPECT_EQ(snapshot(table), tableBefore);
    if (hadFile) {
        EXPECT_EQ(readAll(target), before);
    }
    if (QFileInfo(target).absolutePath() != "/dev") {
        EXPECT_EQ(entries(QFileInfo(target).absolutePath()), entriesBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteFailure,
    ::testing::Values(
        FailureCase{"UnwritableDirectory",
                    [](const QString& dir) {
                        const QString locked = dir + "/locked";
                        QDir().mkdir(locked);
                        writeBytes(locked + "/1.txt", kPreviousFile);
                        chmod(QFile::encodeName(locked).constData(), 0555);
                        return locked + "/1.txt";
                    },
                    []() -> std::shared_ptr<void> {
                        auto user = std::make_shared<Unprivileged>();
                        return user->ok() ? user : nullptr;
                    },
                    QStringLiteral("权限不够")},
        FailureCase{"UnwritableExistingFile",
                    [](const QString& dir) {
                        // The folder is open to all: only the file's own rights forbid it.
                        chmod(QFile::encodeName(dir).constData(), 0777);
                        writeBytes(dir + "/1.txt", kPreviousFile);
                        chmod(QFile::encodeName(dir + "/1.txt").constData(), 0444);
                        return dir + "/1.txt";
                    },
                    []() -> std::shared_ptr<void> {
                        auto user = std::make_shared<Unprivileged>();
                        return user->ok() ? user : nullptr;
                    },
                    QStringLiteral("权限不够")},
        FailureCase{"DiskFullDevice",
                    [](const QString&) { return QFileInfo::exists("/dev/full") ? QString("/dev/full") : QString(); },
                    nullptr, QStringLiteral("磁盘已满")},
        FailureCase{"FileTooLargePartWay",
                    [](const QString& dir) {
                        writeBytes(dir + "/1.txt", kPreviousFile);
                        return dir + "/1.txt";
                    },
                    []() -> std::shared_ptr<void> { return std::make_shared<FileSizeCap>(20000); },
                    qt_error_string(EFBIG)},
        FailureCase{"MissingDirectory",
                    [](const QString& dir) { return dir + "/no-such-folder/1.txt"; }, nullptr,
                    qt_error_string(ENOENT)},
        FailureCase{"TargetIsADirectory",
                    [](const QString& dir) {
                        QDir().mkdir(dir + "/1.txt");
                        return dir + "/1.txt";
                    },
                    nullptr, qt_error_string(EISDIR)}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(ResultFilePath, IsOneTxtInTheHomeDirectory)
{
#ifdef Q_OS_WIN
    EXPECT_EQ(teloria::resultFilePath(), QStringLiteral("C:\\1.txt"));
#else
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    EXPECT_EQ(teloria::resultFilePath(), home.path() + "/1.txt");
    qputenv("HOME", oldHome);
#endif
}

TEST(SaveTexts, ConfirmationNamesThePathOnTwoLines)
{
    EXPECT_EQ(teloria::saveConfirmationText(QStringLiteral("C:\\1.txt")),
              QStringLiteral("已成功保存至C:\\1.txt\r\n请前往查看"));
    EXPECT_EQ(teloria::saveConfirmationText(QStringLiteral("/home/张三/1.txt")),
              QStringLiteral("已成功保存至/home/张三/1.txt\r\n请前往查看"));
}

} // namespace
