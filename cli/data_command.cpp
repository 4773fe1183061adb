#include "data_command.h"
#include "data_subcommands.h"

#include "data/data_files.h"
#include "data/learned_store.h"
#include "data/learning.h"
#include "data/number_normalizer.h"
#include "data/override_file.h"
#include "data/phone_dat.h"
#include "data/place_names.h"
#include "data/prefix_store.h"

#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <map>
#include <optional>
#include <ostream>

#include "teloria/version.h"

namespace teloria::cli {
namespace {

using data::PhoneDat;

constexpr char kUsage[] = R"(Usage: teloria-data [--data FILE]... COMMAND [ARGUMENTS]

Looks after the location data that teloria, teloria-batch and teloria-lookupd
load: phone.dat files (*.dat) and override tables (*.tsv:
prefix<TAB>province<TAB>city<TAB>card type).

Commands:
  lookup NUMBER...         the answer for each number and the source that gave it
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

The programs load every *.dat and *.tsv in /usr/share/teloria/ and then in
$XDG_DATA_HOME/teloria/ (default ~/.local/share/teloria/), each folder in name
order, then each --data FILE in the order given: a later file wins over an
earlier one (override tables over learned answers over phone.dat files).

Exit status: 0 done, 1 a file or number could not be used, 2 bad usage.
)";

using Rows = std::vector<PhoneDat::Row>;

bool isTsv(const std::string& path)
{
    return data::fileKindOf(path) == data::FileKind::Overrides;
}

// Any data file as 7-digit rows, in ascending prefix order for a phone.dat,
// file order (shorter prefixes first) for a table.
std::optional<Rows> readRows(const std::string& path, std::string* error)
{
    std::string why;
    const auto bytes = data::readDataFile(path, &why);
    if (!bytes) {
        *error = path + ": " + why;
        return std::nullopt;
    }
    Rows rows;
    if (isTsv(path)) {
        const auto table = data::OverrideTable::parse(*bytes, &why);
        if (!table) {
            *error = path + ": " + why;
            return std::nullopt;
        }
        // The line that holds each 7-digit prefix: longer prefixes come later and win.
        std::vector<std::int32_t> lineOf(data::PrefixStore::kPrefixCount, -1);
        for (std::size_t i = 0; i < table->lines.size(); ++i) {
            const std::uint32_t first = table->lines[i].firstPrefix() - data::PrefixStore::kFirstPrefix;
            std::fill_n(lineOf.begin() + first, table->lines[i].prefixCount(), static_cast<std::int32_t>(i));
        }
        for (std::uint32_t p = 0; p < lineOf.size(); ++p) {
            if (lineOf[p] < 0)
                continue;
            const auto& line = table->lines[static_cast<std::size_t>(lineOf[p])];
            rows.push_back({p + data::PrefixStore::kFirstPrefix, line.province, line.city, {}, {},
                            PhoneDat::cardTypeCode(data::canonicalCardType(line.cardType))});
        }
        return rows;
    }
    const auto dat = PhoneDat::parse(*bytes, &why);
    if (!dat) {
        *error = path + ": not a usable phone.dat file: " + why;
        return std::nullopt;
    }
    for (std::size_t i = 0; i < dat->entryCount(); ++i) {
        const auto h = dat->entry(i);
        rows.push_back({h.prefix, std::string(h.province), std::string(h.city), std::string(h.zip),
                        std::string(h.areaCode), h.cardTypeCode});
    }
    return rows;
}

// The bytes of a file of path's kind.
std::optional<std::string> rowBytes(const std::string& path, Rows rows, std::string* error)
{
    std::string bytes;
    if (isTsv(path)) {
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.prefix < b.prefix; });
        bytes = data::OverrideTable::header();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (i + 1 < rows.size() && rows[i + 1].prefix == rows[i].prefix)
                continue; // the last row of a prefix wins
            const auto& r = rows[i];
            const std::uint8_t code = r.cardTypeCode;
            bytes += std::to_string(r.prefix) + '\t' + r.province + '\t' + r.city + '\t'
                     + (code >= 1 && code <= 8 ? std::string(PhoneDat::cardTypeName(code)) : std::string()) + '\n';
        }
    } else {
        auto serialised = PhoneDat::serialise(std::move(rows), "2301", error);
        if (!serialised)
            return std::nullopt;
        bytes = std::move(*serialised);
    }
    return bytes;
}

// Written to a temporary file and renamed over path, so a reader never sees half a file.
bool writeRows(const std::string& path, Rows rows, std::string* error)
{
    const std::optional<std::string> bytes = rowBytes(path, std::move(rows), error);
    if (!bytes)
        return false;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes->data(), static_cast<qint64>(bytes->size())) < 0
        || !file.commit()) {
        *error = path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

struct Counts {
    long held = 0, located = 0, withOperator = 0;
};

void printStats(const std::array<Counts, 100>& bySegment, std::ostream& out)
{
    out << "segment\tprefixes\twith location\twith operator\n";
    Counts total;
    for (int s = 0; s < 100; ++s) {
        const Counts& c = bySegment[s];
        if (c.held == 0)
            continue;
        out << 100 + s << '\t' << c.held << '\t' << c.located << '\t' << c.withOperator << '\n';
        total.held += c.held;
        total.located += c.located;
        total.withOperator += c.withOperator;
    }
    auto pct = [&total](long n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f%%", total.held ? 100.0 * n / total.held : 0.0);
        return std::string(buf);
    };
    out << "total\t" << total.held << '\t' << total.located << " (" << pct(total.located) << ")\t"
        << total.withOperator << " (" << pct(total.withOperator) << ")\n";
}

int stats(const std::vector<std::string>& files, const data::DataSettings& settings, std::ostream& out,
          std::ostream& err)
{
    std::array<Counts, 100> bySegment{};
    if (files.empty()) {
        const auto loaded = data::loadStore(settings);
        for (const auto& report : loaded.reports)
            err << "teloria-data: " << data::reportLine(report) << '\n';
        // The mobile segments 130-199; every prefix there, as the programs answer it.
        std::map<std::string, long> bySource;
        for (std::uint32_t p = 1300000; p < 2000000; ++p) {
            const data::Answer& a = loaded.store->mobile(p);
            Counts& c = bySegment[p / 10000 - 100];
            c.held += a.hasLocation() || a.hasCardType();
            c.located += a.hasLocation();
            c.withOperator += a.hasCardType();
            if (a.hasLocation() || a.hasCardType())
                ++bySource[a.source];
        }
        printStats(bySegment, out);
        // Each source on a line of its own, with its date; the learned answers are one.
        std::map<std::string, std::string> dateOf{{std::string(data::kBuiltInSource), data::builtInReport().date}};
        for (const auto& report : loaded.reports)
            dateOf[report.path] = report.date;
        if (loaded.learning && !loaded.learning->databasePath().empty() && !loaded.reports.empty())
            dateOf[std::string(data::kLearnedSource)] = loaded.reports.back().date;
        out << "\nsource\tprefixes\tdate\n";
        for (const auto& [source, count] : bySource) {
            const std::string& date = dateOf[source];
            out << source << '\t' << count << '\t' << (date.empty() ? "-" : date) << '\n';
        }
        return 0;
    }
    std::map<std::uint32_t, PhoneDat::Row> merged;
    for (const auto& file : files) {
        std::string error;
        const auto rows = readRows(file, &error);
        if (!rows) {
            err << "teloria-data: " << error << '\n';
            return 1;
        }
        for (const auto& r : *rows)
            merged[r.prefix] = r;
    }
    for (const auto& [prefix, r] : merged) {
        Counts& c = bySegment[prefix / 10000 - 100];
        ++c.held;
        c.located += !data::placeFromFields(r.province, r.city).text().empty();
        c.withOperator += r.cardTypeCode >= 1 && r.cardTypeCode <= 8;
    }
    printStats(bySegment, out);
    return 0;
}

int check(const std::string& path, std::ostream& out, std::ostream& err)
{
    std::string why;
    const auto bytes = data::readDataFile(path, &why);
    if (!bytes) {
        err << "teloria-data: " << path << ": " << why << '\n';
        return 1;
    }
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

int exportLearned(const std::vector<std::string>& args, const data::DataSettings& settings, std::ostream& out,
                  std::ostream& err, const std::function<int(const std::string&)>& usage)
{
    std::string output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size() && !args[i + 1].empty())
            output = args[++i];
        else
            return usage("export-learned takes only -o FILE");
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

int forget(const std::vector<std::string>& prefixes, const data::DataSettings& settings, std::ostream& out,
           std::ostream& err, const std::function<int(const std::string&)>& usage)
{
    if (prefixes.empty())
        return usage("forget needs at least one 7-digit prefix");
    for (const std::string& p : prefixes)
        if (p.size() != 7 || p[0] != '1' || p.find_first_not_of("0123456789") != std::string::npos)
            return usage("'" + p + "' is not a 7-digit mobile prefix");
    const auto store = openLearned(settings, err);
    if (!store)
        return 1;
    if (!store->writable())
        return 1;
    const int removed = store->forget(prefixes);
    out << "forgot " << removed << " of " << prefixes.size() << " prefixes in " << store->path().string() << '\n';
    return 0;
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

    if (command == "lookup") {
        if (rest.empty())
            return usage("lookup needs at least one number");
        const auto loaded = data::loadStore(settings);
        for (const auto& report : loaded.reports)
            err << "teloria-data: " << data::reportLine(report) << '\n';
        int status = 0;
        for (const auto& typed : rest) {
            const auto number = data::cleanNumber(typed);
            if (!number) {
                err << "teloria-data: '" << typed << "' is not a phone number\n";
                status = 1;
                continue;
            }
            const data::Answer& a = loaded.store->lookup(*number);
            out << number->digits << '\t' << a.location << '\t' << a.cardType << '\t' << a.source << '\n';
        }
        return status;
    }
    if (command == "stats")
        return stats(rest, settings, out, err);
    if (command == "info")
        return dataInfo(rest, settings, out, err, usage);
    if (command == "update")
        return dataUpdate(rest, settings, out, err, usage);
    if (command == "learn")
        return dataLearn(rest, settings, out, err, usage);
    if (command == "convert") {
        if (rest.size() != 2)
            return usage("convert takes IN and OUT");
        std::string error;
        auto rows = readRows(rest[0], &error);
        if (!rows || !writeRows(rest[1], std::move(*rows), &error)) {
            err << "teloria-data: " << error << '\n';
            return 1;
        }
        return 0;
    }
    if (command == "merge") {
        std::string output;
        std::vector<std::string> inputs;
        for (std::size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == "-o" || rest[i] == "--output") {
                if (i + 1 >= rest.size())
                    return usage("-o needs a file name");
                output = rest[++i];
            } else {
                inputs.push_back(rest[i]);
            }
        }
        if (output.empty() || inputs.empty())
            return usage("merge takes files and -o OUT");
        Rows all;
        for (const auto& input : inputs) {
            std::string error;
            const auto rows = readRows(input, &error);
            if (!rows) {
                err << "teloria-data: " << error << '\n';
                return 1;
            }
            all.insert(all.end(), rows->begin(), rows->end()); // a later file's row of a prefix comes last and wins
        }
        std::string error;
        if (!writeRows(output, std::move(all), &error)) {
            err << "teloria-data: " << error << '\n';
            return 1;
        }
        return 0;
    }
    if (command == "export-learned")
        return exportLearned(rest, settings, out, err, usage);
    if (command == "forget")
        return forget(rest, settings, out, err, usage);
    if (command == "check") {
        if (rest.size() != 1)
            return usage("check takes one FILE");
        return check(rest[0], out, err);
    }
    return usage("unknown command '" + command + "'");
}

} // namespace teloria::cli
