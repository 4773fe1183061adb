#pragma once
// The result file: every row of the result table as one comma-separated
// line (id, number, location, card type), each ended by CR LF, in GBK.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <functional>

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
    QString reason; // when !ok: "权限不够", "磁盘已满" or the system's own text
};

// Writes the table to path atomically: a temporary file beside it, flushed,
// then renamed over the target, so a failure never leaves a truncated file.
// The lines go out in blocks as they are made, never the whole file at once.
// An existing device or pipe at path is written in place.
SaveOutcome writeResultFile(const ResultTable& table, const QString& path,
                            FileEncoding encoding = FileEncoding::Gbk);

// Writes to path through the one replacing file whatever produce hands to
// its sink, gathered into blocks; produce returns false (or the sink does)
// to give up, and the old file stays as it was.
using ByteSink = std::function<bool(QByteArrayView bytes)>;
using ByteProducer = std::function<bool(const ByteSink& write)>;
SaveOutcome writeReplacing(const QString& path, const ByteProducer& produce);

// "权限不够" or "磁盘已满" for the system's texts of those failures; any other text as it stands.
QString saveFailureReason(const QString& systemText);

// "C:\1.txt" on Windows; 1.txt in the user's home directory elsewhere.
QString resultFilePath();

// The texts of the boxes shown after a save: "已成功保存至" + path, CR LF,
// "请前往查看"; and, after a failure, the path and the reason.
QString saveConfirmationText(const QString& path);
QString saveErrorText(const SaveOutcome& outcome);

} // namespace teloria
