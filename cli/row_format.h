#pragma once
// How teloria-batch writes its rows: the window's result file (csv, the
// default, byte for byte), tab-separated values or JSON lines, with the
// columns the user chose.

#include "cli/resolver.h"

#include "export/result_file.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace teloria::cli {

enum class OutputFormat { Csv, Tsv, Jsonl };
enum class Field { Id, Number, Location, Card, Province, City, AreaCode, Zip, Source, Kind };

std::optional<OutputFormat> formatByName(const QString& name);
// "id,number,location" -> the fields; nothing (and the bad name in *bad) when one is unknown.
std::optional<std::vector<Field>> fieldsByNames(const QString& list, QString* bad);
QString fieldName(Field field);

class RowFormat {
public:
    // encoding: of csv and tsv; jsonl is UTF-8 whatever it says.
    RowFormat(OutputFormat format, std::vector<Field> fields, FileEncoding encoding, bool header);

    // The first line: column names for tsv (unless there is no header); nothing
    // for csv, whose file has none, and for jsonl, whose lines carry their keys.
    QByteArray header() const;
    // Appends one row with its line end: CR LF for csv, LF for the others.
    void append(QByteArray& out, qint64 id, const QString& number, const RowCells& cells) const;

    // The same row for a number of digits alone, from cells that stand for
    // as long as this object for a key of the caller's (an answer's): their
    // bytes are worked out once per key, so a row is its id, its number and
    // a copy of those bytes. Keys are small numbers.
    void appendDigits(QByteArray& out, qint64 id, std::string_view digits, std::uint32_t key) const;
    bool knowsKey(std::uint32_t key) const { return key < tails_.size() && tails_[key].size != 0; }
    void learnKey(std::uint32_t key, const RowCells& cells) const;

private:
    // A row's bytes without its ids and numbers, in tailBytes_; where each id
    // or number field goes, in order, in tailCuts_ (as many for every key).
    // Flat, so that a row costs few cache lines.
    struct RowTail {
        std::uint32_t at = 0;
        std::uint32_t size = 0; // 0: not learnt (a row has at least its line end)
    };
    void appendRow(QByteArray& out, QByteArrayView idText, const QString& number, const RowCells& cells,
                   std::vector<qsizetype>* cuts) const;
    const QString& cell(Field field, const QString& number, const RowCells& cells) const;
    void appendCsvCell(QByteArray& out, const QString& cell) const;
    std::string_view idDigits(qint64 id) const;

    OutputFormat format_;
    std::vector<Field> fields_;
    FileEncoding encoding_;
    bool header_;
    // The csv bytes of cells seen before (locations, card types recur on
    // nearly every row); bounded, so memory stays flat.
    mutable QHash<QString, QByteArray> csvCells_;
    // In front of it, by the cell's storage: rows from the in-process path
    // share their cells' text, so most cells are found without hashing. Each
    // slot holds its cell, so that storage cannot be reused for another text.
    struct RecentCell {
        QString cell;
        QByteArray bytes;
    };
    mutable std::vector<RecentCell> recent_ = std::vector<RecentCell>(8192);
    std::vector<Field> cutFields_; // the id and number fields, in order
    std::size_t idCuts_ = 0, numberCuts_ = 0;
    // The digits of the last id written by appendDigits, at the end of idText_.
    mutable qint64 lastId_ = -1;
    mutable char idText_[24] = {};
    mutable std::size_t idFrom_ = sizeof idText_;
    mutable std::vector<RowTail> tails_; // by key
    mutable std::vector<std::uint32_t> tailCuts_; // cutFields_.size() by key, from the tail's start
    mutable QByteArray tailBytes_;
};

} // namespace teloria::cli
