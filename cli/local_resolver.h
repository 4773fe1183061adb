#pragma once
// The in-process path: numbers looked up in the built-in data directly, with
// the service's own cleaning and answers, so the rows are the bytes the HTTP
// path would give against the bundled service. No socket, no request.

#include "resolver.h"

#include <memory>
#include <unordered_map>

namespace teloria::service {
class LocationResolver;
struct Answer;
}

namespace teloria::cli {

class LocalResolver : public Resolver {
public:
    LocalResolver();
    ~LocalResolver() override;
    void resolve(const QStringList& numbers, std::vector<Resolution>& out) override;

private:
    const RowCells& cellsOf(const service::Answer& answer);

    std::shared_ptr<const service::LocationResolver> locations_;
    // The service keeps one answer per distinct location and card type; so do
    // the rows, whose cells then share their text.
    std::unordered_map<const service::Answer*, RowCells> cells_;
};

} // namespace teloria::cli
