#include "ui/window_fixture.h"

#include "text/text_codec.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace teloria::testing {
namespace {

const QString kTitle = QStringLiteral("提示：");
const QStringList kRow1 = {"1", "13800138000", "北京 北京", "中国移动"};
const QStringList kRow2 = {"2", "13012345678", "广东 广州", "中国联通"};
const QStringList kRow3 = {"3", "18912345678", "上海 上海", "中国电信"};

QMenu* popupMenu(Form1& form)
{
    return form.findChild<QMenu*>(QStringLiteral("Menu"));
}

QAction* menuItem(Form1& form, const char* name)
{
    return form.findChild<QAction*>(QString::fromLatin1(name));
}

bool isEndMessage(const Shown& box)
{
    static const QRegularExpression end(QStringLiteral("^耗时\\d+([.,]\\d+)?秒查询完毕。$"));
    return box.title == kTitle && !box.warning && end.match(box.text).hasMatch();
}

// Points HOME somewhere else for one test; the result file goes to HOME/1.txt.
class HomeRedirect {
public:
    explicit HomeRedirect(const QString& home) : old_(qgetenv("HOME")) { qputenv("HOME", home.toLocal8Bit()); }
    ~HomeRedirect() { qputenv("HOME", old_); }

private:
    QByteArray old_;
};

TEST_F(WindowTest, QueryShowsStartMessageFillsRowsAndEndsAtFullProgress)
{
    paste(kThreeNumbers);
    ASSERT_EQ(Text1->toPlainText(), QStringLiteral("13800138000\n13012345678\n18912345678"));
    clickQuery();

    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0].title, kTitle);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("共3条数据，查询即将开始。"));
    EXPECT_FALSE(messages.shown[0].warning);
    EXPECT_TRUE(isEndMessage(messages.shown[1])) << messages.shown[1].text.toStdString();

    ASSERT_EQ(model->rowCount(), 3);
    EXPECT_EQ(row(0), kRow1);
    EXPECT_EQ(row(1), kRow2);
    EXPECT_EQ(row(2), kRow3);
    EXPECT_EQ(ProgressBar1->value(), 3);
    EXPECT_EQ(ProgressBar1->maximum(), 3);
    // Each number asked once; two are in flight at a time, so the server may see a pair in either order.
    std::vector<std::string> asked = server.requested();
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{"13012345678", "13800138000", "18912345678"}));
    // Repaints are held back between numbers during a run; afterwards the window draws again.
    EXPECT_TRUE(form->updatesEnabled());

    // A second run appends after the rows of the first.
    paste(QStringLiteral("13012345678\n18912345678"));
    clickQuery();
    EXPECT_EQ(ids(), (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(row(4), (QStringList{"5", "18912345678", "上海 上海", "中国电信"}));
    EXPECT_EQ(messages.shown[2].text, QStringLiteral("共2条数据，查询即将开始。"));
    EXPECT_EQ(ProgressBar1->value(), 2);
    EXPECT_EQ(ProgressBar1->maximum(), 2);
}

// What each paint of a widget showed: the bar's value, or the list's row count.
class PaintLog : public QObject {
public:
    PaintLog(QProgressBar* bar, QWidget* viewport, QAbstractItemModel* model)
        : bar_(bar), viewport_(viewport), model_(model)
    {
        bar_->installEventFilter(this);
        viewport_->installEventFilter(this);
    }
    int lastBarValue = -1;
    int lastRowCount = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            if (watched == bar_)
                lastBarValue = bar_->value();
            else if (watched == viewport_)
                lastRowCount = model_->rowCount();
        }
        return false;
    }

private:
    QProgressBar* bar_;
    QWidget* viewport_;
    QAbstractItemModel* model_;
};

TEST_F(WindowTest, TheEndMessageOpensOverAWindowThatShowsTheWholeRun)
{
    QStringList numbers;
    for (int i = 0; i < 60; ++i)
        numbers << QStringLiteral("1380013%1").arg(i, 4, 10, QChar(u'0'));
    paste(numbers.join(QStringLiteral("\r\n")));
    PaintLog painted(ProgressBar1, ListView1->viewport(), model);
    bool checked = false;
    messages.onShow = [&](const Shown& box) {
        if (!isEndMessage(box))
            return;
        checked = true;
        for (QWidget* w : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(ListView1),
                           ListView1->viewport(), static_cast<QWidget*>(ProgressBar1)})
            EXPECT_TRUE(w->updatesEnabled()) << w->objectName().toStdString();
        EXPECT_EQ(model->rowCount(), 60);
        EXPECT_EQ(painted.lastRowCount, 60) << "the list was last drawn with fewer rows";
        EXPECT_EQ(ProgressBar1->value(), ProgressBar1->maximum());
        EXPECT_EQ(painted.lastBarValue, ProgressBar1->maximum()) << "the bar was last drawn short of full";
    };
    clickQuery();
    EXPECT_TRUE(checked);
}

TEST_F(WindowTest, HttpGetIsThePageFetch)
{
    const QString page = form->HttpGet(server.baseUrl() + QStringLiteral("/sim_search138.asp?mobile=13800138000"));
    EXPECT_TRUE(page.contains(QStringLiteral("归属地：北京 北京<br/>"))) << page.toStdString();
    EXPECT_EQ(form->HttpGet(QStringLiteral("http://127.0.0.1:1/sim_search138.asp?mobile=1")), QString());
}

// Where on the list the right button goes down: on a row, or on the empty space below the rows.
struct PressPlace {
    const char* name;
    bool onRow;
};

class MenuPressTest : public WindowTest, public ::testing::WithParamInterface<PressPlace> {};

TEST_P(MenuPressTest, RightPressPopsUpMenuAtMouseAndClearRestartsIds)
{
    paste(kThreeNumbers);
    clickQuery();
    ASSERT_EQ(model->rowCount(), 3);
    QMenu* menu = popupMenu(*form);
    ASSERT_NE(menu, nullptr);
    QSignalSpy aboutToShow(menu, &QMenu::aboutToShow);

    QWidget* viewport = ListView1->viewport();
    const QPoint at = GetParam().onRow ? ListView1->visualRect(model->index(1, 2)).center()
                                       : QPoint(viewport->width() / 2, viewport->height() - 20);
    // Only the press: the menu is up before the button comes back.
    QTest::mousePress(viewport, Qt::RightButton, Qt::NoModifier, at);
    QTRY_VERIFY(menu->isVisible());
    EXPECT_EQ(aboutToShow.count(), 1);
    EXPECT_EQ(menu->pos(), viewport->mapToGlobal(at));
    // 清空列表 and 关于 first, as they always were; then a separator and the further commands.
    ASSERT_EQ(menu->actions().size(), 8);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("清空列表"));
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("关于"));
    EXPECT_TRUE(menu->actions()[2]->isSeparator());
    QStringList further;
    for (int i = 3; i < 8; ++i)
        further << menu->actions()[i]->text();
    EXPECT_EQ(further, (QStringList{"停止查询", "导入号码…", "复制", "统计…", "另存为…"}));
    EXPECT_FALSE(menu->actions()[3]->isEnabled()) << "停止查询 with no run going";

    const QString textBefore = Text1->toPlainText();
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                      menu->actionGeometry(menuItem(*form, "Menu1")).center());
    QTRY_VERIFY(!menu->isVisible());
    EXPECT_EQ(model->rowCount(), 0);
    // Clearing touches the list only.
    EXPECT_EQ(Text1->toPlainText(), textBefore);
    EXPECT_EQ(ProgressBar1->value(), 3);

    paste(QStringLiteral("18912345678"));
    clickQuery();
    EXPECT_EQ(row(0), (QStringList{"1", "18912345678", "上海 上海", "中国电信"}));
}

INSTANTIATE_TEST_SUITE_P(Places, MenuPressTest,
                         ::testing::Values(PressPlace{"OnRow", true}, PressPlace{"OnEmptySpace", false}),
                         [](const auto& info) { return std::string(info.param.name); });

class OtherButtonTest : public WindowTest, public ::testing::WithParamInterface<Qt::MouseButton> {};

TEST_P(OtherButtonTest, LeftAndMiddlePressesOpenNothing)
{
    QMenu* menu = popupMenu(*form);
    QSignalSpy aboutToShow(menu, &QMenu::aboutToShow);
    QTest::mouseClick(ListView1->viewport(), GetParam(), Qt::NoModifier, QPoint(50, 50));
    QTest::mouseDClick(ListView1->viewport(), GetParam(), Qt::NoModifier, QPoint(50, 50));
    QCoreApplication::processEvents();
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(aboutToShow.count(), 0);
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Buttons, OtherButtonTest, ::testing::Values(Qt::LeftButton, Qt::MiddleButton),
                         [](const auto& info) {
                             return std::string(info.param == Qt::LeftButton ? "Left" : "Middle");
                         });

TEST_F(WindowTest, AboutItemShowsAboutBox)
{
    QMenu* menu = popupMenu(*form);
    QTest::mousePress(ListView1->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(40, 40));
    QTRY_VERIFY(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                      menu->actionGeometry(menuItem(*form, "Menu2")).center());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, QStringLiteral("About"));
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("Teloria Beta1\r\n\r\nHalvick"));
    EXPECT_FALSE(messages.shown[0].warning);
}

TEST_F(WindowTest, SaveWritesResultFileInHomeAndConfirms)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    HomeRedirect redirect(home.path());
    paste(kThreeNumbers);
    clickQuery();
    messages.shown.clear();

    QTest::mouseClick(Command3, Qt::LeftButton);

    const QString path = QDir(home.path()).filePath(QStringLiteral("1.txt"));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, QString());
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("已成功保存至") + path + QStringLiteral("\r\n请前往查看"));
    EXPECT_FALSE(messages.shown[0].warning);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), encodeGbk(QStringLiteral("1,13800138000,北京 北京,中国移动\r\n"
                                                       "2,13012345678,广东 广州,中国联通\r\n"
                                                       "3,18912345678,上海 上海,中国电信\r\n")));
}

TEST_F(WindowTest, SaveErrorWarnsAndKeepsRows)
{
    QTemporaryDir scratch;
    HomeRedirect redirect(scratch.filePath(QStringLiteral("missing/home")));
    paste(kThreeNumbers);
    clickQuery();
    messages.shown.clear();

    QTest::mouseClick(Command3, Qt::LeftButton);

    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].warning);
    EXPECT_TRUE(messages.shown[0].text.contains(QStringLiteral("missing/home/1.txt"))) << messages.shown[0].text.toStdString();
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_EQ(row(2), kRow3);
}

TEST_F(WindowTest, SecondQueryFromTheEventPumpCompletesFirst)
{
    paste(kThreeNumbers);
    // While the first run's start box is open, a second click on Query is queued;
    // the run's event pump delivers it before the first number.
    bool queued = false;
    messages.onShow = [&](const Shown&) {
        if (!queued) {
            queued = true;
            QMetaObject::invokeMethod(Command4, &QPushButton::click, Qt::QueuedConnection);
        }
    };
    clickQuery();

    ASSERT_EQ(messages.shown.size(), 4u);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("共3条数据，查询即将开始。"));
    EXPECT_EQ(messages.shown[1].text, QStringLiteral("共3条数据，查询即将开始。"));
    EXPECT_TRUE(isEndMessage(messages.shown[2]));
    EXPECT_TRUE(isEndMessage(messages.shown[3]));
    // The nested run's rows come first; the outer one then goes through its own copy of the numbers.
    EXPECT_EQ(ids(), (QStringList{"1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(row(2), kRow3);
    EXPECT_EQ(row(3), (QStringList{"4", "13800138000", "北京 北京", "中国移动"}));
    EXPECT_EQ(ProgressBar1->value(), 3);
    EXPECT_EQ(ProgressBar1->maximum(), 3);
}

// Many numbers: events reach the run at most every 10 ms, so it stops within
// that of the close, well before its last number.
QString manyNumbers(int count)
{
    QStringList numbers;
    for (int i = 0; i < count; ++i)
        numbers << QStringLiteral("1380013%1").arg(i % 10000, 4, 10, QChar(u'0'));
    return numbers.join(QStringLiteral("\r\n"));
}

TEST_F(WindowTest, ClosingDuringRunStopsItCleanly)
{
    const int count = 3000;
    Text1->setPlainText(manyNumbers(count));
    // The user closes the window while the second number is being looked up.
    Form1* window = form.get();
    server.onRequest([window](int n) {
        if (n == 2)
            QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    });
    clickQuery();

    EXPECT_TRUE(form->isClosed());
    EXPECT_FALSE(form->isVisible());
    EXPECT_GE(model->rowCount(), 2);
    EXPECT_LT(model->rowCount(), count);
    EXPECT_EQ(server.requested().size(), requestsForRows(model->rowCount()));
    // Only the start box: no end box is left for a window that is gone.
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("共3000条数据，查询即将开始。"));
    EXPECT_FALSE(popupMenu(*form)->isVisible());
    form.reset();
    QCoreApplication::processEvents();
}

TEST_F(WindowTest, ClosingDuringRunEndsTheProgramOnlyAfterTheRunReturns)
{
    // As in the program: the event loop runs until the last window closes.
    const int count = 3000;
    Text1->setPlainText(manyNumbers(count));
    Form1* window = form.get();
    server.onRequest([window](int n) {
        if (n == 1)
            QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    });
    bool runReturned = false;
    QObject::connect(Command4, &QPushButton::clicked, Command4, [&] { runReturned = true; });
    QTimer::singleShot(0, Command4, [this] { clickQuery(); });
    QApplication::setQuitOnLastWindowClosed(true);
    const int status = QApplication::exec();
    QApplication::setQuitOnLastWindowClosed(false);

    EXPECT_EQ(status, 0);
    EXPECT_TRUE(runReturned);
    EXPECT_GE(model->rowCount(), 1);
    EXPECT_LT(model->rowCount(), count);
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

struct Placement {
    const char* name;
    QRect geometry;
};

class ControlGeometryTest : public WindowTest, public ::testing::WithParamInterface<Placement> {};

TEST_P(ControlGeometryTest, ControlSitsAtItsPlace)
{
    auto* control = form->findChild<QWidget*>(QString::fromLatin1(GetParam().name));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), GetParam().geometry);
    EXPECT_TRUE(control->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Controls, ControlGeometryTest,
                         ::testing::Values(Placement{"Text1", QRect(16, 8, 113, 161)},
                                           Placement{"Command4", QRect(16, 184, 113, 33)},
                                           Placement{"Command3", QRect(16, 232, 113, 33)},
                                           Placement{"ListView1", QRect(144, 8, 361, 273)},
                                           Placement{"ProgressBar1", QRect(8, 288, 497, 17)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, WindowIsFixedSizeWithCaptionIconAndNoMaximise)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Teloria Beta1       By Halvick"));
    EXPECT_EQ(form->size(), QSize(513, 314));
    EXPECT_EQ(form->minimumSize(), QSize(513, 314));
    EXPECT_EQ(form->maximumSize(), QSize(513, 314));
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    const QList<QSize> sizes = form->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    // Centred on its screen.
    const QRect screen = form->screen()->availableGeometry();
    EXPECT_LE(std::abs(form->frameGeometry().center().x() - screen.center().x()), 8);
    EXPECT_LE(std::abs(form->frameGeometry().center().y() - screen.center().y()), 16);

    QMenu* menu = popupMenu(*form);
    EXPECT_EQ(menu->title(), QStringLiteral("Menu"));
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(Text1->toPlainText(), QString());
    EXPECT_EQ(Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(Command4->text(), QStringLiteral("查询"));
    EXPECT_EQ(Command3->text(), QStringLiteral("保存"));
    EXPECT_EQ(ProgressBar1->minimum(), 0);
    EXPECT_EQ(ProgressBar1->maximum(), 100);
    EXPECT_EQ(ProgressBar1->value(), 0);
    EXPECT_FALSE(ProgressBar1->isTextVisible());
}

TEST_F(WindowTest, ListIsAReportViewWithItsColumnsAndTheFocus)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_EQ(QApplication::focusWidget(), ListView1);
    // Tab order: list, Query, Save, input box, and round again.
    for (QWidget* next : {static_cast<QWidget*>(Command4), static_cast<QWidget*>(Command3),
                          static_cast<QWidget*>(Text1), static_cast<QWidget*>(ListView1)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }

    ASSERT_EQ(model->columnCount(), 4);
    QStringList titles;
    for (int c = 0; c < 4; ++c)
        titles << model->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(titles, (QStringList{"ID", "手机号码", "号码归属", "号码类型"}));
    QHeaderView* header = ListView1->horizontalHeader();
    EXPECT_TRUE(header->isVisible());
    // Tall enough to show its titles, before and after rows arrive.
    EXPECT_GE(header->height(), header->fontMetrics().height());
    paste(QStringLiteral("13800138000"));
    clickQuery();
    EXPECT_GE(header->height(), header->fontMetrics().height());
    EXPECT_FALSE(ListView1->verticalHeader()->isVisible());
    EXPECT_TRUE(ListView1->showGrid());
    EXPECT_EQ(ListView1->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(ListView1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(ListView1->isSortingEnabled());

    EXPECT_EQ(ListView1->columnWidth(0), 27);
    EXPECT_EQ(ListView1->columnWidth(3), 87);
    // The number column holds a whole 11-digit number; all four stay inside the list.
    const int numberText = ListView1->fontMetrics().horizontalAdvance(QStringLiteral("13800138000"));
    EXPECT_GE(ListView1->columnWidth(1), std::max(87, numberText));
    int total = 0;
    for (int c = 0; c < 4; ++c)
        total += ListView1->columnWidth(c);
    EXPECT_LE(total, ListView1->viewport()->width());
    if (ListView1->columnWidth(1) == 87) {
        EXPECT_EQ(ListView1->columnWidth(2), 153);
    }
}

TEST_F(WindowTest, LargeSystemFontWidensNumberColumnInsideTheList)
{
    struct FontRestore {
        QFont old = QApplication::font();
        ~FontRestore() { QApplication::setFont(old); }
    } restore;
    QFont large = restore.old;
    large.setPixelSize(18);
    QApplication::setFont(large);
    Form1 big(server.baseUrl(), &messages);
    big.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&big));

    auto* list = big.findChild<QTableView*>(QStringLiteral("ListView1"));
    const int numberText = list->fontMetrics().horizontalAdvance(QStringLiteral("13800138000"));
    ASSERT_GT(numberText, 87); // the case under test
    EXPECT_GT(list->columnWidth(1), numberText);
    EXPECT_EQ(list->columnWidth(0), 27);
    EXPECT_EQ(list->columnWidth(3), 87);
    EXPECT_LT(list->columnWidth(2), 153);
    EXPECT_LE(list->columnWidth(0) + list->columnWidth(1) + list->columnWidth(2) + list->columnWidth(3),
              list->viewport()->width());
}

} // namespace
} // namespace teloria::testing
