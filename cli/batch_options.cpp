#include "cli/batch_options.h"

#include <QCommandLineParser>

namespace teloria::cli {

namespace {

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption service{QStringList{QStringLiteral("service")},
                               QStringLiteral("Lookup service base URL (default: TELORIA_SERVICE; "
                                              "without either the numbers are looked up in-process)."),
                               QStringLiteral("URL")};
    QCommandLineOption data{QStringList{QStringLiteral("data")},
                            QStringLiteral("Also load FILE for the in-process lookup: a phone.dat file, or an "
                                           "override table if it ends in .tsv (repeatable)."),
                            QStringLiteral("FILE")};
    QCommandLineOption upstream{QStringList{QStringLiteral("upstream")},
                                QStringLiteral("Ask the online lookup service at URL about prefixes the local "
                                               "data do not know, sending only the prefix and 0000, and "
                                               "remember the answers (default: TELORIA_UPSTREAM, else none)."),
                                QStringLiteral("URL")};
    QCommandLineOption jobs{QStringList{QStringLiteral("jobs"), QStringLiteral("j")},
                            QStringLiteral("Requests kept in flight, 1 to 64 (default 1)."),
                            QStringLiteral("N"), QStringLiteral("1")};
    QCommandLineOption timeout{QStringList{QStringLiteral("timeout")},
                               QStringLiteral("Seconds a request may take, 1 to 3600 (default 30)."),
                               QStringLiteral("SECONDS"), QStringLiteral("30")};
    QCommandLineOption keepGoing{QStringList{QStringLiteral("keep-going")},
                                 QStringLiteral("Ask for every number even after 3 failed requests in a row.")};
    QCommandLineOption format{QStringList{QStringLiteral("format")},
                              QStringLiteral("Output format: csv (default, the window's result file), "
                                             "tsv or jsonl (UTF-8)."),
                              QStringLiteral("csv|tsv|jsonl"), QStringLiteral("csv")};
    QCommandLineOption fields{QStringList{QStringLiteral("fields")},
                              QStringLiteral("Columns, in order, from: id, number, location, card, province, "
                                             "city, area_code, zip, source (default id,number,location,card)."),
                              QStringLiteral("LIST"), QStringLiteral("id,number,location,card")};
    QCommandLineOption noHeader{QStringList{QStringLiteral("no-header")},
                                QStringLiteral("No line of column names before the tsv rows.")};
    QCommandLineOption encoding{QStringList{QStringLiteral("encoding")},
                                QStringLiteral("csv encoding: gbk (default) or utf-8."),
                                QStringLiteral("gbk|utf-8"), QStringLiteral("gbk")};
    QCommandLineOption output{QStringList{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Write the result file to FILE instead of standard output."),
                              QStringLiteral("FILE")};
    QCommandLineOption verbose{QStringList{QStringLiteral("verbose")},
                               QStringLiteral("Print the run's start and end messages on standard error.")};
    QCommandLineOption help{QStringList{QStringLiteral("help"), QStringLiteral("h")},
                            QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringList{QStringLiteral("version"), QStringLiteral("v")},
                               QStringLiteral("Show the version.")};

    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("Looks up the home location and card type of mobile numbers, one per line,\n"
                           "and writes a row per line in input order (by default the window's result file:\n"
                           "id,number,location,card type; CR LF; GBK)."));
        parser.addOptions({service, data, upstream, jobs, timeout, keepGoing, format, fields, noHeader, encoding, output,
                           verbose, help, version});
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("Numbers, one per line; - or nothing for standard input."),
                                     QStringLiteral("[FILE|-]"));
    }
};

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

QString usageText()
{
    Parser p;
    QString text = p.parser.helpText();
    text += QStringLiteral("\nExit status: 0 every request answered, 3 some requests failed "
                           "or the run gave up\n(their rows have empty cells), 2 bad usage or unreadable input, "
                           "1 every request failed,\nthe service could not be started or the output not written.\n");
    return text;
}

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    Parser p;
    ParsedCommandLine result;
    if (!p.parser.parse(arguments)) {
        result.error = p.parser.errorText();
        return result;
    }
    BatchOptions options;
    options.help = p.parser.isSet(p.help);
    options.version = p.parser.isSet(p.version);
    options.verbose = p.parser.isSet(p.verbose);
    if (options.help || options.version) {
        result.options = options;
        return result;
    }

    bool numeric = false;
    const QString jobsText = p.parser.value(p.jobs);
    options.jobs = jobsText.toInt(&numeric);
    if (!numeric || options.jobs < 1 || options.jobs > kMaxJobs) {
        result.error = QStringLiteral("--jobs takes a whole number from 1 to %1, not '%2'")
                           .arg(kMaxJobs)
                           .arg(jobsText);
        return result;
    }

    const QString timeoutText = p.parser.value(p.timeout);
    options.timeoutSeconds = timeoutText.toInt(&numeric);
    if (!numeric || options.timeoutSeconds < 1 || options.timeoutSeconds > 3600) {
        result.error = QStringLiteral("--timeout takes a whole number of seconds from 1 to 3600, not '%1'")
                           .arg(timeoutText);
        return result;
    }
    options.keepGoing = p.parser.isSet(p.keepGoing);

    const auto format = formatByName(p.parser.value(p.format));
    if (!format) {
        result.error = QStringLiteral("--format takes csv, tsv or jsonl, not '%1'").arg(p.parser.value(p.format));
        return result;
    }
    options.format = *format;
    QString badField;
    const auto fields = fieldsByNames(p.parser.value(p.fields), &badField);
    if (!fields) {
        result.error = QStringLiteral("--fields: no field '%1' (id, number, location, card, province, city, "
                                      "area_code, zip, source)")
                           .arg(badField);
        return result;
    }
    options.fields = *fields;
    options.header = !p.parser.isSet(p.noHeader);

    const auto encoding = encodingByName(p.parser.value(p.encoding));
    if (!encoding) {
        result.error = QStringLiteral("--encoding takes gbk or utf-8, not '%1'")
                           .arg(p.parser.value(p.encoding));
        return result;
    }
    options.encoding = *encoding;

    if (p.parser.isSet(p.service)) {
        options.serviceUrl = p.parser.value(p.service);
        if (options.serviceUrl.trimmed().isEmpty()) {
            result.error = QStringLiteral("--service needs a URL");
            return result;
        }
    }
    options.dataFiles = p.parser.values(p.data);
    for (const QString& file : options.dataFiles) {
        if (file.isEmpty()) {
            result.error = QStringLiteral("--data needs a file name");
            return result;
        }
    }
    if (p.parser.isSet(p.upstream)) {
        options.upstreamUrl = p.parser.value(p.upstream);
        if (options.upstreamUrl.trimmed().isEmpty()) {
            result.error = QStringLiteral("--upstream needs a URL");
            return result;
        }
    }
    if (p.parser.isSet(p.output)) {
        options.outputPath = p.parser.value(p.output);
        if (options.outputPath.isEmpty()) {
            result.error = QStringLiteral("-o needs a file name");
            return result;
        }
    }

    const QStringList files = p.parser.positionalArguments();
    if (files.size() > 1) {
        result.error = QStringLiteral("one input file at most, got %1: %2")
                           .arg(files.size())
                           .arg(files.join(QLatin1Char(' ')));
        return result;
    }
    if (!files.isEmpty())
        options.inputPath = files.front();
    result.options = options;
    return result;
}

} // namespace teloria::cli
