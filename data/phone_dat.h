#pragma once
// A prefix database in the "phone.dat" layout:
//   offset 0: 4-byte version
//   offset 4: 4-byte little-endian offset of the first index entry
//   offset 8: records "province|city|postcode|area code", each ended by NUL
//   index:    9-byte entries up to the end of the file: 4-byte little-endian
//             7-digit prefix, 4-byte little-endian record offset, 1-byte card type
// Every offset is checked against the file before it is read; a file that
// breaks the layout is refused as a whole.

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
    };

    // Nothing and the reason in *error when the bytes break the layout.
    static std::optional<PhoneDat> parse(std::string_view bytes, std::string* error = nullptr);
    // Reads and parses a file; the reason names the file.
    static std::optional<PhoneDat> load(const std::string& path, std::string* error = nullptr);

    // The entry of a 7-digit prefix (1300000 for 130 0000), if the file has it.
    std::optional<Hit> find(std::uint32_t prefix7) const;

    static std::string_view cardTypeName(std::uint8_t code);

    std::size_t entryCount() const { return entries_.size(); }
    std::string_view version() const { return version_; }

private:
    struct Record {
        std::string province;
        std::string city;
    };
    struct Entry {
        std::uint32_t prefix;
        std::uint32_t record; // index in records_
        std::uint8_t cardType;
    };
    std::string version_;
    std::vector<Record> records_;
    std::vector<Entry> entries_; // ascending by prefix
};

} // namespace teloria::data
