#include "lookup/fetch_failure.h"

#include <QRegularExpression>

namespace teloria {

QString failureReason(const FetchResult& result)
{
    if (!result.ok) {
        if (!result.errorText.isEmpty()) {
            static const QRegularExpression counts(
                QStringLiteral(R"( after \d+ m(s|illiseconds)( with \d+ (out of \d+ )?bytes received)?| with \d+ bytes remaining to read)"));
            return QString(result.errorText).remove(counts);
        }
        switch (result.error) {
        case FetchError::Timeout: return QStringLiteral("timed out");
        case FetchError::Connect: return QStringLiteral("could not connect");
        case FetchError::Resolve: return QStringLiteral("could not resolve host");
        case FetchError::OtherHost: return QStringLiteral("redirected to another host");
        default: return QStringLiteral("no answer");
        }
    }
    if ((result.status >= 200 && result.status < 300) || result.status == 400)
        return {};
    return QStringLiteral("HTTP %1").arg(result.status);
}

} // namespace teloria
