#pragma once
#include <QString>
#include <QStringView>

namespace teloria {

inline constexpr QStringView kLocationMarker = u"归属地：";
inline constexpr QStringView kCardTypeMarker = u"卡类型：";
inline constexpr QStringView kFieldEnd = u"<br/>";

// The text after the first occurrence of marker, up to the first of: the next
// "<br/>", the next occurrence of the same marker, the end of the page.
// Nothing is trimmed. A page without the marker gives empty text.
QString extractField(QStringView page, QStringView marker);

} // namespace teloria
