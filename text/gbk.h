#pragma once
// GBK bytes of a text, for the service's pages: the one helper, on the
// charset layer's encoder.

#include "text/text_codec.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <string_view>

namespace teloria::data {

inline QByteArray gbk(QStringView text)
{
    return encodeGbk(text);
}

inline QByteArray gbk(std::string_view utf8)
{
    return encodeGbk(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

} // namespace teloria::data
