#include "data/prefix_store.h"

#include "data/builtin_mobile.h"
#include "text/gbk.h"
#include "data/override_file.h"
#include "data/phone_dat.h"
#include "data/place_names.h"
#include "data/segment_table.h"

#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>
#include <phonenumbers/phonenumber.pb.h>

#include <unicode/locid.h>

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

Answer answerOf(const Place& place, std::string cardType, Tier tier, std::string source)
{
    Answer a;
    a.province = place.province;
    a.city = place.city;
    a.location = place.text();
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
    , geocoder_(std::make_unique<i18n::phonenumbers::PhoneNumberOfflineGeocoder>())
    , byPrefix_(new std::atomic<std::uint32_t>[kPrefixCount]())
    , byAreaCode_(new std::atomic<std::uint32_t>[kAreaCodes]())
    , byBaked_(new std::atomic<std::uint32_t>[bakedCount()]())
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
    std::lock_guard lock(mutex_);
    return internLocked(std::move(answer));
}

std::uint32_t PrefixStore::internLocked(Answer answer) const
{
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

std::string PrefixStore::geocode(std::uint64_t nationalNumber) const
{
    return describeChineseNumber(*geocoder_, nationalNumber);
}

std::uint32_t PrefixStore::builtInIndex(std::uint32_t prefix7) const
{
    if (&segments_ != &SegmentTable::builtIn()) { // a table of its own: ask as the build does
        MobileFacts facts = askBuiltIn(*geocoder_, segments_, prefix7);
        return intern(answerOf(facts.place, std::move(facts.cardType), Tier::BuiltIn, std::string(kBuiltInSource)));
    }
    // The compiled-in answers, each interned on its first use.
    const std::uint32_t baked = bakedIndex(prefix7);
    auto& slot = byBaked_[baked];
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
    auto& slot = byPrefix_[prefix7 - kFirstPrefix];
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
    if (prefix7 < kFirstPrefix || prefix7 - kFirstPrefix >= kPrefixCount) {
        // Not a 7-digit mobile prefix: no source can know it.
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
    return at(resolved(prefix7));
}

namespace {

std::uint32_t mobilePrefix(const CleanNumber& number)
{
    std::uint32_t prefix = 0;
    for (int i = 0; i < 7; ++i)
        prefix = prefix * 10 + static_cast<std::uint32_t>(number.digits[i] - '0');
    return prefix;
}

} // namespace

void PrefixStore::prefetch(const CleanNumber& number) const
{
    if (number.kind == NumberKind::Mobile)
        __builtin_prefetch(&byPrefix_[mobilePrefix(number) - kFirstPrefix]);
}

const Answer& PrefixStore::lookup(const CleanNumber& number) const
{
    if (number.kind == NumberKind::Mobile)
        return mobile(mobilePrefix(number));
    // Landline: the area code after its 0 ("10", "755") indexes a small table.
    const std::string area = number.digits.substr(0, static_cast<std::size_t>(number.areaCodeLength));
    const auto code = static_cast<std::size_t>(std::stoul(area.substr(1)));
    auto& slot = byAreaCode_[code % kAreaCodes];
    if (const std::uint32_t seen = slot.load(std::memory_order_acquire))
        return at(seen);
    Answer a = answerOf(placeFromDescription(geocode(std::stoull(number.digits.substr(1)))),
                        std::string(kLandlineCardType), Tier::BuiltIn, std::string(kBuiltInSource));
    a.areaCode = area;
    std::uint32_t index = intern(std::move(a));
    std::uint32_t expected = 0;
    if (!slot.compare_exchange_strong(expected, index, std::memory_order_acq_rel, std::memory_order_acquire))
        index = expected;
    return at(index);
}

std::uint32_t PrefixStore::overlay(std::uint32_t below, const PrefixFacts& facts, Tier tier,
                                   const std::string& source) const
{
    const Place place = placeFromFields(facts.province, facts.city);
    const std::string cardType = canonicalCardType(facts.cardType);
    const bool hasPlace = !place.text().empty();
    const bool hasCard = !cardType.empty() && cardType != kUnknown;
    Answer a;
    if ((!hasPlace || !hasCard) && below != 0)
        a = at(below); // copy what the lower sources know
    if (hasPlace) {
        a.province = place.province;
        a.city = place.city;
        a.location = place.text();
    }
    if (hasCard)
        a.cardType = cardType;
    if (!facts.areaCode.empty())
        a.areaCode = facts.areaCode;
    if (!facts.zip.empty())
        a.zip = facts.zip;
    if (a.location.empty())
        a.location = kUnknown;
    if (a.cardType.empty())
        a.cardType = kUnknown;
    a.tier = tier;
    a.source = source;
    return internLocked(std::move(a));
}

std::size_t PrefixStore::addPhoneDat(const PhoneDat& dat, const std::string& source)
{
    // Entries sharing a record and a card type share one answer: look each pair up once.
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
        const bool knownCard = hit.cardTypeCode >= 1 && hit.cardTypeCode <= 8;
        const bool hasPlace = !hit.province.empty() || !hit.city.empty();
        auto& slot = byPrefix_[hit.prefix - kFirstPrefix];
        const auto facts = [&hit, knownCard] {
            return PrefixFacts{std::string(hit.province), std::string(hit.city),
                               knownCard ? std::string(hit.cardType) : std::string(), std::string(hit.areaCode),
                               std::string(hit.zip)};
        };
        std::uint32_t index = 0;
        if (knownCard && hasPlace) {
            const std::pair<const char*, std::uint8_t> key{hit.province.data(), hit.cardTypeCode};
            auto it = complete.find(key);
            if (it == complete.end()) {
                std::lock_guard lock(mutex_);
                it = complete.emplace(key, overlay(0, facts(), Tier::PhoneDat, source)).first;
            }
            index = it->second;
        } else {
            const std::uint32_t below = resolved(hit.prefix);
            std::lock_guard lock(mutex_);
            index = overlay(below, facts(), Tier::PhoneDat, source);
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
        const PrefixFacts facts{line.province, line.city, line.cardType, {}, {}};
        const bool complete = !placeFromFields(line.province, line.city).text().empty()
                              && !canonicalCardType(line.cardType).empty();
        std::uint32_t completeIndex = 0;
        if (complete) {
            std::lock_guard lock(mutex_);
            completeIndex = overlay(0, facts, Tier::Override, source);
        }
        const std::uint32_t first = line.firstPrefix();
        for (std::uint32_t p = first; p < first + line.prefixCount(); ++p) {
            std::uint32_t index = completeIndex;
            if (!complete) {
                const std::uint32_t below = resolved(p);
                std::lock_guard lock(mutex_);
                index = overlay(below, facts, Tier::Override, source);
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
    if (prefix7 < kFirstPrefix || prefix7 >= kFirstPrefix + kPrefixCount)
        return false;
    const std::uint32_t below = resolved(prefix7);
    std::lock_guard lock(mutex_);
    auto& slot = byPrefix_[prefix7 - kFirstPrefix];
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
    const std::uint32_t index = overlay(current != 0 ? current : below, facts, Tier::Learned, std::string(kLearnedSource));
    if (index == 0)
        return false;
    slot.store(index, std::memory_order_release);
    return true;
}

bool PrefixStore::needsUpstream(std::uint32_t prefix7) const
{
    if (prefix7 < kFirstPrefix || prefix7 >= kFirstPrefix + kPrefixCount)
        return false;
    const Answer& a = mobile(prefix7);
    return !a.hasLocation() || !a.hasCardType();
}

} // namespace teloria::data
