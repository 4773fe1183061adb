#include "data/data_files.h"

#include "data/learning.h"
#include "data/override_file.h"
#include "data/phone_dat.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>

namespace teloria::data {

FileKind fileKindOf(const std::string& path)
{
    return std::filesystem::path(path).extension() == ".tsv" ? FileKind::Overrides : FileKind::PhoneDat;
}

std::vector<std::string> dataFolders()
{
    std::vector<std::string> folders;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
    if (xdg && xdg[0] == '/')
        folders.push_back(std::string(xdg) + "/teloria");
    else if (home && home[0] != '\0')
        folders.push_back(std::string(home) + "/.local/share/teloria");
    folders.push_back("/usr/share/teloria");
    return folders;
}

std::vector<std::string> discoverDataFiles()
{
    std::vector<std::string> files;
    for (const std::string& folder : dataFolders()) {
        std::vector<std::string> found;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const auto& path = it->path();
            if ((path.extension() == ".dat" || path.extension() == ".tsv") && it->is_regular_file(ec))
                found.push_back(path.string());
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

LoadedStore loadStore(const DataSettings& settings)
{
    std::vector<std::string> files = settings.files;
    if (settings.discover) {
        const auto found = discoverDataFiles();
        files.insert(files.end(), found.begin(), found.end());
    }
    // A file named twice (--data and found in a folder) loads once, at its first place.
    std::set<std::string> seen;
    std::vector<std::string> unique;
    for (const std::string& f : files) {
        std::error_code ec;
        const auto canonical = std::filesystem::weakly_canonical(f, ec);
        if (seen.insert(ec ? f : canonical.string()).second)
            unique.push_back(f);
    }

    auto store = std::make_shared<PrefixStore>();
    LoadedStore result;
    result.reports.resize(unique.size());
    // Lowest priority first, so higher ones overlay: phone.dat files, then override tables, each from last to first.
    for (const FileKind kind : {FileKind::PhoneDat, FileKind::Overrides}) {
        for (std::size_t i = unique.size(); i-- > 0;) {
            const std::string& path = unique[i];
            if (fileKindOf(path) != kind)
                continue;
            LoadReport& report = result.reports[i];
            report.path = path;
            std::string why;
            const auto bytes = readDataFile(path, &why);
            if (!bytes) {
                report.reason = why;
                continue;
            }
            if (kind == FileKind::PhoneDat) {
                const auto dat = PhoneDat::parse(*bytes, &why);
                if (!dat) {
                    report.reason = "not a usable phone.dat file: " + why;
                    continue;
                }
                report.prefixes = store->addPhoneDat(*dat, path);
                if (dat->skippedRecords() > 0)
                    report.reason = "skipped " + std::to_string(dat->skippedRecords()) + " records, the first: "
                                    + dat->skipReason();
            } else {
                const auto table = OverrideTable::parse(*bytes, &why);
                if (!table) {
                    report.reason = "not a usable override table: " + why;
                    continue;
                }
                report.prefixes = store->addOverrides(*table, path);
                if (table->skippedLines > 0)
                    report.reason = "skipped " + std::to_string(table->skippedLines) + " lines, the first: "
                                    + table->skipReason;
            }
            report.loaded = true;
        }
    }
    // Warnings of the learned-answer database come later too (a failed write), so the sink owns what it needs.
    const std::string program = settings.program;
    WarningSink warn = [program](const std::string& line) {
        std::fprintf(stderr, "%s%swarning: %s\n", program.c_str(), program.empty() ? "" : ": ", line.c_str());
    };
    result.learning = Learning::start(settings.learn, *store, std::move(warn));
    if (result.learning && !result.learning->databasePath().empty()) {
        LoadReport report;
        report.path = result.learning->databasePath().string();
        report.loaded = true;
        report.prefixes = result.learning->loadedCount();
        result.reports.push_back(std::move(report));
    }
    result.store = std::move(store);
    return result;
}

std::string reportLine(const LoadReport& report)
{
    if (!report.loaded)
        return "skipped " + report.path + ": " + report.reason;
    std::string line = "loaded " + std::to_string(report.prefixes) + " prefixes from " + report.path;
    if (!report.reason.empty())
        line += " (" + report.reason + ")";
    return line;
}

} // namespace teloria::data
