#include "data/segment_table.h"

#include "kSegmentTableText.h" // generated from data/segments.tsv
#include "data/text_table.h"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace teloria::data {

std::optional<SegmentTable> SegmentTable::parse(std::string_view text, std::string* error)
{
    auto fail = [error](int lineNo, const std::string& why) -> std::optional<SegmentTable> {
        if (error)
            *error = "segment table line " + std::to_string(lineNo) + ": " + why;
        return std::nullopt;
    };

    std::map<std::string, std::string> threeDigit;
    std::map<std::string, std::string> fourDigit;
    std::optional<std::pair<int, std::string>> fault;
    forEachLine(text, [&](int lineNo, std::string_view line) {
        if (fault)
            return;
        if (line.find('\t') == std::string_view::npos) {
            fault.emplace(lineNo, "no tab between prefix and operator");
            return;
        }
        const auto fields = splitTabs(line); // further columns are notes
        const std::string prefix(fields[0]);
        const std::string_view name = fields.size() > 1 ? fields[1] : std::string_view();
        if (prefix.size() < 3 || prefix.size() > 4 || prefix[0] != '1'
            || !std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            fault.emplace(lineNo, "'" + prefix + "' is not a 3- or 4-digit prefix starting with 1");
            return;
        }
        if (name.empty()) {
            fault.emplace(lineNo, "no operator name for " + prefix);
            return;
        }
        auto& into = prefix.size() == 3 ? threeDigit : fourDigit;
        if (!into.emplace(prefix, std::string(name)).second)
            fault.emplace(lineNo, "prefix " + prefix + " is given twice");
    });
    if (fault)
        return fail(fault->first, fault->second);

    SegmentTable table;
    auto nameIndex = [&table](const std::string& name) {
        const auto at = std::find(table.names_.begin(), table.names_.end(), name);
        if (at != table.names_.end())
            return static_cast<std::int16_t>(at - table.names_.begin());
        table.names_.push_back(name);
        return static_cast<std::int16_t>(table.names_.size() - 1);
    };
    for (const auto& [prefix, name] : threeDigit) {
        const int first = std::stoi(prefix) * 10;
        const auto index = nameIndex(name);
        for (int p = first; p < first + 10; ++p)
            table.byPrefix_[p] = index;
    }
    for (const auto& [prefix, name] : fourDigit)
        table.byPrefix_[std::stoi(prefix)] = nameIndex(name);
    table.lines_ = threeDigit.size() + fourDigit.size();
    return table;
}

const SegmentTable& SegmentTable::builtIn()
{
    static const SegmentTable table = [] {
        std::string error;
        auto parsed = parse(kSegmentTableText, &error);
        if (!parsed) // the data tests parse this very text, so this means a broken build
            throw std::logic_error("built-in " + error);
        return std::move(*parsed);
    }();
    return table;
}

std::string_view SegmentTable::operatorOf(std::string_view mobileDigits) const
{
    if (mobileDigits.size() < 4)
        return {};
    int prefix = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = mobileDigits[i];
        if (c < '0' || c > '9')
            return {};
        prefix = prefix * 10 + (c - '0');
    }
    const auto index = byPrefix_[prefix];
    return index < 0 ? std::string_view() : std::string_view(names_[index]);
}

} // namespace teloria::data
