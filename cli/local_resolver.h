#pragma once
// The in-process path: numbers looked up in the prefix store directly, with
// the service's own cleaning, so that the rows are the bytes the HTTP path
// writes against the bundled service on the same data. No socket, no request.

#include "cli/resolver.h"

#include "data/number_normalizer.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace teloria::data {
class PrefixStore;
class Learning;
struct Answer;
struct DataSettings;
}

namespace teloria::cli {

class LocalResolver : public Resolver {
public:
    // Loads the data files of settings into a store of its own; a line per
    // file goes to err as the bundled service would print it.
    LocalResolver(const data::DataSettings& settings, std::FILE* err);
    ~LocalResolver() override;
    void resolve(const QStringList& numbers, std::vector<Resolution>& out) override;

private:
    const RowCells& cellsOf(const data::Answer& answer);

    std::shared_ptr<data::PrefixStore> store_;
    std::shared_ptr<data::Learning> learning_; // with --upstream, or learned answers on disk
    // The store keeps one answer per distinct set of fields, never moved; so
    // do the rows, whose cells then share their text.
    std::unordered_map<const data::Answer*, RowCells> cells_;
    // In front of it, by the answer's address: most rows find their cells here.
    struct Recent {
        const data::Answer* answer = nullptr;
        const RowCells* cells = nullptr;
    };
    std::vector<Recent> recent_ = std::vector<Recent>(4096);
    std::vector<std::optional<data::CleanNumber>> clean_; // the block's numbers, cleaned
};

} // namespace teloria::cli
