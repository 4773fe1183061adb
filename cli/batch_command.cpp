#include "cli/batch_command.h"

#include "cli/batch_options.h"
#include "cli/http_resolver.h"
#include "cli/local_resolver.h"
#include "cli/number_input.h"
#include "cli/output_sink.h"
#include "platform/platform.h"
#include "cli/row_format.h"
#include "cli/terminal_ports.h"

#include "lookup/batch_run.h"
#include "net/page_fetch.h"
#include "lookup/service_choice.h"
#include "data/data_files.h"
#include "teloria/version.h"

#include <QFile>

#include <QByteArray>
#include <QHash>
#include <chrono>
#include <memory>
#include <vector>

namespace teloria::cli {

namespace {

// Input is read, and output written, in blocks of this size; the output is
// also flushed whenever the input pauses, so the command works as a
// line-in, line-out filter.
constexpr qsizetype kBlockBytes = 64 * 1024;

void say(std::FILE* err, const QString& text)
{
    std::fprintf(err, "teloria-batch: %s\n", text.toLocal8Bit().constData());
}

bool isStandardStream(const QString& path)
{
    return path.isEmpty() || path == QLatin1String("-");
}

QString plural(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// What happened to the rows of a run, for the lines on standard error and the exit status.
struct Tally {
    qint64 numbers = 0;
    qint64 answered = 0;
    qint64 notNumbers = 0;
    qint64 failed = 0;
    qint64 notAsked = 0;
    qint64 unreachable = 0; // failed requests that got no answer at all
    QStringList reasons; // each distinct failure reason once, in the order first seen
    QHash<QString, qint64> reasonCounts;

    void add(const Resolution& r)
    {
        ++numbers;
        switch (r.outcome) {
        case Outcome::Answered: ++answered; break;
        case Outcome::NotANumber: ++notNumbers; break;
        case Outcome::NotAsked: ++notAsked; break;
        case Outcome::Failed:
            ++failed;
            unreachable += r.unreachable ? 1 : 0;
            if (!reasonCounts.contains(r.reason))
                reasons.append(r.reason);
            ++reasonCounts[r.reason];
            break;
        }
    }

    // No request got an answer: the service could not be reached.
    bool nothingReached() const { return unreachable > 0 && unreachable == failed && answered == 0 && notNumbers == 0; }

    int status() const
    {
        if (failed == 0 && notAsked == 0)
            return kAllAnswered;
        return nothingReached() ? kCouldNotRun : kSomeFailed;
    }
};

void report(std::FILE* err, const Tally& t, const QString& gaveUp, std::uint32_t elapsedMs)
{
    const auto line = [err](const QString& text) { std::fprintf(err, "%s\n", text.toLocal8Bit().constData()); };
    line(QStringLiteral("%1, %2, %3 s")
             .arg(plural(t.numbers, "number", "numbers"), plural(t.failed, "failed request", "failed requests"))
             .arg(formatSeconds(elapsedMs)));
    if (t.notNumbers > 0)
        line(QStringLiteral("%1 not numbers").arg(plural(t.notNumbers, "line is", "lines are")));
    for (const QString& reason : t.reasons)
        line(QStringLiteral("%1: %2")
                 .arg(plural(t.reasonCounts.value(reason), "request failed", "requests failed"), reason));
    if (!gaveUp.isEmpty())
        line(QStringLiteral("gave up after %1 failed requests in a row (%2): %3 not asked; "
                            "--keep-going asks for every number")
                 .arg(kGiveUpAfter)
                 .arg(gaveUp, plural(t.notAsked, "number was", "numbers were")));
}

} // namespace

int runBatchCommand(const QStringList& arguments, const CommandStreams& streams)
{
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.options) {
        say(streams.err, parsed.error);
        std::fprintf(streams.err, "Try 'teloria-batch --help'.\n");
        return kBadUsage;
    }
    const BatchOptions& options = *parsed.options;
    if (options.help) {
        std::fputs(usageText().toLocal8Bit().constData(), streams.out);
        return kAllAnswered;
    }
    if (options.version) {
        std::fprintf(streams.out, "teloria-batch %s\n", TELORIA_VERSION);
        return kAllAnswered;
    }

    // Everything that can be wrong with the command is found before the first request.
    QString error;
    const bool fromStdin = isStandardStream(options.inputPath);
    int fd = fromStdin ? fileno(streams.in) : platform::openForReading(options.inputPath, &error);
    if (fd < 0) {
        say(streams.err, QStringLiteral("cannot read %1: %2").arg(options.inputPath, error));
        return kBadUsage;
    }
    struct CloseInput {
        int fd;
        bool own;
        ~CloseInput() { if (own) platform::closeInput(fd); }
    } closeInput{fd, !fromStdin};

    const bool toStdout = isStandardStream(options.outputPath);
    OutputSink sink = toStdout ? OutputSink(streams.out) : OutputSink(options.outputPath);
    if (!sink.error().isEmpty()) {
        say(streams.err, QStringLiteral("cannot write %1: %2").arg(options.outputPath, sink.error()));
        return kBadUsage;
    }

    // With no service named, the numbers are looked up in-process; a malformed
    // setting is bad usage.
    std::unique_ptr<Resolver> resolver;
    if (options.serviceUrl.isEmpty() && !qEnvironmentVariableIsSet("TELORIA_SERVICE")) {
        data::DataSettings settings;
        for (const QString& file : options.dataFiles)
            settings.files.push_back(QFile::encodeName(file).toStdString());
        settings.program = "teloria-batch";
        settings.learn.upstream = options.upstreamUrl;
        if (std::string why; !data::finishLearnSettings(settings.learn, &why)) {
            say(streams.err, QString::fromStdString(why));
            return kBadUsage;
        }
        resolver = std::make_unique<LocalResolver>(settings, streams.err);
    } else {
        if (!options.dataFiles.isEmpty()) {
            say(streams.err, QStringLiteral("--data is for the in-process lookup; a lookup service loads its own data"));
            return kBadUsage;
        }
        // Only a named service gets here: the batch never starts the bundled one.
        const ServiceChoice service = chooseService(options.serviceUrl, {});
        if (!service.error.isEmpty()) {
            say(streams.err, service.error);
            return service.badSetting ? kBadUsage : kCouldNotRun;
        }
        FetchOptions fetchOptions;
        fetchOptions.totalTimeoutMs = options.timeoutSeconds * 1000L;
        fetchOptions.connectTimeoutMs = std::min(fetchOptions.connectTimeoutMs, fetchOptions.totalTimeoutMs);
        // A service that redirects elsewhere would hand every number to a third party.
        fetchOptions.followRedirectsToOtherHosts = false;
        resolver = std::make_unique<HttpResolver>(service.baseUrl, options.jobs, fetchSessions(fetchOptions),
                                                  options.keepGoing);
    }

    const RowFormat format(options.format, options.fields, options.encoding, options.header);
    const auto start = std::chrono::steady_clock::now();
    ProgressBar progress(streams.errIsTerminal ? streams.err : nullptr, platform::regularFileSize(fd));

    QByteArray out = format.header();
    out.reserve(kBlockBytes + 4096);
    QByteArray block(kBlockBytes, Qt::Uninitialized);
    NumberInput input;
    bool noted = false;
    QStringList numbers;
    std::vector<Resolution> resolved;
    Tally tally;
    qint64 bytesRead = 0;
    for (;;) {
        const std::int64_t n = platform::readSome(fd, block.data(), block.size(), &error);
        if (n < 0) {
            progress.finish();
            say(streams.err, QStringLiteral("cannot read %1: %2")
                                 .arg(fromStdin ? QStringLiteral("standard input") : options.inputPath, error));
            return kBadUsage;
        }
        const bool atEnd = n == 0;
        bytesRead += n;
        numbers.clear();
        input.feed(block.first(n), atEnd, numbers);
        if (!noted && !input.note().isEmpty()) {
            say(streams.err, input.note());
            noted = true;
        }
        if (!numbers.isEmpty()) {
            resolver->resolve(numbers, resolved);
            for (qsizetype i = 0; i < numbers.size(); ++i) {
                const Resolution& r = resolved[static_cast<std::size_t>(i)];
                tally.add(r);
                format.append(out, tally.numbers, numbers.at(i), *r.cells);
                if (out.size() >= kBlockBytes) {
                    sink.write(out);
                    out.resize(0); // keeps its capacity
                }
            }
            progress.update(tally.numbers, bytesRead);
        }
        if (atEnd)
            break;
        if (!platform::inputWaiting(fd)) { // the input pauses: everything read so far goes out
            sink.write(out);
            out.resize(0); // keeps its capacity
            sink.flush();
        }
        if (!sink.error().isEmpty())
            break;
    }
    progress.finish();
    const auto elapsedMs = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());

    sink.write(out);
    // A run in which every request failed leaves an existing -o FILE as it was.
    const bool keep = !tally.nothingReached() || toStdout;
    if (!sink.error().isEmpty() || (keep && !sink.commit())) {
        say(streams.err, QStringLiteral("cannot write %1: %2")
                             .arg(toStdout ? QStringLiteral("the results to standard output") : options.outputPath,
                                  sink.error()));
        return kCouldNotRun;
    }
    if (options.verbose)
        std::fprintf(streams.err, "%s %s\n", QString::fromUtf16(kRunMessageTitle).toLocal8Bit().constData(),
                     endMessage(elapsedMs).toLocal8Bit().constData());
    report(streams.err, tally, resolver->gaveUpReason(), elapsedMs);
    return tally.status();
}

} // namespace teloria::cli
