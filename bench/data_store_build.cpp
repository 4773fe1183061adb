// Building the prefix store: time and memory with the built-in data alone,
// with data files, and with every built-in prefix looked at once.
//   data_store_build --generate FILE N   writes a phone.dat file of N prefixes
//   data_store_build [--all] [FILE...]   builds the store and prints the figures
#include "data/data_files.h"
#include "data/phone_dat.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

using namespace teloria::data;

namespace {

long statusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

int generate(const char* path, long count)
{
    static const char* const places[][2] = {
        {"广东", "深圳"}, {"广东", "广州"}, {"北京", "北京"}, {"上海", "上海"}, {"江苏", "南京"},
        {"浙江", "杭州"}, {"四川", "成都"}, {"湖北", "武汉"}, {"新疆", "乌鲁木齐"}, {"吉林", "延边"},
        {"内蒙古", "锡林郭勒"}, {"海南", "海口"}, {"山东", "济南"}, {"河南", "郑州"}, {"云南", "昆明"}};
    std::vector<PhoneDat::Row> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        const auto prefix = static_cast<std::uint32_t>(1300000 + i * 700000 / count);
        const auto& place = places[(prefix / 1000) % std::size(places)];
        rows.push_back({prefix, place[0], place[1], "100000", "010", static_cast<std::uint8_t>(1 + (prefix / 10000) % 8)});
    }
    const auto bytes = PhoneDat::serialise(std::move(rows));
    std::ofstream(path, std::ios::binary) << *bytes;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--generate") == 0)
        return generate(argv[2], std::stol(argv[3]));
    DataSettings settings;
    settings.discover = false;
    bool all = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all") == 0)
            all = true;
        else
            settings.files.push_back(argv[i]);
    }
    const long rssBefore = statusKb("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const LoadedStore loaded = loadStore(settings);
    if (all)
        for (std::uint32_t p = 1300000; p < 2000000; ++p)
            loaded.store->mobile(p);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long rssAfter = statusKb("VmRSS:");
    std::size_t prefixes = 0;
    for (const auto& r : loaded.reports)
        prefixes += r.prefixes;
    std::printf("%-44s %8.3f s  %6.1f MB extra  (%zu answers, %zu prefixes from files, peak RSS %.1f MB)\n",
                all ? "built-in data, every prefix 130-199 looked at" : settings.files.empty() ? "built-in data alone" : "with the data file",
                seconds, (rssAfter - rssBefore) / 1024.0, loaded.store->answerCount(), prefixes,
                statusKb("VmHWM:") / 1024.0);
    return 0;
}
