#include "service/location_resolver.h"

namespace teloria::service {

LocationResolver::LocationResolver()
    : store_(std::make_shared<data::PrefixStore>())
{
}

LocationResolver::LocationResolver(std::shared_ptr<data::PrefixStore> store, std::shared_ptr<data::Learning> learning)
    : store_(std::move(store))
    , learning_(std::move(learning))
{
}

std::uint32_t LocationResolver::prefix7(const CleanNumber& number)
{
    std::uint32_t prefix = 0;
    for (std::size_t i = 0; i < 7 && i < number.digits.size(); ++i)
        prefix = prefix * 10 + static_cast<std::uint32_t>(number.digits[i] - '0');
    return prefix;
}

} // namespace teloria::service
