// The Type button on a real desktop: openbox (and xfwm4), Firefox ESR and Chromium on a
// form from 127.0.0.1, the program as the desktop user beside the browser.  The user
// clicks into the form, then straight onto the Type button of the inactive program
// window, on a loaded machine; and long scripts with codes, variables and characters the
// layout lacks, under the US, German and Russian layouts, with the user's own keys just
// before and just after each run.
//
// QUORVEL_DESKTOP_TRIES sets the number of direct clicks per browser (CI: 20).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
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

const std::string kFormScript = "{email}{tab}second {First Name}{tab}third{enter}";

// How one click on Type ended.
enum class Outcome { Exact, Wrong, StoppedAndSaidWhy, Nothing };

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

    void startQuorvel(const std::string& keys, bool onTop = false) {
        ASSERT_TRUE(quorvel.ok()) << quorvel.error();
        ASSERT_TRUE(quorvel.writeSettings({}, {{"Options", "AlwaysOnTop", onTop ? "1" : "0"}}));
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
        // And the window manager says so, which is what the program notes every 100 ms.
        EXPECT_TRUE(waitUntil([&] { return session.activeWindow() == browser.window; }, 10s));
    }

    // The program ends the normal way, saves, and its one Item is as it was (and, when
    // `saved` is given, the data file byte for byte).
    void expectItemUnchanged(const std::string& keys, const std::string& saved = {}) {
        EXPECT_TRUE(quorvel.otherWindows().empty());
        const int status = quorvel.stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
        std::string error;
        const auto items = quorvel.readItems(&error);
        ASSERT_EQ(items.size(), 1u) << error;
        EXPECT_EQ(items[0].name, "Shop");
        EXPECT_EQ(items[0].keys, keys);
        EXPECT_EQ(items[0].repeatDays, 5);
        EXPECT_EQ(items[0].entries, 0);
        if (!saved.empty()) {
            EXPECT_EQ(quorvel.readFile("Quorvel.dat"), saved);
        }
    }

public:
    // The form in the browser, the program with the form's script kept on top of it (as
    // many people keep it, so the pointer stays over our window after a click on Type), and
    // four busy workers on the two cores.  The data file as the program got it.
    std::string startOnTopUnderLoad() {
        openBrowser(server.url());
        if (HasFatalFailure()) return {};
        startQuorvel(kFormScript, true);
        if (HasFatalFailure()) return {};
        load = std::make_unique<CpuLoad>(session, 4);
        EXPECT_TRUE(load->ok());
        return quorvel.readFile("Quorvel.dat");
    }

    // Clicks field "a", then Type as `clickType` does it, and tells how it ended.  A run
    // that typed nothing or stopped must have said why in a message box, which is then
    // answered; the form is emptied again after a stop.
    Outcome tryOnce(const std::function<void()>& clickType, const std::string& label) {
        const std::size_t postsBefore = server.posts().size();
        const int page = static_cast<int>(server.lastReport().number("page"));
        clickField("a");
        if (HasFatalFailure()) return Outcome::Nothing;
        // The program notes the window in front every 100 ms.
        std::this_thread::sleep_for(250ms);
        clickType();
        const auto hasPosted = [&] { return server.posts().size() > postsBefore; };
        const auto message = [&] { return warningBox(); };
        if (!server.waitFor([&] { return hasPosted() || message().has_value(); }, 20s)) {
            ADD_FAILURE() << label << ": nothing posted and nothing said; the page reports:\n"
                          << server.lastReport().describe();
            session.screenshot(artifactPath(currentTestName() + "-" + label + ".png"));
            return Outcome::Nothing;
        }
        if (hasPosted()) {
            const Fields f = server.posts().back();
            const bool right = f.value("a") == "me@example.com" &&
                               f.value("b") == "second Zo\xC3\xAB {tab}" && f.value("c") == "third";
            EXPECT_TRUE(right) << label << ": " << f.describe();
            EXPECT_TRUE(server.waitForPage(page, 20s));
            EXPECT_FALSE(message().has_value()) << label << ": a message after an exact run";
            return right ? Outcome::Exact : Outcome::Wrong;
        }
        // Said why: answered as a person would, and the half-filled form emptied.
        answerWarning(label);
        EXPECT_TRUE(server.clearFields());
        return Outcome::StoppedAndSaidWhy;
    }

    // The program's message box "Warning", when one shows.
    std::optional<WindowInfo> warningBox() const {
        for (const WindowInfo& w : quorvel.otherWindows())
            if (w.title == "Warning") return w;
        return std::nullopt;
    }

    // Answers the message box with Return, as a person would; the screen is kept first.
    void answerWarning(const std::string& label) {
        const auto box = warningBox();
        ASSERT_TRUE(box.has_value()) << label;
        session.screenshot(artifactPath(currentTestName() + "-" + label + "-message.png"));
        EXPECT_TRUE(session.activate(box->id)) << label;
        EXPECT_TRUE(session.key("Return"));
        EXPECT_TRUE(waitUntil([&] { return !warningBox().has_value(); }, 10s)) << label;
    }

protected:
    FormServer server;
    DesktopSession session{GetParam().wm};
    DesktopSession::BrowserWindow browser;
    QuorvelCopy quorvel{session};
    Point typeButton;
    std::unique_ptr<CpuLoad> load;
};

TEST_P(TypeOnDesktop, DirectClickOnTypeWhileTheProgramIsNotActiveUnderLoad) {
    const std::string saved = startOnTopUnderLoad();
    if (HasFatalFailure()) return;
    const int n = tries();
    std::map<Outcome, int> seen;
    for (int i = 1; i <= n && !HasFatalFailure(); ++i) {
        // A person's click: the button held 100 ms, long enough for the window manager to
        // make our window the active one and for our timers to notice.
        ++seen[tryOnce([&] { session.click(typeButton, 1, 100ms); }, "try" + std::to_string(i))];
    }
    std::cout << "[ result   ] " << nameOf(GetParam()) << ": " << seen[Outcome::Exact] << " of "
              << n << " direct Type clicks posted the form exactly, "
              << seen[Outcome::StoppedAndSaidWhy] << " stopped and said why, "
              << seen[Outcome::Wrong] << " wrong, " << seen[Outcome::Nothing] << " silent\n";
    EXPECT_EQ(seen[Outcome::Wrong] + seen[Outcome::Nothing], 0);
    // A stop is the guard's last resort, not the way a click on Type ends.
    EXPECT_LE(seen[Outcome::StoppedAndSaidWhy], n / 100);
    expectItemUnchanged(kFormScript, saved);
}

// The desktop acting late, made late on purpose: the window manager stopped right after the
// click and let go 50-500 ms later; the button held that long; the program itself held up
// between the press and the release.  Every try ends exact in the form, or with nothing
// typed into the program and the user told why, and the Item stays byte for byte.
TEST_P(TypeOnDesktop, LateWindowManagerOrProgramNeverTypesIntoTheProgram) {
    const std::string saved = startOnTopUnderLoad();
    if (HasFatalFailure()) return;
    const pid_t wm = session.windowManagerPid(), program = quorvel.process()->pid();
    ASSERT_GT(wm, 0);
    const auto stopFor = [](pid_t pid, std::chrono::milliseconds ms) {
        kill(pid, SIGSTOP);
        std::this_thread::sleep_for(ms);
        kill(pid, SIGCONT);
    };
    std::map<Outcome, int> seen;
    for (const auto delay : {50ms, 150ms, 300ms, 500ms}) {
        const std::string ms = std::to_string(delay.count()) + "ms";
        ++seen[tryOnce([&] { session.click(typeButton); stopFor(wm, delay); },
                       "wm-stopped-" + ms)];
        ++seen[tryOnce([&] { session.click(typeButton, 1, delay); }, "held-" + ms)];
        ++seen[tryOnce([&] { session.click(typeButton, 1, 30ms, [&] { stopFor(program, delay); }); },
                       "program-stopped-" + ms)];
    }
    std::cout << "[ result   ] " << nameOf(GetParam()) << ": " << seen[Outcome::Exact]
              << " exact, " << seen[Outcome::StoppedAndSaidWhy] << " stopped and said why\n";
    EXPECT_EQ(seen[Outcome::Wrong] + seen[Outcome::Nothing], 0);
    expectItemUnchanged(kFormScript, saved);
}

// About 10,000 characters: text, codes, both variables, é ß € 中 Ω, and one character in
// ten from 300 CJK characters (more than a thousand characters the layout lacks, in far
// more kinds than there are spare keys).
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
        } else if (r < 110) {
            const char32_t c = 0x4E00 + 53 * ((seed >> 6) % 300);
            const std::string cjk = {static_cast<char>(0xE0 | (c >> 12)),
                                     static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                                     static_cast<char>(0x80 | (c & 0x3F))};
            script += cjk;
            *expected += cjk;
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

TEST_P(LongScriptOnDesktop, ArrivesExactlyUnderUsGermanAndRussianLayouts) {
    openBrowser(server.textareaUrl());
    if (HasFatalFailure()) return;
    std::string expected;
    const std::string keys = longScript(&expected);
    startQuorvel(keys);
    if (HasFatalFailure()) return;
    const std::string saved = quorvel.readFile("Quorvel.dat");
    const auto ours = session.geometry(quorvel.mainWindow());
    ASSERT_TRUE(ours.has_value());
    // What the user types on their own keyboard right after a run, in each layout.
    const std::map<std::string, std::string> ownWords = {
        {"us", "http://"}, {"de", "Gr\xC3\xBC\xC3\x9F" "e"}, {"ru", "\xD0\xBF\xD1\x80\xD0\xB8"}};
    for (const char* layout : {"us", "de", "ru"}) {
        SCOPED_TRACE(layout);
        ASSERT_TRUE(session.setLayout(layout));
        clickField("t");
        if (HasFatalFailure()) return;
        ASSERT_TRUE(server.clearFields());
        ASSERT_TRUE(server.waitFor([&] { return server.lastReport().value("t").empty(); }, 10s));
        std::this_thread::sleep_for(250ms);
        // The user's own keyboard just before the click: Shift pressed and let go.
        ASSERT_TRUE(session.key("shift"));
        const auto t0 = std::chrono::steady_clock::now();
        session.click(typeButton);
        // Meanwhile the pointer wanders over our window, as a hand on the mouse does: the
        // keys stay with the form.
        const auto arrived = [&] { return server.lastReport().value("t") == expected; };
        bool exact = false;
        for (int step = 0; !exact && std::chrono::steady_clock::now() - t0 < 180s; ++step) {
            session.movePointer({ours->x + 5 + step * 37 % (ours->width - 10),
                                 ours->y + 5 + step * 53 % (ours->height - 10)});
            exact = server.waitFor(arrived, 200ms);
        }
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
        // And right after it: the user's keys arrive whole, none lost to the run's keymap.
        if (exact) {
            const std::string own = ownWords.at(layout);
            ASSERT_TRUE(session.typeText(own, 40ms));
            EXPECT_TRUE(server.waitFor(
                [&] { return server.lastReport().value("t") == expected + own; }, 10s))
                << "the user's keys after the run: got \""
                << server.lastReport().value("t").substr(expected.size()) << "\"";
        }
        // Every client reloads its keymap at each change the run made; the window manager
        // must not be left working through them (its grabs would hold the user's clicks).
        const double before = cpuSeconds(session.windowManagerPid());
        std::this_thread::sleep_for(1s);
        EXPECT_LT(cpuSeconds(session.windowManagerPid()) - before, 0.3)
            << "the window manager is still busy after the run";
    }
    ASSERT_TRUE(session.setLayout("us"));
    // A click into our own window in the middle of a run takes the keyboard: the run stops
    // there and says so, and nothing of the script lands in the program.
    clickField("t");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(server.clearFields());
    ASSERT_TRUE(server.waitFor([&] { return server.lastReport().value("t").empty(); }, 10s));
    std::this_thread::sleep_for(250ms);
    session.click(typeButton);
    // The browser shows what it got only seconds later; the run has begun well before.
    std::this_thread::sleep_for(500ms);
    session.click(ours->center());
    ASSERT_TRUE(waitUntil([&] { return warningBox().has_value(); }, 20s))
        << "the run went on or stopped silently";
    const std::size_t typed = server.lastReport().value("t").size();
    EXPECT_LT(typed, expected.size());
    answerWarning("clicked-into-the-program");
    expectItemUnchanged(keys, saved);
}

INSTANTIATE_TEST_SUITE_P(Desktops, TypeOnDesktop,
                         ::testing::Values(Setup{WindowManager::Openbox, Browser::FirefoxEsr},
                                           Setup{WindowManager::Openbox, Browser::Chromium},
                                           Setup{WindowManager::Xfwm4, Browser::FirefoxEsr},
                                           Setup{WindowManager::Xfwm4, Browser::Chromium}),
                         [](const auto& info) { return nameOf(info.param); });
INSTANTIATE_TEST_SUITE_P(Desktops, LongScriptOnDesktop,
                         ::testing::Values(Setup{WindowManager::Openbox, Browser::FirefoxEsr},
                                           Setup{WindowManager::Openbox, Browser::Chromium}),
                         [](const auto& info) { return nameOf(info.param); });

}  // namespace
}  // namespace quorvel::test
