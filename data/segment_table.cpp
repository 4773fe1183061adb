#include "data/segment_table.h"

#include "kSegmentTableText.h" // generated from data/segments.tsv
#include "data/text_table.h"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace teloria::data {

namespace {

// "# date: 2024-05-01" among the comments at the head of a table: the day its
// facts were taken; empty when the table does not say.
std::string dateComment(std::string_view text)
{
    constexpr std::string_view kTag = "# date:";
    for (std::size_t at = 0; at < text.size();) {
        const auto eol = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, eol - at);
        at = eol + 1;
        if (!line.starts_with('#'))
            continue;
        if (line.starts_with(kTag)) {
            line.remove_prefix(kTag.size());
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
                line.remove_prefix(1);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
                line.remove_suffix(1);
            return std::string(line);
        }
    }
    return {};
}

} // namespace

std::optional<SegmentTable> SegmentTable::parse(std::string_view text, std::string* error)
{
    auto fail = [error](int lineNo, const std::string& why) -> std::optional<SegmentTable> {
        if (error)
            *error = "segment table line " + std::to_string(lineNo) + ": " + why;
        return std::nullopt;
    };

    std::map<std::string, std::string> threeDigit;
    std::map<std::string, std::string> fourDigit;
    std::map<std::string, std::string> fiveDigit; // 13-digit machine-to-machine numbers
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
        if (prefix.size() < 3 || prefix.size() > 5 || prefix[0] != '1'
            || !std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            fault.emplace(lineNo, "'" + prefix + "' is not a 3-, 4- or 5-digit prefix starting with 1");
            return;
        }
        if (name.empty()) {
            fault.emplace(lineNo, "no operator name for " + prefix);
            return;
        }
        auto& into = prefix.size() == 3 ? threeDigit : prefix.size() == 4 ? fourDigit : fiveDigit;
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
    for (const auto& [prefix, name] : fiveDigit)
        table.iot_.emplace(std::stoi(prefix), nameIndex(name));
    table.lines_ = threeDigit.size() + fourDigit.size() + fiveDigit.size();
    table.date_ = dateComment(text);
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

std::string_view SegmentTable::iotOperatorOf(std::string_view digits13) const
{
    if (digits13.size() != 13)
        return {};
    int prefix = 0;
    for (int i = 0; i < 5; ++i) {
        const char c = digits13[i];
        if (c < '0' || c > '9')
            return {};
        prefix = prefix * 10 + (c - '0');
    }
    const auto at = iot_.find(prefix);
    return at == iot_.end() ? std::string_view() : std::string_view(names_[at->second]);
}

} // namespace teloria::data
