// The banner's fixed sizes, the rule that snaps any requested size to one of them, and
// the option and status sets as the advertising library sees them (plain flag words).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

namespace quorvel {

// The ordinal is what the library receives, so the order is fixed.
enum class TAdImageSize : std::uint8_t {
    ads150x40,
    ADS468x60,
    ads300x50,
    ads70x70,
    ads50x200,
    ADS392x72,
    ADS234x60,
    ADS125x125,
    ADS120x90,
    ADS120x60,
    ADS88x31,
    ADS120x240,
};
inline constexpr int kAdImageSizeCount = 12;

struct AdDimensions {
    int width;
    int height;
    bool operator==(const AdDimensions&) const = default;
};

AdDimensions adDimensions(TAdImageSize size);
// The size whose dimensions are exactly these, if any.
bool isStandardAdSize(int width, int height);
// The standard size chosen for a requested width and height.  A height of exactly 182
// in the 104 to 134 column goes to ADS125x125: it lies nearer 125 than 240, as every
// other height boundary of that column sits at the midpoint between neighbours.
TAdImageSize snapAdSize(int width, int height);

enum class TAdOption : std::uint8_t { adoNoConnect, adoNoDialOnDemand, adoDelayedStartup, adoAll };

// A small set type over an enum with at most 32 members.
template <typename E>
class EnumSet {
public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> members) {
        for (E m : members) insert(m);
    }
    constexpr bool contains(E m) const { return (bits_ & bit(m)) != 0; }
    constexpr EnumSet& insert(E m) {
        bits_ |= bit(m);
        return *this;
    }
    constexpr EnumSet& remove(E m) {
        bits_ &= ~bit(m);
        return *this;
    }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr bool operator==(const EnumSet&) const = default;

private:
    static constexpr std::uint32_t bit(E m) { return std::uint32_t{1} << static_cast<unsigned>(m); }
    std::uint32_t bits_ = 0;
};

using TAdOptions = EnumSet<TAdOption>;

// adoNoConnect 1, adoNoDialOnDemand 2, adoDelayedStartup 4; adoAll makes every bit set.
std::uint32_t adOptionFlags(TAdOptions options);
// The three bits back as options, plus adoAll when the word is all ones.
TAdOptions adOptionsFromFlags(std::uint32_t flags);

enum class TAdStatus : std::uint8_t {
    adiWinsockStarted,
    adiNetworkIsUp,
    adiConnectHasFailed,
    adiConnectHasWorked,
    adiProxyHasFailed,
    adiProxyHasWorked,
    adiClickHasFailed,
    adiClickHasWorked,
    adiIdle,
    adiConnecting,
    adiWorking,
};

using TAdStatusSet = EnumSet<TAdStatus>;

// The library's status bit for each member, in member order.
inline constexpr std::array<std::uint32_t, 11> kAdStatusBits = {
    0x1, 0x2, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200, 0x1000, 0x2000, 0x4000};

// Bits with no member are ignored.
TAdStatusSet adStatusFromWord(std::uint32_t word);

}  // namespace quorvel
