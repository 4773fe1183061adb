#include "page_fetch.h"

// Placeholder until the libcurl fetch lands.
namespace teloria {
FetchResult fetchPage(const QString&, const FetchOptions&) { return {}; }
QString HttpGet(const QString& url, const FetchOptions& options) { return fetchPage(url, options).text; }
} // namespace teloria
