#include "ui/modxp.h"

#include "data/data_files.h"
#include "lookup/service_choice.h"
#include "service/bundled_service.h"
#include "teloria/version.h"
#include "ui/data_warning.h"
#include "ui/form1.h"
#include "ui/widget_ports.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
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

// --help and --version only print: they must work without a display.
bool printsOnly(int argc, char* argv[])
{
    static const char* const printing[] = {"-h", "--help", "-?", "--help-all", "-v", "--version"};
    for (int i = 1; i < argc; ++i)
        for (const char* option : printing)
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

} // namespace

int Main(int argc, char* argv[])
{
    std::unique_ptr<QCoreApplication> app;
    if (printsOnly(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("teloria"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELORIA_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Halvick"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Teloria Beta1: looks up the home location and card type of Chinese mobile numbers in one batch.\n"
        "Without --service and TELORIA_SERVICE it starts the bundled lookup service on loopback."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serviceOption(
        QStringLiteral("service"),
        QStringLiteral("Base URL of the lookup service, e.g. http://127.0.0.1:8138 "
                       "(default: TELORIA_SERVICE, else the bundled service)."),
        QStringLiteral("URL"));
    parser.addOption(serviceOption);
    const QCommandLineOption dataOption(
        QStringLiteral("data"),
        QStringLiteral("Also load FILE in the bundled service: a phone.dat file, or an override "
                       "table if it ends in .tsv (repeatable). Files in ~/.local/share/teloria/ "
                       "and /usr/share/teloria/ load without it."),
        QStringLiteral("FILE"));
    parser.addOption(dataOption);
    const QCommandLineOption upstreamOption(
        QStringLiteral("upstream"),
        QStringLiteral("Let the bundled service ask the online lookup service at URL about prefixes its "
                       "data do not know, sending only the prefix and 0000, and remember the answers "
                       "(default: TELORIA_UPSTREAM, else none)."),
        QStringLiteral("URL"));
    parser.addOption(upstreamOption);
    if (!parser.parse(QCoreApplication::arguments())) {
        reportStartFailure(parser.errorText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("teloria %s\n%s\n", TELORIA_VERSION, teloria::data::versionDataLine().c_str());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        reportStartFailure(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));
        return 2;
    }

    // Data files are the bundled service's; a named service loads its own.
    if (parser.isSet(dataOption)
        && (parser.isSet(serviceOption) || !qEnvironmentVariableIsEmpty("TELORIA_SERVICE"))) {
        reportStartFailure(QStringLiteral("--data is for the bundled service; a lookup service named with --service "
                                          "or TELORIA_SERVICE loads its own data"));
        return 2;
    }

    // The choice holds the bundled service, if one was started: it lives as long
    // as the window, and goes (its upstream asker stopped) before this returns,
    // so before main cleans up libcurl.
    teloria::data::DataSettings data;
    for (const QString& file : parser.values(dataOption))
        data.files.push_back(file.toStdString());
    data.program = "teloria";
    data.learn.upstream = parser.value(upstreamOption);
    if (std::string why; !teloria::data::finishLearnSettings(data.learn, &why)) {
        reportStartFailure(QString::fromStdString(why));
        return 2;
    }
    std::shared_ptr<teloria::BundledService> bundled;
    const teloria::ServiceChoice service =
        teloria::chooseService(parser.value(serviceOption), [&data, &bundled] {
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
