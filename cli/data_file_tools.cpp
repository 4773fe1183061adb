// teloria-data convert, merge and check: the tools for data files.
#include "cli/data_rows.h"
#include "export/replacing_file.h"
#include "cli/data_subcommands.h"

#include "data/data_files.h"
#include "data/override_file.h"
#include "data/phone_dat.h"

#include <ostream>

namespace teloria::cli {

using data::PhoneDat;

namespace {

bool isTsv(const std::string& path)
{
    return data::fileKindOf(path) == data::FileKind::Overrides;
}

} // namespace

int runConvert(const DataArguments& rest, DataContext& context)
{
    if (rest.size() != 2)
        return context.usage("convert takes IN and OUT");
    const auto output = openOutput(rest[1], context.err);
    if (!output)
        return 2;
    const auto rows = data::readPrefixRows(rest[0]);
    if (!rows) {
        context.err << "teloria-data: " << rows.error().reason << '\n';
        return 1;
    }
    return writeRows(*output, rest[1], *rows, context.err) ? 0 : 1;
}

int runMerge(const DataArguments& inputs, DataContext& context)
{
    const std::string output = context.value("output");
    if (output.empty() || inputs.empty())
        return context.usage("merge takes files and -o OUT");
    const auto file = openOutput(output, context.err);
    if (!file)
        return 2;
    data::PrefixRows merged;
    for (const auto& input : inputs) {
        const auto rows = data::readPrefixRows(input);
        if (!rows) {
            context.err << "teloria-data: " << rows.error().reason << '\n';
            return 1;
        }
        merged = data::overlayRows(merged, *rows); // a later file goes over the earlier ones
    }
    return writeRows(*file, output, merged, context.err) ? 0 : 1;
}

int runCheck(const DataArguments& args, DataContext& context)
{
    if (args.size() != 1)
        return context.usage("check takes one FILE");
    const std::string& path = args[0];
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    const auto bytes = data::readDataFile(path);
    if (!bytes) {
        err << "teloria-data: " << path << ": " << bytes.error().reason << '\n';
        return 1;
    }
    std::string why;
    std::size_t offset = 0;
    std::size_t prefixes = 0;
    if (isTsv(path)) {
        const auto table = data::OverrideTable::parse(*bytes, &why);
        if (table && table->skippedLines > 0)
            why = table->skipReason;
        else if (table)
            for (const auto& line : table->lines)
                prefixes += line.prefixCount();
        if (!table || table->skippedLines > 0) {
            err << "teloria-data: " << path << ": " << why << '\n'; // "line N (byte B): ..."

            return 1;
        }
    } else {
        const auto dat = PhoneDat::parse(*bytes, &why, &offset);
        if (dat && dat->skippedRecords() > 0)
            why = dat->skipReason(), offset = dat->skipOffset();
        if (!dat || dat->skippedRecords() > 0) {
            err << "teloria-data: " << path << ": byte " << offset << ": " << why << '\n';
            return 1;
        }
        prefixes = dat->entryCount();
    }
    out << path << ": sound, " << prefixes << " prefixes\n";
    return 0;
}

} // namespace teloria::cli
