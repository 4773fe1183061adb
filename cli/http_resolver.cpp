#include "cli/http_resolver.h"

#include "text/field_extract.h"
#include "net/service_url.h"

#include <QRegularExpression>
#include <memory>

namespace teloria::cli {

QString failureReason(const FetchResult& result)
{
    if (!result.ok) {
        if (!result.errorText.isEmpty()) {
            // libcurl's texts carry the milliseconds and bytes of each attempt:
            // without them, the same failure reads the same every time.
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

RowCells cellsOfPage(const QString& page)
{
    return cellsOfAnswer(extractField(page, kLocationMarker), extractField(page, kCardTypeMarker));
}

RowCells cellsOfAnswer(QString location, QString card)
{
    RowCells cells;
    cells.location = std::move(location);
    cells.card = std::move(card);
    if (cells.location == u"未知")
        return cells;
    const qsizetype space = cells.location.indexOf(u' ');
    cells.province = space < 0 ? cells.location : cells.location.left(space);
    cells.city = space < 0 ? QString() : cells.location.mid(space + 1);
    return cells;
}

HttpResolver::HttpResolver(QString serviceBase, int jobs, FetchFunctionFactory factory, bool keepGoing)
    : base_(std::move(serviceBase)),
      keepGoing_(keepGoing),
      fetcher_(jobs, std::move(factory), [this](const FetchResult& r) { return keepAsking(r); })
{
}

bool HttpResolver::keepAsking(const FetchResult& result)
{
    const QString reason = failureReason(result);
    if (reason.isEmpty()) {
        failedInARow_ = 0;
        return true;
    }
    if (++failedInARow_ < kGiveUpAfter || keepGoing_)
        return true;
    if (gaveUpReason_.isEmpty())
        gaveUpReason_ = reason;
    return false;
}

QString HttpResolver::gaveUpReason() const
{
    return gaveUpReason_;
}

void HttpResolver::resolve(const QStringList& numbers, std::vector<Resolution>& out)
{
    QStringList urls;
    urls.reserve(numbers.size());
    for (const QString& n : numbers)
        urls.append(lookupUrl(base_, n));
    std::vector<std::optional<FetchResult>> results = fetcher_.fetchAll(urls);
    out.assign(results.size(), Resolution{});
    cells_.assign(results.size(), RowCells{});
    for (std::size_t i = 0; i < results.size(); ++i) {
        Resolution& r = out[i];
        if (!results[i]) {
            r.outcome = Outcome::NotAsked;
            continue;
        }
        const FetchResult& result = *results[i];
        cells_[i] = cellsOfPage(result.text);
        r.cells = &cells_[i];
        r.reason = failureReason(result);
        if (!r.reason.isEmpty()) {
            r.outcome = Outcome::Failed;
            r.unreachable = !result.ok;
        }
        else if (result.status == 400)
            r.outcome = Outcome::NotANumber;
    }
}

FetchFunctionFactory fetchSessions(const FetchOptions& options)
{
    return [options] {
        auto session = std::make_shared<FetchSession>(options);
        return FetchFunction([session](const QString& url) { return session->get(url); });
    };
}

} // namespace teloria::cli
