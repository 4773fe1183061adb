#include "export/result_export.h"
#include "export/tab_separated.h"
#include "lookup/number_import.h"
#include "lookup/result_table.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace teloria;

namespace {

void add(ResultTable& t, const QString& number, const QString& location, const QString& card)
{
    const int row = t.rowCount() + 1;
    t.addRow(QString::number(row));
    t.setSubItem(row, 1, number);
    t.setSubItem(row, 2, location);
    t.setSubItem(row, 3, card);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Rig {
    QTemporaryDir dir;
    ResultTable table;
    Rig()
    {
        table.configure();
        add(table, "13800138000", u"北京 北京"_qs, u"中国移动"_qs);
        add(table, "abc,def", "", "");
        add(table, "19999999999", u"未知"_qs, u"未知"_qs);
    }
};

} // namespace

TEST(ResultExport, EachFormatsBytes)
{
    Rig rig;
    const QString gbk = rig.dir.filePath("gbk.csv");
    ASSERT_TRUE(exportResults(rig.table, gbk, ExportFormat::CsvGbk).ok);
    EXPECT_EQ(readAll(gbk), resultFileBytes(rig.table)) << "the result file's own bytes";

    const QString utf8 = rig.dir.filePath("utf8.csv");
    ASSERT_TRUE(exportResults(rig.table, utf8, ExportFormat::CsvUtf8Bom).ok);
    EXPECT_EQ(readAll(utf8), "\xEF\xBB\xBF" + u"ID,手机号码,号码归属,号码类型,省份,城市\r\n"
                                               "1,13800138000,北京 北京,中国移动,北京,北京\r\n"
                                               "2,\"abc,def\",,,,\r\n"
                                               "3,19999999999,未知,未知,,\r\n"_qs.toUtf8());
}

TEST(ResultExport, XlsxReadsBackRowForRow)
{
    Rig rig;
    for (int i = 0; i < 2000; ++i)
        add(rig.table, QStringLiteral("138%1").arg(i, 8, 10, QChar(u'0')), u"广东 广州"_qs, u"中国联通"_qs);
    const QString path = rig.dir.filePath("book.xlsx");
    const SaveOutcome outcome = exportResults(rig.table, path, ExportFormat::Xlsx);
    ASSERT_TRUE(outcome.ok) << outcome.reason.toStdString();
    QString error;
    const TableRows rows = readXlsx(path, &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(rows.size(), std::size_t(rig.table.rowCount() + 1));
    EXPECT_EQ(rows[0], exportColumnTitles());
    EXPECT_EQ(rows[1], (QStringList{"1", "13800138000", u"北京 北京"_qs, u"中国移动"_qs, u"北京"_qs, u"北京"_qs}));
    // Empty cells are not written: the row ends at its last cell with text.
    EXPECT_EQ(rows[2], (QStringList{"2", "abc,def"}));
    EXPECT_EQ(rows[3], (QStringList{"3", "19999999999", u"未知"_qs, u"未知"_qs}));
    EXPECT_EQ(rows.back(), (QStringList{"2003", "13800001999", u"广东 广州"_qs, u"中国联通"_qs, u"广东"_qs, u"广州"_qs}));
}

TEST(ResultExport, AWriteThatCannotBeMadeIsReportedWhateverTheFormat)
{
    for (const ExportFormat format : {ExportFormat::CsvGbk, ExportFormat::CsvUtf8Bom, ExportFormat::Xlsx}) {
        Rig rig;
        const SaveOutcome missing = exportResults(rig.table, rig.dir.filePath("no/such/folder/x"), format);
        EXPECT_FALSE(missing.ok);
        EXPECT_FALSE(missing.reason.isEmpty());
        EXPECT_FALSE(exportResults(rig.table, rig.dir.path(), format).ok) << "a folder is no file";
    }
}

TEST(TabSeparated, FourColumnsALineARowWithTabsAndBreaksInsideCellsTurnedToSpaces)
{
    Rig rig;
    add(rig.table, "1\t2", u"a\r\nb"_qs, u"c\nd"_qs);
    EXPECT_EQ(tabSeparatedRows(rig.table, {1, 4}),
              u"1\t13800138000\t北京 北京\t中国移动\n4\t1 2\ta  b\tc d\n"_qs);
    EXPECT_EQ(tabSeparatedRows(rig.table, {}), QString());
}
