// teloria-lookupd: the bundled offline lookup service as a stand-alone server.

#include "location_resolver.h"
#include "lookup/service_url.h"
#include "lookup_server.h"
#include "phone_dat.h"
#include "teloria/version.h"

#include <csignal>
#include <curl/curl.h>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>

namespace {

constexpr char kUsage[] = R"(Usage: teloria-lookupd [--listen HOST:PORT] [--data FILE] [--allow-remote] [--quiet] [--version]

Answers lookups of Chinese phone numbers from local data, as the lookup web
service Teloria queries: GET /sim_search138.asp?mobile=NUMBER gives a GBK page
with the number's location ("归属地：") and card type ("卡类型：").

Options:
  --listen HOST:PORT  address to listen on (default 127.0.0.1:8138); port 0
                      picks a free port. IPv6 addresses go in brackets: [::1]:8138
  --allow-remote      allow HOST to be an address other than loopback
  --data FILE         also load a prefix database in the phone.dat layout; where
                      it has a number's 7-digit prefix, its data win
  --quiet             print nothing but errors
  -v, --version       print the version and exit
  --help              show this text

The bound address is printed as "listening on http://HOST:PORT".
Ctrl-C or SIGTERM stops the service.
)";

struct Options {
    std::string host = teloria::kDefaultServiceHost;
    int port = teloria::kDefaultServicePort;
    std::string dataFile;
    bool allowRemote = false;
    bool quiet = false;
};

int usageError(const std::string& message)
{
    std::cerr << "teloria-lookupd: " << message << "\nTry 'teloria-lookupd --help'.\n";
    return 2;
}

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

bool isLoopback(const std::string& host)
{
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread starts; the page fetch needs libcurl ready.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string_view(argv[++i]);
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version" || arg == "-v") {
            std::cout << "teloria-lookupd " << TELORIA_VERSION << '\n';
            return 0;
        } else if (arg == "--listen") {
            const auto v = value();
            if (!v)
                return usageError("--listen needs HOST:PORT");
            if (!parseListen(*v, options))
                return usageError("--listen '" + std::string(*v) + "' is not HOST:PORT");
        } else if (arg == "--data") {
            const auto v = value();
            if (!v || v->empty())
                return usageError("--data needs a file name");
            options.dataFile = std::string(*v);
        } else if (arg == "--allow-remote") {
            options.allowRemote = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else {
            return usageError("unknown argument '" + std::string(arg) + "'");
        }
    }
    if (!options.allowRemote && !isLoopback(options.host))
        return usageError("listening on " + options.host
                          + " would answer other machines; add --allow-remote if that is meant");

    std::shared_ptr<const teloria::service::PhoneDat> phoneDat;
    if (!options.dataFile.empty()) {
        std::string why;
        auto loaded = teloria::service::PhoneDat::load(options.dataFile, &why);
        if (!loaded) {
            std::cerr << "teloria-lookupd: " << why << '\n';
            return 1;
        }
        phoneDat = std::make_shared<const teloria::service::PhoneDat>(std::move(*loaded));
        if (!options.quiet)
            std::cout << "loaded " << phoneDat->entryCount() << " prefixes from " << options.dataFile << '\n';
    }

    // SIGINT and SIGTERM are taken by sigwait below, on this thread only; the
    // server's threads, started after this, inherit the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto resolver = std::make_shared<const teloria::service::LocationResolver>(
        teloria::service::SegmentTable::builtIn(), phoneDat);
    teloria::service::LookupServer server(resolver);
    std::string why;
    const int port = server.bind(options.host, options.port, &why);
    if (port < 0 || !server.serveInBackground(&why)) {
        std::cerr << "teloria-lookupd: " << why << '\n';
        return 1;
    }
    if (!options.quiet) {
        const bool v6 = options.host.find(':') != std::string::npos;
        std::cout << "listening on http://" << (v6 ? "[" : "") << options.host << (v6 ? "]" : "") << ':' << port
                  << std::endl;
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    if (!options.quiet)
        std::cout << "stopped (" << (received == SIGINT ? "SIGINT" : "SIGTERM") << ")" << std::endl;
    return 0;
}
