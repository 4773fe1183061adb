#include "data/data_files.h"

#include "data/learning.h"
#include "data/override_file.h"
#include "data/phone_dat.h"

#include "data/segment_table.h"

#include <algorithm>
#include <chrono>
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

namespace {

// "2024-05-01" for a time in Unix seconds, in UTC.
std::string dayOf(std::int64_t unixSeconds)
{
    const std::chrono::sys_days day = std::chrono::floor<std::chrono::days>(std::chrono::sys_seconds(std::chrono::seconds(unixSeconds)));
    const std::chrono::year_month_day ymd(day);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()));
    return buf;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "YYYY-MM-DD" with a month 01-12 and a day 01-31, or "YYYY-MM".
bool isDate(std::string_view s)
{
    if ((s.size() != 10 && s.size() != 7) || s[4] != '-' || !allDigits(s.substr(0, 4)) || !allDigits(s.substr(5, 2)))
        return false;
    const int month = std::stoi(std::string(s.substr(5, 2)));
    if (month < 1 || month > 12)
        return false;
    if (s.size() == 7)
        return true;
    if (s[7] != '-' || !allDigits(s.substr(8, 2)))
        return false;
    const int day = std::stoi(std::string(s.substr(8, 2)));
    return day >= 1 && day <= 31;
}

// The "# date: YYYY-MM-DD" comment among the lines before a table's first record.
std::string tableDate(std::string_view bytes)
{
    constexpr std::string_view kTag = "# date:";
    while (!bytes.empty()) {
        const auto eol = bytes.find('\n');
        std::string_view line = bytes.substr(0, eol);
        bytes.remove_prefix(eol == std::string_view::npos ? bytes.size() : eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (!line.starts_with('#'))
            break;
        if (line.starts_with(kTag)) {
            line.remove_prefix(kTag.size());
            while (!line.empty() && line.front() == ' ')
                line.remove_prefix(1);
            while (!line.empty() && line.back() == ' ')
                line.remove_suffix(1);
            if (isDate(line))
                return std::string(line);
        }
    }
    return {};
}

std::string modificationDay(const std::string& path)
{
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);
    if (ec)
        return {};
    // The file clock's distance from now, on the system clock.
    const auto system = std::chrono::system_clock::now()
                        + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                            written - std::filesystem::file_time_type::clock::now());
    return dayOf(std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count());
}

} // namespace

std::string dataFileDate(const std::string& path, std::string_view bytes)
{
    if (fileKindOf(path) == FileKind::PhoneDat) {
        // The 4-byte version: YYMM.
        const std::string_view version = bytes.substr(0, 4);
        if (version.size() == 4 && allDigits(version)) {
            const std::string date = "20" + std::string(version.substr(0, 2)) + "-" + std::string(version.substr(2, 2));
            if (isDate(date))
                return date;
        }
        return {};
    }
    std::string date = tableDate(bytes);
    return date.empty() ? modificationDay(path) : date;
}

LoadReport builtInReport()
{
    LoadReport report;
    report.path = std::string(kBuiltInSource);
    report.loaded = true;
    report.date = SegmentTable::builtIn().date();
    report.reason = "segment table of " + (report.date.empty() ? std::string("unknown date") : report.date)
                    + ", libphonenumber " TELORIA_GEOCODER_VERSION " geocoder";
    return report;
}

std::string versionDataLine()
{
    return "data: built-in " + builtInReport().reason;
}

std::vector<std::string> dataFolders()
{
    std::vector<std::string> folders;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
    folders.push_back("/usr/share/teloria");
    if (xdg && xdg[0] == '/')
        folders.push_back(std::string(xdg) + "/teloria");
    else if (home && home[0] != '\0')
        folders.push_back(std::string(home) + "/.local/share/teloria");
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

LoadedStore loadStore(const DataSettings& settings, std::shared_ptr<Clock> clock)
{
    std::vector<std::string> files;
    if (settings.discover)
        files = discoverDataFiles();
    files.insert(files.end(), settings.files.begin(), settings.files.end());
    // A file named twice (found in a folder and given with --data) loads once, at its last place.
    std::set<std::string> seen;
    std::vector<std::string> unique;
    for (std::size_t i = files.size(); i-- > 0;) {
        std::error_code ec;
        const auto canonical = std::filesystem::weakly_canonical(files[i], ec);
        if (seen.insert(ec ? files[i] : canonical.string()).second)
            unique.push_back(files[i]);
    }
    std::reverse(unique.begin(), unique.end());

    auto store = std::make_shared<PrefixStore>();
    LoadedStore result;
    result.reports.resize(unique.size());
    // Lowest priority first, so higher ones overlay: phone.dat files, then override tables, each in load order.
    for (const FileKind kind : {FileKind::PhoneDat, FileKind::Overrides}) {
        for (std::size_t i = 0; i < unique.size(); ++i) {
            const std::string& path = unique[i];
            if (fileKindOf(path) != kind)
                continue;
            LoadReport& report = result.reports[i];
            report.path = path;
            const auto bytes = readDataFile(path);
            if (!bytes) {
                report.reason = bytes.error().reason;
                continue;
            }
            std::string why;
            report.date = dataFileDate(path, *bytes);
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
    result.learning = Learning::start(settings.learn, *store, std::move(warn), std::move(clock));
    if (result.learning && !result.learning->databasePath().empty()) {
        LoadReport report;
        report.path = result.learning->databasePath().string();
        report.loaded = true;
        report.prefixes = result.learning->loadedCount();
        if (result.learning->newestAskedAt() > 0)
            report.date = dayOf(result.learning->newestAskedAt());
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
    if (!report.date.empty())
        line += ", dated " + report.date;
    if (!report.reason.empty())
        line += " (" + report.reason + ")";
    return line;
}

} // namespace teloria::data
