#pragma once
// The project's one character-set layer, on ICU: decoding fetched pages and
// encoding text in the GBK code page. Every function is safe to call from
// several threads at once.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace teloria {

// The ICU converter name for an encoding label, resolved as the WHATWG
// Encoding Standard does ("gb2312", "gbk", "x-gbk", "chinese" ... all give the
// GB18030 decoder). Case-insensitive, surrounding ASCII whitespace ignored.
// Empty for an unknown label. Two names are not ICU's: "replacement" (labels
// such as "hz-gb-2312" whose pages decode to a single U+FFFD) and
// "x-user-defined".
QByteArray resolveEncodingLabel(QByteArrayView label);

// Decodes bytes with the converter of a resolved label; malformed bytes become
// U+FFFD. An empty or unknown converter name decodes as UTF-8. A byte-order
// mark is not removed here (decodePage does that).
QString decodeBytes(QByteArrayView bytes, const QByteArray& converterName);

// The charset parameter of a Content-Type header value (quoted or not), as
// written; empty when there is none.
QByteArray charsetFromContentType(QByteArrayView contentType);

// The resolved converter name declared by a <meta charset> or <meta
// http-equiv="Content-Type" content="...charset=..."> in the first 1024 bytes
// of a page; empty when there is none. UTF-16 labels give UTF-8 there, as a
// page whose bytes could be scanned as ASCII cannot be UTF-16.
QByteArray prescanMetaCharset(QByteArrayView body);

// Decodes a page: the charset of the Content-Type header; without one, a
// byte-order mark; without one, a <meta charset> or <meta http-equiv=
// "Content-Type"> in the first 1024 bytes; else UTF-8. A label that is not
// known counts as no label. A byte-order mark that matches the chosen
// encoding is dropped.
QString decodePage(QByteArrayView body, QByteArrayView contentType);

// Encodes text in the GBK code page (CP936); a character GBK cannot represent
// is written as its GB18030 four-byte sequence, so nothing is lost. The euro
// sign is written as CP936's single byte 0x80; an unpaired surrogate (not a
// character) as '?'.
QByteArray encodeGbk(QStringView text);

} // namespace teloria
