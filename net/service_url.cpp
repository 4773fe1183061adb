#include "net/service_url.h"

#include <QUrl>

namespace teloria {

std::optional<QString> parseServiceBase(const QString& text, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<QString> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return fail(QStringLiteral("the service URL is empty"));
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        // Qt's message goes on with the whole URL taken apart: its first clause says why.
        return fail(QStringLiteral("'%1' is not a valid URL: %2").arg(trimmed, url.errorString().section(u';', 0, 0)));
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return fail(QStringLiteral("'%1' is not an http:// or https:// URL").arg(trimmed));
    if (url.host().isEmpty())
        return fail(QStringLiteral("'%1' names no host").arg(trimmed));
    if (url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return fail(QStringLiteral("'%1' must not carry a query, fragment or user name").arg(trimmed));
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return fail(QStringLiteral("'%1' must name the server only, without a path").arg(trimmed));
    QString base = url.toString(QUrl::RemovePath | QUrl::FullyEncoded);
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

QString lookupUrl(const QString& base, const QString& number)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out = base.toUtf8();
    out += kLookupPath;
    for (const char c : number.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        const bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                                b == '-' || b == '.' || b == '_' || b == '~';
        if (!unreserved) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return QString::fromLatin1(out);
}

} // namespace teloria
