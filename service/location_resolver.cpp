#include "location_resolver.h"

namespace teloria::service {

LocationResolver::LocationResolver()
    : store_(std::make_shared<data::PrefixStore>())
{
}

LocationResolver::LocationResolver(std::shared_ptr<data::PrefixStore> store)
    : store_(std::move(store))
{
}

} // namespace teloria::service
