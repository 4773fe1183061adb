#pragma once
// Location and card type of a cleaned number, from the built-in data
// (libphonenumber's offline geocoder in Chinese and the segment table) and,
// where it has the prefix, a loaded phone.dat file.

#include "number_normalizer.h"
#include "phone_dat.h"
#include "segment_table.h"

#include <QByteArray>

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace i18n::phonenumbers {
class PhoneNumberOfflineGeocoder;
}

namespace teloria::service {

// Number cleaning, the segment table and phone.dat files live in data/.
using data::cleanNumber;
using data::CleanNumber;
using data::NumberKind;
using data::PhoneDat;
using data::SegmentTable;

inline constexpr std::string_view kUnknown = "未知";
inline constexpr std::string_view kLandlineCardType = "固定电话";

struct Answer {
    std::string location; // UTF-8; "未知" when no data has it
    std::string cardType; // UTF-8; "未知" when no data has it
    QByteArray locationGbk;
    QByteArray cardTypeGbk;
};

class LocationResolver {
public:
    explicit LocationResolver(const SegmentTable& segments = SegmentTable::builtIn(),
                              std::shared_ptr<const PhoneDat> phoneDat = nullptr);
    ~LocationResolver();
    LocationResolver(const LocationResolver&) = delete;
    LocationResolver& operator=(const LocationResolver&) = delete;

    // Thread-safe. The answer lives as long as the resolver. Mobile answers
    // are kept by 7-digit prefix, landline answers by area code, so a prefix
    // seen before costs one array read.
    const Answer& resolve(const CleanNumber& number) const;

private:
    const Answer& resolveMobile(const std::string& digits) const;
    const Answer& resolveLandline(const CleanNumber& number) const;
    const Answer* intern(std::string location, std::string cardType) const;
    std::string geocode(const std::string& nationalDigits) const;

    const SegmentTable& segments_;
    std::shared_ptr<const PhoneDat> phoneDat_;
    std::unique_ptr<i18n::phonenumbers::PhoneNumberOfflineGeocoder> geocoder_;

    static constexpr std::size_t kMobilePrefixes = 1000000; // 1000000..1999999
    std::unique_ptr<std::atomic<const Answer*>[]> byPrefix_;

    mutable std::shared_mutex landlineMutex_;
    mutable std::unordered_map<std::string, const Answer*> byAreaCode_;

    mutable std::mutex internMutex_;
    mutable std::unordered_map<std::string, std::unique_ptr<Answer>> answers_; // key: location '\n' card type
};

} // namespace teloria::service
