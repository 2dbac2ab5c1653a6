// Browsers on the headless sway, a textarea on a page from 127.0.0.1: Firefox ESR as a
// native Wayland client, and Chromium as an X client through Xwayland.  A click on the
// program's Type button types codes, variables and characters the layout lacks into it
// exactly, as wtype does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "support/DesktopFormServer.h"
#include "support/SwayQuorvel.h"
#include "support/SwaySession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;

// A fresh profile that opens the page and nothing else, and sends nothing out.
const char* const kPrefs = R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.auto", false);
user_pref("app.normandy.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("browser.search.update", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.formfill.enable", false);
user_pref("browser.sessionstore.resume_from_crash", false);
)";

enum class SwayBrowser { FirefoxNative, ChromiumOnX };

std::string nameOf(SwayBrowser b) {
    return b == SwayBrowser::FirefoxNative ? "Firefox" : "ChromiumOnX";
}

}  // namespace
// Test names and messages show the browser by name.
inline void PrintTo(SwayBrowser b, std::ostream* os) {
    *os << nameOf(b);
}
namespace {

struct OpenBrowser {
    std::unique_ptr<ChildProcess> process;
    std::optional<SwayWindow> window;
};

// Starts the browser on `url` with a fresh profile and waits for its window.
OpenBrowser startBrowser(SwaySession& session, SwayBrowser browser, const std::string& url) {
    OpenBrowser out;
    const std::string profile = session.newFolder(nameOf(browser) + "-profile");
    if (profile.empty()) return out;
    if (browser == SwayBrowser::FirefoxNative) {
        if (!session.writeUserFile(profile + "/user.js", kPrefs)) return out;
        out.process = session.start(
            {"firefox-esr", "--no-remote", "--profile", profile, url},
            {{"MOZ_ENABLE_WAYLAND", "1"}, {"MOZ_CRASHREPORTER_DISABLE", "1"}}, "firefox-esr");
        if (!out.process) return out;
        out.window = session.waitForWindow(
            [](const SwayWindow& w) { return w.appId == "firefox-esr"; }, 40s);
        return out;
    }
    // As on the X desktops: a fresh profile that asks nothing and sends nothing out, but
    // forced onto X, so the keys come through Xwayland's keyboard.
    out.process = session.start(
        {"chromium", "--ozone-platform=x11", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-default-browser-check",
         "--password-store=basic", "--disable-features=Translate,AutofillServerCommunication",
         "--user-data-dir=" + profile, url},
        session.xEnvironment(), "chromium");
    if (!out.process) return out;
    out.window = session.waitForWindow(
        [](const SwayWindow& w) {
            return w.xwayland && w.appId == "Chromium" && w.rect.width > 200;
        },
        40s);
    return out;
}

class BrowserOnSway : public ::testing::TestWithParam<SwayBrowser> {};

TEST_P(BrowserOnSway, TypeButtonTypesIntoATextareaAsWtypeDoes) {
    const SwayBrowser browserKind = GetParam();
    FormServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    SwaySession session(SwayQuorvel::placementRule(760, 40), browserKind == SwayBrowser::ChromiumOnX
                                                                 ? SwaySession::X::Xwayland
                                                                 : SwaySession::X::Off);
    ASSERT_TRUE(session.ok()) << session.error();
    auto browser = startBrowser(session, browserKind, server.textareaUrl());
    ASSERT_TRUE(browser.process);
    const auto window = browser.window;
    ASSERT_TRUE(window) << browser.process->logTail();
    ASSERT_EQ(window->xwayland, browserKind == SwayBrowser::ChromiumOnX);
    ASSERT_TRUE(server.waitForPage(0, 30s)) << "the page never reported";
    ASSERT_TRUE(server.waitFor([&] { return server.lastReport().value("focus") == "t"; }, 10s));

    // The peer first: what wtype types is what the page gets.
    ASSERT_TRUE(session.focus(window->id));
    const std::string wide = "\xC3\xA9 \xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD \xCE\xA9";
    ASSERT_TRUE(session.wtype("peer " + wide, {"-s", "150"}));
    EXPECT_TRUE(
        server.waitFor([&] { return server.lastReport().value("t") == "peer " + wide; }, 10s))
        << server.lastReport().describe();

    SwayQuorvel quorvel(session);
    ASSERT_TRUE(quorvel.ok()) << quorvel.error();
    ASSERT_TRUE(quorvel.writeSettings());
    const std::string keys = "{email}{enter}second {First Name}{enter}" + wide + "{nosuchvar}!";
    const std::string expected = "me@example.com\nsecond Zo\xC3\xAB {tab}\n" + wide + "!";
    QuorvelItem item;
    item.name = "Shop";
    item.url = server.url();
    item.keys = keys;
    ASSERT_TRUE(quorvel.writeItems({item}));
    ASSERT_TRUE(quorvel.writeVariables(
        {{"{email}", "me@example.com"}, {"{first name}", "Zo\xC3\xAB {tab}"}}));
    ASSERT_TRUE(quorvel.start()) << quorvel.error();
    const auto button = quorvel.typeButton();
    ASSERT_TRUE(button);
    for (int i = 1; i <= 2; ++i) {
        SCOPED_TRACE("try " + std::to_string(i));
        ASSERT_TRUE(server.clearFields());
        ASSERT_TRUE(server.waitFor([&] { return server.lastReport().value("t").empty(); }, 10s));
        ASSERT_TRUE(session.focus(window->id));
        std::this_thread::sleep_for(250ms);
        ASSERT_TRUE(session.click(button->center()));
        EXPECT_TRUE(server.waitFor([&] { return server.lastReport().value("t") == expected; }, 15s))
            << server.lastReport().describe();
        EXPECT_EQ(session.focused()->id, window->id);
    }
    EXPECT_TRUE(quorvel.otherWindows().empty());
    const int status = quorvel.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
    const auto items = quorvel.readItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].keys, keys);
}

// Firefox natively, and Chromium as an X program through Xwayland on the same desktop.
INSTANTIATE_TEST_SUITE_P(Browsers, BrowserOnSway,
                         ::testing::Values(SwayBrowser::FirefoxNative, SwayBrowser::ChromiumOnX),
                         [](const auto& info) { return nameOf(info.param); });

}  // namespace
}  // namespace quorvel::test
