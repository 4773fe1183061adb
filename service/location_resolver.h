#pragma once
// Location and card type of a cleaned number: a thin view over the prefix
// store that every program shares (data/prefix_store.h), in the shape the
// HTTP server uses.

#include "data/number_normalizer.h"
#include "data/phone_dat.h"
#include "data/learning.h"
#include "data/prefix_store.h"
#include "data/segment_table.h"

#include <functional>
#include <memory>

namespace teloria::service {

// Number cleaning, the segment table, phone.dat files and answers live in data/.
using data::Answer;
using data::cleanNumber;
using data::CleanNumber;
using data::kLandlineCardType;
using data::kUnknown;
using data::NumberKind;
using data::PhoneDat;
using data::SegmentTable;

class LocationResolver {
public:
    // The built-in data alone.
    LocationResolver();
    // With learning, resolve() first lets it ask the upstream about a mobile
    // prefix local data do not know (waiting at most the upstream time-out);
    // askUpstream() and known() do the same without waiting.
    explicit LocationResolver(std::shared_ptr<data::PrefixStore> store,
                              std::shared_ptr<data::Learning> learning = nullptr);

    // Thread-safe. The answer lives as long as the resolver; a prefix seen
    // before costs one array read.
    const Answer& resolve(const CleanNumber& number) const
    {
        if (learning_ && number.kind == NumberKind::Mobile)
            if (const auto prefix = data::Prefix7::fromNumber(number.digits))
                learning_->prepare(*prefix);
        return store_->lookup(number);
    }

    // The non-blocking pair: askUpstream is false when the number can be
    // answered now; otherwise done is called once, on another thread, when
    // the upstream's answer is in or its time-out has passed, and the answer
    // is then known(). Thread-safe.
    bool askUpstream(const CleanNumber& number, std::function<void()> done) const
    {
        if (!learning_ || number.kind != NumberKind::Mobile)
            return false;
        const auto prefix = data::Prefix7::fromNumber(number.digits);
        return prefix && learning_->askAsync(*prefix, std::move(done));
    }
    // What local data and learned answers say now, asking no one.
    const Answer& known(const CleanNumber& number) const { return store_->lookup(number); }

    // The store behind it, for learning answers at run time.
    data::PrefixStore& store() const { return *store_; }

private:
    std::shared_ptr<data::PrefixStore> store_;
    std::shared_ptr<data::Learning> learning_;
};

} // namespace teloria::service
