#include "location_resolver.h"

#include "lookup/text_codec.h"

#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>
#include <phonenumbers/phonenumber.pb.h>

#include <unicode/locid.h>

namespace teloria::service {
namespace {

QByteArray gbk(const std::string& utf8)
{
    return teloria::encodeGbk(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

} // namespace

LocationResolver::LocationResolver(const SegmentTable& segments, std::shared_ptr<const PhoneDat> phoneDat)
    : segments_(segments)
    , phoneDat_(std::move(phoneDat))
    , geocoder_(std::make_unique<i18n::phonenumbers::PhoneNumberOfflineGeocoder>())
    , byPrefix_(new std::atomic<const Answer*>[kMobilePrefixes]())
{
}

LocationResolver::~LocationResolver() = default;

const Answer& LocationResolver::resolve(const CleanNumber& number) const
{
    return number.kind == NumberKind::Mobile ? resolveMobile(number.digits) : resolveLandline(number);
}

const Answer& LocationResolver::resolveMobile(const std::string& digits) const
{
    std::uint32_t prefix = 0;
    for (int i = 0; i < 7; ++i)
        prefix = prefix * 10 + static_cast<std::uint32_t>(digits[i] - '0');
    auto& slot = byPrefix_[prefix - 1000000];
    if (const Answer* seen = slot.load(std::memory_order_acquire))
        return *seen;

    std::string location;
    std::string cardType;
    if (const auto hit = phoneDat_ ? phoneDat_->find(prefix) : std::nullopt) {
        location = std::string(hit->province);
        if (hit->city != hit->province)
            location += hit->city;
        cardType = std::string(hit->cardType);
    } else {
        // Any number of the prefix describes it; the geocoder maps 7-digit prefixes.
        location = geocode(digits.substr(0, 7) + "0000");
        cardType = std::string(segments_.operatorOf(digits));
    }
    const Answer* answer = intern(std::move(location), std::move(cardType));
    slot.store(answer, std::memory_order_release); // two threads may race here; both store the same answer
    return *answer;
}

const Answer& LocationResolver::resolveLandline(const CleanNumber& number) const
{
    const std::string area = number.digits.substr(0, static_cast<std::size_t>(number.areaCodeLength));
    {
        std::shared_lock lock(landlineMutex_);
        if (const auto it = byAreaCode_.find(area); it != byAreaCode_.end())
            return *it->second;
    }
    const Answer* answer = intern(geocode(number.digits.substr(1)), std::string(kLandlineCardType));
    std::unique_lock lock(landlineMutex_);
    byAreaCode_.emplace(area, answer);
    return *answer;
}

std::string LocationResolver::geocode(const std::string& nationalDigits) const
{
    static const icu::Locale chinese("zh", "CN");
    i18n::phonenumbers::PhoneNumber number;
    number.set_country_code(86);
    number.set_national_number(std::stoull(nationalDigits));
    std::string description = geocoder_->GetDescriptionForValidNumber(number, chinese);
    // For a prefix it has no area for, the geocoder names only the country.
    if (description.empty() || description == "中国")
        return std::string(kUnknown);
    return description;
}

const Answer* LocationResolver::intern(std::string location, std::string cardType) const
{
    if (location.empty())
        location = kUnknown;
    if (cardType.empty())
        cardType = kUnknown;
    std::string key = location + '\n' + cardType;
    std::lock_guard lock(internMutex_);
    auto& stored = answers_[std::move(key)];
    if (!stored) {
        stored = std::make_unique<Answer>();
        stored->locationGbk = gbk(location);
        stored->cardTypeGbk = gbk(cardType);
        stored->location = std::move(location);
        stored->cardType = std::move(cardType);
    }
    return stored.get();
}

} // namespace teloria::service
