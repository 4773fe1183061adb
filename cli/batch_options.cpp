#include "batch_options.h"

#include <QCommandLineParser>

namespace teloria::cli {

namespace {

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption service{QStringList{QStringLiteral("service")},
                               QStringLiteral("Lookup service base URL (default: TELORIA_SERVICE, "
                                              "else the bundled service started for this run)."),
                               QStringLiteral("URL")};
    QCommandLineOption data{QStringList{QStringLiteral("data")},
                            QStringLiteral("Also load FILE in the bundled service: a phone.dat file, or an "
                                           "override table if it ends in .tsv (repeatable)."),
                            QStringLiteral("FILE")};
    QCommandLineOption upstream{QStringList{QStringLiteral("upstream")},
                                QStringLiteral("Let the bundled service ask the online lookup service at URL "
                                               "about prefixes its data do not know, sending only the prefix "
                                               "and 0000 (default: TELORIA_UPSTREAM, else none)."),
                                QStringLiteral("URL")};
    QCommandLineOption jobs{QStringList{QStringLiteral("jobs"), QStringLiteral("j")},
                            QStringLiteral("Requests kept in flight, 1 to 64 (default 1)."),
                            QStringLiteral("N"), QStringLiteral("1")};
    QCommandLineOption encoding{QStringList{QStringLiteral("encoding")},
                                QStringLiteral("Result file encoding: gbk (default) or utf-8."),
                                QStringLiteral("gbk|utf-8"), QStringLiteral("gbk")};
    QCommandLineOption output{QStringList{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Write the result file to FILE instead of standard output."),
                              QStringLiteral("FILE")};
    QCommandLineOption verbose{QStringList{QStringLiteral("verbose"), QStringLiteral("v")},
                               QStringLiteral("Print the run's start and end messages on standard error.")};
    QCommandLineOption help{QStringList{QStringLiteral("help"), QStringLiteral("h")},
                            QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringList{QStringLiteral("version")},
                               QStringLiteral("Show the version.")};

    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("Looks up the home location and card type of mobile numbers, one per line,\n"
                           "and writes the result file (id,number,location,card type; CR LF)."));
        parser.addOptions({service, data, upstream, jobs, encoding, output, verbose, help, version});
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
                           "(their rows have empty cells),\n2 bad usage or unreadable input, "
                           "1 the service could not be started or the output not written.\n");
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
