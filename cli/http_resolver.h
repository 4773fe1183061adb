#pragma once
// The HTTP path: one GET per number to a lookup service, N in flight, the
// cells cut out of each page with the one field extraction.

#include "net/ordered_fetcher.h"
#include "cli/resolver.h"

#include "lookup/fetch_failure.h"
#include "net/page_fetch.h"

namespace teloria::cli {

// After this many failed requests in a row the run stops asking (unless told to keep going).
inline constexpr int kGiveUpAfter = 3;

// The cells of a lookup page. The province and city are the location's first
// word and the rest ("未知" gives neither); the page carries no area code, zip
// or source.
RowCells cellsOfPage(const QString& page);
// The same cells from a location and card type given as text.
RowCells cellsOfAnswer(QString location, QString card);

class HttpResolver : public Resolver {
public:
    // jobs requests in flight at once; keepGoing: never give up.
    HttpResolver(QString serviceBase, int jobs, const FetchOptions& options, bool keepGoing);

    void resolve(const QStringList& numbers, std::vector<Resolution>& out) override;
    QString gaveUpReason() const override;

    int peakInFlight() const { return fetcher_.peakInFlight(); }

private:
    bool keepAsking(const FetchResult& result); // told of every answer as it ends

    QString base_;
    bool keepGoing_;
    int failedInARow_ = 0;
    QString gaveUpReason_;
    std::vector<RowCells> cells_; // the current block's
    OrderedFetcher fetcher_;
};

} // namespace teloria::cli
