// The cost of the requests alone: one libcurl easy handle per request, made,
// used and released in a plain loop, over the same URLs the lookup run asks.
// Usage: e2e_baseline BASE_URL NUMBERS_FILE
// Prints: "<count> <seconds> <failed>"
#include "bench/bare_get.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {


} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BASE_URL NUMBERS_FILE\n", argv[0]);
        return 2;
    }
    std::vector<std::string> urls;
    std::ifstream in(argv[2]);
    for (std::string line; std::getline(in, line);)
        urls.push_back(std::string(argv[1]) + "/sim_search138.asp?mobile=" + line);

    curl_global_init(CURL_GLOBAL_DEFAULT);
    int failed = 0;
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& url : urls) {
        std::string body;
        if (!bench::bareGet(url, body))
            ++failed;
        bytes += body.size();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    curl_global_cleanup();
    std::printf("%zu %.3f %d\n", urls.size(), seconds, failed);
    return bytes > 0 || urls.empty() ? 0 : 1;
}
