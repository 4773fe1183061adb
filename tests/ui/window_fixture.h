#pragma once
// A lookup server on loopback, a scripted message interface and a fixture that
// opens the real window against them.
#include "lookup/result_table.h"
#include "ui/form1.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include "support/test_server.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace teloria::testing {

// Answers GET /sim_search138.asp?mobile=N with a page holding the number's
// location and card type, as the real service does.
class LookupServer {
public:
    struct Answer {
        std::string location;
        std::string cardType;
    };

    LookupServer()
        : server_([this](httplib::Server& s) {
              s.Get("/sim_search138.asp", [this](const httplib::Request& req, httplib::Response& res) {
                  answer(req, res);
              });
          })
    {
    }

    QString baseUrl() const { return QString::fromStdString(server_.baseUrl()); }
    int port() const { return server_.port(); }

    // Runs on the server's thread as request n (1-based) arrives, before it is answered.
    void onRequest(std::function<void(int)> hook)
    {
        std::lock_guard lock(mutex_);
        onRequest_ = std::move(hook);
    }
    std::vector<std::string> requested() const { return server_.paramValues("mobile"); }

    const std::map<std::string, Answer> answers_ = {
        {"13800138000", {"北京 北京", "中国移动"}},
        {"13012345678", {"广东 广州", "中国联通"}},
        {"18912345678", {"上海 上海", "中国电信"}},
    };

private:
    void answer(const httplib::Request& req, httplib::Response& res)
    {
        const std::string mobile = req.get_param_value("mobile");
        std::function<void(int)> hook;
        int n = 0; // counted here: two requests may be in flight at once
        {
            std::lock_guard lock(mutex_);
            hook = onRequest_;
            n = ++arrived_;
        }
        if (hook)
            hook(n);
        const auto it = answers_.find(mobile);
        const Answer answer = it != answers_.end() ? it->second : Answer{"未知", "未知"};
        res.set_content("<html><body>号码：" + mobile + "<br/>归属地：" + answer.location +
                            "<br/>卡类型：" + answer.cardType + "<br/></body></html>",
                        "text/html; charset=utf-8");
    }

    mutable std::mutex mutex_;
    std::function<void(int)> onRequest_;
    int arrived_ = 0;
    TestServer server_; // last: it stops before the members its handler uses go
};

// The window asks two numbers at a time: after a Stop or a close, the other
// number of the last pair may have been asked without a row of its own.
inline std::size_t requestsForRows(int rows)
{
    return static_cast<std::size_t>(rows + rows % 2);
}

struct Shown {
    QString title;
    QString text;
    bool warning = false;
};

// Records every box; onShow runs while a box is "open" (the box is closed when it returns).
class ScriptedMessages : public MessageSink {
public:
    std::vector<Shown> shown;
    std::function<void(const Shown&)> onShow;

    void information(const QString& title, const QString& text) override { show({title, text, false}); }
    void warning(const QString& title, const QString& text) override { show({title, text, true}); }

private:
    void show(Shown box)
    {
        shown.push_back(box);
        if (onShow)
            onShow(box);
    }
};

// Answers the file dialogs as a user would have; remembers the folders they opened in.
class ScriptedFiles : public FileDialogs {
public:
    QString openAnswer;  // the file picked to import; empty: cancelled
    QString saveAnswer;  // the path typed in save as; empty: cancelled
    int saveFilter = 0;  // the format picked in save as
    QStringList folders; // where each dialog opened

    QString openFile(QWidget*, const QString&, const QString& folder, const QString&) override
    {
        folders << folder;
        return openAnswer;
    }
    QString saveFile(QWidget*, const QString&, const QString& folder, const QStringList&, int* chosen) override
    {
        folders << folder;
        if (chosen)
            *chosen = saveFilter;
        return saveAnswer;
    }
};

inline const QString kThreeNumbers = QStringLiteral("13800138000\r\n13012345678\r\n18912345678");

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<Form1>(server.baseUrl(), &messages, nullptr, &files);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        Text1 = form->findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
        Command4 = form->findChild<QPushButton*>(QStringLiteral("Command4"));
        Command3 = form->findChild<QPushButton*>(QStringLiteral("Command3"));
        ListView1 = form->findChild<QTableView*>(QStringLiteral("ListView1"));
        ProgressBar1 = form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        ASSERT_TRUE(Text1 && Command4 && Command3 && ListView1 && ProgressBar1);
        model = ListView1->model();
    }

    // Pastes through the clipboard, as a user does.
    void paste(const QString& text)
    {
        Text1->clear();
        QApplication::clipboard()->setText(text);
        Text1->setFocus();
        QTest::keyClick(Text1, Qt::Key_V, Qt::ControlModifier);
    }

    void clickQuery() { QTest::mouseClick(Command4, Qt::LeftButton); }

    QStringList row(int r) const
    {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        return cells;
    }
    QStringList ids() const
    {
        QStringList out;
        for (int r = 0; r < model->rowCount(); ++r)
            out << model->index(r, 0).data().toString();
        return out;
    }

    LookupServer server;
    ScriptedMessages messages;
    ScriptedFiles files;
    std::unique_ptr<Form1> form;
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command3 = nullptr;
    QTableView* ListView1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QAbstractItemModel* model = nullptr;
};

// $XDG_DATA_HOME pointed at an empty scratch folder for the life of the
// object, put back however the test ends.
class ScratchDataHome {
public:
    ScratchDataHome() : saved_(qgetenv("XDG_DATA_HOME")) { qputenv("XDG_DATA_HOME", dir_.path().toUtf8()); }
    ~ScratchDataHome() { qputenv("XDG_DATA_HOME", saved_); }
    ScratchDataHome(const ScratchDataHome&) = delete;
    ScratchDataHome& operator=(const ScratchDataHome&) = delete;

    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QByteArray saved_;
};

} // namespace teloria::testing
