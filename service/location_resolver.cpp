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

} // namespace teloria::service
