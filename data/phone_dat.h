#pragma once
// A prefix database in the "phone.dat" layout:
//   offset 0: 4-byte version
//   offset 4: 4-byte little-endian offset of the first index entry
//   offset 8: records "province|city|postcode|area code", each ended by NUL
//   index:    9-byte entries up to the end of the file: 4-byte little-endian
//             7-digit prefix, 4-byte little-endian record offset, 1-byte card type
// Every offset is checked against the file before it is read; a file that
// breaks the layout is refused as a whole. A record whose text could carry
// markup or a field marker into a page ('<', "卡类型", a line break...) is
// skipped with its index entries, and the first such reason is kept.

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace teloria::data {


class PhoneDat {
public:
    struct Hit {
        std::string_view province;
        std::string_view city;
        std::string_view cardType; // "未知" for a card-type byte outside 1..8
        std::string_view zip;
        std::string_view areaCode;
        std::uint8_t cardTypeCode = 0;
        std::uint32_t prefix = 0;
    };

    // One entry to write: the record's four fields and the card-type byte.
    struct Row {
        std::uint32_t prefix = 0;
        std::string province;
        std::string city;
        std::string zip;
        std::string areaCode;
        std::uint8_t cardTypeCode = 0;
    };
    // The bytes of a file holding rows (any order; a prefix given twice keeps
    // its last row). Records are shared between entries that have the same
    // four fields. Every text must pass isSafeText, or nothing and *error.
    static std::optional<std::string> serialise(std::vector<Row> rows, std::string_view version = "2301",
                                                std::string* error = nullptr);

    // Nothing and the reason in *error when the bytes break the layout, and
    // the byte offset of the fault in *errorOffset.
    static std::optional<PhoneDat> parse(std::string_view bytes, std::string* error = nullptr,
                                         std::size_t* errorOffset = nullptr);
    // Reads and parses a file; the reason names the file (BadInput: the
    // bytes break the layout; otherwise readDataFile's kind).
    static Result<PhoneDat> load(const std::string& path);

    // The entry of a 7-digit prefix (1300000 for 130 0000), if the file has it.
    std::optional<Hit> find(std::uint32_t prefix7) const;

    // The i-th entry, in ascending prefix order.
    Hit entry(std::size_t i) const;

    static std::string_view cardTypeName(std::uint8_t code);
    // The byte for a card-type name; 0 for a name outside codes 1..8.
    static std::uint8_t cardTypeCode(std::string_view name);

    // Records skipped because their text was unsafe, the reason for the
    // first and its byte offset.
    std::size_t skippedRecords() const { return skipped_; }
    const std::string& skipReason() const { return skipReason_; }
    std::size_t skipOffset() const { return skipOffset_; }

    std::size_t entryCount() const { return entries_.size(); }
    std::string_view version() const { return version_; }

private:
    struct Record {
        std::string province;
        std::string city;
        std::string zip;
        std::string areaCode;
    };
    struct Entry {
        std::uint32_t prefix;
        std::uint32_t record; // index in records_
        std::uint8_t cardType;
    };
    std::string version_;
    static std::optional<Record> readRecord(const std::vector<std::string_view>& fields, std::string* why);

    std::vector<Record> records_;
    std::vector<Entry> entries_; // ascending by prefix
    std::size_t skipped_ = 0;
    std::string skipReason_;
    std::size_t skipOffset_ = 0;
};

} // namespace teloria::data
