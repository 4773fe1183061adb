#pragma once
// Numbers read from a file for the input box: a text file (one number per
// line; UTF-16 with its byte-order mark, UTF-8, or GB18030 when the bytes are
// not UTF-8, as teloria-batch reads its input), or a table (.csv, .xlsx) of
// which the first column where most cells clean to a number is taken, its
// header row skipped. Nothing here needs a display; any thread may call it.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace teloria {

// Whether a cell holds a number the service can answer (the one number cleaner says).
using CellCheck = std::function<bool(const QString& cell)>;

struct ImportedNumbers {
    QString text;     // one number per line, LF between them, no break after the last
    qsizetype count = 0;
    QString error;    // why nothing was read; empty when the file was read
};

ImportedNumbers importNumbers(const QString& path, const CellCheck& isNumber);

// The pieces, each on its own.

// Text of a number file: a UTF-16 (LE/BE) or UTF-8 byte-order mark decides
// and is dropped; without one, UTF-8 when the bytes are valid UTF-8, else GB18030.
QString decodeNumberText(QByteArrayView bytes);

// The non-blank lines of text, each ended by LF, CR LF or a lone CR, joined by LF.
ImportedNumbers numberLines(QStringView text);

using TableRows = std::vector<QStringList>;

// Comma-separated rows: a quoted cell may hold commas, doubled quotes and line breaks.
TableRows parseCsv(QStringView text);

// The first sheet of an xlsx workbook, each row's cells by column (A is 0);
// empty and an error when the file is not a workbook that can be read.
TableRows readXlsx(const QString& path, QString* error);

// The first column in which more than half the rows (a header row aside)
// clean to a number; its non-blank cells below the header, in order. A first
// row whose cell there does not clean to a number is the header.
ImportedNumbers numberColumn(const TableRows& rows, const CellCheck& isNumber);

} // namespace teloria
