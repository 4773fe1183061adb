#pragma once
// The result file: every row of the result table as one comma-separated
// line (id, number, location, card type), each ended by CR LF, in GBK.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace teloria {

class ResultTable;

enum class FileEncoding { Gbk, Utf8 };

// One line of the file, without its line end: the cells joined by single
// commas. A cell holding a comma, a double quote, CR or LF is quoted, with
// inner double quotes doubled; every other cell is written as it stands.
QByteArray csvLine(const QStringList& cells, FileEncoding encoding = FileEncoding::Gbk);

// The whole file's bytes for a table: one csvLine per row plus CR LF.
QByteArray resultFileBytes(const ResultTable& table, FileEncoding encoding = FileEncoding::Gbk);

struct SaveOutcome {
    bool ok = false;
    QString path;   // where the file went (or was meant to go)
    QString reason; // the system's reason when !ok
};

// Writes the table to path atomically: a temporary file beside it, flushed,
// then renamed over the target, so a failure never leaves a truncated file.
SaveOutcome writeResultFile(const ResultTable& table, const QString& path,
                            FileEncoding encoding = FileEncoding::Gbk);

// "C:\1.txt" on Windows; 1.txt in the user's home directory elsewhere.
QString resultFilePath();

// The texts of the boxes shown after a save.
QString saveConfirmationText(const QString& path);
QString saveErrorText(const SaveOutcome& outcome);

} // namespace teloria
