#include "cli/http_resolver.h"

#include "lookup/place_parts.h"
#include "net/service_url.h"
#include "text/field_extract.h"

namespace teloria::cli {

RowCells cellsOfPage(const QString& page)
{
    return cellsOfAnswer(extractField(page, kLocationMarker), extractField(page, kCardTypeMarker));
}

RowCells cellsOfAnswer(QString location, QString card)
{
    RowCells cells;
    cells.location = std::move(location);
    cells.card = std::move(card);
    PlaceParts place = placeParts(cells.location);
    cells.province = std::move(place.province);
    cells.city = std::move(place.city);
    return cells;
}

HttpResolver::HttpResolver(QString serviceBase, int jobs, const FetchOptions& options, bool keepGoing)
    : base_(std::move(serviceBase)),
      keepGoing_(keepGoing),
      fetcher_(jobs, options, [this](const FetchResult& r) { return keepAsking(r); })
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

} // namespace teloria::cli
