#include "cli/number_input.h"

#include "lookup/line_split.h"
#include "text/text_codec.h"

#include <QStringDecoder>

namespace teloria::cli {

namespace {

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// One past the last LF or CR in bytes; 0 when there is none.
qsizetype afterLastBreak(QByteArrayView bytes)
{
    for (qsizetype i = bytes.size(); i > 0; --i) {
        if (bytes[i - 1] == '\n' || bytes[i - 1] == '\r')
            return i;
    }
    return 0;
}

} // namespace

QString NumberInput::decodeComplete(bool atEnd)
{
    if (encoding_ == Encoding::Utf16Le || encoding_ == Encoding::Utf16Be) {
        qsizetype usable = raw_.size() & ~qsizetype(1);
        if (!atEnd && usable >= 2) {
            // A high surrogate waits for its pair.
            const auto hi = static_cast<unsigned char>(raw_[encoding_ == Encoding::Utf16Le ? usable - 1 : usable - 2]);
            if (hi >= 0xD8 && hi <= 0xDB)
                usable -= 2;
        }
        if (atEnd)
            usable = raw_.size();
        const QString text = decodeBytes(QByteArrayView(raw_).first(usable),
                                         encoding_ == Encoding::Utf16Le ? "UTF-16LE" : "UTF-16BE");
        raw_.remove(0, usable);
        return text;
    }
    // LF and CR never occur inside a UTF-8 or GB18030 character, so the bytes
    // up to the last line break decode on their own.
    const qsizetype cut = atEnd ? raw_.size() : afterLastBreak(raw_);
    if (cut == 0)
        return {};
    const QByteArrayView bytes = QByteArrayView(raw_).first(cut);
    QString text;
    if (isAscii(bytes)) {
        text = QString::fromLatin1(bytes);
    } else if (encoding_ == Encoding::Utf8) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = utf8.decode(bytes);
        if (utf8.hasError()) {
            encoding_ = Encoding::Gb18030;
            note_ = QStringLiteral("the input is not UTF-8: reading it as GB18030");
        }
    }
    if (encoding_ == Encoding::Gb18030 && !isAscii(bytes))
        text = decodeBytes(bytes, "GB18030");
    raw_.remove(0, cut);
    return text;
}

void NumberInput::feed(QByteArray bytes, bool atEnd, QStringList& numbers)
{
    raw_.append(bytes);
    if (!started_) {
        if (raw_.size() < 3 && !atEnd)
            return; // not enough to tell a byte-order mark
        started_ = true;
        if (raw_.startsWith("\xEF\xBB\xBF")) {
            raw_.remove(0, 3);
        } else if (raw_.startsWith("\xFF\xFE")) {
            encoding_ = Encoding::Utf16Le;
            raw_.remove(0, 2);
        } else if (raw_.startsWith("\xFE\xFF")) {
            encoding_ = Encoding::Utf16Be;
            raw_.remove(0, 2);
        }
    }

    QString text = decodeComplete(atEnd);
    if (crPending_ && !text.isEmpty()) {
        if (text.startsWith(u'\n'))
            text.remove(0, 1);
        crPending_ = false;
    }
    text_.append(text);

    qsizetype cut = text_.size();
    if (!atEnd) {
        cut = 0;
        for (qsizetype i = text_.size(); i > 0; --i) {
            if (text_[i - 1] == u'\n' || text_[i - 1] == u'\r') {
                cut = i;
                break;
            }
        }
    }
    if (cut == 0)
        return;
    const QString complete = text_.left(cut);
    text_.remove(0, cut);
    if (!atEnd && text_.isEmpty() && complete.endsWith(u'\r'))
        crPending_ = true;
    numbers.append(splitLines(complete, TrailingBreak::Drop, LoneCr::EndsLine));
}

} // namespace teloria::cli
