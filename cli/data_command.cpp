#include "cli/data_command.h"

#include "cli/data_subcommands.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "teloria/version.h"

namespace teloria::cli {
namespace {

constexpr char kUsage[] = R"(Usage: teloria-data [--data FILE]... COMMAND [ARGUMENTS]

Looks after the location data that teloria, teloria-batch and teloria-lookupd
load: phone.dat files (*.dat) and override tables (*.tsv:
prefix<TAB>province<TAB>city<TAB>card type[<TAB>postcode<TAB>area code]).

Commands:
  lookup NUMBER...         the answer for each number (location, card type, area code,
                           zip) and the source that gave it
  stats [FILE...]          per 3-digit segment: prefixes held, with a location,
                           with an operator, and totals; without FILE, the store
                           as the programs build it, and each source with its date
  info                     every source the programs load, in load order, with
                           its kind, prefixes and date
  update [SOURCE]          fetch a prefix file (http/https URL or file), check it,
                           report what it changes and install it in the user data
                           folder; without SOURCE, the last one again.
                           --dry-run: the report only; --force: install a file
                           that drops more than a tenth of today's prefixes;
                           --rollback: put back the file the last update replaced
  learn --upstream URL     ask the upstream about every held 7-digit prefix local
                           data lack a location or operator for, once each,
                           resuming where a stopped walk ended.
                           --segments 190-199,162 (default every held segment),
                           --rate R requests a second (default 2), --max N
  convert IN OUT           phone.dat <-> TSV, by the file names' extensions
  merge A B... -o OUT      later files go over earlier ones per prefix (an
                           empty field keeps the earlier one); OUT in either format
  check FILE               exit 0 for a sound file, 1 with its first fault
  export-learned [-o FILE] the answers learned from an online lookup service,
                           as TSV (standard output without -o) or phone.dat
                           by the file name's extension
  forget PREFIX...         drop these 7-digit prefixes' learned answers, so
                           the next lookup asks the upstream again

Options:
  --data FILE              load FILE too, as the programs' --data does (repeatable)
  --learned FILE           the learned-answer database (default
                           $XDG_DATA_HOME/teloria/learned.sqlite)
  -h, --help               show this text
  -v, --version            show the version

The programs load every *.dat and *.tsv in /usr/share/teloria/ and then in
$XDG_DATA_HOME/teloria/ (default ~/.local/share/teloria/), each folder in name
order, then each --data FILE in the order given: a later file wins over an
earlier one (override tables over learned answers over phone.dat files).

Exit status: 0 done, 1 a file or number could not be used, 2 bad usage.
)";

// Each subcommand by its name; a new one is a line here and a function in a
// file of its own.
struct Subcommand {
    const char* name;
    int (*run)(const DataArguments&, DataContext&);
    // The options it takes, space-separated; "NAME=" takes a value.
    std::string_view options = "";
};
constexpr Subcommand kSubcommands[] = {
    {"lookup", runLookup},
    {"stats", runStats},
    {"convert", runConvert},
    {"merge", runMerge, "-o= --output="},
    {"check", runCheck},
    {"export-learned", runExportLearned, "-o= --output="},
    {"forget", runForget},
    {"info", runInfo},
    {"update", runUpdate, "--dry-run --force --rollback"},
    {"learn", runLearn, "--upstream= --segments= --rate= --max="},
};

// Whether the subcommand takes the option, and whether a value follows it.
struct OptionUse {
    bool taken = false;
    bool hasValue = false;
};
OptionUse optionUse(const Subcommand& sub, std::string_view arg)
{
    std::string_view list = sub.options;
    while (!list.empty()) {
        const std::size_t end = std::min(list.find(' '), list.size());
        std::string_view name = list.substr(0, end);
        list.remove_prefix(std::min(end + 1, list.size()));
        const bool hasValue = name.ends_with('=');
        if (hasValue)
            name.remove_suffix(1);
        if (name == arg)
            return {true, hasValue};
    }
    return {};
}

} // namespace

int runDataCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    auto usage = [&err](const std::string& message) {
        err << "teloria-data: " << message << "\nTry 'teloria-data --help'.\n";
        return 2;
    };
    data::DataSettings settings;
    std::vector<std::string> rest;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "-h" || arg == "--help") {
            out << kUsage;
            return 0;
        }
        if (arg == "-v" || arg == "--version") {
            out << "teloria-data " TELORIA_VERSION "\n" << data::versionDataLine() << '\n';
            return 0;
        }
        if (arg == "--data") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty())
                return usage("--data needs a file name");
            settings.files.push_back(arguments[++i]);
        } else if (arg == "--learned") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty())
                return usage("--learned needs a file name");
            settings.learn.learnedFile = arguments[++i];
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.empty())
        return usage("no command given");
    const std::string command = rest.front();
    rest.erase(rest.begin());
    const Subcommand* sub = nullptr;
    for (const Subcommand& s : kSubcommands)
        if (command == s.name)
            sub = &s;
    if (!sub)
        return usage("unknown command '" + command + "'");
    // An option no subcommand takes is bad usage, never a file name or a
    // number; after "--" everything is taken as it is.
    DataArguments operands;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string& arg = rest[i];
        if (arg == "--") {
            operands.insert(operands.end(), rest.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest.end());
            break;
        }
        if (const OptionUse use = optionUse(*sub, arg); use.taken) {
            operands.push_back(arg);
            if (use.hasValue && i + 1 < rest.size())
                operands.push_back(rest[++i]);
            continue;
        }
        if (arg.size() > 1 && arg.front() == '-')
            return usage("unknown option '" + arg + "'");
        operands.push_back(arg);
    }
    rest = std::move(operands);

    DataContext context{std::move(settings), out, err, usage};
    return sub->run(rest, context);
}

} // namespace teloria::cli
