// teloria-data info: what the programs load and how old each source is.
#include "cli/data_subcommands.h"

#include "data/learning.h"

#include <ostream>

namespace teloria::cli {

namespace {

std::string kindOf(const data::LoadReport& report, bool learned)
{
    if (report.path == data::kBuiltInSource)
        return "built-in";
    if (learned)
        return "learned answers";
    return data::fileKindOf(report.path) == data::FileKind::Overrides ? "override table" : "phone.dat";
}

} // namespace

int runInfo(const DataArguments& args, DataContext& context)
{
    const data::DataSettings& settings = context.settings;
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    const auto& usage = context.usage;
    if (!args.empty())
        return usage("info takes no arguments");
    const auto loaded = data::loadStore(settings);
    const bool hasLearned = loaded.learning && !loaded.learning->databasePath().empty();
    // Lowest priority first: a later line wins over an earlier one of its kind.
    out << "source\tkind\tprefixes\tdate\tnote\n";
    const data::LoadReport builtIn = data::builtInReport();
    out << builtIn.path << "\tbuilt-in\t-\t" << (builtIn.date.empty() ? "-" : builtIn.date) << '\t' << builtIn.reason
        << '\n';
    int status = 0;
    for (std::size_t i = 0; i < loaded.reports.size(); ++i) {
        const auto& r = loaded.reports[i];
        const bool learned = hasLearned && i + 1 == loaded.reports.size();
        out << r.path << '\t' << kindOf(r, learned) << '\t';
        if (r.loaded)
            out << r.prefixes;
        else
            out << "refused";
        out << '\t' << (r.date.empty() ? "-" : r.date) << '\t' << r.reason << '\n';
        status = r.loaded ? status : 1;
    }
    if (!hasLearned)
        out << "(no learned answers)\n";
    if (status != 0)
        err << "teloria-data: some files could not be used\n";
    return status;
}

} // namespace teloria::cli
