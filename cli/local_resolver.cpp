#include "cli/local_resolver.h"

#include "data/data_files.h"
#include "data/data_service.h"
#include "data/learning.h"
#include "data/number_normalizer.h"
#include "data/prefix_store.h"
#include "data/upstream_asker.h"

#include <condition_variable>
#include <mutex>
#include <unordered_set>

namespace teloria::cli {

LocalResolver::LocalResolver(const data::DataSettings& settings, std::FILE* err)
    : data_(settings)
    , err_(err)
    , program_(settings.program)
{
    if (!settings.program.empty()) {
        for (const data::LoadReport& report : data_.reports())
            std::fprintf(err, "%s: %s\n", settings.program.c_str(), data::reportLine(report).c_str());
    }
    store_ = data_.store();
    learning_ = data_.learning();
}

LocalResolver::~LocalResolver() = default;

// The block's prefixes that local data do not know go to the upstream all at
// once: the asker keeps two requests in flight and shares one per prefix.
// After kGiveUpAfter failed answers in a row it is stopped, and every lookup
// from then on is answered from local data at once.
void LocalResolver::askUpstream()
{
    struct Pending {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t open = 0;
        std::vector<data::Prefix7> answered; // called back, not yet counted
    };
    const auto pending = std::make_shared<Pending>();
    std::unordered_set<std::uint32_t> asked;
    for (const auto& clean : clean_) {
        if (!clean || clean->kind != data::NumberKind::Mobile)
            continue;
        const auto prefix = data::Prefix7::fromNumber(clean->digits);
        if (!prefix || !asked.insert(prefix->value()).second)
            continue;
        {
            std::lock_guard lock(pending->mutex);
            ++pending->open;
        }
        const bool waiting = learning_->askAsync(*prefix, [pending, prefix = *prefix] {
            {
                std::lock_guard lock(pending->mutex);
                pending->answered.push_back(prefix);
                --pending->open;
            }
            pending->changed.notify_all();
        });
        if (!waiting) {
            std::lock_guard lock(pending->mutex);
            --pending->open;
        }
    }
    std::unique_lock lock(pending->mutex);
    while (pending->open > 0 || !pending->answered.empty()) {
        pending->changed.wait(lock, [&] { return pending->open == 0 || !pending->answered.empty(); });
        for (const data::Prefix7 prefix : pending->answered) {
            if (learning_->asker()->known(prefix.text()))
                upstreamFailures_ = 0;
            else
                ++upstreamFailures_;
        }
        pending->answered.clear();
        if (upstreamFailures_ >= kGiveUpAfter && !upstreamGivenUp_) {
            upstreamGivenUp_ = true;
            lock.unlock();
            if (!program_.empty())
                std::fprintf(err_, "%s: the upstream failed %d times in a row; answering from local data from now on\n",
                             program_.c_str(), kGiveUpAfter);
            learning_->stop(); // the lookups still waiting are called back here, at once
            lock.lock();
        }
    }
} // data_ last: its upstream asker stops before the store goes

const RowCells& LocalResolver::cellsOf(const data::Answer& answer)
{
    Recent& slot = recent_[(reinterpret_cast<std::uintptr_t>(&answer) >> 4) % recent_.size()];
    if (slot.answer == &answer)
        return *slot.cells;
    auto [it, added] = cells_.try_emplace(&answer);
    if (added) {
        RowCells& c = it->second;
        c.location = QString::fromStdString(answer.location);
        c.card = QString::fromStdString(answer.cardType);
        c.province = QString::fromStdString(answer.province);
        c.city = QString::fromStdString(answer.city);
        c.areaCode = QString::fromStdString(answer.areaCode);
        c.zip = QString::fromStdString(answer.zip);
        c.source = QString::fromStdString(answer.source);
    }
    slot = Recent{&answer, &it->second};
    return it->second;
}

void LocalResolver::prefetchMobile(data::Prefix7 prefix)
{
    store_->prefetchMobile(prefix);
}

std::uint32_t LocalResolver::mobileKey(data::Prefix7 prefix)
{
    if (learning_)
        learning_->prepare(prefix);
    return store_->mobileIndex(prefix);
}

const RowCells& LocalResolver::cellsOfKey(std::uint32_t key)
{
    return cellsOf(store_->answerAt(key));
}

void LocalResolver::resolve(const QStringList& numbers, std::vector<Resolution>& out)
{
    // The service refuses a longer "mobile" value as no number; so does this path.
    constexpr std::size_t maxBytes = data::kMaxNumberBytes;
    out.assign(static_cast<std::size_t>(numbers.size()), Resolution{}); // never failed here
    // First every number cleaned, its slot in the store hinted; then the lookups.
    clean_.resize(static_cast<std::size_t>(numbers.size()));
    std::string typed;
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        const QString& number = numbers.at(i);
        typed.clear();
        for (const QChar c : number) { // numbers are ASCII nearly always: no conversion then
            if (c.unicode() >= 0x80) {
                typed = number.toStdString();
                break;
            }
            typed.push_back(static_cast<char>(c.unicode()));
        }
        auto& clean = clean_[static_cast<std::size_t>(i)];
        clean = typed.size() <= maxBytes ? data::cleanNumber(typed) : std::nullopt;
        if (clean)
            store_->prefetch(*clean);
    }
    if (learning_ && !upstreamGivenUp_)
        askUpstream();
    for (std::size_t i = 0; i < out.size(); ++i) {
        Resolution& r = out[i];
        const auto& clean = clean_[i];
        r.cells = clean ? &cellsOf(store_->lookup(*clean)) : &kNoCells;
        r.outcome = clean ? Outcome::Answered : Outcome::NotANumber;
    }
}

} // namespace teloria::cli
