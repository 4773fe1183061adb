// teloria-lookupd: the bundled offline lookup service as a stand-alone server.

#include "command/command_line.h"
#include "command/learn_options.h"
#include "service/location_resolver.h"
#include "net/service_url.h"
#include "service/lookup_server.h"
#include "data/data_files.h"
#include "data/data_service.h"
#include "platform/platform.h"

#include <curl/curl.h>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

const QString kDescription = QStringLiteral(
    "Answers lookups of Chinese phone numbers from local data, as the lookup web\n"
    "service Teloria queries: GET /sim_search138.asp?mobile=NUMBER gives a GBK page\n"
    "with the number's location (\"归属地：\") and card type (\"卡类型：\").");

const QString kEpilog = QStringLiteral(
    "Before --data, every *.dat and *.tsv file in /usr/share/teloria/ and then in\n"
    "$XDG_DATA_HOME/teloria/ (default ~/.local/share/teloria/) is loaded, each folder\n"
    "in name order; a later file wins, so --data wins over both folders.\n"
    "Override tables win over phone.dat files, which win over the built-in data.\n"
    "Each file loaded or skipped is reported on standard error, one line each.\n"
    "\n"
    "The bound address is printed as \"listening on http://HOST:PORT\".\n"
    "Ctrl-C or SIGTERM stops the service.\n"
    "Exit status: 0 stopped by a signal, 1 the address could not be bound, 2 bad usage.\n");

struct Options {
    std::string host = teloria::kDefaultServiceHost;
    int port = teloria::kDefaultServicePort;
    teloria::data::DataSettings data;
    bool allowRemote = false;
    bool quiet = false;
};

bool parseListen(std::string_view text, Options& options)
{
    std::string_view host;
    std::string_view port;
    if (text.starts_with('[')) {
        const auto close = text.find("]:");
        if (close == std::string_view::npos)
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos || text.find(':') != colon)
            return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty() || port.empty() || port.size() > 5)
        return false;
    int value = 0;
    for (const char c : port) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > 65535)
        return false;
    options.host = std::string(host);
    options.port = value;
    return true;
}

int run(int argc, char** argv);

} // namespace

int main(int argc, char** argv)
{
    // Before any thread starts; the page fetch needs libcurl ready.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = run(argc, argv);
    curl_global_cleanup();
    return status;
}

namespace {

int run(int argc, char** argv)
{
    using teloria::command::CommandLine;
    CommandLine line(QStringLiteral("teloria-lookupd"), kDescription);
    line.add(QCommandLineOption(QStringLiteral("listen"),
                                QStringLiteral("Address to listen on (default 127.0.0.1:8138); port 0 picks a free "
                                               "port. IPv6 addresses go in brackets: [::1]:8138"),
                                QStringLiteral("HOST:PORT")));
    line.add(QCommandLineOption(QStringLiteral("allow-remote"),
                                QStringLiteral("Allow HOST to be an address other than loopback.")));
    line.add(teloria::command::Shared::Data);
    line.add(teloria::command::Shared::Learning);
    line.add(QCommandLineOption(QStringLiteral("quiet"), QStringLiteral("Print nothing but errors.")));
    line.setEpilog(kEpilog);
    const auto streams = teloria::command::Streams::standard();
    if (const auto status = line.parse(teloria::command::argumentsOf(argc, argv), streams))
        return *status;
    const auto usageError = [&](const std::string& message) {
        return line.usageError(QString::fromStdString(message), streams);
    };
    if (!line.arguments().isEmpty())
        return usageError("unexpected argument '" + line.arguments().constFirst().toStdString() + "'");

    Options options;
    if (line.isSet(QStringLiteral("listen"))) {
        const std::string listen = line.value(QStringLiteral("listen")).toStdString();
        if (!parseListen(listen, options))
            return usageError("--listen '" + listen + "' is not HOST:PORT");
    }
    for (const QString& file : line.values(QStringLiteral("data")))
        options.data.files.push_back(file.toStdString());
    options.allowRemote = line.isSet(QStringLiteral("allow-remote"));
    options.quiet = line.isSet(QStringLiteral("quiet"));
    if (QString why; !teloria::command::readLearnSettings(line, options.data.learn, &why))
        return line.usageError(why, streams);
    // Without --allow-remote the service binds the very loopback address the
    // name was checked to resolve to.
    std::string bindHost = options.host;
    if (!options.allowRemote) {
        const auto loopback = teloria::platform::loopbackAddress(options.host);
        if (!loopback)
            return usageError("listening on " + options.host
                              + " would answer other machines (it is not a loopback address);"
                                " add --allow-remote if that is meant");
        bindHost = *loopback;
    }
    options.data.program = "teloria-lookupd";

    // The stop signals are waited for below, on this thread only; the
    // server's threads and the upstream's (started while loading), inherit the blocked mask.
    teloria::platform::blockStopSignals();

    // A file that cannot be used is skipped with its reason; the others still load.
    // Declared before the server, so that it is shut down after it, and both
    // before main returns and libcurl is cleaned up.
    teloria::data::DataService data(options.data);
    for (const auto& report : data.reports())
        if (!options.quiet || !report.loaded)
            std::cerr << "teloria-lookupd: " << teloria::data::reportLine(report) << '\n';

    auto resolver = std::make_shared<const teloria::service::LocationResolver>(data.store(), data.learning());
    teloria::service::LookupServer server(resolver);
    std::string why;
    const int port = server.bind(bindHost, options.port, &why);
    if (port < 0 || !server.serveInBackground(&why)) {
        std::cerr << "teloria-lookupd: " << why << '\n';
        return 1;
    }
    if (!options.quiet) {
        const bool v6 = options.host.find(':') != std::string::npos;
        std::cout << "listening on http://" << (v6 ? "[" : "") << options.host << (v6 ? "]" : "") << ':' << port
                  << std::endl;
    }

    const std::string received = teloria::platform::waitForStopSignal();
    server.stop(); // lookups waiting for the upstream are answered from local data first
    data.shutdown(); // a request to the upstream still under way is aborted
    if (!options.quiet)
        std::cout << "stopped (" << received << ")" << std::endl;
    return 0;
}

} // namespace
