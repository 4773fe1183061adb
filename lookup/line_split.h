#pragma once
#include <QString>
#include <QStringList>

namespace teloria {

enum class TrailingBreak {
    KeepEmptyLast, // the input box: a text ending in a break gives one last, empty number
    Drop,          // files: their last line break ends the last number
};

enum class LoneCr {
    StaysInLine, // the input box: a CR that is not followed by LF is part of the number
    EndsLine,    // files from old Mac tools: a lone CR ends the line too
};

// Splits text into numbers at its line breaks: LF, or CR LF counted as one
// break; a CR that is not followed by LF stays in the number unless loneCr
// says it ends the line. Empty text gives no numbers.
QStringList splitLines(const QString& text, TrailingBreak trailing = TrailingBreak::KeepEmptyLast,
                       LoneCr loneCr = LoneCr::StaysInLine);

} // namespace teloria
