#include "text/field_extract.h"

#include <algorithm>

namespace teloria {

QString extractField(QStringView page, QStringView marker)
{
    const qsizetype at = page.indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype from = at + marker.size();
    qsizetype end = page.size();
    for (QStringView stop : {kFieldEnd, marker}) {
        const qsizetype hit = page.indexOf(stop, from);
        if (hit >= 0)
            end = std::min(end, hit);
    }
    return page.mid(from, end - from).toString();
}

} // namespace teloria
