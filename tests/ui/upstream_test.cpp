#include "ui/window_fixture.h"

#include "data/fake_upstream.h"
#include "service/bundled_service.h"

namespace teloria::testing {
namespace {

// The window on a bundled service with an upstream: numbers whose prefix the
// built-in data give no location show the upstream's answer, and a later run
// without the upstream shows the same from the learned answers on disk.
TEST(WindowUpstream, ShowsLearnedAnswersAndTheSameWithoutTheUpstream)
{
    const ScratchDataHome xdg;
    auto runWindow = [](const data::DataSettings& settings) {
        QString error;
        const auto service = BundledService::start(settings, &error);
        EXPECT_TRUE(service) << error.toStdString();
        if (!service)
            return QStringList();
        ScriptedMessages messages;
        Form1 form(service->baseUrl(), &messages);
        form.show();
        form.findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->setPlainText(QStringLiteral("19912345678\r\n19912349999"));
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
        auto* model = form.findChild<QTableView*>(QStringLiteral("ListView1"))->model();
        QStringList cells;
        for (int r = 0; r < model->rowCount(); ++r)
            cells << model->index(r, 2).data().toString() + u'|' + model->index(r, 3).data().toString();
        return cells;
    };
    const QStringList expected{QStringLiteral("广东 深圳|中国电信"), QStringLiteral("广东 深圳|中国电信")};

    data::DataSettings settings;
    {
        FakeUpstream upstream([](const std::string&) {
            return Reply{.body = gbkPage(QStringLiteral("广东省深圳市"), QStringLiteral("中国电信"))};
        });
        settings.learn.upstream = QString::fromStdString(upstream.baseUrl());
        EXPECT_EQ(runWindow(settings), expected);
        EXPECT_EQ(upstream.asked(), std::vector<std::string>{"19912340000"});
    }
    EXPECT_TRUE(QFile::exists(xdg.filePath(QStringLiteral("teloria/learned.sqlite"))));
    settings.learn.upstream.clear(); // a new store, read from disk
    EXPECT_EQ(runWindow(settings), expected);
}

} // namespace
} // namespace teloria::testing
