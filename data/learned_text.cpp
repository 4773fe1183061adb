#include "data/learned_store.h"

#include "data/outside_text.h"

namespace teloria::data {

std::optional<std::string> cleanLearnedText(std::string_view text)
{
    // White space (ASCII, the no-break and the ideographic space) dropped around, one ASCII space within.
    std::string out;
    bool pendingSpace = false;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t width = 0;
        if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')
            width = 1;
        else if (text.substr(i).starts_with("\u00a0"))
            width = 2;
        else if (text.substr(i).starts_with("\u3000"))
            width = 3;
        if (width > 0) {
            pendingSpace = !out.empty();
            i += width;
            continue;
        }
        if (pendingSpace)
            out += ' ';
        pendingSpace = false;
        out += text[i++];
    }
    if (out.empty())
        return std::nullopt;
    std::optional<std::string> accepted = acceptOutsideText(out, kMaxLearnedTextBytes);
    if (!accepted)
        return std::nullopt;
    out = std::move(*accepted);
    // Beyond what any text may hold: what a cell of the result file or a broken page would show.
    for (std::string_view refused : {std::string_view(","), std::string_view("\""), std::string_view("："),
                                     std::string_view("\xEF\xBF\xBD")})
        if (out.find(refused) != std::string::npos)
            return std::nullopt;
    return out;
}

} // namespace teloria::data
