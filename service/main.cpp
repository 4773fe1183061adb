// teloria-lookupd: the bundled offline lookup service as a stand-alone server.

#include "service/location_resolver.h"
#include "net/service_url.h"
#include "service/lookup_server.h"
#include "data/data_files.h"
#include "platform/platform.h"
#include "teloria/version.h"

#include <curl/curl.h>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char kUsage[] = R"(Usage: teloria-lookupd [--listen HOST:PORT] [--data FILE] [--allow-remote] [--quiet] [--version]
                       [--upstream URL [--upstream-timeout S] [--upstream-rate N]]
                       [--learned FILE | --no-learn] [--refresh-days N]

Answers lookups of Chinese phone numbers from local data, as the lookup web
service Teloria queries: GET /sim_search138.asp?mobile=NUMBER gives a GBK page
with the number's location ("归属地：") and card type ("卡类型：").

Options:
  --listen HOST:PORT  address to listen on (default 127.0.0.1:8138); port 0
                      picks a free port. IPv6 addresses go in brackets: [::1]:8138
  --allow-remote      allow HOST to be an address other than loopback
  --data FILE         also load FILE (repeatable): a prefix database in the
                      phone.dat layout, or an override table if it ends in .tsv
                      (prefix<TAB>province<TAB>city<TAB>card type); a file named
                      earlier wins over a later one of the same kind
  --quiet             print nothing but errors
  -v, --version       print the version and exit
  --help              show this text

Besides --data, every *.dat and *.tsv file in $XDG_DATA_HOME/teloria/ (default
~/.local/share/teloria/) and then /usr/share/teloria/ is loaded, in name order.
Override tables win over phone.dat files, which win over the built-in data.
Each file loaded or skipped is reported on standard error, one line each.

The bound address is printed as "listening on http://HOST:PORT".
Ctrl-C or SIGTERM stops the service.
)";

struct Options {
    std::string host = teloria::kDefaultServiceHost;
    int port = teloria::kDefaultServicePort;
    teloria::data::DataSettings data;
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
            std::cout << kUsage << "\nLearning unknown prefixes from an online lookup service:\n"
                      << teloria::data::kLearnOptionsHelp;
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
            options.data.files.emplace_back(*v);
        } else if (arg.starts_with("--upstream") || arg == "--learned" || arg == "--no-learn"
                   || arg == "--refresh-days") {
            const std::vector<std::string> args(argv, argv + argc);
            std::size_t at = static_cast<std::size_t>(i);
            std::string why;
            if (teloria::data::takeLearnOption(args, at, options.data.learn, &why) != teloria::data::OptionResult::Taken)
                return usageError(why.empty() ? "unknown argument '" + std::string(arg) + "'" : why);
            i = static_cast<int>(at);
        } else if (arg == "--allow-remote") {
            options.allowRemote = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else {
            return usageError("unknown argument '" + std::string(arg) + "'");
        }
    }
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
    if (std::string why; !teloria::data::finishLearnSettings(options.data.learn, &why))
        return usageError(why);
    options.data.program = "teloria-lookupd";

    // The stop signals are waited for below, on this thread only; the
    // server's threads and the upstream's (started while loading), inherit the blocked mask.
    teloria::platform::blockStopSignals();

    // A file that cannot be used is skipped with its reason; the others still load.
    auto loaded = teloria::data::loadStore(options.data);
    for (const auto& report : loaded.reports)
        if (!options.quiet || !report.loaded)
            std::cerr << "teloria-lookupd: " << teloria::data::reportLine(report) << '\n';

    auto resolver = std::make_shared<const teloria::service::LocationResolver>(std::move(loaded.store),
                                                                             std::move(loaded.learning));
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
    server.stop();
    if (!options.quiet)
        std::cout << "stopped (" << received << ")" << std::endl;
    return 0;
}
