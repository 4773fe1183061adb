#pragma once
// The numbers of teloria-batch's input, read in blocks: one per line, the
// line ended by LF, CR LF or a lone CR. The encoding is found as the bytes
// come: a UTF-16 byte-order mark (LE or BE) gives UTF-16; a UTF-8 one is
// dropped; otherwise UTF-8, until a block turns out not to be valid UTF-8,
// from which on the input is read as GB18030 (what Windows tools write).

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace teloria::cli {

class NumberInput {
public:
    enum class Encoding { Utf8, Gb18030, Utf16Le, Utf16Be };

    // Takes the next raw bytes of the input; atEnd: there are no more.
    // Appends the numbers whose lines are complete (at the end, all of them).
    void feed(QByteArray bytes, bool atEnd, QStringList& numbers);

    Encoding encoding() const { return encoding_; }
    // Set once, when the input turned out not to be UTF-8; for standard error.
    QString note() const { return note_; }

private:
    QString decodeComplete(bool atEnd);

    QByteArray raw_;  // bytes not decoded yet
    QString text_;    // decoded text after the last complete line
    Encoding encoding_ = Encoding::Utf8;
    bool started_ = false;  // the byte-order mark has been looked for
    bool crPending_ = false; // the last line ended with CR: an LF right after it is that break's
    QString note_;
};

} // namespace teloria::cli
