#include "ui/window_fixture.h"

#include "data/phone_dat.h"
#include "service/bundled_service.h"
#include "ui/data_warning.h"

#include <fstream>

namespace teloria::testing {
namespace {

// The window on the bundled service, with data files in $XDG_DATA_HOME/teloria/.
TEST(WindowDataFiles, AnswersFromTheUsersDataFolderAndOneWarningForARefusedFile)
{
    const ScratchDataHome xdg;
    QDir(xdg.path()).mkpath(QStringLiteral("teloria"));
    const std::string folder = xdg.filePath(QStringLiteral("teloria/")).toStdString();
    std::ofstream(folder + "mine.dat", std::ios::binary)
        << *data::PhoneDat::serialise({{1380013, "广东省", "深圳市", "518000", "0755", 2}});
    std::ofstream(folder + "fixes.tsv") << "189\t新疆\t库尔勒\t\n";
    std::ofstream(folder + "broken.dat") << "2301";

    QString error;
    const auto service = BundledService::start(data::DataSettings{}, &error);
    ASSERT_TRUE(service) << error.toStdString();
    ScriptedMessages messages;
    Form1 form(service->baseUrl(), &messages);
    form.show();
    EXPECT_TRUE(warnAboutRefusedDataFiles(service->dataReports(), messages));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].warning);
    EXPECT_TRUE(messages.shown[0].text.contains(QString::fromStdString(folder + "broken.dat")));
    EXPECT_TRUE(messages.shown[0].text.contains(QStringLiteral("too short")));
    EXPECT_EQ(messages.shown[0].text.count(QLatin1Char('\n')), 1); // the refused file alone

    auto* Text1 = form.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    auto* Command4 = form.findChild<QPushButton*>(QStringLiteral("Command4"));
    auto* model = form.findChild<QTableView*>(QStringLiteral("ListView1"))->model();
    Text1->setPlainText(QStringLiteral("13800138000\r\n18912345678\r\n13800148000"));
    QTest::mouseClick(Command4, Qt::LeftButton);
    ASSERT_EQ(model->rowCount(), 3);
    auto cells = [model](int r) {
        return QStringList{model->index(r, 2).data().toString(), model->index(r, 3).data().toString()};
    };
    EXPECT_EQ(cells(0), (QStringList{QStringLiteral("广东 深圳"), QStringLiteral("中国联通")}));
    EXPECT_EQ(cells(1), (QStringList{QStringLiteral("新疆 巴音郭楞"), QStringLiteral("中国电信")}));
    EXPECT_EQ(cells(2), (QStringList{QStringLiteral("北京"), QStringLiteral("中国移动")})); // built-in

    // Nothing refused: no box.
    ScriptedMessages quiet;
    EXPECT_FALSE(warnAboutRefusedDataFiles({data::LoadReport{"a.dat", true, 1, {}}}, quiet));
    EXPECT_TRUE(quiet.shown.empty());
}

} // namespace
} // namespace teloria::testing
