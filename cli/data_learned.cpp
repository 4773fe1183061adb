// teloria-data export-learned and forget: the answers learned from an online
// lookup service.
#include "cli/data_rows.h"
#include "cli/data_subcommands.h"

#include "data/learned_store.h"
#include "data/override_file.h"
#include "data/phone_dat.h"
#include "data/place_names.h"

#include <filesystem>
#include <memory>
#include <ostream>

namespace teloria::cli {
namespace {

using data::PhoneDat;

std::filesystem::path learnedPath(const data::DataSettings& settings)
{
    return settings.learn.learnedFile.empty() ? data::LearnedStore::defaultPath() : settings.learn.learnedFile;
}

// The learned-answer database, only if it is there: looking must not make one.
std::unique_ptr<data::LearnedStore> openLearned(const data::DataSettings& settings, std::ostream& err)
{
    const std::filesystem::path path = learnedPath(settings);
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
        err << "teloria-data: no learned answers at " << (path.empty() ? std::string("(no data folder)") : path.string())
            << '\n';
        return nullptr;
    }
    return std::make_unique<data::LearnedStore>(
        path, [&err](const std::string& line) { err << "teloria-data: warning: " << line << '\n'; });
}

} // namespace

int runExportLearned(const DataArguments& args, DataContext& context)
{
    const data::DataSettings& settings = context.settings;
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    std::string output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size() && !args[i + 1].empty())
            output = args[++i];
        else
            return context.usage("export-learned takes only -o FILE");
    }
    const auto store = openLearned(settings, err);
    if (!store)
        return 1;
    Rows rows;
    for (const data::LearnedEntry& e : store->loadAll()) {
        // "广东 深圳" is province and city; "北京" or "海南" stands alone.
        const auto space = e.location.find(' ');
        PhoneDat::Row row;
        row.prefix = static_cast<std::uint32_t>(std::stoul(e.prefix));
        row.province = e.location.substr(0, space);
        row.city = space == std::string::npos ? std::string() : e.location.substr(space + 1);
        row.cardTypeCode = PhoneDat::cardTypeCode(data::canonicalCardType(e.cardType));
        rows.push_back(std::move(row));
    }
    std::string error;
    if (output.empty()) {
        const auto bytes = rowBytes("-.tsv", std::move(rows), &error);
        if (bytes)
            out << *bytes;
    } else if (writeRows(output, std::move(rows), &error)) {
        return 0;
    }
    if (!error.empty()) {
        err << "teloria-data: " << error << '\n';
        return 1;
    }
    return 0;
}

int runForget(const DataArguments& prefixes, DataContext& context)
{
    const data::DataSettings& settings = context.settings;
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    if (prefixes.empty())
        return context.usage("forget needs at least one 7-digit prefix");
    for (const std::string& p : prefixes)
        if (p.size() != 7 || p[0] != '1' || p.find_first_not_of("0123456789") != std::string::npos)
            return context.usage("'" + p + "' is not a 7-digit mobile prefix");
    const auto store = openLearned(settings, err);
    if (!store)
        return 1;
    if (!store->writable())
        return 1;
    const int removed = store->forget(prefixes);
    out << "forgot " << removed << " of " << prefixes.size() << " prefixes in " << store->path().string() << '\n';
    return 0;
}

} // namespace teloria::cli
