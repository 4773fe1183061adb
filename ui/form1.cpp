#include "ui/form1.h"

#include "export/result_export.h"
#include "export/result_file.h"
#include "export/tab_separated.h"
#include "lookup/batch_run.h"
#include "lookup/result_summary.h"
#include "lookup/result_table.h"
#include "net/page_fetch.h"
#include "ui/number_import_job.h"
#include "ui/result_list_look.h"
#include "ui/row_look.h"
#include "ui/statistics_dialog.h"
#include "ui/window_pump.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTextDocument>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

// The icon's resources live in this static library: register them before the first window.
static void initIconResources()
{
    Q_INIT_RESOURCE(teloria);
}

namespace {

const QString kCaption = QStringLiteral("Teloria Beta1       By Halvick");
const QString kAboutTitle = QStringLiteral("About");
const QString kAboutText = QStringLiteral("Teloria Beta1\r\n\r\nHalvick");

QChar systemDecimalPoint()
{
    const QString point = QLocale::system().decimalPoint();
    return point.isEmpty() ? QChar(u'.') : point.front();
}

} // namespace

Form1::Form1(const QString& serviceBase, teloria::MessageSink* messages, QWidget* parent,
             teloria::FileDialogs* files)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      serviceBase_(serviceBase)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    initIconResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/teloria/teloria-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/teloria/teloria-32.png"), QSize(32, 32));
    setWindowIcon(icon);
    setFixedSize(kClientWidth, kClientHeight);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(16, 8, 113, 161);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTabChangesFocus(true);

    Command4 = new QPushButton(QStringLiteral("查询"), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setGeometry(16, 184, 113, 33);
    Command4->setAutoDefault(false);

    Command3 = new QPushButton(QStringLiteral("保存"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setGeometry(16, 232, 113, 33);
    Command3->setAutoDefault(false);

    ListView1 = new QTableView(this);
    teloria::useMeasuredHeader(ListView1);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(144, 8, 361, 273);
    ListView1->setContextMenuPolicy(Qt::PreventContextMenu); // the menu opens on the press
    ListView1->viewport()->installEventFilter(this);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(8, 288, 497, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    // Hidden: the window has no menu bar; the menu only ever pops up over the list.
    Menu = new QMenu(QStringLiteral("Menu"), this);
    Menu->setObjectName(QStringLiteral("Menu"));
    Menu1 = Menu->addAction(QStringLiteral("清空列表"));
    Menu1->setObjectName(QStringLiteral("Menu1"));
    Menu2 = Menu->addAction(QStringLiteral("关于"));
    Menu2->setObjectName(QStringLiteral("Menu2"));
    addMenuItems();

    table_ = new teloria::ResultTable(this);
    ListView1->setModel(table_);
    ListView1->setItemDelegate(new teloria::RowLookDelegate(ListView1));
    ListView1->installEventFilter(this);

    // A file dropped on the input box or the list is imported.
    Text1->setAcceptDrops(true);
    Text1->viewport()->installEventFilter(this);
    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);

    if (!messages) {
        ownMessages_ = std::make_unique<teloria::MessageBoxSink>(this);
        messages = ownMessages_.get();
    }
    messages_ = messages;
    if (!files) {
        ownFiles_ = std::make_unique<teloria::QtFileDialogs>();
        files = ownFiles_.get();
    }
    files_ = files;
    lastFolder_ = QDir::homePath();
    progress_ = std::make_unique<teloria::ProgressBarSink>(ProgressBar1);
    pump_ = std::make_unique<teloria::WindowPump>(*this, *table_, closed_, stopAsked_);

    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Menu1, &QAction::triggered, this, &Form1::Menu1_Click);
    connect(Menu2, &QAction::triggered, this, &Form1::Menu2_Click);

    // Tab order: the list, Query, Save, the input box; the list starts with the focus.
    setTabOrder(ListView1, Command4);
    setTabOrder(Command4, Command3);
    setTabOrder(Command3, Text1);
    ListView1->setFocus();

    centreOnScreen();
    Form_Load();
}

Form1::~Form1() = default;

// After 清空列表 and 关于, as they always were: a separator and the further commands.
void Form1::addMenuItems()
{
    Menu->addSeparator();
    const auto item = [this](const char* name, const QString& text) {
        QAction* action = Menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    stopItem_ = item("Menu3", QStringLiteral("停止查询"));
    importItem_ = item("Menu4", QStringLiteral("导入号码…"));
    copyItem_ = item("Menu5", QStringLiteral("复制"));
    statisticsItem_ = item("Menu6", QStringLiteral("统计…"));
    saveAsItem_ = item("Menu7", QStringLiteral("另存为…"));

    // Escape stops wherever the focus is in the window; the item is enabled only while a run goes.
    stopItem_->setShortcut(QKeySequence(Qt::Key_Escape));
    stopItem_->setShortcutContext(Qt::WindowShortcut);
    stopItem_->setEnabled(false);
    addAction(stopItem_);
    // Ctrl+C on the list copies whole rows; the menu shows the key.
    copyItem_->setShortcut(QKeySequence::Copy);
    copyItem_->setShortcutContext(Qt::WidgetShortcut);
    copyItem_->setShortcutVisibleInContextMenu(true);
    stopItem_->setShortcutVisibleInContextMenu(true);

    connect(stopItem_, &QAction::triggered, this, &Form1::Stop_Click);
    connect(importItem_, &QAction::triggered, this, &Form1::Import_Click);
    connect(copyItem_, &QAction::triggered, this, &Form1::Copy_Click);
    connect(statisticsItem_, &QAction::triggered, this, &Form1::Statistics_Click);
    connect(saveAsItem_, &QAction::triggered, this, &Form1::SaveAs_Click);
}

void Form1::setDataSources(std::vector<teloria::data::LoadReport> reports)
{
    dataSources_ = std::move(reports);
}

QString Form1::HttpGet(const QString& url)
{
    return teloria::fetchPage(url).text;
}

void Form1::Form_Load()
{
    table_->configure();
    teloria::setUpResultList(ListView1);
}

void Form1::centreOnScreen()
{
    const QScreen* where = screen();
    if (!where)
        return;
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
}

void Form1::Command4_Click()
{
    // One session for the whole run, its numbers asked two at a time on two
    // connections kept open: on loopback a lone request waits mostly on the
    // wake-ups of the two ends, and a second one in flight hides that wait.
    teloria::SessionFetcher fetcher({}, 2);
    ++runsGoing_;
    stopItem_->setEnabled(true);
    teloria::BatchRun run({fetcher, clock_, *progress_, *messages_, *pump_, *table_}, serviceBase_,
                          systemDecimalPoint(), teloria::cleansToNumber);
    {
        // The list is told of the new rows at each pass of the pump, not row by row.
        const teloria::ResultTable::ViewUpdateHold hold(*table_);
        run.run(Text1->toPlainText());
    }
    // A Stop ends every run going, the nested ones and the one they interrupted.
    if (--runsGoing_ == 0) {
        stopAsked_ = false;
        stopItem_->setEnabled(false);
    }
    // A run stopped by a closed window skips drawAll; the window draws again all the same.
    setUpdatesEnabled(true);
}

void Form1::Command3_Click()
{
    const teloria::SaveOutcome outcome = teloria::writeResultFile(*table_, teloria::resultFilePath());
    if (outcome.ok)
        messages_->information(QString(), teloria::saveConfirmationText(outcome.path));
    else
        messages_->warning(QString::fromUtf16(teloria::kRunMessageTitle), teloria::saveErrorText(outcome));
}

void Form1::ListView1_MouseDown(Qt::MouseButton button, const QPoint& globalPos)
{
    if (button == Qt::RightButton)
        Menu->popup(globalPos);
}

void Form1::Menu1_Click()
{
    table_->clear();
}

void Form1::Menu2_Click()
{
    messages_->information(kAboutTitle, kAboutText);
}

void Form1::Stop_Click()
{
    if (runsGoing_ > 0)
        stopAsked_ = true;
}

void Form1::Import_Click()
{
    const QString path = files_->openFile(
        this, QStringLiteral("导入号码"), lastFolder_,
        QStringLiteral("号码文件 (*.txt *.csv *.xlsx);;文本文件 (*.txt);;所有文件 (*)"));
    if (!path.isEmpty())
        importFile(path);
}

void Form1::importFile(const QString& path)
{
    lastFolder_ = QFileInfo(path).absolutePath();
    auto* watcher = new QFutureWatcher<teloria::ImportResult>(this);
    connect(watcher, &QFutureWatcher<teloria::ImportResult>::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        teloria::ImportResult imported = watcher->result();
        QString error = imported.numbers.error;
        if (error.isEmpty() && !imported.text)
            error = QStringLiteral("文件里没有号码");
        if (!error.isEmpty()) {
            messages_->warning(QStringLiteral("导入号码"),
                               QStringLiteral("无法导入") + path + QStringLiteral("\r\n") + error);
        } else {
            QTextDocument* document = imported.text->document;
            imported.text->taken = true;
            document->moveToThread(thread());
            document->setParent(Text1);
            document->setDefaultFont(Text1->font());
            // The input box deletes a document of its own making; one of an earlier import goes here.
            const QPointer<QTextDocument> old = Text1->document();
            Text1->setDocument(document);
            if (old && old->parent() == Text1)
                old->deleteLater();
        }
        emit importDone();
    });
    watcher->setFuture(QtConcurrent::run(teloria::importOffThread, path));
}

void Form1::Copy_Click()
{
    QList<int> rows;
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex& index : selected)
        rows.append(index.row() + 1);
    std::sort(rows.begin(), rows.end());
    if (rows.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(teloria::tabSeparatedRows(*table_, rows));
}

void Form1::Statistics_Click()
{
    StatisticsDialog dialog(teloria::summarise(*table_), dataSources_, serviceBase_, this);
    dialog.exec();
}

void Form1::SaveAs_Click()
{
    const QStringList filters = teloria::exportFilters();
    int chosen = 0;
    QString path = files_->saveFile(this, QStringLiteral("另存为"),
                                    QDir(lastFolder_).filePath(QStringLiteral("查询结果.xlsx")), filters, &chosen);
    if (path.isEmpty())
        return;
    const auto format = static_cast<teloria::ExportFormat>(std::clamp<int>(chosen, 0, filters.size() - 1));
    if (QFileInfo(path).suffix().isEmpty())
        path += u'.' + teloria::exportExtension(format);
    lastFolder_ = QFileInfo(path).absolutePath();
    const teloria::SaveOutcome outcome = teloria::exportResults(*table_, path, format);
    if (outcome.ok)
        messages_->information(QString(), teloria::saveConfirmationText(outcome.path));
    else
        messages_->warning(QString::fromUtf16(teloria::kRunMessageTitle), teloria::saveErrorText(outcome));
}

bool Form1::dropFile(QEvent* event)
{
    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* data = drop->mimeData();
    if (!data || !data->hasUrls() || data->urls().isEmpty() || !data->urls().first().isLocalFile())
        return false;
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop)
        importFile(data->urls().first().toLocalFile());
    return true;
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    // A second quick press arrives as a double click: it is a button going down all the same.
    if (watched == ListView1->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        ListView1_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
    }
    if ((watched == ListView1->viewport() || watched == Text1->viewport()) &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop))
        return dropFile(event);
    // The list's own Ctrl+C copies one cell: whole rows go instead.
    if (watched == ListView1 && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            Copy_Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event)
{
    // A run in progress sees this at its next number and stops; the window
    // object itself lives on until the run has returned.
    closed_ = true;
    Menu->hide();
    QWidget::closeEvent(event);
}

void Form1::showEvent(QShowEvent* event)
{
    closed_ = false;
    QWidget::showEvent(event);
}
