#pragma once
// The numbers of teloria-batch's input, read in blocks: one per line, the
// line ended by LF, CR LF or a lone CR. The encoding is found as the bytes
// come: a UTF-16 byte-order mark (LE or BE) gives UTF-16; a UTF-8 one is
// dropped; otherwise UTF-8, until a block turns out not to be valid UTF-8,
// from which on the input is read as GB18030 (what Windows tools write).
//
// While the lines of a block are ASCII they are handed out as views into the
// bytes, with no conversion. A line longer than kMaxLineChars is not a
// number: it comes as an empty line, and is passed over without being kept,
// however long it is.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <string_view>
#include <vector>

namespace teloria::cli {

class NumberInput {
public:
    enum class Encoding { Utf8, Gb18030, Utf16Le, Utf16Be };
    static constexpr qsizetype kMaxLineChars = 4096;

    // Takes the next raw bytes of the input; atEnd: there are no more.
    // Appends the lines that are complete (at the end, all of them), in
    // order, either all to ascii or all to text: ascii views point into bytes
    // or into this object and stay valid until the next feed().
    void feed(QByteArrayView bytes, bool atEnd, std::vector<std::string_view>& ascii, QStringList& text);
    // The same with every line as text.
    void feed(QByteArrayView bytes, bool atEnd, QStringList& numbers);

    Encoding encoding() const { return encoding_; }
    // What the input holds between blocks: at most a line's worth, whatever the lines.
    qsizetype heldBytes() const { return raw_.size() + text_.size() * 2; }
    // Set once, when the input turned out not to be UTF-8; for standard error.
    QString note() const { return note_; }

private:
    QString decodeComplete(bool atEnd);
    void feedText(QByteArrayView bytes, bool atEnd, QStringList& numbers);
    bool feedAscii(QByteArrayView bytes, bool atEnd, std::vector<std::string_view>& lines);

    QByteArray raw_;  // bytes not decoded yet
    qsizetype consumed_ = 0; // bytes at the start of raw_ handed out as views, dropped by the next feed()
    QString text_;    // decoded text after the last complete line
    Encoding encoding_ = Encoding::Utf8;
    bool started_ = false;  // the byte-order mark has been looked for
    bool crPending_ = false; // the last line ended with CR: an LF right after it is that break's
    bool skipping_ = false;  // inside a line too long to be a number, until its break
    QString note_;
};

} // namespace teloria::cli
