#include "batch_command.h"

#include "batch_options.h"
#include "ordered_fetcher.h"
#include "terminal_ports.h"

#include "export/result_file.h"
#include "lookup/batch_run.h"
#include "lookup/line_split.h"
#include "lookup/page_fetch.h"
#include "lookup/result_table.h"
#include "lookup/service_url.h"
#include "service/bundled_service.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <optional>

namespace teloria::cli {

namespace {

void say(std::FILE* err, const QString& text)
{
    std::fprintf(err, "teloria-batch: %s\n", text.toLocal8Bit().constData());
}

bool isStandardStream(const QString& path)
{
    return path.isEmpty() || path == QLatin1String("-");
}

// The numbers of a file or of standard input: UTF-8 (a leading byte-order
// mark is skipped), one per line, LF or CR LF, the last line break ending
// the last number.
std::optional<QStringList> readNumbers(const QString& path, std::FILE* in, QString* error)
{
    QFile file;
    bool opened = false;
    if (isStandardStream(path)) {
        opened = file.open(in, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
    } else {
        file.setFileName(path);
        if (QFileInfo(path).isDir()) {
            *error = QStringLiteral("cannot read %1: it is a directory").arg(path);
            return std::nullopt;
        }
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(isStandardStream(path) ? QStringLiteral("standard input") : path,
                          file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(isStandardStream(path) ? QStringLiteral("standard input") : path,
                          file.errorString());
        return std::nullopt;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return splitLines(QString::fromUtf8(bytes), TrailingBreak::Drop);
}

// Refuses an output path that cannot be written before any request is made.
bool outputLooksWritable(const QString& path, QString* error)
{
    const QFileInfo target(path);
    if (target.isDir()) {
        *error = QStringLiteral("cannot write %1: it is a directory").arg(path);
        return false;
    }
    const QFileInfo dir(target.absolutePath());
    if (!dir.isDir()) {
        *error = QStringLiteral("cannot write %1: no directory %2").arg(path, dir.filePath());
        return false;
    }
    if (!dir.isWritable() && !(target.exists() && target.isWritable() && !target.isFile())) {
        *error = QStringLiteral("cannot write %1: directory %2 is not writable")
                     .arg(path, dir.filePath());
        return false;
    }
    return true;
}

// One reusable handle per worker, so each keeps its connection to the service.
FetchFunctionFactory fetchSessions()
{
    return [] {
        auto session = std::make_shared<FetchSession>();
        return FetchFunction([session](const QString& url) { return session->get(url); });
    };
}

QString summaryLine(int count, int failed, std::uint32_t elapsedMs)
{
    return QStringLiteral("%1 %2, %3 failed %4, %5 s")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("number") : QStringLiteral("numbers"))
        .arg(failed)
        .arg(failed == 1 ? QStringLiteral("request") : QStringLiteral("requests"))
        .arg(formatSeconds(elapsedMs));
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
    const std::optional<QStringList> numbers = readNumbers(options.inputPath, streams.in, &error);
    if (!numbers) {
        say(streams.err, error);
        return kBadUsage;
    }
    const bool toStdout = isStandardStream(options.outputPath);
    if (!toStdout && !outputLooksWritable(options.outputPath, &error)) {
        say(streams.err, error);
        return kBadUsage;
    }
    // A malformed setting is bad usage; a bundled service that cannot start is not.
    data::DataSettings data;
    for (const QString& file : options.dataFiles)
        data.files.push_back(file.toStdString());
    data.program = "teloria-batch";
    data.learn.upstream = options.upstreamUrl;
    if (std::string why; !data::finishLearnSettings(data.learn, &why)) {
        say(streams.err, QString::fromStdString(why));
        return kBadUsage;
    }
    ServiceChoice service = chooseService(options.serviceUrl, data);
    if (!service.error.isEmpty()) {
        say(streams.err, service.error);
        return service.badSetting ? kBadUsage : kCouldNotRun;
    }
    const QString base = service.baseUrl;

    ResultTable table;
    table.configure();
    int failed = 0;
    RunSummary summary;
    {
        const QStringList& list = *numbers;
        OrderedFetcher fetcher(
            list.size(), [&list, &base](qsizetype i) { return lookupUrl(base, list.at(i)); },
            options.jobs, fetchSessions());
        SteadyClock clock;
        ProgressBar progress(streams.errIsTerminal ? streams.err : nullptr);
        StreamMessages messages(options.verbose ? streams.err : nullptr);
        NoEvents pump;
        BatchRun run(RunPorts{fetcher, clock, progress, messages, pump, table}, base);
        summary = run.runNumbers(list);
        progress.finish();
        failed = fetcher.failedRequests();
    }

    if (toStdout) {
        const QByteArray bytes = resultFileBytes(table, options.encoding);
        if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), streams.out) !=
                static_cast<std::size_t>(bytes.size()) ||
            std::fflush(streams.out) != 0) {
            say(streams.err, QStringLiteral("cannot write the results to standard output"));
            return kCouldNotRun;
        }
    } else {
        const SaveOutcome saved = writeResultFile(table, options.outputPath, options.encoding);
        if (!saved.ok) {
            say(streams.err, QStringLiteral("cannot write %1: %2").arg(saved.path, saved.reason));
            return kCouldNotRun;
        }
    }
    std::fprintf(streams.err, "%s\n",
                 summaryLine(summary.count, failed, summary.elapsed_ms).toLocal8Bit().constData());
    return failed == 0 ? kAllAnswered : kSomeFailed;
}

} // namespace teloria::cli
