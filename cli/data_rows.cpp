#include "cli/data_rows.h"

#include "data/data_files.h"
#include "data/override_file.h"
#include "data/place_names.h"
#include "data/prefix_store.h"

#include <QSaveFile>
#include <QString>

#include <algorithm>

namespace teloria::cli {

using data::PhoneDat;

bool isTsv(const std::string& path)
{
    return data::fileKindOf(path) == data::FileKind::Overrides;
}

std::optional<Rows> readRows(const std::string& path, std::string* error)
{
    std::string why;
    const auto bytes = data::readDataFile(path, &why);
    if (!bytes) {
        *error = path + ": " + why;
        return std::nullopt;
    }
    Rows rows;
    if (isTsv(path)) {
        const auto table = data::OverrideTable::parse(*bytes, &why);
        if (!table) {
            *error = path + ": " + why;
            return std::nullopt;
        }
        // The line that holds each 7-digit prefix: longer prefixes come later and win.
        std::vector<std::int32_t> lineOf(data::PrefixStore::kPrefixCount, -1);
        for (std::size_t i = 0; i < table->lines.size(); ++i) {
            const std::uint32_t first = table->lines[i].firstPrefix() - data::PrefixStore::kFirstPrefix;
            std::fill_n(lineOf.begin() + first, table->lines[i].prefixCount(), static_cast<std::int32_t>(i));
        }
        for (std::uint32_t p = 0; p < lineOf.size(); ++p) {
            if (lineOf[p] < 0)
                continue;
            const auto& line = table->lines[static_cast<std::size_t>(lineOf[p])];
            rows.push_back({p + data::PrefixStore::kFirstPrefix, line.province, line.city, {}, {},
                            PhoneDat::cardTypeCode(data::canonicalCardType(line.cardType))});
        }
        return rows;
    }
    const auto dat = PhoneDat::parse(*bytes, &why);
    if (!dat) {
        *error = path + ": not a usable phone.dat file: " + why;
        return std::nullopt;
    }
    for (std::size_t i = 0; i < dat->entryCount(); ++i) {
        const auto h = dat->entry(i);
        rows.push_back({h.prefix, std::string(h.province), std::string(h.city), std::string(h.zip),
                        std::string(h.areaCode), h.cardTypeCode});
    }
    return rows;
}

std::optional<std::string> rowBytes(const std::string& path, Rows rows, std::string* error)
{
    std::string bytes;
    if (isTsv(path)) {
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.prefix < b.prefix; });
        bytes = data::OverrideTable::header();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (i + 1 < rows.size() && rows[i + 1].prefix == rows[i].prefix)
                continue; // the last row of a prefix wins
            const auto& r = rows[i];
            const std::uint8_t code = r.cardTypeCode;
            bytes += std::to_string(r.prefix) + '\t' + r.province + '\t' + r.city + '\t'
                     + (code >= 1 && code <= 8 ? std::string(PhoneDat::cardTypeName(code)) : std::string()) + '\n';
        }
    } else {
        auto serialised = PhoneDat::serialise(std::move(rows), "2301", error);
        if (!serialised)
            return std::nullopt;
        bytes = std::move(*serialised);
    }
    return bytes;
}

bool writeRows(const std::string& path, Rows rows, std::string* error)
{
    const std::optional<std::string> bytes = rowBytes(path, std::move(rows), error);
    if (!bytes)
        return false;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes->data(), static_cast<qint64>(bytes->size())) < 0
        || !file.commit()) {
        *error = path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace teloria::cli
