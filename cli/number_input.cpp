#include "cli/number_input.h"

#include "lookup/line_split.h"
#include "text/text_codec.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace teloria::cli {

namespace {

// Bytes that certainly hold more than kMaxLineChars characters in any of the
// encodings read (at most 3 bytes per UTF-16 unit).
constexpr qsizetype kMaxCarryBytes = 3 * NumberInput::kMaxLineChars + 3;

bool isAscii(QByteArrayView bytes)
{
    unsigned char any = 0;
    for (const char c : bytes)
        any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

bool isBreak(char c) { return c == '\n' || c == '\r'; }

// One past the last LF or CR in bytes; 0 when there is none.
qsizetype afterLastBreak(QByteArrayView bytes)
{
    for (qsizetype i = bytes.size(); i > 0; --i) {
        if (isBreak(bytes[i - 1]))
            return i;
    }
    return 0;
}

qsizetype firstBreak(QByteArrayView bytes)
{
    const auto it = std::find_if(bytes.begin(), bytes.end(), isBreak);
    return it == bytes.end() ? -1 : it - bytes.begin();
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

void NumberInput::feed(QByteArrayView bytes, bool atEnd, QStringList& numbers)
{
    std::vector<std::string_view> ascii;
    feed(bytes, atEnd, ascii, numbers);
    for (const std::string_view line : ascii)
        numbers.append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
}

void NumberInput::feed(QByteArrayView bytes, bool atEnd, std::vector<std::string_view>& ascii, QStringList& text)
{
    if (consumed_ > 0) {
        raw_.remove(0, consumed_);
        consumed_ = 0;
    }
    const bool byteEncoding = encoding_ == Encoding::Utf8 || encoding_ == Encoding::Gb18030;
    if (started_ && byteEncoding && skipping_) {
        // The rest of a line too long to be a number: its break gives the empty line.
        const qsizetype at = firstBreak(bytes);
        if (at < 0) {
            if (atEnd) {
                skipping_ = false;
                ascii.emplace_back();
            }
            return;
        }
        skipping_ = false;
        bytes = bytes.sliced(at);
    }
    if (started_ && byteEncoding && text_.isEmpty() && feedAscii(bytes, atEnd, ascii))
        return;
    feedText(bytes, atEnd, text);
}

bool NumberInput::feedAscii(QByteArrayView bytes, bool atEnd, std::vector<std::string_view>& lines)
{
    const bool fromBytes = raw_.isEmpty();
    if (!fromBytes)
        raw_.append(bytes);
    const QByteArrayView view = fromBytes ? bytes : QByteArrayView(raw_);
    const qsizetype cut = atEnd ? view.size() : afterLastBreak(view);
    QByteArrayView complete = view.first(cut);
    if (!isAscii(complete)) {
        if (!fromBytes)
            raw_.chop(bytes.size()); // the text path takes the bytes from here
        return false;
    }
    const qsizetype tail = view.size() - cut;
    if (crPending_ && !complete.isEmpty()) {
        if (complete.front() == '\n')
            complete = complete.sliced(1);
        crPending_ = false;
    }
    if (!atEnd && cut > 0 && view[cut - 1] == '\r')
        crPending_ = true;
    // The lines: LF, CR LF or a lone CR ends one; the last break ends the last line.
    const char* p = complete.data();
    const char* const end = p + complete.size();
    // With no CR in the block, as nearly always, memchr finds each LF many bytes at a time.
    const bool lfOnly = p != end && !std::memchr(p, '\r', complete.size());
    const auto lineEnd = [lfOnly, end](const char* from) {
        if (lfOnly) {
            const auto* lf = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
            return lf ? lf : end;
        }
        while (from < end && *from != '\n' && *from != '\r')
            ++from;
        return from;
    };
    while (p < end) {
        const char* stop = lineEnd(p);
        const auto length = static_cast<std::size_t>(stop - p);
        lines.emplace_back(length > static_cast<std::size_t>(kMaxLineChars) ? std::string_view() : std::string_view(p, length));
        if (stop == end)
            break;
        p = stop + 1;
        if (*stop == '\r' && p < end && *p == '\n')
            ++p;
    }
    // What follows the last break waits for the next block, unless it is
    // already too long to be a number.
    const bool tooLong = tail > kMaxCarryBytes;
    skipping_ = tooLong;
    if (fromBytes) {
        raw_ = tooLong ? QByteArray() : bytes.sliced(cut).toByteArray();
    } else {
        consumed_ = tooLong ? raw_.size() : cut;
    }
    return true;
}

void NumberInput::feedText(QByteArrayView bytes, bool atEnd, QStringList& numbers)
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
    if (skipping_) { // UTF-16: the rest of a line too long to be a number
        const auto at = std::find_if(text.cbegin(), text.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; });
        if (at == text.cend()) {
            if (atEnd) {
                skipping_ = false;
                numbers.append(QString());
            }
            return;
        }
        skipping_ = false;
        text.remove(0, at - text.cbegin());
    }
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
    if (cut > 0) {
        const QString complete = text_.left(cut);
        text_.remove(0, cut);
        if (!atEnd && text_.isEmpty() && complete.endsWith(u'\r'))
            crPending_ = true;
        for (QString& line : splitLines(complete, TrailingBreak::Drop, LoneCr::EndsLine))
            numbers.append(line.size() > kMaxLineChars ? QString() : std::move(line));
    }
    // A line already too long to be a number is passed over from here on.
    // (UTF-16 keeps the odd bytes of raw_: they start the next character.)
    const bool utf16 = encoding_ == Encoding::Utf16Le || encoding_ == Encoding::Utf16Be;
    if (!atEnd && (text_.size() > kMaxLineChars || (!utf16 && raw_.size() > kMaxCarryBytes))) {
        text_.clear();
        if (!utf16)
            raw_.clear();
        skipping_ = true;
    }
}

} // namespace teloria::cli
