#include "command/command_line.h"

#include "data/data_files.h"
#include "teloria/version.h"

#include <algorithm>
#include <cstdio>

namespace teloria::command {
namespace {

constexpr int kHelpWidth = 79;
constexpr int kNameColumn = 26;

QCommandLineOption option(const QStringList& names, const QString& description, const QString& valueName = {})
{
    return QCommandLineOption(names, description, valueName);
}

const QCommandLineOption& helpOption()
{
    static const QCommandLineOption o = option({QStringLiteral("h"), QStringLiteral("help")},
                                               QStringLiteral("Show this help and exit."));
    return o;
}

const QCommandLineOption& versionOption()
{
    static const QCommandLineOption o = option(
        {QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("Show the version and the date of the built-in data, and exit."));
    return o;
}

std::vector<QCommandLineOption> sharedOptions(Shared which)
{
    const auto service = [] {
        return option({QStringLiteral("service")},
                      QStringLiteral("Ask the lookup service at URL, e.g. http://127.0.0.1:8138 (default: "
                                     "TELORIA_SERVICE; without either, this program answers from the local "
                                     "location data itself)."),
                      QStringLiteral("URL"));
    };
    const auto upstream = [] {
        return option({QStringLiteral("upstream")},
                      QStringLiteral("Ask the online lookup service at URL (the same API: "
                                     "/sim_search138.asp?mobile=) about prefixes the local data do not know, "
                                     "sending only the 7-digit prefix followed by 0000, and remember the "
                                     "answers (default: TELORIA_UPSTREAM, else none)."),
                      QStringLiteral("URL"));
    };
    const auto learned = [] {
        return option({QStringLiteral("learned")},
                      QStringLiteral("The database of learned answers (default "
                                     "$XDG_DATA_HOME/teloria/learned.sqlite)."),
                      QStringLiteral("FILE"));
    };
    switch (which) {
    case Shared::Service:
        return {service()};
    case Shared::Data:
        return {option({QStringLiteral("data")},
                       QStringLiteral("Also load FILE: a prefix database in the phone.dat layout, or an override "
                                      "table if it ends in .tsv (prefix<TAB>province<TAB>city<TAB>card type). "
                                      "Repeatable; a file named later wins over an earlier one of the same kind. "
                                      "Every *.dat and *.tsv in /usr/share/teloria/ and then "
                                      "$XDG_DATA_HOME/teloria/ (default ~/.local/share/teloria/) loads without it."),
                       QStringLiteral("FILE"))};
    case Shared::Learning:
        return {upstream(),
                option({QStringLiteral("upstream-timeout")},
                       QStringLiteral("How long a lookup waits for the upstream, in seconds (default 10)."),
                       QStringLiteral("S")),
                option({QStringLiteral("upstream-rate")},
                       QStringLiteral("At most N upstream requests a second (default 2); never more than 2 at once."),
                       QStringLiteral("N")),
                learned(),
                option({QStringLiteral("no-learn")}, QStringLiteral("Keep no learned answers on disk and read none.")),
                option({QStringLiteral("refresh-days")},
                       QStringLiteral("Ask again about learned answers older than N days (default 180)."),
                       QStringLiteral("N"))};
    case Shared::Upstream:
        return {upstream()};
    case Shared::Learned:
        return {learned()};
    case Shared::Output:
        return {option({QStringLiteral("o"), QStringLiteral("output")},
                       QStringLiteral("Write to FILE instead of standard output: a regular file is replaced whole "
                                      "when the output is complete, a device or pipe is written in place."),
                       QStringLiteral("FILE"))};
    }
    return {};
}

// "-o" or "--data", by the name the option is declared with first.
QString displayName(const QCommandLineOption& o)
{
    const QString name = o.names().constFirst();
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

QString needsText(const QCommandLineOption& o)
{
    const QString value = o.valueName();
    if (value == QLatin1String("FILE"))
        return displayName(o) + QStringLiteral(" needs a file name");
    if (value == QLatin1String("URL"))
        return displayName(o) + QStringLiteral(" needs a URL");
    return displayName(o) + QStringLiteral(" needs a value (%1)").arg(value);
}

// Words of text wrapped to the help's width, the first line after `lead`, the rest indented to the column.
void appendWrapped(QString& out, const QString& lead, const QString& text, int column)
{
    QString line = lead;
    if (line.size() >= column - 1) {
        out += line + QLatin1Char('\n');
        line.clear();
    }
    line = line.leftJustified(column, QLatin1Char(' '));
    bool empty = true;
    for (const QString& paragraphLine : text.split(QLatin1Char('\n'))) {
        if (!empty) {
            out += line.trimmed().isEmpty() ? QString() : line;
            out += QLatin1Char('\n');
            line = QString(column, QLatin1Char(' '));
            empty = true;
        }
        for (const QString& word : paragraphLine.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!empty && line.size() + 1 + word.size() > kHelpWidth) {
                out += line + QLatin1Char('\n');
                line = QString(column, QLatin1Char(' '));
                empty = true;
            }
            if (!empty)
                line += QLatin1Char(' ');
            line += word;
            empty = false;
        }
    }
    out += line + QLatin1Char('\n');
}

} // namespace

Streams Streams::standard()
{
    return Streams{[](const QString& text) {
                       std::fputs(text.toLocal8Bit().constData(), stdout);
                       std::fflush(stdout);
                   },
                   [](const QString& text) { std::fputs(text.toLocal8Bit().constData(), stderr); }};
}

QString versionText(const QString& program)
{
    return QStringLiteral("%1 %2\n%3\n")
        .arg(program.section(QLatin1Char(' '), 0, 0), QStringLiteral(TELORIA_VERSION),
             QString::fromStdString(data::versionDataLine()));
}

CommandLine::CommandLine(QString program, QString description)
    : program_(std::move(program)), description_(std::move(description))
{
    add(helpOption());
    add(versionOption());
}

void CommandLine::add(Shared which)
{
    for (const QCommandLineOption& o : sharedOptions(which))
        add(o);
}

void CommandLine::add(const QCommandLineOption& o)
{
    options_.push_back(o);
    parser_.addOption(o);
}

void CommandLine::addArgument(const QString& name, const QString& description, const QString& syntax)
{
    arguments_.push_back({name, description});
    parser_.addPositionalArgument(name, description, syntax);
    syntax_ += (syntax_.isEmpty() ? QString() : QStringLiteral(" ")) + (syntax.isEmpty() ? name : syntax);
}

void CommandLine::stopAtFirstArgument()
{
    parser_.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
}

void CommandLine::takeSingleDashWords()
{
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

bool CommandLine::takes(const QString& name) const
{
    for (const QCommandLineOption& o : options_)
        if (o.names().contains(name))
            return true;
    return false;
}

QString CommandLine::usageLine() const
{
    return QStringLiteral("Usage: %1 [options]%2").arg(program_, syntax_.isEmpty() ? QString() : QStringLiteral(" ") + syntax_);
}

QString CommandLine::helpText() const
{
    QString text = usageLine() + QStringLiteral("\n\n");
    if (!description_.isEmpty())
        text += description_ + QStringLiteral("\n\n");
    text += QStringLiteral("Options:\n");
    for (const QCommandLineOption& o : options_) {
        if (o.flags() & QCommandLineOption::HiddenFromHelp)
            continue;
        QStringList names;
        for (const QString& name : o.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString lead = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!o.valueName().isEmpty())
            lead += QLatin1Char(' ') + o.valueName();
        appendWrapped(text, lead, o.description(), kNameColumn);
    }
    if (std::any_of(arguments_.begin(), arguments_.end(), [](const Argument& a) { return !a.description.isEmpty(); })) {
        text += QStringLiteral("\nArguments:\n");
        for (const Argument& a : arguments_)
            if (!a.description.isEmpty())
                appendWrapped(text, QStringLiteral("  ") + a.name, a.description, kNameColumn);
    }
    if (!epilog_.isEmpty())
        text += QLatin1Char('\n') + epilog_ + (epilog_.endsWith(QLatin1Char('\n')) ? QString() : QStringLiteral("\n"));
    return text;
}

int CommandLine::usageError(const QString& message, const Streams& streams) const
{
    const QString command = program_.section(QLatin1Char(' '), 0, 0);
    streams.err(QStringLiteral("%1: %2\n%3\nTry '%4 --help' for every option.\n")
                    .arg(command, message, usageLine(), program_));
    return kUsageStatus;
}

std::optional<int> CommandLine::parse(const QStringList& arguments, const Streams& streams)
{
    if (!parser_.parse(arguments)) {
        const QStringList unknown = parser_.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString& name = unknown.constFirst();
            return usageError(QStringLiteral("unknown option '%1%2'")
                                  .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name),
                              streams);
        }
        // The parser takes the next argument as the value whatever it is, so
        // a value is missing only after the last one.
        const QString last = arguments.size() > 1 ? arguments.constLast() : QString();
        for (const QCommandLineOption& o : options_)
            for (const QString& name : o.names())
                if (!o.valueName().isEmpty()
                    && last == (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name)
                    return usageError(needsText(o), streams);
        QString why = parser_.errorText();
        if (why.endsWith(QLatin1Char('.')))
            why.chop(1);
        if (!why.isEmpty())
            why[0] = why[0].toLower();
        return usageError(why, streams);
    }
    if (parser_.isSet(helpOption())) {
        streams.out(helpText());
        return 0;
    }
    if (parser_.isSet(versionOption())) {
        streams.out(versionText(program_));
        return 0;
    }
    // An empty value is as good as none: "--data ''" names no file.
    for (const QCommandLineOption& o : options_)
        if (!o.valueName().isEmpty() && parser_.isSet(o))
            for (const QString& v : parser_.values(o))
                if (v.trimmed().isEmpty())
                    return usageError(needsText(o), streams);
    return std::nullopt;
}

QStringList argumentsOf(int argc, char** argv)
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace teloria::command
