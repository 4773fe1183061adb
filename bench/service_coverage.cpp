// How much of the mobile numbering the built-in data cover: for every
// segment 130-199 and every 7-digit prefix in it, whether the segment table
// names an operator and whether the geocoder names a location.
#include "service/location_resolver.h"

#include <cstdio>
#include <string>

using namespace teloria::service;

int main()
{
    const LocationResolver resolver;
    int segments = 0, withOperator = 0, withLocation = 0, withBoth = 0, fullyLocated = 0;
    long prefixes = 0, prefixesWithBoth = 0, heldPrefixes = 0, heldPrefixesWithLocation = 0;
    std::string unlocated;
    for (int segment = 130; segment <= 199; ++segment) {
        ++segments;
        int operatorPrefixes = 0, locatedPrefixes = 0, bothPrefixes = 0;
        for (int rest = 0; rest < 10000; ++rest) {
            char digits[12];
            std::snprintf(digits, sizeof digits, "%d%04d0000", segment, rest);
            const Answer& a = resolver.resolve(CleanNumber{NumberKind::Mobile, digits, 0});
            const bool op = a.cardType != kUnknown;
            const bool loc = a.location != kUnknown;
            operatorPrefixes += op;
            locatedPrefixes += loc;
            bothPrefixes += op && loc;
        }
        prefixes += 10000;
        prefixesWithBoth += bothPrefixes;
        if (operatorPrefixes > 0) {
            heldPrefixes += operatorPrefixes;
            heldPrefixesWithLocation += bothPrefixes;
        }
        withOperator += operatorPrefixes > 0;
        withLocation += locatedPrefixes > 0;
        withBoth += bothPrefixes > 0;
        fullyLocated += operatorPrefixes > 0 && bothPrefixes == operatorPrefixes;
        if (operatorPrefixes > 0 && bothPrefixes < operatorPrefixes)
            unlocated += " " + std::to_string(segment) + "(" + std::to_string(bothPrefixes * 100 / operatorPrefixes) + "%)";
    }
    auto pct = [](double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
    std::printf("segments 130-199: %d\n", segments);
    std::printf("  with an operator:                        %2d (%.0f%%)\n", withOperator, pct(withOperator, segments));
    std::printf("  with a location for some prefix:         %2d (%.0f%%)\n", withLocation, pct(withLocation, segments));
    std::printf("  with an operator and a location:         %2d (%.0f%%)\n", withBoth, pct(withBoth, segments));
    std::printf("  held, every prefix with a location:      %2d (%.0f%% of the held)\n", fullyLocated,
                pct(fullyLocated, withOperator));
    std::printf("7-digit prefixes 1300000-1999999: %ld, with operator and location: %ld (%.1f%%)\n", prefixes,
                prefixesWithBoth, pct(prefixesWithBoth, prefixes));
    std::printf("  of the %ld prefixes in held segments: %.1f%% with a location\n", heldPrefixes,
                pct(heldPrefixesWithLocation, heldPrefixes));
    std::printf("held segments lacking locations (share of prefixes located):%s\n", unlocated.c_str());
    return 0;
}
