#pragma once
// How teloria-batch writes its rows: the window's result file (csv, the
// default, byte for byte), tab-separated values or JSON lines, with the
// columns the user chose.

#include "cli/resolver.h"

#include "export/result_file.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace teloria::cli {

enum class OutputFormat { Csv, Tsv, Jsonl };
enum class Field { Id, Number, Location, Card, Province, City, AreaCode, Zip, Source };

std::optional<OutputFormat> formatByName(const QString& name);
// "id,number,location" -> the fields; nothing (and the bad name in *bad) when one is unknown.
std::optional<std::vector<Field>> fieldsByNames(const QString& list, QString* bad);
QString fieldName(Field field);

class RowFormat {
public:
    RowFormat(OutputFormat format, std::vector<Field> fields, FileEncoding csvEncoding, bool header);

    // The first line: column names for tsv (unless there is no header); nothing
    // for csv, whose file has none, and for jsonl, whose lines carry their keys.
    QByteArray header() const;
    // Appends one row with its line end: CR LF for csv, LF for the others.
    void append(QByteArray& out, qint64 id, const QString& number, const RowCells& cells) const;

private:
    const QString& cell(Field field, const QString& number, const RowCells& cells) const;
    void appendCsvCell(QByteArray& out, const QString& cell) const;

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
};

} // namespace teloria::cli
