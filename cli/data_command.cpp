#include "cli/data_command.h"

#include "cli/data_subcommands.h"

#include <ostream>

#include "teloria/version.h"

namespace teloria::cli {
namespace {

constexpr char kUsage[] = R"(Usage: teloria-data [--data FILE]... COMMAND [ARGUMENTS]

Looks after the location data that teloria, teloria-batch and teloria-lookupd
load: phone.dat files (*.dat) and override tables (*.tsv:
prefix<TAB>province<TAB>city<TAB>card type).

Commands:
  lookup NUMBER...         the answer for each number and the source that gave it
  stats [FILE...]          per 3-digit segment: prefixes held, with a location,
                           with an operator, and totals; without FILE, the store
                           as the programs build it
  convert IN OUT           phone.dat <-> TSV, by the file names' extensions
  merge A B... -o OUT      later files win per prefix; OUT in either format
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

The programs load every *.dat and *.tsv in $XDG_DATA_HOME/teloria/ (default
~/.local/share/teloria/) and then /usr/share/teloria/, in name order.

Exit status: 0 done, 1 a file or number could not be used, 2 bad usage.
)";

// Each subcommand by its name; a new one is a line here and a function in a
// file of its own.
struct Subcommand {
    const char* name;
    int (*run)(const DataArguments&, DataContext&);
};
constexpr Subcommand kSubcommands[] = {
    {"lookup", runLookup},
    {"stats", runStats},
    {"convert", runConvert},
    {"merge", runMerge},
    {"check", runCheck},
    {"export-learned", runExportLearned},
    {"forget", runForget},
};

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
            out << "teloria-data " TELORIA_VERSION "\n";
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

    DataContext context{std::move(settings), out, err, usage};
    for (const Subcommand& sub : kSubcommands)
        if (command == sub.name)
            return sub.run(rest, context);
    return usage("unknown command '" + command + "'");
}

} // namespace teloria::cli
