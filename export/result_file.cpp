#include "export/result_file.h"

#include "export/replacing_file.h"

#include "lookup/result_table.h"
#include "text/text_codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <memory>

namespace teloria {

namespace {

constexpr QByteArrayView kLineEnd("\r\n");

// Lines are gathered into blocks of about this size before they go to the
// file, so a large table never sits in memory a second time as bytes.
constexpr qsizetype kBlockSize = 64 * 1024;

bool needsQuotes(QStringView cell)
{
    for (const QChar c : cell) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n')
            return true;
    }
    return false;
}

QByteArray encodeText(QStringView text, FileEncoding encoding)
{
    return encoding == FileEncoding::Gbk ? encodeGbk(text) : text.toUtf8();
}

// Calls sink(line) for every row, in table order, with the line's bytes
// including its CR LF; stops early when sink returns false. The row and
// column counts are read once, before the first line.
template <typename Sink>
bool forEachLine(const ResultTable& table, FileEncoding encoding, Sink&& sink)
{
    const int rows = table.size();
    const int dataColumns = table.columnCount() - 1;
    QStringList cells;
    for (int row = 1; row <= rows; ++row) {
        cells.clear();
        cells.append(table.rowText(row));
        for (int k = 1; k <= dataColumns; ++k)
            cells.append(table.subItem(row, k));
        QByteArray line = csvLine(cells, encoding);
        line.append(kLineEnd);
        if (!sink(line))
            return false;
    }
    return true;
}

// The error codes behind the two reasons the user gets in Chinese; any other
// failure is shown with the system's own text. Qt reports a failed system
// call with qt_error_string(code), so the texts are compared, not the codes.
#ifdef Q_OS_WIN
constexpr int kDeniedCodes[] = {5 /* ERROR_ACCESS_DENIED */};
constexpr int kFullCodes[] = {112 /* ERROR_DISK_FULL */, 39 /* ERROR_HANDLE_DISK_FULL */};
#else
constexpr int kDeniedCodes[] = {EACCES, EPERM};
constexpr int kFullCodes[] = {ENOSPC, EDQUOT};
#endif

template <std::size_t N>
bool matchesAny(const QString& text, const int (&codes)[N])
{
    for (const int code : codes) {
        if (text == qt_error_string(code))
            return true;
    }
    return false;
}

} // namespace

QString saveFailureReason(const QString& systemText)
{
    if (matchesAny(systemText, kDeniedCodes))
        return QStringLiteral("权限不够");
    if (matchesAny(systemText, kFullCodes))
        return QStringLiteral("磁盘已满");
    if (systemText.isEmpty())
        return qt_error_string(EIO);
    return systemText;
}

QByteArray csvLine(const QStringList& cells, FileEncoding encoding)
{
    QString line;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line.append(u',');
        const QString& cell = cells.at(i);
        if (needsQuotes(cell)) {
            line.append(u'"');
            for (const QChar c : cell) {
                if (c == u'"')
                    line.append(u'"');
                line.append(c);
            }
            line.append(u'"');
        } else {
            line.append(cell);
        }
    }
    return encodeText(line, encoding);
}

QByteArray resultFileBytes(const ResultTable& table, FileEncoding encoding)
{
    QByteArray bytes;
    forEachLine(table, encoding, [&bytes](const QByteArray& line) {
        bytes.append(line);
        return true;
    });
    return bytes;
}

SaveOutcome writeReplacing(const QString& path, const ByteProducer& produce)
{
    SaveOutcome outcome;
    outcome.path = path;

    const QFileInfo target(path);
    if (target.isDir()) {
        outcome.reason = saveFailureReason(qt_error_string(EISDIR));
        return outcome;
    }
    if (target.exists() && !target.isWritable()) {
        outcome.reason = saveFailureReason(qt_error_string(EACCES));
        return outcome;
    }

    ReplacingFile file(path);
    if (!file.isOpen()) {
        outcome.reason = saveFailureReason(file.errorString());
        return outcome;
    }

    QByteArray block;
    block.reserve(kBlockSize + 4096);
    const bool written = produce([&](QByteArrayView bytes) {
        block.append(bytes);
        if (block.size() < kBlockSize)
            return true;
        const bool ok = file.write(block);
        block.clear();
        return ok;
    }) && file.write(block);

    // Not committed, the temporary file goes and the old file stays.
    if (!written || !file.commit()) {
        outcome.reason = saveFailureReason(file.errorString());
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

SaveOutcome writeResultFile(const ResultTable& table, const QString& path, FileEncoding encoding)
{
    return writeReplacing(path, [&](const ByteSink& write) {
        return forEachLine(table, encoding, [&](const QByteArray& line) { return write(line); });
    });
}

QString resultFilePath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\1.txt");
#else
    return QDir::homePath() + QStringLiteral("/1.txt");
#endif
}

QString saveConfirmationText(const QString& path)
{
    return QStringLiteral("已成功保存至") + path + QStringLiteral("\r\n请前往查看");
}

QString saveErrorText(const SaveOutcome& outcome)
{
    return QStringLiteral("无法保存至") + outcome.path + QStringLiteral("\r\n") + outcome.reason;
}

} // namespace teloria
