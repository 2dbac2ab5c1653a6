// The Type button on a real desktop: openbox (and xfwm4), Firefox ESR and Chromium on a
// form from 127.0.0.1, the program as the desktop user beside the browser.  The user
// clicks into the form, then straight onto the Type button of the inactive program
// window, on a loaded machine; and long scripts with codes, variables and characters the
// layout lacks, under the US and the German layout.
//
// QUORVEL_DESKTOP_TRIES sets the number of direct clicks per browser (CI: 20).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "support/DesktopFormServer.h"
#include "support/DesktopQuorvel.h"
#include "support/DesktopSession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;

int tries() {
    const char* v = std::getenv("QUORVEL_DESKTOP_TRIES");
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : 20;
}

struct Setup {
    WindowManager wm;
    Browser browser;
};

std::string nameOf(const Setup& s) {
    std::string n = std::string(s.wm == WindowManager::Openbox ? "Openbox" : "Xfwm4") +
                    (s.browser == Browser::FirefoxEsr ? "FirefoxEsr" : "Chromium");
    return n;
}

void PrintTo(const Setup& s, std::ostream* os) { *os << nameOf(s); }

class TypeOnDesktop : public ::testing::TestWithParam<Setup> {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        ASSERT_TRUE(session.ok()) << session.error();
    }

    void openBrowser(const std::string& url) {
        browser = session.startBrowser(GetParam().browser, url);
        ASSERT_NE(browser.window, 0u) << browser.error;
        ASSERT_TRUE(server.waitForPage(0, 30s)) << "the page never reported";
    }

    void startQuorvel(const std::string& keys) {
        ASSERT_TRUE(quorvel.ok()) << quorvel.error();
        ASSERT_TRUE(quorvel.writeSettings());
        QuorvelItem item;
        item.name = "Shop";
        item.url = server.url();
        item.keys = keys;
        ASSERT_TRUE(quorvel.writeItems({item}));
        ASSERT_TRUE(quorvel.writeVariables({{"{email}", "me@example.com"},
                                            {"{first name}", "Zo\xC3\xAB {tab}"}}));
        ASSERT_TRUE(quorvel.start()) << quorvel.error();
        const auto b = quorvel.typeButton();
        ASSERT_TRUE(b.has_value());
        typeButton = b->center();
    }

    // Clicks field `id` of the page and waits until the page has the focus there.
    void clickField(const std::string& id) {
        const auto client = session.geometry(browser.window);
        ASSERT_TRUE(client.has_value());
        const Point p = fieldCenter(server.lastReport(), *client, id);
        const auto focused = [&] {
            const Fields r = server.lastReport();
            return r.value("focus") == id && r.value("hasFocus") == "1";
        };
        session.click(p);
        // Chromium, busy just after showing a page, now and then lets a click go by; a
        // person clicks again.
        if (!server.waitFor(focused, 2s)) session.click(p);
        ASSERT_TRUE(server.waitFor(focused, 10s))
            << "clicked " << p << "; the page reports:\n"
            << server.lastReport().describe();
    }

    // The program ends the normal way, saves, and its one Item is as it was.
    void expectItemUnchanged(const std::string& keys) {
        const int status = quorvel.stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
        std::string error;
        const auto items = quorvel.readItems(&error);
        ASSERT_EQ(items.size(), 1u) << error;
        EXPECT_EQ(items[0].name, "Shop");
        EXPECT_EQ(items[0].keys, keys);
        EXPECT_EQ(items[0].repeatDays, 5);
        EXPECT_EQ(items[0].entries, 0);
    }

    FormServer server;
    DesktopSession session{GetParam().wm};
    DesktopSession::BrowserWindow browser;
    QuorvelCopy quorvel{session};
    Point typeButton;
};

TEST_P(TypeOnDesktop, DirectClickOnTypeWhileTheProgramIsNotActiveUnderLoad) {
    openBrowser(server.url());
    if (HasFatalFailure()) return;
    const std::string keys = "{email}{tab}second {First Name}{tab}third{enter}";
    startQuorvel(keys);
    if (HasFatalFailure()) return;
    CpuLoad load(session, 2);
    ASSERT_TRUE(load.ok());
    const int n = tries();
    int failures = 0;
    for (int i = 1; i <= n; ++i) {
        SCOPED_TRACE("try " + std::to_string(i));
        const int page = static_cast<int>(server.lastReport().number("page"));
        clickField("a");
        if (HasFatalFailure()) return;
        // The program notes the window in front every 100 ms.
        std::this_thread::sleep_for(250ms);
        session.click(typeButton);  // onto the inactive window: the window manager focuses it
        const bool posted =
            server.waitFor([&] { return server.posts().size() == static_cast<size_t>(i); }, 20s);
        if (!posted) {
            ++failures;
            ADD_FAILURE() << "nothing posted; the page reports:\n" << server.lastReport().describe();
            session.screenshot(artifactPath(currentTestName() + "-try" + std::to_string(i) + ".png"));
            server.clearPosts();
            break;
        }
        const Fields f = server.posts().back();
        const bool right = f.value("a") == "me@example.com" &&
                           f.value("b") == "second Zo\xC3\xAB {tab}" && f.value("c") == "third";
        if (!right) ++failures;
        EXPECT_TRUE(right) << f.describe();
        ASSERT_TRUE(server.waitForPage(page, 20s));
    }
    EXPECT_EQ(failures, 0);
    std::cout << "[ result   ] " << nameOf(GetParam()) << ": " << n - failures << " of " << n
              << " direct Type clicks posted the form exactly\n";
    EXPECT_TRUE(quorvel.otherWindows().empty());
    expectItemUnchanged(keys);
}

// About 10,000 characters: text, codes, both variables, and é ß € 中 Ω.
std::string longScript(std::string* expected) {
    const std::string pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:!?-_()@#$%&*+=/'\"<>|~^[]\\";
    const char* rare[] = {"\xC3\xA9", "\xC3\x9F", "\xE2\x82\xAC", "\xE4\xB8\xAD", "\xCE\xA9"};
    std::string script;
    unsigned seed = 99;
    std::size_t chars = 0;
    while (chars < 10000) {
        seed = seed * 1103515245u + 12345u;
        const unsigned r = (seed >> 16) % 1000;
        if (chars % 70 == 69) {
            script += "{enter}";
            *expected += "\n";
        } else if (r < 3) {
            script += "{email}";
            *expected += "me@example.com";
            chars += 13;
        } else if (r < 5) {
            script += "{First Name}";
            *expected += "Zo\xC3\xAB {tab}";
        } else if (r < 7) {
            script += "x{left}y{right}";  // the arrows move within the text
            *expected += "yx";
        } else if (r < 30) {
            script += rare[(seed >> 8) % 5];
            *expected += rare[(seed >> 8) % 5];
        } else {
            script += pool[(seed >> 4) % pool.size()];
            *expected += pool[(seed >> 4) % pool.size()];
        }
        ++chars;
    }
    return script;
}

// One window manager is enough for the long texts.
class LongScriptOnDesktop : public TypeOnDesktop {};

TEST_P(LongScriptOnDesktop, ArrivesExactlyUnderUsAndGermanLayouts) {
    openBrowser(server.textareaUrl());
    if (HasFatalFailure()) return;
    std::string expected;
    const std::string keys = longScript(&expected);
    startQuorvel(keys);
    if (HasFatalFailure()) return;
    for (const char* layout : {"us", "de"}) {
        SCOPED_TRACE(layout);
        ASSERT_TRUE(session.setLayout(layout));
        clickField("t");
        if (HasFatalFailure()) return;
        ASSERT_TRUE(server.clearFields());
        ASSERT_TRUE(server.waitFor([&] { return server.lastReport().value("t").empty(); }, 10s));
        std::this_thread::sleep_for(250ms);
        const auto t0 = std::chrono::steady_clock::now();
        session.click(typeButton);
        const bool exact =
            server.waitFor([&] { return server.lastReport().value("t") == expected; }, 180s);
        const std::string got = server.lastReport().value("t");
        std::size_t same = 0;
        while (same < got.size() && same < expected.size() && got[same] == expected[same]) ++same;
        EXPECT_TRUE(exact) << "first difference at byte " << same << " of " << expected.size()
                           << ": got \"" << got.substr(same, 40) << "\", wanted \""
                           << expected.substr(same, 40) << "\"";
        std::cout << "[ result   ] " << nameOf(GetParam()) << " " << layout << ": "
                  << (exact ? "exact" : "NOT exact") << " after "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - t0)
                         .count()
                  << " ms\n";
    }
    ASSERT_TRUE(session.setLayout("us"));
    expectItemUnchanged(keys);
}

INSTANTIATE_TEST_SUITE_P(Desktops, TypeOnDesktop,
                         ::testing::Values(Setup{WindowManager::Openbox, Browser::FirefoxEsr},
                                           Setup{WindowManager::Openbox, Browser::Chromium},
                                           Setup{WindowManager::Xfwm4, Browser::FirefoxEsr}),
                         [](const auto& info) { return nameOf(info.param); });
INSTANTIATE_TEST_SUITE_P(Desktops, LongScriptOnDesktop,
                         ::testing::Values(Setup{WindowManager::Openbox, Browser::FirefoxEsr},
                                           Setup{WindowManager::Openbox, Browser::Chromium}),
                         [](const auto& info) { return nameOf(info.param); });

}  // namespace
}  // namespace quorvel::test
