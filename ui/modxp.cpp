#include "ui/modxp.h"

#include "command/command_line.h"
#include "command/learn_options.h"
#include "data/data_files.h"
#include "lookup/service_choice.h"
#include "service/bundled_service.h"
#include "teloria/version.h"
#include "ui/data_warning.h"
#include "ui/form1.h"
#include "ui/widget_ports.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>

namespace modXP {
namespace {

const QString kProgramTitle = QStringLiteral("Teloria");

// Said on standard error, and in a box where somebody can see one.
void reportStartFailure(const QString& text)
{
    std::fprintf(stderr, "teloria: %s\n", qUtf8Printable(text));
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        QGuiApplication::platformName() != QLatin1String("offscreen"))
        QMessageBox::critical(nullptr, kProgramTitle, text);
}

// Qt's own options, which QApplication takes out of the command line before
// the window reads it: known here too, so that they are not refused.
void addQtOptions(teloria::command::CommandLine& line)
{
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                             "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style", "stylesheet"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("VALUE"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        line.add(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        line.add(option);
    }
}

} // namespace

int Main(int argc, char* argv[])
{
    // The whole command line is read before any window system is asked for:
    // --help, --version and a usage error work without a display.
    using teloria::command::CommandLine;
    CommandLine line(QStringLiteral("teloria"),
                     QStringLiteral("Teloria Beta1: looks up the home location and card type of Chinese mobile\n"
                                    "numbers in one batch.\nWithout --service and TELORIA_SERVICE it starts the "
                                    "bundled lookup service on loopback,\nwhich --data and the learning options "
                                    "act on."));
    line.add(teloria::command::Shared::Service);
    line.add(teloria::command::Shared::Data);
    line.add(teloria::command::Shared::Learning);
    addQtOptions(line);
    line.takeSingleDashWords();
    line.setEpilog(QStringLiteral("Exit status: 0 the window was closed, 2 bad usage or a lookup service that\n"
                                  "cannot be used.\n"));
    const auto streams = teloria::command::Streams::standard();
    if (const auto status = line.parse(teloria::command::argumentsOf(argc, argv), streams))
        return *status;
    if (!line.arguments().isEmpty())
        return line.usageError(QStringLiteral("unexpected argument '%1'").arg(line.arguments().constFirst()), streams);
    if (const auto refusal = teloria::command::refuseMalformedService(line))
        return line.usageError(*refusal, streams);
    // Data files and learning are the bundled service's; a named service has its own.
    QString note;
    if (const auto refusal = teloria::command::refuseOwnLookupOptions(line, &note))
        return line.usageError(*refusal, streams);
    if (!note.isEmpty())
        std::fprintf(stderr, "teloria: %s\n", qUtf8Printable(note));
    teloria::data::DataSettings data;
    for (const QString& file : line.values(QStringLiteral("data")))
        data.files.push_back(file.toStdString());
    data.program = "teloria";
    if (!teloria::command::serviceNamed(line)) {
        if (QString why; !teloria::command::readLearnSettings(line, data.learn, &why))
            return line.usageError(why, streams);
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("teloria"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELORIA_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Halvick"));

    // The choice holds the bundled service, if one was started: it lives as long
    // as the window, and goes (its upstream asker stopped) before this returns,
    // so before main cleans up libcurl.
    std::shared_ptr<teloria::BundledService> bundled;
    const teloria::ServiceChoice service =
        teloria::chooseService(line.value(QStringLiteral("service")), [&data, &bundled] {
            teloria::StartedService started;
            bundled = teloria::BundledService::start(data, &started.error);
            if (bundled)
                started.baseUrl = bundled->baseUrl();
            started.running = bundled;
            return started;
        });
    if (!service.error.isEmpty()) {
        reportStartFailure(service.error);
        return 2;
    }

    Form1 form(service.baseUrl);
    if (bundled) {
        // The built-in data first, then the files in load order: every source with its date.
        std::vector<teloria::data::LoadReport> sources{teloria::data::builtInReport()};
        const auto& files = bundled->dataReports();
        sources.insert(sources.end(), files.begin(), files.end());
        form.setDataSources(sources);
    }
    form.show();
    // A refused data file was named on standard error; where somebody can see one, a box says it too.
    if (bundled && QGuiApplication::platformName() != QLatin1String("offscreen")) {
        teloria::MessageBoxSink messages(&form);
        teloria::warnAboutRefusedDataFiles(bundled->dataReports(), messages);
    }
    // The window closes while a run may still be looking up numbers between
    // two events: exec() returns only after that run has returned, and the
    // window is destroyed after exec(), so nothing the run uses goes first.
    return QApplication::exec();
}

} // namespace modXP
