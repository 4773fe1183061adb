#pragma once
// The in-process path: numbers looked up in the prefix store directly, with
// the service's own cleaning, so that the rows are the bytes the HTTP path
// writes against the bundled service on the same data. No socket, no request.

#include "cli/resolver.h"

#include "data/data_service.h"
#include "data/number_normalizer.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
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
    bool answersMobilesInProcess() const override { return true; }
    void prefetchMobile(data::Prefix7 prefix) override;
    std::uint32_t mobileKey(data::Prefix7 prefix) override;
    const RowCells& cellsOfKey(std::uint32_t key) override;

    // Failed upstream answers in a row after which the upstream is asked no more.
    static constexpr int kGiveUpAfter = 3;

private:
    const RowCells& cellsOf(const data::Answer& answer);
    void askUpstream();

    data::DataService data_; // the store, the learning and the upstream asker, owned here
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
    std::FILE* err_;
    std::string program_;
    int upstreamFailures_ = 0; // failed upstream answers in a row
    bool upstreamGivenUp_ = false;
};

} // namespace teloria::cli
