#pragma once
// A location cell ("广东 广州") as its province and city: the first word and
// the rest. "未知" gives neither; a location of one word is a province alone.

#include <QString>

namespace teloria {

struct PlaceParts {
    QString province;
    QString city;
};

inline PlaceParts placeParts(const QString& location)
{
    if (location == u"未知")
        return {};
    const qsizetype space = location.indexOf(u' ');
    if (space < 0)
        return {location, {}};
    return {location.left(space), location.mid(space + 1)};
}

} // namespace teloria
