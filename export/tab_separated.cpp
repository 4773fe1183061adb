#include "export/tab_separated.h"

#include "lookup/result_table.h"

namespace teloria {

namespace {

void appendCell(QString& out, const QString& cell)
{
    for (const QChar c : cell)
        out.append(c == u'\t' || c == u'\r' || c == u'\n' ? QChar(u' ') : c);
}

} // namespace

QString tabSeparatedRows(const ResultTable& table, const QList<int>& rows)
{
    QString out;
    for (const int row : rows) {
        appendCell(out, table.rowText(row));
        for (int k = 1; k < ResultTable::kColumns; ++k) {
            out.append(u'\t');
            appendCell(out, table.subItem(row, k));
        }
        out.append(u'\n');
    }
    return out;
}

} // namespace teloria
