// The service a browser setting answers on, the request texts, and the arguments that
// hand an address to a browser.
#include <gtest/gtest.h>

#include "browser/core/BrowserRules.h"

using namespace quorvel;

TEST(BrowserRules, ServiceNameIsTheFileNameCutBeforeItsFirstDot) {
    EXPECT_EQ(browserServiceName("/opt/web/browser.exe"), "browser");
    EXPECT_EQ(browserServiceName("/opt/web/my.browser.sh"), "my");
    EXPECT_EQ(browserServiceName("browser.exe"), "browser");
    // Dots in folders do not count; a name without one answers on no service.
    EXPECT_EQ(browserServiceName("/opt/firefox-91.0/firefox"), "");
    EXPECT_EQ(browserServiceName("/usr/bin/firefox"), "");
    EXPECT_EQ(browserServiceName("/opt/web/.browser"), "");
    EXPECT_EQ(browserServiceName(""), "");
}

TEST(BrowserRules, OpenUrlItemsReadBackWhateverTheAddressHolds) {
    EXPECT_EQ(openUrlItem("http://a.example/x", true), "http://a.example/x,,0,0x3,,,");
    EXPECT_EQ(openUrlItem("http://a.example/x", false), "http://a.example/x,,0xFFFFFFFF,0x3,,,");
    const std::string tricky = "http://a.example/?q=1,,0,0x3,,,&r=,,";
    for (bool newWindow : {true, false}) {
        const auto back = parseOpenUrlItem(openUrlItem(tricky, newWindow));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->url, tricky);
        EXPECT_EQ(back->newWindow, newWindow);
    }
    EXPECT_FALSE(parseOpenUrlItem("http://a.example/"));
    EXPECT_FALSE(parseOpenUrlItem("http://a.example/,,1,0x3,,,"));
    const auto empty = parseOpenUrlItem(",,0,0x3,,,");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->url, "");
}

TEST(BrowserRules, EachFamilyGetsItsOwnNewWindowOption) {
    EXPECT_EQ(browserFamily("firefox"), BrowserFamily::Firefox);
    EXPECT_EQ(browserFamily("firefox-esr"), BrowserFamily::Firefox);
    EXPECT_EQ(browserFamily("chromium"), BrowserFamily::Chromium);
    EXPECT_EQ(browserFamily("google-chrome-stable"), BrowserFamily::Chromium);
    EXPECT_EQ(browserFamily("x-www-browser"), BrowserFamily::Generic);
    EXPECT_EQ(browserFamily("fakebrowser"), BrowserFamily::Generic);
    using V = std::vector<std::string>;
    const std::string u = "http://a.example/";
    EXPECT_EQ(openUrlArguments(BrowserFamily::Firefox, u, true), (V{"-new-window", u}));
    EXPECT_EQ(openUrlArguments(BrowserFamily::Firefox, u, false), (V{u}));
    EXPECT_EQ(openUrlArguments(BrowserFamily::Chromium, u, true), (V{"--new-window", u}));
    EXPECT_EQ(openUrlArguments(BrowserFamily::Chromium, u, false), (V{u}));
    EXPECT_EQ(openUrlArguments(BrowserFamily::Generic, u, true), (V{u}));
}
