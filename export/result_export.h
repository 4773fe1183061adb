#pragma once
// Save as: the result table in a file and a format the user picks. CSV in
// GBK is the result file's own bytes; CSV in UTF-8 with a byte-order mark
// (what Excel opens without garbling) and XLSX carry a header row and the
// columns ID, 手机号码, 号码归属, 号码类型, 省份, 城市. Every format is
// written through the one replacing file, so a failure keeps the old file.

#include "export/result_file.h"

#include <QString>
#include <QStringList>

namespace teloria {

class ResultTable;

enum class ExportFormat { CsvGbk, CsvUtf8Bom, Xlsx };

// The header of the CSV in UTF-8 and of the XLSX.
QStringList exportColumnTitles();

// The dialog's filters, in ExportFormat's order, and the format's extension ("csv", "xlsx").
QStringList exportFilters();
QString exportExtension(ExportFormat format);

SaveOutcome exportResults(const ResultTable& table, const QString& path, ExportFormat format);

} // namespace teloria
