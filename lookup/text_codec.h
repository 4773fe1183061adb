#pragma once
// The project's one character-set layer, on ICU: decoding fetched pages and
// encoding text in the GBK code page.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace teloria {

// The ICU converter name for an encoding label, resolved as the WHATWG
// Encoding Standard does ("gb2312", "gbk", "x-gbk", "chinese" ... all give the
// GB18030 decoder). Empty for an unknown label.
QByteArray resolveEncodingLabel(QByteArrayView label);

// Decodes bytes with the converter of a resolved label; malformed bytes become U+FFFD.
QString decodeBytes(QByteArrayView bytes, const QByteArray& converterName);

// Decodes a page: the charset of the Content-Type header; without one, a
// byte-order mark; without one, a <meta charset> or <meta http-equiv=
// "Content-Type"> in the first 1024 bytes; else UTF-8. An unknown label falls
// back to UTF-8.
QString decodePage(QByteArrayView body, QByteArrayView contentType);

// Encodes text in the GBK code page (CP936); a character GBK cannot represent
// is written as its GB18030 four-byte sequence, so nothing is lost.
QByteArray encodeGbk(QStringView text);

} // namespace teloria
