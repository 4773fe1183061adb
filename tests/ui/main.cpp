#include <QApplication>
#include <curl/curl.h>
#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    // Test discovery runs this binary outside CTest's environment: never look for a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Tests close windows and go on working; closing one must not end anything.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
