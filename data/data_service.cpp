#include "data/data_service.h"

#include "data/learning.h"

namespace teloria::data {

DataService::DataService(const DataSettings& settings, std::shared_ptr<Clock> clock)
    : loaded_(loadStore(settings, std::move(clock)))
{
}

DataService::~DataService()
{
    shutdown();
}

void DataService::shutdown()
{
    if (loaded_.learning)
        loaded_.learning->stop();
}

} // namespace teloria::data
