#include "data/override_file.h"

#include "data/place_names.h"
#include "data/text_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_map>

namespace teloria::data {
namespace {
constexpr std::size_t kMaxFileSize = 64u << 20; // far above any real prefix database
}

std::uint32_t OverrideLine::firstPrefix() const
{
    std::uint32_t p = static_cast<std::uint32_t>(std::stoul(prefix));
    for (std::size_t i = prefix.size(); i < 7; ++i)
        p *= 10;
    return p;
}

std::uint32_t OverrideLine::prefixCount() const
{
    std::uint32_t n = 1;
    for (std::size_t i = prefix.size(); i < 7; ++i)
        n *= 10;
    return n;
}

std::optional<OverrideTable> OverrideTable::parse(std::string_view text, std::string* error, std::size_t* errorOffset)
{
    OverrideTable table;
    std::string fault;
    std::size_t faultOffset = 0;
    const char* const begin = text.data();
    forEachLine(text, [&](int lineNo, std::string_view line) {
        if (!fault.empty())
            return;
        const std::size_t offset = static_cast<std::size_t>(line.data() - begin);
        auto refuse = [&](const std::string& why) {
            fault = "line " + std::to_string(lineNo) + " (byte " + std::to_string(offset) + "): " + why;
            faultOffset = offset;
        };
        const auto fields = splitTabs(line);
        if (fields.size() != 4) {
            refuse(std::to_string(fields.size()) + " fields instead of prefix, province, city, card type");
            return;
        }
        const std::string_view prefix = fields[0];
        if (prefix.size() < 3 || prefix.size() > 7 || prefix[0] != '1'
            || !std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            refuse("'" + std::string(prefix.substr(0, 16)) + "' is not a prefix of 3 to 7 digits starting with 1");
            return;
        }
        for (std::size_t i = 1; i < 4; ++i) {
            std::string why;
            if (!isSafeText(fields[i], &why)) {
                if (table.skippedLines++ == 0) {
                    table.skipReason = "line " + std::to_string(lineNo) + " (byte " + std::to_string(offset) + ") " + why;
                    table.skipOffset = offset;
                }
                return;
            }
        }
        table.lines.push_back({std::string(prefix), std::string(fields[1]), std::string(fields[2]),
                               std::string(fields[3]), lineNo});
    });
    if (!fault.empty()) {
        if (error)
            *error = fault;
        if (errorOffset)
            *errorOffset = faultOffset;
        return std::nullopt;
    }
    // A prefix given twice keeps its last line, so no file makes the store
    // write one prefix more than once per prefix length (a bounded cost).
    std::unordered_map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < table.lines.size(); ++i)
        last[table.lines[i].prefix] = i;
    std::vector<OverrideLine> kept;
    kept.reserve(last.size());
    for (std::size_t i = 0; i < table.lines.size(); ++i)
        if (last[table.lines[i].prefix] == i)
            kept.push_back(std::move(table.lines[i]));
    table.lines = std::move(kept);
    std::stable_sort(table.lines.begin(), table.lines.end(),
                     [](const OverrideLine& a, const OverrideLine& b) { return a.prefix.size() < b.prefix.size(); });
    return table;
}

std::string OverrideTable::header()
{
    return "# prefix\tprovince\tcity\tcard type\n";
}

std::optional<std::string> readDataFile(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = std::string("cannot open: ") + std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    std::error_code ec;
    if (const auto size = std::filesystem::file_size(path, ec); !ec && size <= kMaxFileSize)
        bytes.reserve(static_cast<std::size_t>(size)); // a hint only: the file may change while it is read
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > kMaxFileSize) {
            if (error)
                *error = "larger than " + std::to_string(kMaxFileSize >> 20) + " MiB, not a prefix database";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        if (error)
            *error = "read error";
        return std::nullopt;
    }
    return bytes;
}

} // namespace teloria::data
