#include "data/prefix_facts.h"

#include "data/place_names.h"
#include "data/prefix_store.h"

namespace teloria::data {

bool isBlank(std::string_view text)
{
    while (!text.empty()) {
        if (text.front() == ' ' || text.front() == '\t')
            text.remove_prefix(1);
        else if (text.starts_with("\u00a0"))
            text.remove_prefix(2);
        else if (text.starts_with("\u3000"))
            text.remove_prefix(3);
        else
            return false;
    }
    return true;
}

bool hasPlace(const PrefixFacts& facts)
{
    return (!isBlank(facts.province) || !isBlank(facts.city))
           && !placeFromFields(facts.province, facts.city).text().empty();
}

bool hasCardType(const PrefixFacts& facts)
{
    if (isBlank(facts.cardType))
        return false;
    const std::string name = canonicalCardType(facts.cardType);
    return !name.empty() && name != kUnknown;
}

PrefixFacts overlayFacts(PrefixFacts below, const PrefixFacts& above)
{
    if (hasPlace(above)) {
        below.province = above.province;
        below.city = above.city;
    }
    if (hasCardType(above))
        below.cardType = above.cardType;
    if (!isBlank(above.areaCode))
        below.areaCode = above.areaCode;
    if (!isBlank(above.zip))
        below.zip = above.zip;
    return below;
}

} // namespace teloria::data
