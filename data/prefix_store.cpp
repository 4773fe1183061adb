#include "data/prefix_store.h"

#include "data/builtin_mobile.h"
#include "text/gbk.h"
#include "data/override_file.h"
#include "data/phone_dat.h"
#include "data/place_names.h"
#include "data/segment_table.h"

#include <cassert>
#include <unordered_map>

namespace teloria::data {
namespace {

constexpr std::size_t kAreaCodes = 1000;

std::string keyOf(const Answer& a)
{
    std::string key;
    for (const std::string* f : {&a.location, &a.cardType, &a.province, &a.city, &a.areaCode, &a.zip, &a.source}) {
        key += *f;
        key += '\n';
    }
    key += static_cast<char>('0' + static_cast<int>(a.tier));
    return key;
}

// The area code of a place the landline table names: a prefecture or a
// municipality, never a province alone (unless the province has one code).
std::string areaCodeOf(const std::string& placeText)
{
    return placeText.empty() ? std::string() : std::string(bakedAreaCode(placeText));
}

Answer answerOf(const Place& place, std::string cardType, Tier tier, std::string source)
{
    Answer a;
    a.province = place.province;
    a.city = place.city;
    a.location = place.text();
    a.areaCode = areaCodeOf(a.location);
    if (a.location.empty())
        a.location = kUnknown;
    a.cardType = cardType.empty() ? std::string(kUnknown) : std::move(cardType);
    a.tier = tier;
    a.source = std::move(source);
    return a;
}

} // namespace

PrefixStore::PrefixStore()
    : PrefixStore(SegmentTable::builtIn())
{
}

PrefixStore::PrefixStore(const SegmentTable& segments)
    : segments_(segments)
    , byPrefix_(kPrefixCount)
    , byAreaCode_(kAreaCodes)
    , byBaked_(bakedCount())
{
    // Index 0 stands for "not looked at yet"; its answer is never handed out.
    intern(Answer{});
}

PrefixStore::~PrefixStore() = default;

std::size_t PrefixStore::answerCount() const
{
    return count_.load(std::memory_order_acquire) - 1;
}

std::uint32_t PrefixStore::intern(Answer answer) const
{
    std::unique_lock lock(mutex_);
    return internLocked(lock, std::move(answer));
}

std::uint32_t PrefixStore::internLocked([[maybe_unused]] const std::unique_lock<std::mutex>& held, Answer answer) const
{
    assert(held.owns_lock() && held.mutex() == &mutex_);
    std::string key = keyOf(answer);
    if (const auto it = known_.find(key); it != known_.end())
        return it->second;
    const std::uint32_t index = count_.load(std::memory_order_relaxed);
    if (index >= kMaxChunks * kChunkSize)
        return 0; // full: callers fall back to what they had
    auto& chunk = chunks_[index >> kChunkBits];
    if (!chunk)
        chunk = std::make_unique<Answer[]>(kChunkSize);
    answer.locationGbk = gbk(answer.location);
    answer.cardTypeGbk = gbk(answer.cardType);
    chunk[index & (kChunkSize - 1)] = std::move(answer);
    count_.store(index + 1, std::memory_order_release);
    known_.emplace(std::move(key), index);
    return index;
}

std::uint32_t PrefixStore::builtInIndex(std::uint32_t prefix7) const
{
    if (&segments_ != &SegmentTable::builtIn()) { // a table of its own: the compiled-in place, its operator
        const BakedFacts& facts = bakedFacts(bakedIndex(prefix7));
        const Place place{std::string(facts.province), std::string(facts.city)};
        return intern(answerOf(place, std::string(segments_.operatorOf(std::to_string(prefix7))), Tier::BuiltIn,
                               std::string(kBuiltInSource)));
    }
    // The compiled-in answers, each interned on its first use.
    const std::uint32_t baked = bakedIndex(prefix7);
    auto slot = byBaked_[baked];
    if (const std::uint32_t seen = slot.load(std::memory_order_acquire))
        return seen;
    const BakedFacts& facts = bakedFacts(baked);
    const Place place{std::string(facts.province), std::string(facts.city)};
    const std::uint32_t index =
        intern(answerOf(place, std::string(facts.cardType), Tier::BuiltIn, std::string(kBuiltInSource)));
    slot.store(index, std::memory_order_release); // any thread interns the same answer: same index
    return index;
}

std::uint32_t PrefixStore::resolved(std::uint32_t prefix7) const
{
    assert(holds(prefix7));
    auto slot = byPrefix_[prefix7 - kFirstPrefix];
    if (const std::uint32_t seen = slot.load(std::memory_order_acquire))
        return seen;
    std::uint32_t index = builtInIndex(prefix7);
    std::uint32_t expected = 0;
    // Another thread may have published first (the same built-in answer, or a learned one): keep its.
    if (!slot.compare_exchange_strong(expected, index, std::memory_order_acq_rel, std::memory_order_acquire))
        index = expected;
    return index;
}

const Answer& PrefixStore::mobile(std::uint32_t prefix7) const
{
    if (holds(prefix7))
        return at(resolved(prefix7));
    // Not a 7-digit prefix: no source can know it.
    static const Answer unknown = [] {
        Answer a;
        a.location = kUnknown;
        a.cardType = kUnknown;
        a.locationGbk = gbk(kUnknown);
        a.cardTypeGbk = gbk(kUnknown);
        return a;
    }();
    return unknown;
}

void PrefixStore::prefetch(const CleanNumber& number) const
{
    if (number.kind != NumberKind::Mobile)
        return;
    if (const auto prefix = Prefix7::fromNumber(number.digits))
        prefetchMobile(*prefix);
}

const Answer& PrefixStore::lookup(const CleanNumber& number) const
{
    if (number.kind == NumberKind::Mobile) {
        // cleanNumber() makes a mobile number eleven digits, 13 to 19 first.
        const auto prefix = Prefix7::fromNumber(number.digits);
        assert(prefix);
        return prefix ? mobile(*prefix) : mobile(std::uint32_t{0});
    }
    if (number.kind == NumberKind::Iot)
        return machineToMachine(number.digits);
    // Landline: the area code after its 0 ("10", "755") indexes a small table.
    const std::string area = number.digits.substr(0, static_cast<std::size_t>(number.areaCodeLength));
    const auto code = static_cast<std::size_t>(std::stoul(area.substr(1)));
    auto slot = byAreaCode_[code % kAreaCodes];
    if (const std::uint32_t seen = slot.load(std::memory_order_acquire))
        return at(seen);
    const BakedPlace baked = bakedLandline(static_cast<std::uint32_t>(code));
    Answer a = answerOf(Place{std::string(baked.province), std::string(baked.city)}, std::string(kLandlineCardType),
                        Tier::BuiltIn, std::string(kBuiltInSource));
    a.areaCode = area;
    std::uint32_t index = intern(std::move(a));
    std::uint32_t expected = 0;
    if (!slot.compare_exchange_strong(expected, index, std::memory_order_acq_rel, std::memory_order_acquire))
        index = expected;
    return at(index);
}

const Answer& PrefixStore::machineToMachine(const std::string& digits13) const
{
    // 1064x -> 0..9, 1440x -> 10..19: the first five digits of every number the cleaner reads as one.
    const std::size_t key = (digits13.starts_with("1440") ? 10 : 0) + static_cast<std::size_t>(digits13[4] - '0');
    auto& slot = byIot_[key % kIotKeys];
    if (const std::uint32_t seen = slot.load(std::memory_order_acquire))
        return at(seen);
    const std::string_view op = segments_.iotOperatorOf(digits13);
    std::uint32_t index = intern(answerOf(Place{}, std::string(op.empty() ? kUnknown : op), Tier::BuiltIn,
                                          std::string(kBuiltInSource)));
    std::uint32_t expected = 0;
    if (!slot.compare_exchange_strong(expected, index, std::memory_order_acq_rel, std::memory_order_acquire))
        index = expected;
    return at(index);
}

std::uint32_t PrefixStore::overlay(const std::unique_lock<std::mutex>& held, std::uint32_t below,
                                   const PrefixFacts& facts, Tier tier, const std::string& source) const
{
    PrefixFacts merged;
    std::string lowerLocation;
    if (below != 0 && !isComplete(facts)) {
        const Answer& lower = at(below); // what the lower sources know
        merged = {lower.province, lower.city, lower.hasCardType() ? lower.cardType : std::string(), lower.areaCode,
                  lower.zip};
        lowerLocation = lower.location;
    }
    merged = overlayFacts(std::move(merged), facts);
    // answerOf gives the area code of the place; the source's own area code
    // and zip win, and a lower source's stand only while the place is its.
    Answer a = answerOf(placeFromFields(merged.province, merged.city), canonicalCardType(merged.cardType), tier,
                        source);
    if (a.cardType == kUnknown || isBlank(a.cardType))
        a.cardType = kUnknown;
    const bool samePlace = a.location == lowerLocation;
    if (!isBlank(facts.areaCode) || (samePlace && !merged.areaCode.empty()))
        a.areaCode = std::move(merged.areaCode);
    a.zip = !isBlank(facts.zip) || samePlace ? std::move(merged.zip) : std::string();
    return internLocked(held, std::move(a));
}

PrefixFacts PrefixStore::factsOf(const PhoneDat& dat, std::size_t entry)
{
    const PhoneDat::Hit hit = dat.entry(entry);
    const bool knownCard = hit.cardTypeCode >= 1 && hit.cardTypeCode <= 8;
    return PrefixFacts{std::string(hit.province), std::string(hit.city),
                       knownCard ? std::string(hit.cardType) : std::string(), std::string(hit.areaCode),
                       std::string(hit.zip)};
}

std::size_t PrefixStore::addPhoneDat(const PhoneDat& dat, const std::string& source)
{
    // Complete entries sharing a record and a card type share one answer: look each pair up once.
    struct PairHash {
        std::size_t operator()(const std::pair<const char*, std::uint8_t>& p) const
        {
            return std::hash<const void*>()(p.first) ^ (std::size_t{p.second} << 1);
        }
    };
    std::unordered_map<std::pair<const char*, std::uint8_t>, std::uint32_t, PairHash> complete;
    std::size_t set = 0;
    for (std::size_t i = 0; i < dat.entryCount(); ++i) {
        const PhoneDat::Hit hit = dat.entry(i);
        const PrefixFacts facts = factsOf(dat, i);
        auto slot = byPrefix_[hit.prefix - kFirstPrefix];
        std::uint32_t index = 0;
        if (isComplete(facts)) {
            const std::pair<const char*, std::uint8_t> key{hit.province.data(), hit.cardTypeCode};
            auto it = complete.find(key);
            if (it == complete.end()) {
                std::unique_lock lock(mutex_);
                it = complete.emplace(key, overlay(lock, 0, facts, Tier::PhoneDat, source)).first;
            }
            index = it->second;
        } else {
            const std::uint32_t below = resolved(hit.prefix);
            std::unique_lock lock(mutex_);
            index = overlay(lock, below, facts, Tier::PhoneDat, source);
        }
        if (index != 0) {
            slot.store(index, std::memory_order_release);
            ++set;
        }
    }
    return set;
}

std::size_t PrefixStore::addOverrides(const OverrideTable& table, const std::string& source)
{
    std::size_t set = 0;
    for (const OverrideLine& line : table.lines) {
        const PrefixFacts facts = line.facts();
        const bool complete = isComplete(facts);
        std::uint32_t completeIndex = 0;
        if (complete) {
            std::unique_lock lock(mutex_);
            completeIndex = overlay(lock, 0, facts, Tier::Override, source);
        }
        const std::uint32_t first = line.firstPrefix();
        for (std::uint32_t p = first; p < first + line.prefixCount(); ++p) {
            std::uint32_t index = completeIndex;
            if (!complete) {
                const std::uint32_t below = resolved(p);
                std::unique_lock lock(mutex_);
                index = overlay(lock, below, facts, Tier::Override, source);
            }
            if (index != 0)
                byPrefix_[p - kFirstPrefix].store(index, std::memory_order_release);
        }
        set += line.prefixCount();
    }
    return set;
}

bool PrefixStore::learn(std::uint32_t prefix7, std::string_view location, std::string_view cardType)
{
    return holds(prefix7) && learnAt(prefix7, location, cardType);
}

bool PrefixStore::learn(Prefix7 prefix, std::string_view location, std::string_view cardType)
{
    return learnAt(prefix.value(), location, cardType);
}

bool PrefixStore::learnAt(std::uint32_t prefix7, std::string_view location, std::string_view cardType)
{
    assert(holds(prefix7));
    const std::uint32_t below = resolved(prefix7);
    std::unique_lock lock(mutex_);
    auto slot = byPrefix_[prefix7 - kFirstPrefix];
    const std::uint32_t current = slot.load(std::memory_order_acquire); // may have changed since
    if (at(current != 0 ? current : below).tier == Tier::Override)
        return false;
    std::string why;
    if (!isSafeText(location, &why) || !isSafeText(cardType, &why))
        return false;
    PrefixFacts facts;
    facts.city = std::string(location); // one run-together description or "province city"
    if (const auto space = location.find(' '); space != std::string_view::npos) {
        facts.province = std::string(location.substr(0, space));
        facts.city = std::string(location.substr(space + 1));
    }
    facts.cardType = std::string(cardType);
    const std::uint32_t index = overlay(lock, current != 0 ? current : below, facts, Tier::Learned, std::string(kLearnedSource));
    if (index == 0)
        return false;
    slot.store(index, std::memory_order_release);
    return true;
}

bool PrefixStore::needsUpstream(std::uint32_t prefix7) const
{
    if (!holds(prefix7))
        return false;
    const Answer& a = mobile(prefix7);
    return !a.hasLocation() || !a.hasCardType();
}

bool PrefixStore::needsUpstream(Prefix7 prefix) const
{
    return needsUpstream(prefix.value());
}

} // namespace teloria::data
