#pragma once
#include <QString>
#include <QStringList>

namespace teloria {

enum class TrailingBreak {
    KeepEmptyLast, // the input box: a text ending in a break gives one last, empty number
    Drop,          // files: their last line break ends the last number
};

// Splits text into numbers at its line breaks: LF, or CR LF counted as one
// break. A CR that is not followed by LF stays in the number. Empty text gives
// no numbers.
QStringList splitLines(const QString& text, TrailingBreak trailing = TrailingBreak::KeepEmptyLast);

} // namespace teloria
