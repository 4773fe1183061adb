#include "lookup/result_table.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using teloria::ResultTable;

TEST(ResultTable, ConfigureCreatesFourTitledColumns)
{
    ResultTable t;
    EXPECT_EQ(t.columnCount(), 0);
    t.configure();
    t.configure();
    EXPECT_EQ(t.rowCount(), 0);
    ASSERT_EQ(t.columnCount(), 4);
    const QStringList titles{"ID", u"手机号码"_qs, u"号码归属"_qs, u"号码类型"_qs};
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(t.headerData(c, Qt::Horizontal).toString(), titles[c]);
}

TEST(ResultTable, RowsHoldTextAndUnsetCellsReadEmpty)
{
    ResultTable t;
    t.configure();
    t.addRow("1");
    t.setSubItem(1, 1, "13800138000");
    t.setSubItem(1, 2, u"北京"_qs);
    t.setSubItem(1, 3, u"中国移动"_qs);
    t.addRow("7");
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.rowText(1), "1");
    EXPECT_EQ(t.subItem(1, 1), "13800138000");
    EXPECT_EQ(t.subItem(1, 2), u"北京"_qs);
    EXPECT_EQ(t.subItem(1, 3), u"中国移动"_qs);
    EXPECT_EQ(t.rowText(2), "7");  // ids are plain text, never renumbered
    EXPECT_TRUE(t.subItem(2, 2).isEmpty());
    EXPECT_EQ(t.data(t.index(0, 2)).toString(), u"北京"_qs);

    // Out of range positions change nothing and read empty.
    t.setSubItem(3, 1, "x");
    t.setSubItem(1, 4, "x");
    t.setSubItem(0, 1, "x");
    EXPECT_TRUE(t.rowText(0).isEmpty());
    EXPECT_TRUE(t.subItem(9, 1).isEmpty());
    EXPECT_EQ(t.rowCount(), 2);
}

TEST(ResultTable, ClearEmptiesAndIsHarmlessWhenEmpty)
{
    ResultTable t;
    t.configure();
    QSignalSpy resets(&t, &ResultTable::modelReset);
    t.clear();
    EXPECT_EQ(resets.count(), 0);
    t.addRow("1");
    t.clear();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(t.rowCount(), 0);
    EXPECT_EQ(t.columnCount(), 4);
}

// Held, the table tells its views nothing row by row: a flush announces every
// new row in one insertion, with the cells set meanwhile; rows already shown
// are still told of at once. Holds nest, and the last release flushes.
TEST(ResultTable, HeldRowsReachTheViewsInOneInsertionAtAFlush)
{
    ResultTable t;
    t.configure();
    t.addRow("1");
    QSignalSpy inserted(&t, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&t, &QAbstractItemModel::dataChanged);
    {
        const ResultTable::ViewUpdateHold outer(t);
        for (int row = 2; row <= 4; ++row) {
            t.addRow(QString::number(row));
            t.setSubItem(row, 2, u"北京"_qs);
            t.setRowState(row, teloria::RowState::UnknownPrefix);
        }
        t.setSubItem(1, 3, u"中国移动"_qs); // shown before the hold
        EXPECT_EQ(t.size(), 4);
        EXPECT_EQ(t.rowCount(), 1);
        EXPECT_EQ(inserted.count(), 0);
        EXPECT_EQ(changed.count(), 1);
        EXPECT_FALSE(t.index(1, 2).isValid());
        EXPECT_EQ(t.subItem(3, 2), u"北京"_qs); // the holder reads every row

        t.flushViewUpdates();
        ASSERT_EQ(inserted.count(), 1);
        EXPECT_EQ(inserted[0][1].toInt(), 1);
        EXPECT_EQ(inserted[0][2].toInt(), 3);
        EXPECT_EQ(t.rowCount(), 4);
        EXPECT_EQ(t.data(t.index(3, 2)).toString(), u"北京"_qs);
        EXPECT_EQ(t.rowState(4), teloria::RowState::UnknownPrefix);

        {
            const ResultTable::ViewUpdateHold inner(t);
            t.addRow("5");
        }
        EXPECT_EQ(t.rowCount(), 4) << "the outer hold still holds";
        t.clear(); // the views forget every row, shown or not
        EXPECT_EQ(t.rowCount(), 0);
        t.addRow("1");
        EXPECT_EQ(t.rowCount(), 0);
    }
    EXPECT_EQ(t.rowCount(), 1);
    EXPECT_EQ(t.rowText(1), "1");
    t.addRow("2"); // unheld: at once
    EXPECT_EQ(t.rowCount(), 2);
}
