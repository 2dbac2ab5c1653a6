#include <gtest/gtest.h>

#include "components/core/AdSize.h"

using namespace quorvel;
using S = TAdImageSize;

TEST(AdSize, OrdinalsAndDimensionsFollowTheLibraryOrder) {
    EXPECT_EQ(static_cast<int>(S::ads150x40), 0);
    EXPECT_EQ(static_cast<int>(S::ADS468x60), 1);
    EXPECT_EQ(static_cast<int>(S::ADS88x31), 10);
    EXPECT_EQ(static_cast<int>(S::ADS120x240), 11);
    EXPECT_EQ(adDimensions(S::ads150x40), (AdDimensions{150, 40}));
    EXPECT_EQ(adDimensions(S::ads50x200), (AdDimensions{50, 200}));
    EXPECT_EQ(adDimensions(S::ADS392x72), (AdDimensions{392, 72}));
    EXPECT_EQ(adDimensions(S::ADS120x240), (AdDimensions{120, 240}));
}

TEST(AdSize, EveryStandardSizeSnapsToItself) {
    // Snapping after a snap must not move the banner again.
    for (int i = 0; i < kAdImageSizeCount; ++i) {
        const auto size = static_cast<S>(i);
        const AdDimensions d = adDimensions(size);
        EXPECT_EQ(snapAdSize(d.width, d.height), size) << i;
        EXPECT_TRUE(isStandardAdSize(d.width, d.height));
    }
    EXPECT_FALSE(isStandardAdSize(469, 60));
}

TEST(AdSize, SnapsTheExamples) {
    EXPECT_EQ(snapAdSize(300, 50), S::ads300x50);
    EXPECT_EQ(snapAdSize(469, 10), S::ADS468x60);
    EXPECT_EQ(snapAdSize(120, 200), S::ADS120x240);
    EXPECT_EQ(snapAdSize(100, 500), S::ADS88x31);
}

TEST(AdSize, SnapsAtEveryWidthBoundary) {
    const struct {
        int width;
        S below, from;
    } cases[] = {
        {60, S::ads50x200, S::ads70x70},   {79, S::ads70x70, S::ADS88x31},
        {104, S::ADS88x31, S::ADS120x60},  {135, S::ADS120x60, S::ads150x40},
        {192, S::ads150x40, S::ADS234x60}, {267, S::ADS234x60, S::ads300x50},
        {346, S::ads300x50, S::ADS392x72}, {430, S::ADS392x72, S::ADS468x60},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(snapAdSize(c.width - 1, 10), c.below) << c.width - 1;
        EXPECT_EQ(snapAdSize(c.width, 10), c.from) << c.width;
    }
    EXPECT_EQ(snapAdSize(0, 0), S::ads50x200);
    EXPECT_EQ(snapAdSize(-5, 1000), S::ads50x200);
    EXPECT_EQ(snapAdSize(100000, 1), S::ADS468x60);
    // Height matters only in the 104 to 134 column.
    EXPECT_EQ(snapAdSize(78, 1000), S::ads70x70);
    EXPECT_EQ(snapAdSize(135, 1000), S::ads150x40);
}

TEST(AdSize, SnapsAtEveryHeightBoundaryOfTheNarrowColumn) {
    for (int width : {104, 120, 134}) {
        EXPECT_EQ(snapAdSize(width, 0), S::ADS120x60);
        EXPECT_EQ(snapAdSize(width, 74), S::ADS120x60);
        EXPECT_EQ(snapAdSize(width, 75), S::ADS120x90);
        EXPECT_EQ(snapAdSize(width, 107), S::ADS120x90);
        EXPECT_EQ(snapAdSize(width, 108), S::ADS125x125);
        EXPECT_EQ(snapAdSize(width, 181), S::ADS125x125);
        EXPECT_EQ(snapAdSize(width, 182), S::ADS125x125);  // nearer 125 than 240
        EXPECT_EQ(snapAdSize(width, 183), S::ADS120x240);
    }
}

TEST(AdOptions, FlagWordAndReadingBack) {
    using O = TAdOption;
    EXPECT_EQ(adOptionFlags({}), 0u);
    EXPECT_EQ(adOptionFlags({O::adoNoConnect}), 1u);
    EXPECT_EQ(adOptionFlags({O::adoNoDialOnDemand, O::adoDelayedStartup}), 6u);
    EXPECT_EQ(adOptionFlags({O::adoAll}), 0xFFFFFFFFu);
    EXPECT_EQ(adOptionFlags({O::adoAll, O::adoNoConnect}), 0xFFFFFFFFu);

    EXPECT_EQ(adOptionsFromFlags(5), (TAdOptions{O::adoNoConnect, O::adoDelayedStartup}));
    const TAdOptions all{O::adoNoConnect, O::adoNoDialOnDemand, O::adoDelayedStartup, O::adoAll};
    EXPECT_EQ(adOptionsFromFlags(0xFFFFFFFFu), all);
    // All three bits alone are not adoAll.
    EXPECT_FALSE(adOptionsFromFlags(7).contains(O::adoAll));
    EXPECT_EQ(adOptionsFromFlags(adOptionFlags({O::adoNoConnect, O::adoNoDialOnDemand,
                                                O::adoDelayedStartup})),
              (TAdOptions{O::adoNoConnect, O::adoNoDialOnDemand, O::adoDelayedStartup}));
}

TEST(AdStatus, MembersFromTheirBitsOthersIgnored) {
    using T = TAdStatus;
    EXPECT_TRUE(adStatusFromWord(0).empty());
    EXPECT_TRUE(adStatusFromWord(0x4 | 0x8 | 0x400 | 0x800 | 0x8000 | 0xFFFF0000u).empty());
    EXPECT_EQ(adStatusFromWord(0x1 | 0x2), (TAdStatusSet{T::adiWinsockStarted, T::adiNetworkIsUp}));
    EXPECT_EQ(adStatusFromWord(0x10 | 0x20 | 0x40 | 0x80),
              (TAdStatusSet{T::adiConnectHasFailed, T::adiConnectHasWorked, T::adiProxyHasFailed,
                            T::adiProxyHasWorked}));
    EXPECT_EQ(adStatusFromWord(0x100 | 0x200 | 0x1000 | 0x2000 | 0x4000),
              (TAdStatusSet{T::adiClickHasFailed, T::adiClickHasWorked, T::adiIdle,
                            T::adiConnecting, T::adiWorking}));
}
