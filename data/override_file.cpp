#include "data/override_file.h"

#include "data/outside_text.h"
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
constexpr std::size_t kMaxLineBytes = 1024;       // six bounded fields and room for a comment
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
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3); // the byte-order mark some editors write first
    forEachLine(text, [&](int lineNo, std::string_view line) {
        if (!fault.empty())
            return;
        const std::size_t offset = static_cast<std::size_t>(line.data() - begin);
        auto refuse = [&](const std::string& why) {
            fault = "line " + std::to_string(lineNo) + " (byte " + std::to_string(offset) + "): " + why;
            faultOffset = offset;
        };
        auto skip = [&](const std::string& why) {
            if (table.skippedLines++ == 0) {
                table.skipReason = "line " + std::to_string(lineNo) + " (byte " + std::to_string(offset) + ") " + why;
                table.skipOffset = offset;
            }
        };
        if (line.size() > kMaxLineBytes) {
            // Passed over without being split or copied: no sound line is this long.
            skip("is longer than " + std::to_string(kMaxLineBytes) + " bytes");
            return;
        }
        const auto fields = splitTabs(line);
        if (fields.size() != 4 && fields.size() != 6) {
            refuse(std::to_string(fields.size())
                   + " fields instead of prefix, province, city, card type (and postcode, area code)");
            return;
        }
        const std::string_view prefix = fields[0];
        if (prefix.size() < 3 || prefix.size() > 7 || prefix[0] != '1'
            || !std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            refuse("'" + std::string(prefix.substr(0, 16)) + "' is not a prefix of 3 to 7 digits starting with 1");
            return;
        }
        std::string kept[6];
        for (std::size_t i = 1; i < fields.size(); ++i) {
            std::string why;
            const std::size_t bound = i <= 2 ? kMaxPlaceBytes : i == 3 ? kMaxCardTypeBytes : kMaxCodeBytes;
            auto text = acceptOutsideText(fields[i], bound, &why);
            if (!text) {
                skip(why);
                return;
            }
            kept[i] = std::move(*text);
        }
        OverrideLine entry{std::string(prefix), std::move(kept[1]), std::move(kept[2]), std::move(kept[3]),
                           std::move(kept[4]), std::move(kept[5]), lineNo};
        table.lines.push_back(std::move(entry));
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
    return "# prefix\tprovince\tcity\tcard type\tpostcode\tarea code\n";
}

Result<std::string> readDataFile(const std::string& path)
{
    // A pipe or a device would be waited on or read for ever: only a regular file is data.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return Error{ErrorKind::Refused, std::filesystem::is_directory(status) ? "a folder, not a data file"
                                         : std::filesystem::is_fifo(status)    ? "a pipe, not a regular file"
                                                                               : "not a regular file"};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int why = errno;
        return Error{why == ENOENT ? ErrorKind::NotFound : ErrorKind::Io, std::string("cannot open: ") + std::strerror(why)};
    }
    std::string bytes;
    if (const auto size = std::filesystem::file_size(path, ec); !ec && size <= kMaxFileSize)
        bytes.reserve(static_cast<std::size_t>(size)); // a hint only: the file may change while it is read
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > kMaxFileSize)
            return Error{ErrorKind::BadInput, "larger than " + std::to_string(kMaxFileSize >> 20) + " MiB, not a prefix database"};
    }
    if (in.bad())
        return Error{ErrorKind::Io, "read error"};
    return bytes;
}

} // namespace teloria::data
