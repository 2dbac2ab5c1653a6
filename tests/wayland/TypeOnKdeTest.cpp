// The Type button on KDE Plasma: the program runs natively on a headless KWin beside a
// native or an XWayland target and types through KDE's remote-desktop portal.  The user clicks into the
// target, or leaves the program in front, then clicks straight onto the Type button (a
// pointer of the tests' own portal session); the program steps aside, KWin gives the
// keyboard back to the target, and codes, variables and the German layout's own
// characters arrive exactly, with both cores busy; the program comes back and its Item
// stays as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "support/DesktopQuorvel.h"
#include "support/PortalDesktopSession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;
using Window = PortalDesktopSession::Window;

// Only characters the German layout types: one it lacks would bring a message.
const std::string kKeys =
    "{email}{tab}Gr\xC3\xBC\xC3\x9F" "e {First Name}{enter}@\xE2\x82\xAC\\~|\xC2\xB5\xC2\xB2"
    "\xC3\x84\xCE\xA9\xC3\x84{nosuchvar}!";
const std::string kExpected =
    "me@example.com\tGr\xC3\xBC\xC3\x9F" "e J\xC3\xB6rg {tab}\n@\xE2\x82\xAC\\~|\xC2\xB5\xC2\xB2"
    "\xC3\x84\xCE\xA9\xC3\x84!";

bool isMain(const Window& w) { return w.caption.rfind(QuorvelCopy::kTitlePrefix, 0) == 0; }

// The target: native (false) or an X11 window through Xwayland (true).
class TypeOnKde : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.ok()) << session.error();
        folder = session.runtime() + "/quorvel";
        std::filesystem::create_directory(folder);
        ASSERT_EQ(copyProgramInto(folder), "");
        QuorvelItem item;
        item.name = "Shop";
        item.url = "http://127.0.0.1/";
        item.keys = kKeys;
        write("Quorvel.ini", settingsBytes({0, 0, 400}, {}));
        write("Quorvel.dat", itemsBytes({item}));
        write("quorvel.var", variablesBytes({{"{email}", "me@example.com"},
                                             {"{first name}", "J\xC3\xB6rg {tab}"}}));
        ASSERT_TRUE(user.chownToUser(folder));
        Environment env = session.environment();
        env["QT_QPA_PLATFORM"] = "wayland";
        SpawnOptions o;
        o.argv = user.command({folder + "/quorvel"}, env);
        o.logFile = session.runtime() + "/quorvel.log";
        program = std::make_unique<ChildProcess>(spawnProcess(o), "quorvel", o.logFile);
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (!mainWindow() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(200ms);
        const auto main = mainWindow();
        ASSERT_TRUE(main.has_value()) << program->logTail() << session.logTail();
        // Placed by the session's rule, without a frame: the frame is the client area.
        ASSERT_EQ(main->x, PortalDesktopSession::kQuorvelX);
        ASSERT_EQ(main->y, PortalDesktopSession::kQuorvelY);
        // The target, too, where the clicks into it go.
        bool targetPlaced = false;
        for (const Window& w : session.windows().value_or(std::vector<Window>{}))
            targetPlaced |= w.appId == "type_target" && w.x == 0 && w.y == 0 && w.width > 100;
        ASSERT_TRUE(targetPlaced) << windowsSeen();
        const Rect b = QuorvelCopy::buttonInClient(QuorvelCopy::Button::Type, main->height);
        typeButton = {main->x + b.x + b.width / 2, main->y + b.y + b.height / 2};
    }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
    }
    std::optional<Window> mainWindow() const {
        const auto all = session.windows();
        if (all)
            for (const Window& w : *all)
                if (isMain(w)) return w;
        return std::nullopt;
    }
    // The program's windows besides the main one (a message, say).
    std::vector<std::string> otherWindows() const {
        std::vector<std::string> out;
        if (const auto all = session.windows())
            for (const Window& w : *all)
                if (w.appId == "quorvel" && !isMain(w)) out.push_back(w.caption);
        return out;
    }

    std::string windowsSeen() const {
        std::string seen = "KWin's windows:\n";
        if (const auto all = session.windows())
            for (const Window& w : *all)
                seen += w.appId + " \"" + w.caption + "\" at " + std::to_string(w.x) + "," +
                        std::to_string(w.y) + (w.active ? ", active" : "") +
                        (w.minimized ? ", minimised" : "") + "\n";
        return seen;
    }

    const DesktopUser& user = DesktopUser::get();
    PortalDesktopSession session{PortalDesktopSession::Desktop::Kde, {GetParam(), "de"}};
    std::string folder;
    std::unique_ptr<ChildProcess> program;
    Point typeButton;
};

}  // namespace

TEST_P(TypeOnKde, ClickOnTypeTypesIntoTheWindowInFrontBeforeExactlyUnderLoad) {
    // Both cores busy: the focus and the keys reach the target late.
    SpawnOptions stress;
    stress.argv = user.command({"stress-ng", "--cpu", "2", "--timeout", "120s", "--quiet"},
                               session.environment());
    ChildProcess load(spawnProcess(stress), "stress-ng", "");
    const int tries = 4;
    std::string expected;
    for (int i = 1; i <= tries; ++i) {
        SCOPED_TRACE("try " + std::to_string(i));
        // Every other time the user clicks into the target first; otherwise the program,
        // back in front after the last run, is clicked directly.
        const bool targetFirst = i % 2 == 1;
        std::vector<std::pair<int, int>> clicks;
        if (targetFirst) clicks.push_back({100, 100});
        clicks.push_back({typeButton.x, typeButton.y});
        ASSERT_TRUE(session.click(clicks));
        expected += kExpected;
        const bool exact = session.typedIs(expected, 20s);
        const auto others = otherWindows();
        ASSERT_TRUE(others.empty()) << "the program showed \"" << others.front()
                                    << "\"; the target holds \"" << session.typed() << "\"\n"
                                    << program->logTail();
        ASSERT_TRUE(exact) << (targetFirst ? "target clicked first" : "program in front")
                           << "; the target holds \"" << session.typed() << "\"";
        // The program comes back, in front, once the run is over.
        bool back = false;
        for (int wait = 0; wait < 50 && !back; ++wait) {
            const auto main = mainWindow();
            back = main && main->active && !main->minimized;
            if (!back) std::this_thread::sleep_for(100ms);
        }
        // Else the next click on Type would meet no window.
        ASSERT_TRUE(back) << windowsSeen();
    }
    // The program ends the normal way, saves, and its one Item is as it was.
    const int status = program->terminate(20s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
    std::ifstream in(folder + "/Quorvel.dat", std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string error;
    const auto items = itemsFromBytes(bytes.str(), &error);
    ASSERT_EQ(items.size(), 1u) << error;
    EXPECT_EQ(items[0].name, "Shop");
    EXPECT_EQ(items[0].keys, kKeys);
    EXPECT_EQ(items[0].repeatDays, 5);
    EXPECT_EQ(items[0].entries, 0);
    EXPECT_EQ(items[0].lastDone, "01/01/2001 00:00");
}

INSTANTIATE_TEST_SUITE_P(Target, TypeOnKde, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "XWayland" : "Wayland";
                         });

}  // namespace quorvel::test
