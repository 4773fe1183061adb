// The floor for teloria-batch in-process: reads blocks, turns each 11-digit
// line into its 7-digit prefix, reads a 1M-entry answer table and copies a
// pre-encoded row tail, writes blocks. Nothing else: no other input, no
// encodings, no options. Its output is the bytes teloria-batch writes for
// the same plain input with the built-in data and the default fields.
// Usage: batch_reference csv|tsv|jsonl IN OUT

#include "data/builtin_mobile.h"
#include "text/gbk.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string unknownOr(std::string text)
{
    return text.empty() ? std::string("未知") : text;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace teloria::data;
    if (argc != 4) {
        std::fprintf(stderr, "usage: batch_reference csv|tsv|jsonl IN OUT\n");
        return 2;
    }
    const std::string_view format = argv[1];
    const bool csv = format == "csv", tsv = format == "tsv", jsonl = format == "jsonl";
    if (!csv && !tsv && !jsonl)
        return 2;

    // The pre-encoded tails, one per answer, and the table.
    std::vector<std::string> tails(bakedCount());
    for (std::uint32_t i = 0; i < bakedCount(); ++i) {
        const BakedFacts& f = bakedFacts(i);
        std::string place(f.province);
        if (!f.city.empty())
            place += " " + std::string(f.city);
        const std::string location = unknownOr(place), card = unknownOr(std::string(f.cardType));
        if (csv) {
            const QByteArray l = gbk(location), c = gbk(card);
            tails[i] = "," + l.toStdString() + "," + c.toStdString() + "\r\n";
        } else if (tsv) {
            tails[i] = "\t" + location + "\t" + card + "\n";
        } else {
            tails[i] = "\",\"location\":\"" + location + "\",\"card\":\"" + card + "\"}\n";
        }
    }
    std::vector<std::uint16_t> table(1000000);
    for (std::uint32_t p = 0; p < table.size(); ++p)
        table[p] = static_cast<std::uint16_t>(bakedIndex(1000000 + p));

    const int in = ::open(argv[2], O_RDONLY);
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0)
        return 1;
    constexpr std::size_t kBlock = 64 * 1024;
    std::vector<char> block(kBlock + 64);
    std::string carry;
    std::string buffer;
    buffer.reserve(kBlock + 4096);
    if (tsv)
        buffer += "id\tnumber\tlocation\tcard\n";
    std::uint64_t id = 0;
    const auto row = [&](std::string_view line) {
        ++id;
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, id).ptr;
        if (jsonl)
            buffer += "{\"id\":";
        buffer.append(digits, end);
        buffer += jsonl ? ",\"number\":\"" : (csv ? "," : "\t");
        buffer.append(line);
        std::uint32_t prefix = 0;
        for (int i = 0; i < 7; ++i)
            prefix = prefix * 10 + static_cast<std::uint32_t>(line[i] - '0');
        buffer += tails[table[prefix - 1000000]];
        if (buffer.size() >= kBlock) {
            if (::write(out, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size()))
                std::exit(1);
            buffer.clear();
        }
    };
    for (;;) {
        const ssize_t n = ::read(in, block.data(), kBlock);
        if (n < 0)
            return 1;
        if (n == 0)
            break;
        std::string_view rest(block.data(), static_cast<std::size_t>(n));
        if (!carry.empty()) { // the line cut by the last block
            const std::size_t nl = rest.find('\n');
            carry.append(rest.substr(0, nl));
            if (nl == std::string_view::npos)
                continue;
            row(carry);
            carry.clear();
            rest.remove_prefix(nl + 1);
        }
        for (;;) {
            const void* nl = std::memchr(rest.data(), '\n', rest.size());
            if (!nl)
                break;
            const auto length = static_cast<std::size_t>(static_cast<const char*>(nl) - rest.data());
            row(rest.substr(0, length));
            rest.remove_prefix(length + 1);
        }
        carry.assign(rest);
    }
    if (!carry.empty())
        row(carry);
    if (::write(out, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size()))
        return 1;
    return ::close(out) == 0 ? 0 : 1;
}
