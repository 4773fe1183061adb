#include "text_codec.h"

// Placeholder until the ICU layer lands: UTF-8 only.
namespace teloria {
QByteArray resolveEncodingLabel(QByteArrayView) { return "UTF-8"; }
QString decodeBytes(QByteArrayView bytes, const QByteArray&) { return QString::fromUtf8(bytes); }
QString decodePage(QByteArrayView body, QByteArrayView) { return QString::fromUtf8(body); }
QByteArray encodeGbk(QStringView text) { return text.toUtf8(); }
} // namespace teloria
