#pragma once
// Every source of location data merged into one table indexed by the 7-digit
// mobile prefix, so that a lookup is one array read.
//
// Priority, highest first: user override files, learned answers, phone.dat
// files, built-in data (libphonenumber's geocoder and the segment table,
// compiled in at build time). A source that lacks the location or the
// operator for a prefix keeps what a lower source has. Every answer follows
// the one spelling of place_names.h; one whose place has an area code in the
// landline table carries it, unless its source gives its own.
//
// Layout: one atomic 32-bit index per 7-digit number 1000000..1999999 (the
// phone.dat layout can name any of them; a lookup asks only for a Prefix7) into an
// append-only list of de-duplicated answers, stored in fixed chunks that
// never move. Index 0 means "built-in data, not looked at yet": the first
// lookup of such a prefix asks the built-in data and publishes the answer.
// Readers never lock; writers (that first lookup, learn()) take one mutex to
// append an answer, then publish its index with a release store.

#include "data/number_normalizer.h"
#include "data/prefix_facts.h"
#include "data/prefix7.h"

#include <QByteArray>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace teloria::data {

struct OverrideTable;
class PhoneDat;
class SegmentTable;

inline constexpr std::string_view kUnknown = "未知";
inline constexpr std::string_view kLandlineCardType = "固定电话";
inline constexpr std::string_view kBuiltInSource = "built-in";
inline constexpr std::string_view kLearnedSource = "learned";

// Which kind of source gave an answer, lowest first.
enum class Tier : std::uint8_t { BuiltIn, PhoneDat, Learned, Override };

struct Answer {
    std::string location; // "广东 深圳"; "未知" when no source has it
    std::string cardType; // "中国移动"; "未知" when no source has it
    QByteArray locationGbk;
    QByteArray cardTypeGbk;
    std::string province; // short names, empty when unknown
    std::string city;
    std::string areaCode; // "0755", empty when unknown
    std::string zip;
    std::string source;   // "built-in", "learned", or the data file's path
    Tier tier = Tier::BuiltIn;

    bool hasLocation() const { return location != kUnknown; }
    bool hasCardType() const { return cardType != kUnknown; }
};

// Zeroed 32-bit slots read and written atomically. The memory comes zeroed
// from the system and a page is touched only when a slot on it is, so a
// program that looks up ten numbers never pays for a million slots.
class AtomicSlots {
public:
    explicit AtomicSlots(std::size_t count)
        : slots_(static_cast<std::uint32_t*>(std::calloc(count, sizeof(std::uint32_t))))
    {
        if (!slots_)
            throw std::bad_alloc();
    }
    std::atomic_ref<std::uint32_t> operator[](std::size_t i) const { return std::atomic_ref<std::uint32_t>(slots_.get()[i]); }
    const void* address(std::size_t i) const { return slots_.get() + i; }

private:
    struct Free {
        void operator()(std::uint32_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint32_t[], Free> slots_;
};

class PrefixStore {
public:
    static constexpr std::uint32_t kFirstPrefix = 1000000;
    static constexpr std::uint32_t kPrefixCount = 1000000;

    // The built-in data alone.
    explicit PrefixStore(const SegmentTable& segments);
    PrefixStore();
    ~PrefixStore();
    PrefixStore(const PrefixStore&) = delete;
    PrefixStore& operator=(const PrefixStore&) = delete;

    // Adding sources: call before the store is shared between threads, lower
    // priority first within a tier (a later file wins over an earlier one).
    // Each returns the number of 7-digit prefixes it set.
    std::size_t addPhoneDat(const PhoneDat& dat, const std::string& source);
    std::size_t addOverrides(const OverrideTable& table, const std::string& source);

    // Thread-safe, lock-free once a prefix has been looked at. The answer
    // lives as long as the store.
    const Answer& mobile(Prefix7 prefix) const { return at(resolved(prefix.value())); }
    // Any 7-digit number the phone.dat layout can name (1000000..1999999,
    // below the mobile segments too); anything else gets 未知.
    const Answer& mobile(std::uint32_t prefix7) const;
    // The same as a small number that names the answer for as long as the
    // store lives: a caller keeping something per answer indexes it by this.
    // A learned answer comes with a new one.
    std::uint32_t mobileIndex(Prefix7 prefix) const { return resolved(prefix.value()); }
    const Answer& answerAt(std::uint32_t index) const { return at(index); }
    void prefetchMobile(Prefix7 prefix) const { __builtin_prefetch(byPrefix_.address(prefix.value() - kFirstPrefix)); }
    const Answer& lookup(const CleanNumber& number) const;
    // Starts loading what lookup(number) reads first: a caller with many
    // numbers hints a block of them, then looks them up, so that their
    // memory reads overlap instead of waiting one after the other.
    void prefetch(const CleanNumber& number) const;

    // Sets one prefix's answer from another thread at run time, above
    // phone.dat files and built-in data: does nothing (false) where an
    // override file holds the prefix or the prefix is not a mobile one.
    // Empty location or card type keep what the store has.
    bool learn(Prefix7 prefix, std::string_view location, std::string_view cardType);
    bool learn(std::uint32_t prefix7, std::string_view location, std::string_view cardType); // false outside 1000000..1999999
    // True when local data lack the location or the operator of the prefix
    // (false outside 1000000..1999999).
    bool needsUpstream(Prefix7 prefix) const;
    bool needsUpstream(std::uint32_t prefix7) const;

    std::size_t answerCount() const;

    // What a phone.dat entry says: a card-type byte outside 1..8 says nothing.
    static PrefixFacts factsOf(const PhoneDat& dat, std::size_t entry);

private:
    static constexpr std::size_t kChunkBits = 10;
    static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
    static constexpr std::size_t kMaxChunks = 16384; // 16 M answers

    static constexpr bool holds(std::uint32_t prefix7) { return prefix7 - kFirstPrefix < kPrefixCount; }
    bool learnAt(std::uint32_t prefix7, std::string_view location, std::string_view cardType);
    const Answer& at(std::uint32_t index) const { return chunks_[index >> kChunkBits][index & (kChunkSize - 1)]; }
    std::uint32_t resolved(std::uint32_t prefix7) const; // the index, looking at built-in data once
    std::uint32_t builtInIndex(std::uint32_t prefix7) const;
    std::uint32_t intern(Answer answer) const;             // takes mutex_
    std::uint32_t internLocked(const std::unique_lock<std::mutex>& held, Answer answer) const; // held: on mutex_
    std::uint32_t overlay(const std::unique_lock<std::mutex>& held, std::uint32_t below, const PrefixFacts& facts,
                          Tier tier, const std::string& source) const; // held: on mutex_
    const Answer& machineToMachine(const std::string& digits13) const;
    static constexpr std::size_t kIotKeys = 20;

    const SegmentTable& segments_;
    AtomicSlots byPrefix_;
    AtomicSlots byAreaCode_; // by the area code after its 0: 10, 20..29, 300..999
    mutable std::array<std::atomic<std::uint32_t>, kIotKeys> byIot_{}; // 13-digit machine-to-machine numbers by their first five digits
    AtomicSlots byBaked_;    // by the compiled-in answer; 0 not interned yet

    mutable std::mutex mutex_; // appending answers, learn()
    mutable std::array<std::unique_ptr<Answer[]>, kMaxChunks> chunks_;
    mutable std::atomic<std::uint32_t> count_{0};
    mutable std::unordered_map<std::string, std::uint32_t> known_; // answer key -> index
};

} // namespace teloria::data
