#include "lookup/line_split.h"

namespace teloria {

QStringList splitLines(const QString& text, TrailingBreak trailing, LoneCr loneCr)
{
    QStringList lines;
    if (text.isEmpty())
        return lines;
    const bool crEnds = loneCr == LoneCr::EndsLine;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (crEnds && c == u'\r') {
            lines.append(text.mid(start, i - start));
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i; // CR LF is one break
            start = i + 1;
            continue;
        }
        if (c != u'\n')
            continue;
        qsizetype end = i;
        if (end > start && text[end - 1] == u'\r')
            --end;
        lines.append(text.mid(start, end - start));
        start = i + 1;
    }
    if (start < text.size() || trailing == TrailingBreak::KeepEmptyLast)
        lines.append(text.mid(start));
    return lines;
}

} // namespace teloria
