#include "cli/data_command.h"

#include "cli/data_subcommands.h"

#include "command/command_line.h"

#include <ostream>

namespace teloria::cli {
namespace {

const QString kDescription = QStringLiteral(
    "Looks after the location data that teloria, teloria-batch and teloria-lookupd\n"
    "load: phone.dat files (*.dat) and override tables (*.tsv:\n"
    "prefix<TAB>province<TAB>city<TAB>card type[<TAB>postcode<TAB>area code]).");

const QString kEpilog = QStringLiteral(
    "The programs load every *.dat and *.tsv in /usr/share/teloria/ and then in\n"
    "$XDG_DATA_HOME/teloria/ (default ~/.local/share/teloria/), each folder in name\n"
    "order, then each --data FILE in the order given: a later file wins over an\n"
    "earlier one (override tables over learned answers over phone.dat files).\n"
    "'teloria-data COMMAND --help' shows the options of one command; after '--'\n"
    "every argument is a file or a number.\n"
    "\n"
    "Exit status: 0 done, 1 a file or number could not be used, 2 bad usage.\n");

QCommandLineOption flag(const char* name, const char* description)
{
    return QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(description));
}

QCommandLineOption valued(const char* name, const char* description, const char* valueName)
{
    return QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(description), QString::fromLatin1(valueName));
}

// Each subcommand by its name, with its arguments and the options it takes;
// a new one is a row here and a function in a file of its own.
struct Subcommand {
    const char* name;
    int (*run)(const DataArguments&, DataContext&);
    const char* arguments; // their syntax on the usage line
    const char* summary;   // what it does, for --help
    void (*addOptions)(command::CommandLine&) = nullptr;
};

const Subcommand kSubcommands[] = {
    {"lookup", runLookup, "NUMBER...",
     "The answer for each number (location, card type, area code, zip) and the source that gave it."},
    {"stats", runStats, "[FILE...]",
     "Per 3-digit segment: prefixes held, with a location, with an operator, and totals; without FILE, the "
     "store as the programs build it, and each source with its date."},
    {"info", runInfo, "", "Every source the programs load, in load order, with its kind, prefixes and date."},
    {"update", runUpdate, "[SOURCE]",
     "Fetch a prefix file (http/https URL or file), check it, report what it changes and install it in the "
     "user data folder; without SOURCE, the last one again.",
     [](command::CommandLine& line) {
         line.add(flag("dry-run", "Report what the file changes and install nothing."));
         line.add(flag("force", "Install a file that drops more than a tenth of today's prefixes."));
         line.add(flag("rollback", "Put back the file the last update replaced."));
     }},
    {"learn", runLearn, "",
     "Ask the upstream about every held 7-digit prefix local data lack a location or operator for, once "
     "each, resuming where a stopped walk ended; needs --upstream URL or TELORIA_UPSTREAM.",
     [](command::CommandLine& line) {
         line.add(command::Shared::Upstream);
         line.add(valued("segments", "The segments to walk, e.g. 190-199,162 (default every held segment).",
                         "LIST"));
         line.add(valued("rate", "Requests a second, more than 0 and at most 1000 (default 2).", "R"));
         line.add(valued("max", "End the sitting after N requests.", "N"));
     }},
    {"convert", runConvert, "IN OUT", "phone.dat <-> TSV, by the file names' extensions."},
    {"merge", runMerge, "A B... -o OUT",
     "Later files go over earlier ones per prefix (an empty field keeps the earlier one); OUT in either "
     "format.",
     [](command::CommandLine& line) { line.add(command::Shared::Output); }},
    {"check", runCheck, "FILE", "Exit 0 for a sound file, 1 with its first fault."},
    {"export-learned", runExportLearned, "",
     "The answers learned from an online lookup service, as TSV (standard output without -o) or phone.dat by "
     "the file name's extension.",
     [](command::CommandLine& line) { line.add(command::Shared::Output); }},
    {"forget", runForget, "PREFIX...",
     "Drop these 7-digit prefixes' learned answers, so the next lookup asks the upstream again."},
};

// The options of every command, before or after its name.
void addCommonOptions(command::CommandLine& line)
{
    line.add(command::Shared::Data);
    line.add(command::Shared::Learned);
}

QString commandsText()
{
    QString text = QStringLiteral("Commands:\n");
    for (const Subcommand& sub : kSubcommands) {
        QString lead = QStringLiteral("  %1 %2").arg(QLatin1String(sub.name), QLatin1String(sub.arguments)).trimmed();
        text += QStringLiteral("  ") + lead + QLatin1Char('\n');
        // The summary wrapped under it, six spaces in.
        QString line = QStringLiteral("      ");
        for (const QString& word : QString::fromUtf8(sub.summary).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (line.size() > 6 && line.size() + 1 + word.size() > 79) {
                text += line + QLatin1Char('\n');
                line = QStringLiteral("      ");
            }
            line += (line.size() > 6 ? QStringLiteral(" ") : QString()) + word;
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

QStringList toQt(const std::vector<std::string>& arguments, std::size_t from = 0)
{
    QStringList list;
    for (std::size_t i = from; i < arguments.size(); ++i)
        list << QString::fromStdString(arguments[i]);
    return list;
}

} // namespace

int runDataCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    const command::Streams streams{[&out](const QString& text) { out << text.toStdString(); },
                                   [&err](const QString& text) { err << text.toStdString(); }};
    command::CommandLine top(QStringLiteral("teloria-data"), kDescription);
    addCommonOptions(top);
    top.addArgument(QStringLiteral("COMMAND"), QStringLiteral("One of the commands below, with its arguments."),
                    QStringLiteral("COMMAND [ARGUMENTS]"));
    top.setEpilog(commandsText() + QLatin1Char('\n') + kEpilog);
    top.stopAtFirstArgument();
    QStringList all = toQt(arguments);
    if (all.isEmpty())
        all << QStringLiteral("teloria-data");
    if (const auto status = top.parse(all, streams))
        return *status;
    const QStringList rest = top.arguments();
    if (rest.isEmpty())
        return top.usageError(QStringLiteral("no command given"), streams);
    const std::string command = rest.constFirst().toStdString();
    const Subcommand* sub = nullptr;
    for (const Subcommand& s : kSubcommands)
        if (command == s.name)
            sub = &s;
    if (!sub)
        return top.usageError(QStringLiteral("unknown command '%1'").arg(rest.constFirst()), streams);

    // The command's own line: its options, and --data and --learned again.
    // An option it does not take is bad usage, never a file name or a number.
    command::CommandLine line(QStringLiteral("teloria-data %1").arg(QLatin1String(sub->name)),
                              QString::fromUtf8(sub->summary));
    addCommonOptions(line);
    if (sub->addOptions)
        sub->addOptions(line);
    if (*sub->arguments)
        line.addArgument(QString::fromLatin1(sub->arguments).section(QLatin1Char(' '), 0, 0),
                         QString(), QString::fromLatin1(sub->arguments));
    QStringList subArguments = rest;
    subArguments.front() = line.program();
    if (const auto status = line.parse(subArguments, streams))
        return *status;

    data::DataSettings settings;
    for (const command::CommandLine* l : {&top, &line})
        for (const QString& file : l->values(QStringLiteral("data")))
            settings.files.push_back(file.toStdString());
    for (const command::CommandLine* l : {&top, &line})
        if (l->isSet(QStringLiteral("learned")))
            settings.learn.learnedFile = l->value(QStringLiteral("learned")).toStdString();
    DataArguments operands;
    for (const QString& operand : line.arguments())
        operands.push_back(operand.toStdString());
    DataContext context{std::move(settings), out, err,
                        [&line, &streams](const std::string& message) {
                            return line.usageError(QString::fromStdString(message), streams);
                        },
                        line};
    return sub->run(operands, context);
}

} // namespace teloria::cli
