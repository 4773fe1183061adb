#pragma once
// The one line and tab splitter of the data tables and override files:
// lines end at LF (a CR before it is dropped), blank lines and lines whose
// first character is '#' are skipped, and a field may end in a "# comment".

#include <string_view>
#include <vector>

namespace teloria::data {

// Calls f(lineNumber, line) for every line that holds data; line numbers count from 1.
template <typename F>
void forEachLine(std::string_view text, F&& f)
{
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        f(lineNo, line);
    }
}

// The fields of a line between tabs; a field starting with '#' and all after it are a comment.
inline std::vector<std::string_view> splitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (std::size_t from = 0;;) {
        const auto tab = line.find('\t', from);
        const std::string_view field = line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        if (field.starts_with('#'))
            break;
        fields.push_back(field);
        if (tab == std::string_view::npos)
            break;
        from = tab + 1;
    }
    return fields;
}

} // namespace teloria::data
