#include "export/result_export.h"

#include "lookup/place_parts.h"
#include "lookup/result_table.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <xlsxwriter.h>

namespace teloria {

namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");
constexpr QByteArrayView kLineEnd("\r\n");

// The six cells of a row of the exported table.
QStringList exportCells(const ResultTable& table, int row)
{
    const QString location = table.subItem(row, 2);
    const PlaceParts place = placeParts(location);
    return {table.rowText(row), table.subItem(row, 1), location, table.subItem(row, 3), place.province, place.city};
}

SaveOutcome writeCsvUtf8(const ResultTable& table, const QString& path)
{
    return writeReplacing(path, [&](const ByteSink& write) {
        if (!write(kUtf8Bom) || !write(csvLine(exportColumnTitles(), FileEncoding::Utf8)) || !write(kLineEnd))
            return false;
        const int rows = table.size();
        for (int row = 1; row <= rows; ++row) {
            if (!write(csvLine(exportCells(table, row), FileEncoding::Utf8)) || !write(kLineEnd))
                return false;
        }
        return true;
    });
}

// libxlsxwriter writes to a file of its own: a temporary one, whose bytes
// then go to the target through the replacing file.
SaveOutcome writeXlsx(const ResultTable& table, const QString& path)
{
    SaveOutcome failed;
    failed.path = path;
    QTemporaryFile scratch(QDir::tempPath() + QStringLiteral("/teloria-XXXXXX.xlsx"));
    if (!scratch.open()) {
        failed.reason = saveFailureReason(scratch.errorString());
        return failed;
    }
    scratch.close();
    const QByteArray scratchName = QFile::encodeName(scratch.fileName());
    const QByteArray tmpdir = QFile::encodeName(QDir::tempPath());

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they are written
    options.tmpdir = const_cast<char*>(tmpdir.constData());
    lxw_workbook* workbook = workbook_new_opt(scratchName.constData(), &options);
    if (!workbook) {
        failed.reason = saveFailureReason(QString());
        return failed;
    }
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_error error = LXW_NO_ERROR;
    const auto put = [&](int row, int column, const QString& text) {
        if (error == LXW_NO_ERROR && !text.isEmpty())
            error = worksheet_write_string(sheet, row, static_cast<lxw_col_t>(column), text.toUtf8().constData(), nullptr);
    };
    const QStringList titles = exportColumnTitles();
    for (int c = 0; c < titles.size(); ++c)
        put(0, c, titles[c]);
    const int rows = table.size();
    for (int row = 1; row <= rows && error == LXW_NO_ERROR; ++row) {
        const QStringList cells = exportCells(table, row);
        bool isId = false;
        const double id = cells[0].toDouble(&isId);
        if (isId)
            error = worksheet_write_number(sheet, row, 0, id, nullptr);
        else
            put(row, 0, cells[0]);
        for (int c = 1; c < cells.size(); ++c)
            put(row, c, cells[c]);
    }
    worksheet_set_column(sheet, 1, 1, 14, nullptr);
    worksheet_set_column(sheet, 2, 3, 16, nullptr);
    const lxw_error closed = workbook_close(workbook);
    if (error == LXW_NO_ERROR)
        error = closed;
    if (error != LXW_NO_ERROR) {
        failed.reason = QString::fromUtf8(lxw_strerror(error));
        return failed;
    }

    QFile made(scratch.fileName());
    if (!made.open(QIODevice::ReadOnly)) {
        failed.reason = saveFailureReason(made.errorString());
        return failed;
    }
    return writeReplacing(path, [&](const ByteSink& write) {
        QByteArray block;
        while (!(block = made.read(64 * 1024)).isEmpty()) {
            if (!write(block))
                return false;
        }
        return made.error() == QFileDevice::NoError;
    });
}

} // namespace

QStringList exportColumnTitles()
{
    return {QStringLiteral("ID"), QStringLiteral("手机号码"), QStringLiteral("号码归属"),
            QStringLiteral("号码类型"), QStringLiteral("省份"), QStringLiteral("城市")};
}

QStringList exportFilters()
{
    return {QStringLiteral("CSV，GBK 编码 (*.csv)"), QStringLiteral("CSV，UTF-8 编码，Excel 可直接打开 (*.csv)"),
            QStringLiteral("Excel 工作簿 (*.xlsx)")};
}

QString exportExtension(ExportFormat format)
{
    return format == ExportFormat::Xlsx ? QStringLiteral("xlsx") : QStringLiteral("csv");
}

SaveOutcome exportResults(const ResultTable& table, const QString& path, ExportFormat format)
{
    switch (format) {
    case ExportFormat::CsvGbk: return writeResultFile(table, path, FileEncoding::Gbk);
    case ExportFormat::CsvUtf8Bom: return writeCsvUtf8(table, path);
    case ExportFormat::Xlsx: return writeXlsx(table, path);
    }
    return writeResultFile(table, path, FileEncoding::Gbk);
}

} // namespace teloria
