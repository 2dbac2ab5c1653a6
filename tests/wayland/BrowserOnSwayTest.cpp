// Firefox ESR as a native Wayland client on the headless sway, a textarea on a page from
// 127.0.0.1: a click on the program's Type button types codes, variables and characters
// the layout lacks into it exactly, as wtype does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
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

TEST(FirefoxOnSway, TypeButtonTypesIntoANativeFirefoxTextareaAsWtypeDoes) {
    FormServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    SwaySession session(SwayQuorvel::placementRule(760, 40));
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string profile = session.newFolder("firefox-profile");
    ASSERT_FALSE(profile.empty());
    ASSERT_TRUE(session.writeUserFile(profile + "/user.js", kPrefs));
    auto firefox = session.start({"firefox-esr", "--no-remote", "--profile", profile,
                                  server.textareaUrl()},
                                 {{"MOZ_ENABLE_WAYLAND", "1"}, {"MOZ_CRASHREPORTER_DISABLE", "1"}},
                                 "firefox-esr");
    ASSERT_TRUE(firefox);
    const auto window = session.waitForWindow(
        [](const SwayWindow& w) { return w.appId == "firefox-esr"; }, 40s);
    ASSERT_TRUE(window) << firefox->logTail();
    ASSERT_TRUE(server.waitForPage(0, 30s)) << "the page never reported";
    ASSERT_TRUE(server.waitFor([&] { return server.lastReport().value("focus") == "t"; }, 10s));

    // The peer first: what wtype types is what the page gets.
    ASSERT_TRUE(session.focus(window->id));
    const std::string wide = "\xC3\xA9 \xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD \xCE\xA9";
    ASSERT_TRUE(session.wtype("peer " + wide, {"-s", "150"}));
    EXPECT_TRUE(server.waitFor([&] { return server.lastReport().value("t") == "peer " + wide; },
                               10s))
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
    ASSERT_TRUE(quorvel.writeVariables({{"{email}", "me@example.com"},
                                        {"{first name}", "Zo\xC3\xAB {tab}"}}));
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
        EXPECT_TRUE(
            server.waitFor([&] { return server.lastReport().value("t") == expected; }, 15s))
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

}  // namespace
}  // namespace quorvel::test
