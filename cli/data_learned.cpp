// teloria-data export-learned and forget: the answers learned from an online
// lookup service.
#include "cli/data_rows.h"
#include "export/replacing_file.h"
#include "cli/data_subcommands.h"

#include "data/learned_store.h"
#include "data/prefix7.h"
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

// The learned-answer database, only if it is there: looking must not make
// one, nor change the one there. Nothing when there is none or it is not ours
// (said on err).
std::unique_ptr<data::LearnedStore> openLearned(const data::DataSettings& settings, data::LearnedAccess access,
                                                std::ostream& err)
{
    const std::filesystem::path path = learnedPath(settings);
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) {
        err << "teloria-data: no learned answers at " << (path.empty() ? std::string("(no data folder)") : path.string())
            << '\n';
        return nullptr;
    }
    auto store = std::make_unique<data::LearnedStore>(
        path, [&err](const std::string& line) { err << "teloria-data: warning: " << line << '\n'; },
        data::LearnedStore::Options{access});
    if (!store->refusal().empty())
        return nullptr;
    return store;
}

} // namespace

int runExportLearned(const DataArguments& args, DataContext& context)
{
    const data::DataSettings& settings = context.settings;
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    if (!args.empty())
        return context.usage("export-learned takes only -o FILE");
    const std::string output = context.value("output");
    std::unique_ptr<ReplacingFile> file;
    if (!output.empty() && !(file = openOutput(output, err)))
        return 2;
    const auto store = openLearned(settings, data::LearnedAccess::ReadOnly, err);
    if (!store)
        return 1;
    data::PrefixRows rows;
    for (const data::LearnedEntry& e : store->loadAll()) {
        // "广东 深圳" is province and city; "北京" or "海南" stands alone.
        const auto prefix = data::Prefix7::fromText(e.prefix); // loadAll() passes over any other row
        if (!prefix)
            continue;
        const auto space = e.location.find(' ');
        data::PrefixRow row;
        row.prefix = prefix->value();
        row.facts.province = e.location.substr(0, space);
        row.facts.city = space == std::string::npos ? std::string() : e.location.substr(space + 1);
        row.facts.cardType = e.cardType;
        rows.push_back(std::move(row));
    }
    if (!output.empty())
        return writeRows(*file, output, rows, err) ? 0 : 1;
    const auto bytes = data::prefixRowBytes("-.tsv", rows, nullptr);
    if (!bytes) {
        err << "teloria-data: " << bytes.error().reason << '\n';
        return 1;
    }
    out << *bytes;
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
        if (!data::Prefix7::fromText(p))
            return context.usage("'" + p + "' is not a 7-digit mobile prefix");
    const auto store = openLearned(settings, data::LearnedAccess::ReadWrite, err);
    if (!store)
        return 1;
    const auto removed = store->forget(prefixes);
    if (!removed) {
        err << "teloria-data: forgetting in " << store->path().string() << " failed: " << removed.error().reason << '\n';
        return 1;
    }
    out << "forgot " << *removed << " of " << prefixes.size() << " prefixes in " << store->path().string() << '\n';
    return 0;
}

} // namespace teloria::cli
