// teloria-lookupd itself, started as a child process on a free loopback port.

#include "service/service_test_support.h"

#include "data/fake_upstream.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>

namespace teloria::service {
namespace {

constexpr int kStartTimeoutMs = 30000; // a guard only: the wait ends as soon as the line arrives

class Lookupd {
public:
    explicit Lookupd(QStringList args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        process_.setProcessEnvironment(env);
        process_.setProgram(QStringLiteral(TELORIA_LOOKUPD_PATH));
        process_.setArguments(args);
        process_.start();
    }
    ~Lookupd()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kStartTimeoutMs);
        }
    }

    // The port from the "listening on http://HOST:PORT" line; 0 if the
    // process ended or never printed it.
    int waitForPort()
    {
        if (!process_.waitForStarted(kStartTimeoutMs))
            return 0;
        QByteArray out;
        while (true) {
            while (process_.canReadLine()) {
                const QByteArray line = process_.readLine().trimmed();
                out += line + '\n';
                if (line.startsWith("listening on http://"))
                    return line.mid(line.lastIndexOf(':') + 1).toInt();
            }
            if (!process_.waitForReadyRead(kStartTimeoutMs))
                return 0;
        }
    }

    // Waits for the end; the exit code, or -1 after a crash or hang.
    int waitForExit()
    {
        if (!process_.waitForFinished(kStartTimeoutMs) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        return process_.exitCode();
    }

    void signal(int sig) { ::kill(static_cast<pid_t>(process_.processId()), sig); }
    QString stdErr() { return QString::fromUtf8(process_.readAllStandardError()); }
    QString stdOut() { return QString::fromUtf8(process_.readAllStandardOutput()); }

private:
    QProcess process_;
};

testing::Fields lookup(int port, const std::string& number, int* status = nullptr)
{
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30, 0);
    const auto res = c.Get("/sim_search138.asp?mobile=" + number);
    if (!res)
        return {};
    if (status)
        *status = res->status;
    return testing::fieldsOf(res->body);
}

class StopSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(StopSignalTest, AnswersOnAFreePortAndStopsCleanly)
{
    Lookupd d({"--listen", "127.0.0.1:0"});
    const int port = d.waitForPort();
    ASSERT_GT(port, 0) << d.stdErr().toStdString();

    int status = 0;
    const auto fields = lookup(port, "13800138000", &status);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(fields.location.toStdString(), "北京");
    EXPECT_EQ(fields.cardType.toStdString(), "中国移动");
    lookup(port, "hello", &status);
    EXPECT_EQ(status, 400);

    d.signal(GetParam());
    EXPECT_EQ(d.waitForExit(), 0);
    EXPECT_TRUE(d.stdOut().contains(QLatin1String("stopped")));
    testing::RawConnection after(port);
    EXPECT_FALSE(after.connected());
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGINT, SIGTERM));

TEST(Lookupd, LoadedPhoneDatWins)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("phone.dat");
    testing::writeFile(file.toStdString(), testing::sampleDat().build());
    Lookupd d({"--listen", "127.0.0.1:0", "--data", file});
    const int port = d.waitForPort();
    ASSERT_GT(port, 0) << d.stdErr().toStdString();

    struct Want {
        const char* number;
        const char* location;
        const char* cardType;
    };
    for (const Want& w : {Want{"13800138000", "测试 样例", "中国联通"}, Want{"19999990000", "甲省 乙市", "中国电信"},
                          Want{"13800148000", "北京", "中国移动"}}) {
        const auto fields = lookup(port, w.number);
        EXPECT_EQ(fields.location.toStdString(), w.location) << w.number;
        EXPECT_EQ(fields.cardType.toStdString(), w.cardType) << w.number;
    }
    d.signal(SIGTERM);
    EXPECT_EQ(d.waitForExit(), 0);
}

// With no flags the service loads the user's data folder; a broken file is
// skipped with its reason, one line per file on stderr, and the rest serve.
TEST(Lookupd, LoadsTheDataFolderAndSkipsABrokenFile)
{
    QTemporaryDir xdg;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", xdg.path().toUtf8());
    QDir(xdg.path()).mkpath(QStringLiteral("teloria"));
    const QString folder = xdg.filePath(QStringLiteral("teloria/"));
    testing::writeFile((folder + "a-broken.dat").toStdString(), "2301");
    testing::writeFile((folder + "b.tsv").toStdString(), "# date: 2024-05-01\n1380013\t广东\t深圳\t\n");
    testing::writeFile(xdg.filePath(QStringLiteral("given.dat")).toStdString(), testing::sampleDat().build());

    Lookupd d({"--listen", "127.0.0.1:0", "--data", xdg.filePath(QStringLiteral("given.dat"))});
    const int port = d.waitForPort();
    qputenv("XDG_DATA_HOME", saved);
    ASSERT_GT(port, 0) << d.stdErr().toStdString();
    EXPECT_EQ(lookup(port, "13800138000").location.toStdString(), "广东 深圳"); // the table over given.dat
    EXPECT_EQ(lookup(port, "13800138000").cardType.toStdString(), "中国联通");  // given.dat's operator stays
    EXPECT_EQ(lookup(port, "19212340000").location.toStdString(), "甲省 乙市");
    const QStringList lines = d.stdErr().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // In load order (the folder in name order, then --data), each with its date.
    EXPECT_EQ(lines, (QStringList{
        QStringLiteral("teloria-lookupd: skipped ") + folder + QStringLiteral("a-broken.dat: not a usable phone.dat file: "
                                                                              "too short for the 8-byte header (4 bytes)"),
        QStringLiteral("teloria-lookupd: loaded 1 prefixes from ") + folder + QStringLiteral("b.tsv, dated 2024-05-01"),
        QStringLiteral("teloria-lookupd: loaded 4 prefixes from ") + xdg.filePath(QStringLiteral("given.dat"))
            + QStringLiteral(", dated 2023-01")}));
    d.signal(SIGTERM);
    EXPECT_EQ(d.waitForExit(), 0);
}

struct RefusedStartCase {
    const char* name;
    std::function<QStringList(const QTemporaryDir&)> args;
    int exitCode;
    const char* message; // part of stderr
};

void PrintTo(const RefusedStartCase& c, std::ostream* os) { *os << c.name; }

class RefusedStartTest : public ::testing::TestWithParam<RefusedStartCase> {};

TEST_P(RefusedStartTest, ExitsWithAClearMessage)
{
    QTemporaryDir dir;
    Lookupd d(GetParam().args(dir));
    EXPECT_EQ(d.waitForExit(), GetParam().exitCode);
    const QString err = d.stdErr();
    EXPECT_TRUE(err.contains(QString::fromUtf8(GetParam().message))) << err.toStdString();
    EXPECT_FALSE(d.stdOut().contains(QLatin1String("listening on")));
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedStartTest, ::testing::Values(
    RefusedStartCase{"RemoteWithoutOption", [](const QTemporaryDir&) {
        return QStringList{"--listen", "0.0.0.0:0"};
    }, 2, "--allow-remote"},
    RefusedStartCase{"NameThatOnlyLooksLikeLoopback", [](const QTemporaryDir&) {
        return QStringList{"--listen", "127.example.com:0"};
    }, 2, "--allow-remote"},
    RefusedStartCase{"ListenWithoutPort", [](const QTemporaryDir&) {
        return QStringList{"--listen", "127.0.0.1"};
    }, 2, "is not HOST:PORT"},
    RefusedStartCase{"ListenPortTooLarge", [](const QTemporaryDir&) {
        return QStringList{"--listen", "127.0.0.1:65536"};
    }, 2, "is not HOST:PORT"},
    RefusedStartCase{"UnknownOption", [](const QTemporaryDir&) {
        return QStringList{"--verbose"};
    }, 2, "unknown option '--verbose'"},
    RefusedStartCase{"DataWithoutFile", [](const QTemporaryDir&) {
        return QStringList{"--data"};
    }, 2, "--data needs a file name"},
    RefusedStartCase{"UpstreamNotHttp", [](const QTemporaryDir&) {
        return QStringList{"--upstream", "ftp://127.0.0.1/"};
    }, 2, "--upstream:"},
    RefusedStartCase{"UpstreamRateZero", [](const QTemporaryDir&) {
        return QStringList{"--upstream", "http://127.0.0.1:1", "--upstream-rate", "0"};
    }, 2, "--upstream-rate"},
    RefusedStartCase{"NoLearnWithLearnedFile", [](const QTemporaryDir&) {
        return QStringList{"--no-learn", "--learned", "x.sqlite"};
    }, 2, "contradict"}
));

// With --upstream the service learns what its data do not know, and the next
// start answers the same from the database with the upstream gone; with
// --no-learn nothing is written.
TEST(Lookupd, LearnsFromTheUpstreamAndRemembers)
{
    QTemporaryDir dir;
    const QString learned = dir.filePath("learned.sqlite");
    const char* number = "19912345678";
    QString upstreamUrl;
    {
        teloria::testing::FakeUpstream upstream([](const std::string&) {
            return teloria::testing::Reply{.body = teloria::testing::gbkPage(QStringLiteral("广东省深圳市"),
                                                                             QStringLiteral("中国电信"))};
        });
        upstreamUrl = QString::fromStdString(upstream.baseUrl());
        Lookupd d({"--listen", "127.0.0.1:0", "--upstream", upstreamUrl, "--learned", learned});
        const int port = d.waitForPort();
        ASSERT_GT(port, 0) << d.stdErr().toStdString();
        EXPECT_EQ(lookup(port, number).location.toStdString(), "广东 深圳");
        EXPECT_EQ(upstream.asked(), std::vector<std::string>{"19912340000"});
        d.signal(SIGTERM);
        EXPECT_EQ(d.waitForExit(), 0);
    }
    for (const QStringList& more : {QStringList{"--upstream", upstreamUrl}, QStringList{}}) {
        Lookupd d(QStringList{"--listen", "127.0.0.1:0", "--learned", learned} + more);
        const int port = d.waitForPort();
        ASSERT_GT(port, 0) << d.stdErr().toStdString();
        const auto fields = lookup(port, number);
        EXPECT_EQ(fields.location.toStdString(), "广东 深圳");
        EXPECT_EQ(fields.cardType.toStdString(), "中国电信");
        d.signal(SIGTERM);
        EXPECT_EQ(d.waitForExit(), 0);
        EXPECT_TRUE(d.stdErr().contains(QStringLiteral("loaded 1 prefixes from ") + learned)) << d.stdErr().toStdString();
    }

    QTemporaryDir home;
    teloria::testing::FakeUpstream upstream([](const std::string&) {
        return teloria::testing::Reply{.body = teloria::testing::gbkPage(QStringLiteral("海南"), QStringLiteral("中国电信"))};
    });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    Lookupd d({"--listen", "127.0.0.1:0", "--upstream", QString::fromStdString(upstream.baseUrl()), "--no-learn"}, env);
    const int port = d.waitForPort();
    ASSERT_GT(port, 0) << d.stdErr().toStdString();
    EXPECT_EQ(lookup(port, number).location.toStdString(), "海南");
    d.signal(SIGTERM);
    EXPECT_EQ(d.waitForExit(), 0);
    EXPECT_TRUE(QDir(home.path()).isEmpty());
}

// SIGTERM while lookups wait for an upstream that holds its answers (its
// time-out 30 s): the service ends within a second, and every waiting lookup
// gets the local answer first instead of a closed connection.
TEST(Lookupd, StopsAtOnceWithTheUpstreamHoldingItsAnswers)
{
    teloria::testing::FakeUpstream upstream([](const std::string&) {
        return teloria::testing::Reply{
            .body = teloria::testing::gbkPage(QStringLiteral("广东省深圳市"), QStringLiteral("中国电信")), .gated = true};
    });
    Lookupd d({"--listen", "127.0.0.1:0", "--upstream", QString::fromStdString(upstream.baseUrl()), "--no-learn",
               "--upstream-timeout", "30", "--upstream-rate", "1000"});
    const int port = d.waitForPort();
    ASSERT_GT(port, 0) << d.stdErr().toStdString();
    const std::vector<std::string> numbers = {"19900001234", "19900071234", "19900141234", "19900211234"};
    std::vector<std::unique_ptr<testing::RawConnection>> waiting;
    for (const std::string& number : numbers) {
        waiting.push_back(std::make_unique<testing::RawConnection>(port));
        waiting.back()->send("GET /sim_search138.asp?mobile=" + number + " HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    ASSERT_TRUE(upstream.waitForRequests(2)); // two in flight, the others queued behind them
    for (const auto& c : waiting)
        EXPECT_TRUE(c->isOpenAndQuiet());

    const auto before = std::chrono::steady_clock::now();
    d.signal(SIGTERM);
    EXPECT_EQ(d.waitForExit(), 0);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::seconds(1));
    std::printf("SIGTERM with two upstream requests in flight: exit after %.0f ms\n",
                std::chrono::duration<double, std::milli>(took).count());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const std::optional<std::string> response = waiting[i]->readResponse();
        ASSERT_TRUE(response.has_value()) << numbers[i] << " was closed unanswered";
        EXPECT_TRUE(response->starts_with("HTTP/1.1 200")) << *response;
        const auto fields = testing::fieldsOf(response->substr(response->find("\r\n\r\n") + 4));
        EXPECT_EQ(fields.cardType.toStdString(), "中国电信"); // the local answer, not the upstream's
        EXPECT_NE(fields.location.toStdString(), "广东 深圳");
    }
}

class LoopbackNameTest : public ::testing::TestWithParam<const char*> {};

// Names and addresses that resolve to loopback only are served without --allow-remote.
TEST_P(LoopbackNameTest, ServesWithoutAllowRemote)
{
    Lookupd d({"--listen", QString::fromUtf8(GetParam())});
    const int port = d.waitForPort();
    ASSERT_GT(port, 0) << d.stdErr().toStdString();
    d.signal(SIGTERM);
    EXPECT_EQ(d.waitForExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Names, LoopbackNameTest, ::testing::Values("localhost:0", "127.0.0.2:0", "[::1]:0"));

TEST(Lookupd, PortInUseIsReported)
{
    httplib::Server holder;
    const int port = holder.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    Lookupd d({"--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    EXPECT_EQ(d.waitForExit(), 1);
    EXPECT_TRUE(d.stdErr().contains(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port)));
}

TEST(Lookupd, HelpDescribesTheOptions)
{
    Lookupd d({"--help"});
    EXPECT_EQ(d.waitForExit(), 0);
    const QString out = d.stdOut();
    for (const char* option : {"--listen HOST:PORT", "--data FILE", "--quiet", "--allow-remote", "SIGTERM"})
        EXPECT_TRUE(out.contains(QLatin1String(option))) << option;
}

TEST(Lookupd, QuietPrintsNothing)
{
    // With --quiet there is no port line to read, so it listens on a port
    // found free here: bound to port 0, read back, released.
    int port = 0;
    {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
            && ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
        ::close(probe);
    }
    ASSERT_GT(port, 0);
    Lookupd d({"--quiet", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    // Wait for the port to take connections: connect attempts until a guard deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    bool up = false;
    while (!up && std::chrono::steady_clock::now() < deadline)
        up = testing::RawConnection(port).connected();
    ASSERT_TRUE(up) << d.stdErr().toStdString();
    EXPECT_EQ(lookup(port, "13800138000").cardType.toStdString(), "中国移动") << d.stdErr().toStdString();
    d.signal(SIGTERM);
    EXPECT_EQ(d.waitForExit(), 0);
    EXPECT_EQ(d.stdOut(), QString());
}

} // namespace
} // namespace teloria::service
