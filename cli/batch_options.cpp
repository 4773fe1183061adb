#include "cli/batch_options.h"

#include "command/learn_options.h"

#include <QFile>

namespace teloria::cli {

namespace {

QCommandLineOption option(const QStringList& names, const char* description, const char* valueName = nullptr,
                          const char* defaultValue = nullptr)
{
    QCommandLineOption o(names, QString::fromUtf8(description));
    if (valueName)
        o.setValueName(QString::fromUtf8(valueName));
    if (defaultValue)
        o.setDefaultValue(QString::fromUtf8(defaultValue));
    return o;
}

void addOptions(command::CommandLine& line)
{
    using command::Shared;
    line.add(Shared::Service);
    line.add(Shared::Data);
    line.add(Shared::Learning);
    line.add(option({"jobs", "j"}, "Requests kept in flight, 1 to 64 (default 1).", "N", "1"));
    line.add(option({"timeout"}, "Seconds a request may take, 1 to 3600 (default 30).", "SECONDS", "30"));
    line.add(option({"keep-going"}, "Ask for every number even after 3 failed requests in a row."));
    line.add(option({"format"}, "Output format: csv (default, the window's result file), tsv or jsonl (UTF-8).",
                    "csv|tsv|jsonl", "csv"));
    line.add(option({"fields"},
                    "Columns, in order, from: id, number, location, card, province, city, area_code, zip, source, "
                    "kind (default id,number,location,card). kind is mobile, iot, landline, service or not a "
                    "number. The card type is the operator the number's segment was allocated to: a number "
                    "ported since (携号转网) may be served by another.",
                    "LIST", "id,number,location,card"));
    line.add(option({"no-header"}, "No line of column names before the tsv rows."));
    line.add(option({"encoding"}, "Encoding of csv (default gbk) and tsv (default utf-8): gbk or utf-8. jsonl is "
                                  "UTF-8 only.",
                    "gbk|utf-8", "gbk"));
    line.add(Shared::Output);
    line.add(option({"verbose"}, "Print the run's start message (with the count of lines, once read) and end "
                                 "message on standard error."));
    line.addArgument(QStringLiteral("FILE"), QStringLiteral("Numbers, one per line; - or nothing for standard input."),
                     QStringLiteral("[FILE|-]"));
    line.setEpilog(QStringLiteral(
        "With no --service and no TELORIA_SERVICE the numbers are looked up in-process, on\n"
        "the location data and learned answers the service would use (--data, --upstream,\n"
        "--learned and --no-learn act there; with a service named they are refused).\n"
        "\n"
        "Exit status: 0 every request answered, 3 some requests failed or the run gave up\n"
        "(their rows have empty cells), 2 bad usage, unreadable input or an output that\n"
        "cannot be created (a folder that does not exist), 1 every request failed, or the\n"
        "output could not be written to the end.\n"
        "The summary on standard error counts the rows with location 未知 and with\n"
        "operator 未知 beside the failed requests.\n"));
}

std::optional<FileEncoding> encodingByName(const QString& name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("gbk") || n == QLatin1String("cp936"))
        return FileEncoding::Gbk;
    if (n == QLatin1String("utf-8") || n == QLatin1String("utf8"))
        return FileEncoding::Utf8;
    return std::nullopt;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments, const command::Streams& streams)
{
    command::CommandLine line(
        QStringLiteral("teloria-batch"),
        QStringLiteral("Looks up the home location and card type of mobile numbers, one per line,\n"
                       "and writes a row per line in input order (by default the window's result file:\n"
                       "id,number,location,card type; CR LF; GBK)."));
    addOptions(line);
    ParsedCommandLine result;
    if (const auto status = line.parse(arguments, streams)) {
        result.status = *status;
        return result;
    }
    const auto refuse = [&](const QString& why) {
        result.status = line.usageError(why, streams);
        return result;
    };
    BatchOptions options;
    options.verbose = line.isSet(QStringLiteral("verbose"));
    const auto value = [&line](const char* name) { return line.value(QLatin1String(name)); };
    const auto isSet = [&line](const char* name) { return line.isSet(QLatin1String(name)); };

    bool numeric = false;
    const QString jobsText = value("jobs");
    options.jobs = jobsText.toInt(&numeric);
    if (!numeric || options.jobs < 1 || options.jobs > kMaxJobs)
        return refuse(QStringLiteral("--jobs takes a whole number from 1 to %1, not '%2'")
                           .arg(kMaxJobs)
                           .arg(jobsText));

    const QString timeoutText = value("timeout");
    options.timeoutSeconds = timeoutText.toInt(&numeric);
    if (!numeric || options.timeoutSeconds < 1 || options.timeoutSeconds > 3600)
        return refuse(QStringLiteral("--timeout takes a whole number of seconds from 1 to 3600, not '%1'")
                           .arg(timeoutText));
    options.keepGoing = isSet("keep-going");

    const auto format = formatByName(value("format"));
    if (!format)
        return refuse(QStringLiteral("--format takes csv, tsv or jsonl, not '%1'").arg(value("format")));
    options.format = *format;
    QString badField;
    const auto fields = fieldsByNames(value("fields"), &badField);
    if (!fields)
        return refuse(QStringLiteral("--fields: no field '%1' (id, number, location, card, province, city, "
                                      "area_code, zip, source, kind)")
                           .arg(badField));
    options.fields = *fields;
    options.header = !isSet("no-header");

    const auto encoding = encodingByName(value("encoding"));
    if (!encoding)
        return refuse(QStringLiteral("--encoding takes gbk or utf-8, not '%1'")
                           .arg(value("encoding")));
    options.encoding = *encoding;
    if (isSet("encoding")) {
        if (options.format == OutputFormat::Jsonl && options.encoding != FileEncoding::Utf8) {
            return refuse(QStringLiteral("--encoding %1: jsonl is UTF-8 only (JSON text is UTF-8)")
                               .arg(value("encoding")));
        }
    } else if (options.format != OutputFormat::Csv) {
        options.encoding = FileEncoding::Utf8; // tsv and jsonl are UTF-8 unless told otherwise
    }

    if (const auto refusal = command::refuseMalformedService(line))
        return refuse(*refusal);
    if (isSet("service"))
        options.serviceUrl = value("service");
    if (isSet("output"))
        options.outputPath = value("output");

    // The data files and learning are the in-process lookup's; a named service has its own.
    QString note;
    if (const auto refusal = command::refuseOwnLookupOptions(line, &note))
        return refuse(*refusal);
    if (!note.isEmpty())
        streams.err(QStringLiteral("teloria-batch: %1\n").arg(note));
    options.inProcess = !command::serviceNamed(line);
    if (options.inProcess) {
        for (const QString& file : line.values(QStringLiteral("data")))
            options.local.files.push_back(QFile::encodeName(file).toStdString());
        options.local.program = "teloria-batch";
        if (QString why; !command::readLearnSettings(line, options.local.learn, &why))
            return refuse(why);
    }

    const QStringList files = line.arguments();
    if (files.size() > 1)
        return refuse(QStringLiteral("one input file at most, got %1: %2")
                           .arg(files.size())
                           .arg(files.join(QLatin1Char(' '))));
    if (!files.isEmpty())
        options.inputPath = files.front();
    result.options = options;
    return result;
}

} // namespace teloria::cli
