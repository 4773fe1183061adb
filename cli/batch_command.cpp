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
#include "data/prefix7.h"
#include "teloria/version.h"

#include <QFile>

#include <QByteArray>
#include <QHash>
#include <chrono>
#include <climits>
#include <memory>
#include <optional>
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

// "13800138000": 11 digits behind 13..19, a mobile number as it is cleaned.
QString plural(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

bool isUnknown(const QString& cell)
{
    return cell.isEmpty() || cell == u"未知";
}

// What happened to the rows of a run, for the lines on standard error and the exit status.
struct Tally {
    qint64 numbers = 0;
    qint64 answered = 0;
    qint64 notNumbers = 0;
    qint64 failed = 0;
    qint64 notAsked = 0;
    qint64 unreachable = 0; // failed requests that got no answer at all
    qint64 unknownLocation = 0; // answered rows whose location is 未知
    qint64 unknownOperator = 0; // answered rows whose card type is 未知
    QStringList reasons; // each distinct failure reason once, in the order first seen
    QHash<QString, qint64> reasonCounts;

    // Bit 0: the location is unknown; bit 1: the operator is.
    static std::uint8_t unknownsOf(const RowCells& cells)
    {
        return static_cast<std::uint8_t>((isUnknown(cells.location) ? 1 : 0) | (isUnknown(cells.card) ? 2 : 0));
    }
    void countAnswer(std::uint8_t unknowns)
    {
        ++answered;
        unknownLocation += unknowns & 1;
        unknownOperator += unknowns >> 1;
    }
    // A row answered in-process from its prefix, its unknowns worked out once per answer.
    void addAnswered(std::uint8_t unknowns)
    {
        ++numbers;
        countAnswer(unknowns);
    }

    void add(const Resolution& r)
    {
        ++numbers;
        switch (r.outcome) {
        case Outcome::Answered:
            countAnswer(unknownsOf(*r.cells));
            break;
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
    line(QStringLiteral("%1, %2, %3 with location 未知, %4 with operator 未知, %5 s")
             .arg(plural(t.numbers, "number", "numbers"), plural(t.failed, "failed request", "failed requests"))
             .arg(t.unknownLocation)
             .arg(t.unknownOperator)
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
    const command::Streams commandStreams{
        [&streams](const QString& text) { std::fputs(text.toLocal8Bit().constData(), streams.out); },
        [&streams](const QString& text) { std::fputs(text.toLocal8Bit().constData(), streams.err); }};
    const ParsedCommandLine parsed = parseCommandLine(arguments, commandStreams);
    if (!parsed.options)
        return parsed.status;
    const BatchOptions& options = *parsed.options;

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
        return kBadUsage; // found before the first request, like a bad option
    }

    // With no service named, the numbers are looked up in-process; a malformed
    // setting is bad usage.
    std::unique_ptr<Resolver> resolver;
    if (options.inProcess) {
        resolver = std::make_unique<LocalResolver>(options.local, streams.err);
    } else {
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
        resolver = std::make_unique<HttpResolver>(service.baseUrl, options.jobs, fetchOptions,
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
    std::vector<std::string_view> asciiLines;
    std::vector<std::optional<data::Prefix7>> prefixes; // of the lines that are plain mobile numbers
    QStringList numbers;
    std::vector<Resolution> resolved;
    Tally tally;
    std::vector<std::uint8_t> unknownsByKey; // Tally::unknownsOf of each answer met in-process
    qint64 bytesRead = 0;
    const auto flushIfFull = [&] {
        if (out.size() >= kBlockBytes) {
            sink.write(out);
            out.resize(0); // keeps its capacity
        }
    };
    // Looks the pending numbers up, in one go, and writes their rows.
    const auto resolveNumbers = [&] {
        if (numbers.isEmpty())
            return;
        resolver->resolve(numbers, resolved);
        for (qsizetype i = 0; i < numbers.size(); ++i) {
            const Resolution& r = resolved[static_cast<std::size_t>(i)];
            tally.add(r);
            format.append(out, tally.numbers, numbers.at(i), *r.cells);
            flushIfFull();
        }
        numbers.clear();
    };
    const bool inProcess = resolver->answersMobilesInProcess();
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
        asciiLines.clear();
        numbers.clear();
        input.feed(QByteArrayView(block).first(n), atEnd, asciiLines, numbers);
        if (!noted && !input.note().isEmpty()) {
            say(streams.err, input.note());
            noted = true;
        }
        // ASCII lines: an 11-digit mobile number goes straight to its prefix's
        // row in-process; every other line is looked up as text. The prefix a
        // few lines ahead is hinted, so that its read overlaps this line's work
        // and is still in the cache when its turn comes.
        constexpr std::size_t kHintAhead = 16;
        prefixes.resize(asciiLines.size());
        for (std::size_t i = 0; i < asciiLines.size(); ++i)
            prefixes[i] = inProcess ? data::Prefix7::fromNumber(asciiLines[i]) : std::nullopt;
        for (std::size_t i = 0; i < std::min(kHintAhead, prefixes.size()); ++i)
            if (prefixes[i])
                resolver->prefetchMobile(*prefixes[i]);
        for (std::size_t i = 0; i < asciiLines.size(); ++i) {
            const std::string_view line = asciiLines[i];
            if (i + kHintAhead < prefixes.size() && prefixes[i + kHintAhead])
                resolver->prefetchMobile(*prefixes[i + kHintAhead]);
            if (prefixes[i]) {
                resolveNumbers(); // the lines before it first
                const std::uint32_t key = resolver->mobileKey(*prefixes[i]);
                if (!format.knowsKey(key)) {
                    const RowCells& cells = resolver->cellsOfKey(key);
                    format.learnKey(key, cells);
                    if (key >= unknownsByKey.size())
                        unknownsByKey.resize(std::max<std::size_t>(key + 1, unknownsByKey.size() * 2));
                    unknownsByKey[key] = Tally::unknownsOf(cells);
                }
                tally.addAnswered(unknownsByKey[key]);
                format.appendDigits(out, tally.numbers, line, key);
                flushIfFull();
            } else {
                numbers.append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
            }
        }
        resolveNumbers();
        progress.update(tally.numbers, bytesRead);
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
    if (options.verbose) {
        // The count is known only once the input has been read to its end.
        std::fprintf(streams.err, "%s %s\n", QString::fromUtf16(kRunMessageTitle).toLocal8Bit().constData(),
                     startMessage(static_cast<int>(std::min<qint64>(tally.numbers, INT_MAX))).toLocal8Bit().constData());
        std::fprintf(streams.err, "%s %s\n", QString::fromUtf16(kRunMessageTitle).toLocal8Bit().constData(),
                     endMessage(elapsedMs).toLocal8Bit().constData());
    }
    report(streams.err, tally, resolver->gaveUpReason(), elapsedMs);
    return tally.status();
}

} // namespace teloria::cli
