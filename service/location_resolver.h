#pragma once
// Location and card type of a cleaned number: a thin view over the prefix
// store that every program shares (data/prefix_store.h), in the shape the
// HTTP server uses.

#include "number_normalizer.h"
#include "phone_dat.h"
#include "prefix_store.h"
#include "segment_table.h"

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
    explicit LocationResolver(std::shared_ptr<data::PrefixStore> store);

    // Thread-safe. The answer lives as long as the resolver; a prefix seen
    // before costs one array read.
    const Answer& resolve(const CleanNumber& number) const { return store_->lookup(number); }

    // The store behind it, for learning answers at run time.
    data::PrefixStore& store() const { return *store_; }

private:
    std::shared_ptr<data::PrefixStore> store_;
};

} // namespace teloria::service
