#pragma once
// The main window: the input box, the Query and Save buttons, the result list,
// the progress bar and the list's pop-up menu. Every command is a thin event
// procedure over lookup/ and export/.

#include "ui/widget_ports.h"

#include <QWidget>
#include <memory>

class QAction;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace teloria {
class ResultTable;
}

class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 513;
    static constexpr int kClientHeight = 314;

    // serviceBase is the lookup service's base URL ("http://127.0.0.1:8138").
    // Message boxes go to messages; without one they are QMessageBox boxes.
    explicit Form1(const QString& serviceBase, teloria::MessageSink* messages = nullptr,
                   QWidget* parent = nullptr);
    ~Form1() override;

    // The page fetch: the body of a GET on url as text, empty text on any failure.
    QString HttpGet(const QString& url);

    // True once the user has closed the window; a run in progress stops at its next number.
    bool isClosed() const { return closed_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void Command4_Click();
    void Command3_Click();
    void Menu1_Click();
    void Menu2_Click();

private:
    class WindowFetcher;
    class WindowPump;

    void Form_Load();
    void ListView1_MouseDown(Qt::MouseButton button, const QPoint& globalPos);
    void setColumnWidths();
    void centreOnScreen();

    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command3 = nullptr;
    QTableView* ListView1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QMenu* Menu = nullptr;
    QAction* Menu1 = nullptr;
    QAction* Menu2 = nullptr;

    teloria::ResultTable* table_ = nullptr; // a child created after the list, so it outlives it
    QString serviceBase_;
    bool closed_ = false;

    std::unique_ptr<teloria::MessageBoxSink> ownMessages_;
    teloria::MessageSink* messages_ = nullptr;
    std::unique_ptr<teloria::ProgressBarSink> progress_;
    std::unique_ptr<WindowFetcher> fetcher_;
    std::unique_ptr<WindowPump> pump_;
    teloria::ElapsedTickClock clock_;
};
