#include "data/phone_dat.h"

#include "data/outside_text.h"
#include "data/override_file.h"
#include "data/place_names.h"

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

std::uint32_t readLe32(std::string_view bytes, std::size_t at)
{
    const auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}

void putLe32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

constexpr std::uint32_t kUnsafe = 0xFFFFFFFF; // a record skipped for its text
// Four bounded fields and their three bars.
constexpr std::size_t kMaxRecordBytes = 2 * kMaxPlaceBytes + 2 * kMaxCodeBytes + 3;

} // namespace

// The four fields of a record, checked and in normal form; nothing and *why
// when one cannot be kept.
std::optional<PhoneDat::Record> PhoneDat::readRecord(const std::vector<std::string_view>& fields, std::string* why)
{
    auto province = acceptOutsideText(fields[0], kMaxPlaceBytes, why);
    auto city = province ? acceptOutsideText(fields[1], kMaxPlaceBytes, why) : std::nullopt;
    auto zip = city ? acceptOutsideText(fields[2], kMaxCodeBytes, why) : std::nullopt;
    auto areaCode = zip ? acceptOutsideText(fields[3], kMaxCodeBytes, why) : std::nullopt;
    if (!areaCode)
        return std::nullopt;
    return Record{std::move(*province), std::move(*city), std::move(*zip), std::move(*areaCode)};
}

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

std::uint8_t PhoneDat::cardTypeCode(std::string_view name)
{
    for (std::uint8_t code = 1; code <= 8; ++code)
        if (cardTypeName(code) == name)
            return code;
    return 0;
}

std::optional<PhoneDat> PhoneDat::parse(std::string_view bytes, std::string* error, std::size_t* errorOffset)
{
    std::size_t faultAt = 0; // the byte offset of the fault, set before each fail()
    auto fail = [error, errorOffset, &faultAt](const std::string& why) -> std::optional<PhoneDat> {
        if (error)
            *error = why;
        if (errorOffset)
            *errorOffset = faultAt;
        return std::nullopt;
    };
    if (bytes.size() < kHeaderSize)
        return fail("too short for the 8-byte header (" + std::to_string(bytes.size()) + " bytes)");
    faultAt = 4;
    const std::uint32_t indexStart = readLe32(bytes, 4);
    if (indexStart < kHeaderSize || indexStart > bytes.size())
        return fail("index offset " + std::to_string(indexStart) + " lies outside the file of "
                    + std::to_string(bytes.size()) + " bytes");
    const std::size_t indexBytes = bytes.size() - indexStart;
    faultAt = bytes.size() - indexBytes % kEntrySize;
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
        const auto entry = [n] { return "index entry " + std::to_string(n) + ": "; };
        faultAt = at;
        if (prefix < 1000000 || prefix > 1999999)
            return fail(entry() + "prefix " + std::to_string(prefix) + " is not a 7-digit mobile prefix");
        if (!dat.entries_.empty() && prefix <= dat.entries_.back().prefix)
            return fail(entry() + "prefix " + std::to_string(prefix) + " is out of ascending order");
        if (offset < kHeaderSize || offset >= indexStart)
            return fail(entry() + "record offset " + std::to_string(offset) + " lies outside the record area");

        // Each record is read once, however many entries point into it, and
        // no further than the longest record there can be.
        auto known = recordAt.find(offset);
        if (known == recordAt.end()) {
            faultAt = offset;
            const std::string_view window = recordArea.substr(offset, kMaxRecordBytes + 1);
            const auto end = window.find('\0');
            if (end == std::string_view::npos && offset + window.size() >= indexStart)
                return fail("record at offset " + std::to_string(offset) + " has no closing NUL before the index");
            std::string why;
            std::optional<Record> record;
            if (end == std::string_view::npos) {
                why = "is longer than " + std::to_string(kMaxRecordBytes) + " bytes";
            } else {
                const std::string_view text = window.substr(0, end);
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
                record = readRecord(fields, &why);
            }
            if (!record) {
                if (dat.skipped_++ == 0) {
                    dat.skipReason_ = "record at offset " + std::to_string(offset) + " " + why;
                    dat.skipOffset_ = offset;
                }
                known = recordAt.emplace(offset, kUnsafe).first;
            } else {
                dat.records_.push_back(std::move(*record));
                known = recordAt.emplace(offset, static_cast<std::uint32_t>(dat.records_.size() - 1)).first;
            }
        }
        if (known->second != kUnsafe)
            dat.entries_.push_back({prefix, known->second, cardType});
    }
    return dat;
}

Result<PhoneDat> PhoneDat::load(const std::string& path)
{
    const auto bytes = readDataFile(path);
    if (!bytes)
        return Error{bytes.error().kind, path + ": " + bytes.error().reason};
    std::string why;
    auto dat = parse(*bytes, &why);
    if (!dat)
        return Error{ErrorKind::BadInput, path + ": not a usable phone.dat file: " + why};
    return std::move(*dat);
}

std::optional<PhoneDat::Hit> PhoneDat::find(std::uint32_t prefix7) const
{
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), prefix7,
                                     [](const Entry& e, std::uint32_t p) { return e.prefix < p; });
    if (at == entries_.end() || at->prefix != prefix7)
        return std::nullopt;
    return entry(static_cast<std::size_t>(at - entries_.begin()));
}

PhoneDat::Hit PhoneDat::entry(std::size_t i) const
{
    const Entry& e = entries_[i];
    const Record& r = records_[e.record];
    return Hit{r.province, r.city, cardTypeName(e.cardType), r.zip, r.areaCode, e.cardType, e.prefix};
}

std::optional<std::string> PhoneDat::serialise(std::vector<Row> rows, std::string_view version, std::string* error)
{
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.prefix < b.prefix; });
    std::string records;
    std::string index;
    std::unordered_map<std::string, std::uint32_t> recordAt;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        if (i + 1 < rows.size() && rows[i + 1].prefix == row.prefix)
            continue; // the last row of a prefix wins
        if (row.prefix < 1000000 || row.prefix > 1999999) {
            if (error)
                *error = "prefix " + std::to_string(row.prefix) + " is not a 7-digit mobile prefix";
            return std::nullopt;
        }
        std::string text = row.province + '|' + row.city + '|' + row.zip + '|' + row.areaCode;
        for (const std::string* field : {&row.province, &row.city, &row.zip, &row.areaCode}) {
            std::string why;
            if (!isSafeText(*field, &why)) {
                if (error)
                    *error = "prefix " + std::to_string(row.prefix) + ": '" + *field + "' " + why;
                return std::nullopt;
            }
        }
        auto [at, added] = recordAt.emplace(std::move(text), static_cast<std::uint32_t>(kHeaderSize + records.size()));
        if (added) {
            records += at->first;
            records.push_back('\0');
        }
        putLe32(index, row.prefix);
        putLe32(index, at->second);
        index.push_back(static_cast<char>(row.cardTypeCode));
    }
    if (index.empty()) {
        if (error)
            *error = "no prefixes to write";
        return std::nullopt;
    }
    std::string out(version.substr(0, 4));
    out.resize(4, ' ');
    putLe32(out, static_cast<std::uint32_t>(kHeaderSize + records.size()));
    return out + records + index;
}

} // namespace teloria::data
