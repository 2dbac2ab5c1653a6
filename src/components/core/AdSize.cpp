#include "components/core/AdSize.h"

namespace quorvel {

namespace {

constexpr std::array<AdDimensions, kAdImageSizeCount> kDimensions = {{
    {150, 40},
    {468, 60},
    {300, 50},
    {70, 70},
    {50, 200},
    {392, 72},
    {234, 60},
    {125, 125},
    {120, 90},
    {120, 60},
    {88, 31},
    {120, 240},
}};

}  // namespace

AdDimensions adDimensions(TAdImageSize size) {
    return kDimensions[static_cast<std::size_t>(size)];
}

bool isStandardAdSize(int width, int height) {
    for (const AdDimensions& d : kDimensions)
        if (d.width == width && d.height == height) return true;
    return false;
}

TAdImageSize snapAdSize(int width, int height) {
    using S = TAdImageSize;
    if (width < 60) return S::ads50x200;
    if (width <= 78) return S::ads70x70;
    if (width <= 103) return S::ADS88x31;
    if (width <= 134) {
        if (height < 75) return S::ADS120x60;
        if (height <= 107) return S::ADS120x90;
        if (height <= 182) return S::ADS125x125;
        return S::ADS120x240;
    }
    if (width <= 191) return S::ads150x40;
    if (width <= 266) return S::ADS234x60;
    if (width <= 345) return S::ads300x50;
    if (width <= 429) return S::ADS392x72;
    return S::ADS468x60;
}

std::uint32_t adOptionFlags(TAdOptions options) {
    if (options.contains(TAdOption::adoAll)) return 0xFFFFFFFFu;
    std::uint32_t flags = 0;
    if (options.contains(TAdOption::adoNoConnect)) flags |= 1;
    if (options.contains(TAdOption::adoNoDialOnDemand)) flags |= 2;
    if (options.contains(TAdOption::adoDelayedStartup)) flags |= 4;
    return flags;
}

TAdOptions adOptionsFromFlags(std::uint32_t flags) {
    TAdOptions options;
    if (flags & 1) options.insert(TAdOption::adoNoConnect);
    if (flags & 2) options.insert(TAdOption::adoNoDialOnDemand);
    if (flags & 4) options.insert(TAdOption::adoDelayedStartup);
    if (flags == 0xFFFFFFFFu) options.insert(TAdOption::adoAll);
    return options;
}

TAdStatusSet adStatusFromWord(std::uint32_t word) {
    TAdStatusSet status;
    for (std::size_t i = 0; i < kAdStatusBits.size(); ++i)
        if (word & kAdStatusBits[i]) status.insert(static_cast<TAdStatus>(i));
    return status;
}

}  // namespace quorvel
