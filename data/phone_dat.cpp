#include "phone_dat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unordered_map>

namespace teloria::data {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kEntrySize = 9;
constexpr std::size_t kMaxFileSize = 64u << 20; // far above any real prefix database

std::uint32_t readLe32(std::string_view bytes, std::size_t at)
{
    const auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}

bool isUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size())
            return false; // the sequence runs past the end
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

} // namespace

std::string_view PhoneDat::cardTypeName(std::uint8_t code)
{
    switch (code) {
    case 1: return "中国移动";
    case 2: return "中国联通";
    case 3: return "中国电信";
    case 4: return "中国电信虚拟运营商";
    case 5: return "中国联通虚拟运营商";
    case 6: return "中国移动虚拟运营商";
    case 7: return "中国广电";
    case 8: return "中国广电虚拟运营商";
    default: return "未知";
    }
}

std::optional<PhoneDat> PhoneDat::parse(std::string_view bytes, std::string* error)
{
    auto fail = [error](const std::string& why) -> std::optional<PhoneDat> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (bytes.size() < kHeaderSize)
        return fail("too short for the 8-byte header (" + std::to_string(bytes.size()) + " bytes)");
    const std::uint32_t indexStart = readLe32(bytes, 4);
    if (indexStart < kHeaderSize || indexStart > bytes.size())
        return fail("index offset " + std::to_string(indexStart) + " lies outside the file of "
                    + std::to_string(bytes.size()) + " bytes");
    const std::size_t indexBytes = bytes.size() - indexStart;
    if (indexBytes == 0)
        return fail("the index holds no entries");
    if (indexBytes % kEntrySize != 0)
        return fail("the index is truncated: " + std::to_string(indexBytes) + " bytes is not a whole number of "
                    + std::to_string(kEntrySize) + "-byte entries");

    PhoneDat dat;
    dat.version_.assign(bytes.substr(0, 4));
    const std::string_view recordArea = bytes.substr(0, indexStart);
    std::unordered_map<std::uint32_t, std::uint32_t> recordAt; // file offset -> index in records_
    dat.entries_.reserve(indexBytes / kEntrySize);

    for (std::size_t at = indexStart, n = 0; at < bytes.size(); at += kEntrySize, ++n) {
        const std::uint32_t prefix = readLe32(bytes, at);
        const std::uint32_t offset = readLe32(bytes, at + 4);
        const auto cardType = static_cast<std::uint8_t>(bytes[at + 8]);
        const std::string entry = "index entry " + std::to_string(n) + ": ";
        if (prefix < 1000000 || prefix > 1999999)
            return fail(entry + "prefix " + std::to_string(prefix) + " is not a 7-digit mobile prefix");
        if (!dat.entries_.empty() && prefix <= dat.entries_.back().prefix)
            return fail(entry + "prefix " + std::to_string(prefix) + " is out of ascending order");
        if (offset < kHeaderSize || offset >= indexStart)
            return fail(entry + "record offset " + std::to_string(offset) + " lies outside the record area");

        auto known = recordAt.find(offset);
        if (known == recordAt.end()) {
            const auto end = recordArea.find('\0', offset);
            if (end == std::string_view::npos)
                return fail("record at offset " + std::to_string(offset) + " has no closing NUL before the index");
            const std::string_view text = recordArea.substr(offset, end - offset);
            if (!isUtf8(text))
                return fail("record at offset " + std::to_string(offset) + " is not UTF-8 text");
            std::vector<std::string_view> fields;
            for (std::size_t from = 0;;) {
                const auto bar = text.find('|', from);
                fields.push_back(text.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from));
                if (bar == std::string_view::npos)
                    break;
                from = bar + 1;
            }
            if (fields.size() != 4)
                return fail("record at offset " + std::to_string(offset) + " has " + std::to_string(fields.size())
                            + " fields instead of province|city|postcode|area code");
            dat.records_.push_back({std::string(fields[0]), std::string(fields[1])});
            known = recordAt.emplace(offset, static_cast<std::uint32_t>(dat.records_.size() - 1)).first;
        }
        dat.entries_.push_back({prefix, known->second, cardType});
    }
    return dat;
}

std::optional<PhoneDat> PhoneDat::load(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = path + ": cannot open: " + std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > kMaxFileSize) {
            if (error)
                *error = path + ": larger than " + std::to_string(kMaxFileSize >> 20) + " MiB, not a prefix database";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        if (error)
            *error = path + ": read error";
        return std::nullopt;
    }
    std::string why;
    auto dat = parse(bytes, &why);
    if (!dat && error)
        *error = path + ": not a usable phone.dat file: " + why;
    return dat;
}

std::optional<PhoneDat::Hit> PhoneDat::find(std::uint32_t prefix7) const
{
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), prefix7,
                                     [](const Entry& e, std::uint32_t p) { return e.prefix < p; });
    if (at == entries_.end() || at->prefix != prefix7)
        return std::nullopt;
    const Record& r = records_[at->record];
    return Hit{r.province, r.city, cardTypeName(at->cardType)};
}

} // namespace teloria::data
