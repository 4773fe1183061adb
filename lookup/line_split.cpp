#include "line_split.h"

namespace teloria {

QStringList splitLines(const QString& text, TrailingBreak trailing)
{
    QStringList lines;
    if (text.isEmpty())
        return lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\n')
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
