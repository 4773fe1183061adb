// The window's further commands: failures told, rows that say what happened,
// stop, import, copy, statistics and save as; and runs nested in runs.
#include "window_fixture.h"

#include "export/result_file.h"
#include "lookup/number_import.h"
#include "text/text_codec.h"
#include "ui/row_look.h"

#include <QChartView>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>


#include <algorithm>
#include <set>

namespace teloria::testing {
namespace {

QAction* item(Form1& form, const char* name)
{
    return form.findChild<QAction*>(QString::fromLatin1(name));
}

QStringList numbersFrom(const char* head, int count)
{
    QStringList numbers;
    for (int i = 0; i < count; ++i)
        numbers << QStringLiteral("%1%2").arg(QLatin1String(head)).arg(i, 11 - int(std::strlen(head)), 10, QChar(u'0'));
    return numbers;
}

// Runs body on the window's thread, from the event loop, as a user's action would arrive.
template <typename F>
void post(QObject* to, F body)
{
    QMetaObject::invokeMethod(to, std::move(body), Qt::QueuedConnection);
}

// ---- 1. failures are told, 2. rows say what happened ----

TEST(WindowFailures, AServiceThatRefusesGivesAWarningWithTheReasonAndItsCount)
{
    RefusingPort dead;
    ScriptedMessages messages;
    Form1 form(QString::fromStdString(dead.baseUrl()), &messages);
    form.show();
    auto* text = form.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    auto* list = form.findChild<QTableView*>(QStringLiteral("ListView1"));
    text->setPlainText(kThreeNumbers);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);

    ASSERT_EQ(messages.shown.size(), 2u);
    const Shown& end = messages.shown[1];
    EXPECT_TRUE(end.warning) << "every request failed";
    const QStringList lines = end.text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2) << end.text.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^耗时\\d+(\\.\\d+)?秒查询完毕。$")).match(lines[0]).hasMatch());
    const QRegularExpression second(QStringLiteral("^其中3条查询失败：(.+)（3）$"));
    const QRegularExpressionMatch match = second.match(lines[1]);
    ASSERT_TRUE(match.hasMatch()) << lines[1].toStdString();
    const QString reason = match.captured(1);
    EXPECT_TRUE(reason.contains(QStringLiteral("onnect"))) << reason.toStdString();
    EXPECT_FALSE(reason.contains(QRegularExpression(QStringLiteral("\\d+ ms")))) << "the same failure reads the same";

    // The cells stay as a failed lookup leaves them: the saved bytes do not change.
    QAbstractItemModel* model = list->model();
    ASSERT_EQ(model->rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(model->index(r, 2).data().toString(), QString());
        EXPECT_EQ(model->index(r, 3).data().toString(), QString());
        EXPECT_EQ(model->index(r, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("查询失败：") + reason);
    }
}

TEST_F(WindowTest, EachRowIsDrawnAndTippedAsWhatHappenedToIt)
{
    struct Case {
        QString line;
        RowState state;
        QString tip;
    };
    const Case cases[] = {
        {"13800138000", RowState::Answered, ""},
        {"19999999999", RowState::UnknownPrefix, "号段未知"},
        {"abc", RowState::NotANumber, "不是手机号码"},
        {"", RowState::NotANumber, "不是手机号码"},
    };
    QStringList lines;
    for (const Case& c : cases)
        lines << c.line;
    Text1->setPlainText(lines.join(u'\n'));
    clickQuery();
    ASSERT_EQ(model->rowCount(), int(std::size(cases)));
    ListView1->clearSelection();
    ListView1->setCurrentIndex(QModelIndex());
    const QImage drawn = ListView1->viewport()->grab().toImage();
    const qreal scale = drawn.devicePixelRatio();
    for (int r = 0; r < model->rowCount(); ++r) {
        const Case& c = cases[r];
        const QModelIndex cell = model->index(r, 3);
        EXPECT_EQ(cell.data(ResultTable::kRowStateRole).toInt(), int(c.state)) << r;
        if (!c.tip.isEmpty()) {
            EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), c.tip) << r;
        }
        // Right at the end of the card type cell, past its text: the row's own colour.
        const QRect rect = ListView1->visualRect(cell);
        const QColor seen = drawn.pixelColor(QPoint(rect.right() - 3, rect.center().y()) * scale);
        const QColor wanted = rowColour(c.state);
        if (wanted.isValid()) {
            EXPECT_EQ(seen.rgb(), wanted.rgb()) << r;
        } else {
            EXPECT_NE(seen.rgb(), rowColour(RowState::Failed).rgb()) << r;
        }
    }
    // The cells hold what the service said; nothing is written into them.
    EXPECT_EQ(row(1), (QStringList{"2", "19999999999", "未知", "未知"}));
}

// ---- 3. stop ----

struct StopWay {
    const char* name;
    bool escape; // else the menu item
};

class StopTest : public WindowTest, public ::testing::WithParamInterface<StopWay> {};

TEST_P(StopTest, EndsTheRunAfterTheNumberInHandAndSaysHowFarItGot)
{
    const int count = 3000;
    Text1->setPlainText(numbersFrom("138", count).join(QStringLiteral("\r\n")));
    Form1* window = form.get();
    QAction* stop = item(*form, "Menu3");
    const bool escape = GetParam().escape;
    bool enabledDuringRun = false;
    server.onRequest([&, window, stop](int n) {
        if (n == 5)
            post(window, [&, window, stop] {
                enabledDuringRun = stop->isEnabled();
                if (escape)
                    QTest::keyClick(window->findChild<QWidget*>(QStringLiteral("Text1")), Qt::Key_Escape);
                else
                    stop->trigger();
            });
    });
    clickQuery();

    EXPECT_TRUE(enabledDuringRun);
    EXPECT_FALSE(stop->isEnabled()) << "no run going";
    ASSERT_EQ(messages.shown.size(), 2u);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^已停止：完成(\\d+)/3000条，耗时\\d+(\\.\\d+)?秒。$")).match(messages.shown[1].text);
    ASSERT_TRUE(m.hasMatch()) << messages.shown[1].text.toStdString();
    const int done = m.captured(1).toInt();
    EXPECT_GE(done, 5);
    EXPECT_LT(done, count);
    EXPECT_EQ(model->rowCount(), done) << "the rows so far stay";
    EXPECT_EQ(server.requested().size(), requestsForRows(done));

    // The next run goes through as usual.
    server.onRequest({});
    paste(kThreeNumbers);
    clickQuery();
    EXPECT_EQ(model->rowCount(), done + 3);
    EXPECT_TRUE(messages.shown.back().text.startsWith(QStringLiteral("耗时")));
}

INSTANTIATE_TEST_SUITE_P(Ways, StopTest, ::testing::Values(StopWay{"Escape", true}, StopWay{"MenuItem", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A second 查询 between two numbers of a run starts a nested run over what
// the input box then holds. Both look up every one of their numbers: none of
// the outer run's rows go missing, however long the nested run.
TEST_F(WindowTest, ANestedRunAndTheRunItInterruptsEachLookEveryNumberUp)
{
    const QStringList outer = numbersFrom("139", 60);
    const QStringList inner = numbersFrom("138", 600);
    Text1->setPlainText(outer.join(QStringLiteral("\r\n")));
    Form1* window = form.get();
    QPlainTextEdit* input = Text1;
    QPushButton* query = Command4;
    server.onRequest([&, window, input, query](int n) {
        if (n == 3)
            post(window, [&, input, query] {
                input->setPlainText(inner.join(QStringLiteral("\r\n")));
                query->click();
            });
    });
    clickQuery();

    ASSERT_EQ(messages.shown.size(), 4u);
    EXPECT_EQ(messages.shown[1].text, QStringLiteral("共600条数据，查询即将开始。"));
    ASSERT_EQ(model->rowCount(), outer.size() + inner.size());
    QStringList outerSeen, innerSeen;
    for (int r = 0; r < model->rowCount(); ++r) {
        EXPECT_EQ(model->index(r, 0).data().toString(), QString::number(r + 1));
        const QString number = model->index(r, 1).data().toString();
        (number.startsWith(QStringLiteral("139")) ? outerSeen : innerSeen) << number;
    }
    EXPECT_EQ(outerSeen, outer);
    EXPECT_EQ(innerSeen, inner);
    EXPECT_EQ(server.requested().size(), std::size_t(outer.size() + inner.size()));
}

// ---- 4. import ----

class ImportFiles : public WindowTest {
protected:
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(ImportFiles, TheMenuItemFillsTheInputBoxWithOneNumberPerLine)
{
    files.openAnswer = write(QStringLiteral("名单.csv"),
                             encodeGbk(u"姓名,手机\r\n张三,13800138000\r\n李四,\"130 1234 5678\"\r\n王五,18912345678\r\n"_qs));
    QSignalSpy done(form.get(), &Form1::importDone);
    item(*form, "Menu4")->trigger();
    ASSERT_TRUE(done.count() == 1 || done.wait(10000));
    EXPECT_EQ(Text1->toPlainText(), QStringLiteral("13800138000\n130 1234 5678\n18912345678"));
    EXPECT_TRUE(messages.shown.empty());
    // The next dialog opens where this file was.
    files.openAnswer.clear();
    item(*form, "Menu4")->trigger();
    EXPECT_EQ(files.folders.last(), dir.path());
    // Then 查询 as usual.
    clickQuery();
    EXPECT_EQ(model->rowCount(), 3);
}

TEST_F(ImportFiles, AFileDroppedOnTheInputBoxOrTheListIsImported)
{
    const QString path = write(QStringLiteral("numbers.txt"), "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(u"13800138000\r\n18912345678\r\n"), 26 * 2));
    for (QWidget* target : {Text1->viewport(), ListView1->viewport()}) {
        Text1->clear();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted()) << target->parent()->objectName().toStdString();
        QSignalSpy done(form.get(), &Form1::importDone);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        ASSERT_TRUE(done.count() == 1 || done.wait(10000));
        EXPECT_EQ(Text1->toPlainText(), QStringLiteral("13800138000\n18912345678"));
    }
}

TEST_F(ImportFiles, AFileWithoutNumbersSaysSoAndLeavesTheInputBox)
{
    files.openAnswer = write(QStringLiteral("names.csv"), "name,city\nZhang,Beijing\nLi,Shanghai\n");
    Text1->setPlainText(QStringLiteral("13800138000"));
    QSignalSpy done(form.get(), &Form1::importDone);
    item(*form, "Menu4")->trigger();
    ASSERT_TRUE(done.count() == 1 || done.wait(10000));
    EXPECT_EQ(Text1->toPlainText(), QStringLiteral("13800138000"));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].warning);
    EXPECT_TRUE(messages.shown[0].text.contains(QStringLiteral("names.csv")));
}

// ---- 5. copy ----

TEST_F(WindowTest, CtrlAThenCtrlCCopiesWholeRowsAsFourTabSeparatedColumns)
{
    paste(kThreeNumbers);
    clickQuery();
    QApplication::clipboard()->clear();
    ListView1->setFocus();
    QTest::keyClick(ListView1, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(ListView1->selectionModel()->selectedRows().size(), 3);
    QTest::keyClick(ListView1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("1\t13800138000\t北京 北京\t中国移动\n"
                                                                "2\t13012345678\t广东 广州\t中国联通\n"
                                                                "3\t18912345678\t上海 上海\t中国电信\n"));

    // The menu item copies the rows selected, in table order.
    ListView1->clearSelection();
    ListView1->selectionModel()->select(model->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ListView1->selectionModel()->select(model->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    item(*form, "Menu5")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("1\t13800138000\t北京 北京\t中国移动\n"
                                                                "3\t18912345678\t上海 上海\t中国电信\n"));
}

// ---- 6. statistics ----

TEST_F(WindowTest, StatisticsShowCountsChartsACopyableTableAndTheDataInUse)
{
    Text1->setPlainText(QStringLiteral("13800138000\n13800138000\n13012345678\n19999999999\nabc"));
    clickQuery();
    data::LoadReport report;
    report.path = "/usr/share/teloria/phone.dat";
    report.loaded = true;
    report.prefixes = 4;
    form->setDataSources({report});

    bool seen = false;
    QTimer::singleShot(0, form.get(), [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen = true;
        auto* counts = dialog->findChild<QLabel*>(QStringLiteral("StatisticsCounts"));
        ASSERT_NE(counts, nullptr);
        EXPECT_EQ(counts->text(), QStringLiteral("共5行：未知归属1行，查询失败0行，不是号码1行"));
        EXPECT_NE(dialog->findChild<QChartView*>(QStringLiteral("ProvinceChart")), nullptr);
        EXPECT_NE(dialog->findChild<QChartView*>(QStringLiteral("CardChart")), nullptr);
        auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("StatisticsTable"));
        ASSERT_NE(table, nullptr);
        ASSERT_GE(table->rowCount(), 2);
        EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("北京"));
        EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("2"));
        auto* sources = dialog->findChild<QTableWidget*>(QStringLiteral("DataSources"));
        ASSERT_NE(sources, nullptr);
        ASSERT_EQ(sources->rowCount(), 1);
        EXPECT_EQ(sources->item(0, 0)->text(), QStringLiteral("/usr/share/teloria/phone.dat"));
        EXPECT_EQ(sources->item(0, 1)->text(), QStringLiteral("4"));
        EXPECT_EQ(sources->horizontalHeaderItem(2)->text(), QStringLiteral("日期"));
        dialog->findChild<QPushButton*>(QStringLiteral("CopyStatistics"))->click();
        EXPECT_TRUE(QApplication::clipboard()->text().contains(QStringLiteral("北京\t2\n")));
        dialog->reject();
    });
    item(*form, "Menu6")->trigger();
    EXPECT_TRUE(seen);
}

// ---- 7. save as ----

TEST_F(WindowTest, SaveAsWritesEachFormatAndRemembersTheFolder)
{
    QTemporaryDir dir;
    paste(kThreeNumbers);
    clickQuery();
    messages.shown.clear();

    struct Case {
        const char* file;
        int filter;
    };
    for (const Case c : {Case{"gbk.csv", 0}, Case{"utf8.csv", 1}, Case{"book", 2}}) {
        files.saveAnswer = dir.filePath(QString::fromLatin1(c.file));
        files.saveFilter = c.filter;
        item(*form, "Menu7")->trigger();
    }
    ASSERT_EQ(messages.shown.size(), 3u);
    for (const Shown& box : messages.shown)
        EXPECT_FALSE(box.warning) << box.text.toStdString();
    // Every dialog after the first opens in the folder of the one before.
    EXPECT_TRUE(files.folders[1].startsWith(dir.path()));

    QFile gbk(dir.filePath(QStringLiteral("gbk.csv")));
    ASSERT_TRUE(gbk.open(QIODevice::ReadOnly));
    EXPECT_EQ(gbk.readAll(), resultFileBytes(*form->findChild<ResultTable*>()));

    QFile utf8(dir.filePath(QStringLiteral("utf8.csv")));
    ASSERT_TRUE(utf8.open(QIODevice::ReadOnly));
    EXPECT_EQ(utf8.readAll(), QByteArray("\xEF\xBB\xBF") + QStringLiteral("ID,手机号码,号码归属,号码类型,省份,城市\r\n"
                                                                            "1,13800138000,北京 北京,中国移动,北京,北京\r\n"
                                                                            "2,13012345678,广东 广州,中国联通,广东,广州\r\n"
                                                                            "3,18912345678,上海 上海,中国电信,上海,上海\r\n")
                                                                .toUtf8());

    // No extension typed: the format's own is added.
    QString error;
    const TableRows rows = readXlsx(dir.filePath(QStringLiteral("book.xlsx")), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (QStringList{"ID", "手机号码", "号码归属", "号码类型", "省份", "城市"}));
    EXPECT_EQ(rows[2], (QStringList{"2", "13012345678", "广东 广州", "中国联通", "广东", "广州"}));
}

} // namespace
} // namespace teloria::testing
