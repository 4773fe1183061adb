#pragma once
// The main window: the input box, the Query and Save buttons, the result list,
// the progress bar and the list's pop-up menu. Every command is a thin event
// procedure over lookup/ and export/.

#include "data/data_files.h"
#include "ui/widget_ports.h"

#include <QWidget>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace teloria {
class ResultTable;
class WindowPump;
}

class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 513;
    static constexpr int kClientHeight = 314;

    // serviceBase is the lookup service's base URL ("http://127.0.0.1:8138").
    // Message boxes go to messages, file choices to files; without them they
    // are QMessageBox boxes and QFileDialog dialogs.
    explicit Form1(const QString& serviceBase, teloria::MessageSink* messages = nullptr,
                   QWidget* parent = nullptr, teloria::FileDialogs* files = nullptr);
    ~Form1() override;

    // The page fetch: the body of a GET on url as text, empty text on any failure.
    QString HttpGet(const QString& url);

    // True once the user has closed the window; a run in progress stops at its next number.
    bool isClosed() const { return closed_; }

    // The data files of the bundled service, for the statistics; none with an outside service.
    void setDataSources(std::vector<teloria::data::LoadReport> reports);

    // Reads a text, csv or xlsx file of numbers off the window's thread and
    // fills the input box with one number per line when it is done.
    void importFile(const QString& path);

    // The menu's further commands, by their objectName: Menu3 停止查询,
    // Menu4 导入号码…, Menu5 复制, Menu6 统计…, Menu7 另存为….
signals:
    // After an import has filled the input box, or said why it could not.
    void importDone();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void Command4_Click();
    void Command3_Click();
    void Menu1_Click();
    void Menu2_Click();
    void Stop_Click();
    void Import_Click();
    void Copy_Click();
    void Statistics_Click();
    void SaveAs_Click();

private:
    void Form_Load();
    void ListView1_MouseDown(Qt::MouseButton button, const QPoint& globalPos);
    void centreOnScreen();
    void addMenuItems();
    bool dropFile(QEvent* event);

    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command3 = nullptr;
    QTableView* ListView1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QMenu* Menu = nullptr;
    QAction* Menu1 = nullptr;
    QAction* Menu2 = nullptr;
    QAction* stopItem_ = nullptr;
    QAction* importItem_ = nullptr;
    QAction* copyItem_ = nullptr;
    QAction* statisticsItem_ = nullptr;
    QAction* saveAsItem_ = nullptr;

    teloria::ResultTable* table_ = nullptr; // a child created after the list, so it outlives it
    QString serviceBase_;
    bool closed_ = false;
    int runsGoing_ = 0;      // the run in hand and the runs it is nested in
    bool stopAsked_ = false; // every run going ends after its number in hand
    QString lastFolder_;     // of the last import or save as, for the next dialog
    std::vector<teloria::data::LoadReport> dataSources_;

    std::unique_ptr<teloria::MessageBoxSink> ownMessages_;
    teloria::MessageSink* messages_ = nullptr;
    std::unique_ptr<teloria::FileDialogs> ownFiles_;
    teloria::FileDialogs* files_ = nullptr;
    std::unique_ptr<teloria::ProgressBarSink> progress_;
    std::unique_ptr<teloria::WindowPump> pump_;
    teloria::ElapsedTickClock clock_;
};
