#include "data/prefix_rows.h"

#include "data/data_files.h"
#include "data/override_file.h"
#include "data/phone_dat.h"
#include "data/place_names.h"
#include "data/prefix_store.h"

#include <map>
#include <ostream>

namespace teloria::data {

Result<PrefixRows> readPrefixRows(const std::string& path)
{
    const auto bytes = readDataFile(path);
    if (!bytes)
        return Error{bytes.error().kind, path + ": " + bytes.error().reason};
    std::string why;
    PrefixRows rows;
    if (fileKindOf(path) == FileKind::Overrides) {
        const auto table = OverrideTable::parse(*bytes, &why);
        if (!table)
            return Error{ErrorKind::BadInput, path + ": " + why};
        std::map<std::uint32_t, PrefixFacts> byPrefix; // lines come shorter prefixes first
        for (const OverrideLine& line : table->lines) {
            const PrefixFacts facts = line.facts();
            for (std::uint32_t p = line.firstPrefix(); p < line.firstPrefix() + line.prefixCount(); ++p)
                byPrefix[p] = overlayFacts(std::move(byPrefix[p]), facts);
        }
        rows.reserve(byPrefix.size());
        for (auto& [prefix, facts] : byPrefix)
            rows.push_back({prefix, std::move(facts)});
        return rows;
    }
    const auto dat = PhoneDat::parse(*bytes, &why);
    if (!dat)
        return Error{ErrorKind::BadInput, path + ": not a usable phone.dat file: " + why};
    rows.reserve(dat->entryCount());
    for (std::size_t i = 0; i < dat->entryCount(); ++i)
        rows.push_back({dat->entry(i).prefix, PrefixStore::factsOf(*dat, i)});
    return rows;
}

void PrintTo(const PrefixRow& row, std::ostream* os)
{
    const PrefixFacts& f = row.facts;
    *os << row.prefix << ' ' << f.province << '|' << f.city << '|' << f.cardType << '|' << f.areaCode << '|' << f.zip;
}

PrefixRows overlayRows(const PrefixRows& below, const PrefixRows& above)
{
    PrefixRows merged;
    merged.reserve(below.size() + above.size());
    auto b = below.begin();
    auto a = above.begin();
    while (b != below.end() || a != above.end()) {
        if (a == above.end() || (b != below.end() && b->prefix < a->prefix))
            merged.push_back(*b++);
        else if (b == below.end() || a->prefix < b->prefix)
            merged.push_back(*a++);
        else
            merged.push_back({a->prefix, overlayFacts(b++->facts, a++->facts)});
    }
    return merged;
}

Result<std::string> prefixRowBytes(const std::string& path, const PrefixRows& rows, std::vector<std::string>* lost)
{
    if (fileKindOf(path) == FileKind::Overrides) {
        std::string bytes = OverrideTable::header();
        for (const PrefixRow& r : rows) {
            const PrefixFacts& f = r.facts;
            bytes += std::to_string(r.prefix) + '\t' + f.province + '\t' + f.city + '\t'
                     + (hasCardType(f) ? canonicalCardType(f.cardType) : std::string());
            if (!isBlank(f.zip) || !isBlank(f.areaCode))
                bytes += '\t' + f.zip + '\t' + f.areaCode;
            bytes += '\n';
        }
        return bytes;
    }
    std::vector<PhoneDat::Row> datRows;
    datRows.reserve(rows.size());
    std::map<std::string, std::size_t> noByte; // card-type name -> prefixes
    for (const PrefixRow& r : rows) {
        const PrefixFacts& f = r.facts;
        std::uint8_t code = 0;
        if (hasCardType(f)) {
            const std::string name = canonicalCardType(f.cardType);
            code = PhoneDat::cardTypeCode(name);
            if (code == 0)
                ++noByte[name];
        }
        datRows.push_back({r.prefix, f.province, f.city, f.zip, f.areaCode, code});
    }
    if (lost)
        for (const auto& [name, count] : noByte)
            lost->push_back("card type " + name + " of " + std::to_string(count)
                            + " prefixes has no phone.dat byte: written as unknown");
    std::string why;
    auto bytes = PhoneDat::serialise(std::move(datRows), "2301", &why);
    if (!bytes)
        return Error{ErrorKind::BadInput, why};
    return std::move(*bytes);
}

} // namespace teloria::data
