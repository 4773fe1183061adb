// teloria-data lookup and stats: what the store answers.
#include "cli/data_rows.h"
#include "cli/data_subcommands.h"

#include "data/learning.h"
#include "data/number_normalizer.h"
#include "data/place_names.h"
#include "data/prefix_store.h"

#include <array>
#include <cstdio>
#include <map>
#include <ostream>

namespace teloria::cli {
namespace {

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

} // namespace

int runLookup(const DataArguments& args, DataContext& context)
{
    if (args.empty())
        return context.usage("lookup needs at least one number");
    const auto loaded = data::loadStore(context.settings);
    for (const auto& report : loaded.reports)
        context.err << "teloria-data: " << data::reportLine(report) << '\n';
    int status = 0;
    for (const auto& typed : args) {
        const auto number = data::cleanNumber(typed);
        if (!number) {
            context.err << "teloria-data: '" << typed << "' is not a phone number\n";
            status = 1;
            continue;
        }
        const data::Answer& a = loaded.store->lookup(*number);
        context.out << number->digits << '\t' << a.location << '\t' << a.cardType << '\t' << a.areaCode << '\t'
                    << a.zip << '\t' << a.source << '\n';
    }
    return status;
}

int runStats(const DataArguments& files, DataContext& context)
{
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    std::array<Counts, 100> bySegment{};
    if (files.empty()) {
        const auto loaded = data::loadStore(context.settings);
        for (const auto& report : loaded.reports)
            err << "teloria-data: " << data::reportLine(report) << '\n';
        // The mobile segments 130-199; every prefix there, as the programs answer it.
        std::map<std::string, long> bySource;
        for (const data::Prefix7 p : data::Prefix7::all()) {
            const data::Answer& a = loaded.store->mobile(p);
            Counts& c = bySegment[p.segment() - 100];
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
    data::PrefixRows merged;
    for (const auto& file : files) {
        const auto rows = data::readPrefixRows(file);
        if (!rows) {
            err << "teloria-data: " << rows.error().reason << '\n';
            return 1;
        }
        merged = data::overlayRows(merged, *rows);
    }
    for (const data::PrefixRow& r : merged) {
        Counts& c = bySegment[r.prefix / 10000 - 100];
        ++c.held;
        c.located += data::hasPlace(r.facts);
        c.withOperator += data::hasCardType(r.facts);
    }
    printStats(bySegment, out);
    return 0;
}

} // namespace teloria::cli
