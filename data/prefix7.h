#pragma once
// The 7-digit prefix of a mainland mobile number ("1380013" of 13800138000):
// what every source answers for. It is made only through the checked
// factories below, so a Prefix7 in hand is always 1300000..1999999, and the
// code that holds one never checks it again. The wrapper costs nothing: it is
// one 32-bit integer, and the factories are inline.

#include <compare>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace teloria::data {

class Prefix7Range;

class Prefix7 {
public:
    static constexpr std::uint32_t kFirst = 1300000;
    static constexpr std::uint32_t kLast = 1999999;

    // "1380013": seven digits, 13 to 19 first.
    static constexpr std::optional<Prefix7> fromText(std::string_view text)
    {
        if (text.size() != 7)
            return std::nullopt;
        return fromDigits(text);
    }

    // The first seven digits of a cleaned mobile number: eleven digits, 13 to 19 first.
    static std::optional<Prefix7> fromNumber(std::string_view digits)
    {
        // A batch asks this of every line: the eleven bytes are checked as two
        // overlapping 8-byte words rather than one by one.
        if (digits.size() != 11 || !eightDigits(word(digits, 0)) || !eightDigits(word(digits, 3)))
            return std::nullopt;
        return fromCheckedDigits(digits.substr(0, 7));
    }

    static constexpr std::optional<Prefix7> fromInt(std::uint64_t value)
    {
        if (value < kFirst || value > kLast)
            return std::nullopt;
        return Prefix7(static_cast<std::uint32_t>(value));
    }

    // Every mobile prefix in order: for (const Prefix7 p : Prefix7::all()).
    static constexpr Prefix7Range all();
    // The 10,000 prefixes of a 3-digit segment (130..199); none for another number.
    static constexpr Prefix7Range ofSegment(std::uint32_t segment);

    constexpr std::uint32_t value() const { return value_; }
    // The 3-digit segment it belongs to (138 of 1380013).
    constexpr std::uint32_t segment() const { return value_ / 10'000; }
    std::string text() const { return std::to_string(value_); }

    constexpr auto operator<=>(const Prefix7&) const = default;

private:
    constexpr explicit Prefix7(std::uint32_t value)
        : value_(value)
    {
    }

    static constexpr std::optional<Prefix7> fromDigits(std::string_view seven)
    {
        for (const char c : seven)
            if (c < '0' || c > '9')
                return std::nullopt;
        return fromCheckedDigits(seven);
    }

    // Seven bytes known to be digits.
    static constexpr std::optional<Prefix7> fromCheckedDigits(std::string_view seven)
    {
        if (seven[0] != '1' || seven[1] < '3')
            return std::nullopt;
        std::uint32_t value = 0;
        for (const char c : seven)
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        return Prefix7(value);
    }

    static std::uint64_t word(std::string_view s, std::size_t at)
    {
        std::uint64_t w = 0;
        std::memcpy(&w, s.data() + at, sizeof w);
        return w;
    }

    // Each byte '0'..'9': its high half 3, and still 3 with 6 added to its low half.
    static constexpr bool eightDigits(std::uint64_t word)
    {
        constexpr std::uint64_t highs = 0xF0F0F0F0F0F0F0F0, threes = 0x3030303030303030, sixes = 0x0606060606060606;
        return (word & highs) == threes && ((word + sixes) & highs) == threes;
    }

    friend class Prefix7Range;
    std::uint32_t value_;
};

// Consecutive prefixes, for a range-for.
class Prefix7Range {
public:
    class Iterator {
    public:
        constexpr explicit Iterator(std::uint32_t value)
            : value_(value)
        {
        }
        constexpr Prefix7 operator*() const { return Prefix7(value_); }
        constexpr Iterator& operator++()
        {
            ++value_;
            return *this;
        }
        constexpr bool operator==(const Iterator&) const = default;

    private:
        std::uint32_t value_;
    };

    constexpr Iterator begin() const { return Iterator(first_); }
    constexpr Iterator end() const { return Iterator(end_); }
    constexpr std::size_t size() const { return end_ - first_; }

private:
    friend class Prefix7;
    constexpr Prefix7Range(std::uint32_t first, std::uint32_t end)
        : first_(first)
        , end_(end)
    {
    }
    std::uint32_t first_;
    std::uint32_t end_;
};

constexpr Prefix7Range Prefix7::all()
{
    return Prefix7Range(kFirst, kLast + 1);
}

constexpr Prefix7Range Prefix7::ofSegment(std::uint32_t segment)
{
    if (segment < kFirst / 10'000 || segment > kLast / 10'000)
        return Prefix7Range(kFirst, kFirst);
    return Prefix7Range(segment * 10'000, (segment + 1) * 10'000);
}

} // namespace teloria::data
