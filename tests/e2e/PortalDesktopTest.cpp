// Types through a real desktop portal: a headless GNOME compositor (mutter) with
// xdg-desktop-portal and its GNOME backend, the consent dialog answered through the
// accessibility bus as a user would, into a native Wayland window.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/DesktopProcess.h"
#include "support/DesktopUser.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::DesktopUser;
using test::Environment;
using test::SpawnOptions;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Polls `done` every 100 ms until it holds or `limit` has passed.
template <typename F>
bool waitFor(F done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

}  // namespace

TEST(PortalDesktop, TypesIntoANativeWaylandWindowOnceTheUserAllowedIt) {
    for (const char* tool : {"/usr/bin/mutter", "/usr/libexec/xdg-desktop-portal",
                             "/usr/libexec/xdg-desktop-portal-gnome", "/usr/bin/busctl"})
        ASSERT_EQ(access(tool, X_OK), 0) << tool << " is missing: run scripts/install-deps";
    const DesktopUser& user = DesktopUser::get();
    ASSERT_TRUE(user.ok()) << user.error();
    const std::string runtime = user.makeTempDir("quorvel-portal-");
    ASSERT_FALSE(runtime.empty());
    // Removed after everything started in it has ended (destroyed last).
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{runtime};
    const std::string data = runtime + "/data", typed = runtime + "/typed.txt";
    std::filesystem::create_directory(data);
    ASSERT_TRUE(user.chownToUser(data));

    SpawnOptions session;
    session.argv = user.command({"dbus-run-session", "--",
                                 QUORVEL_SOURCE_DIR "/tests/scripts/gnome-portal-session.sh", runtime,
                                 QUORVEL_BINARY_DIR "/tests/type_target", typed},
                                {{"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}});
    session.logFile = runtime + "/session.log";
    ChildProcess desktop(test::spawnProcess(session), "GNOME session", session.logFile);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(runtime + "/bus"); }, 40s))
        << desktop.logTail();
    std::string bus = readText(runtime + "/bus");
    bus.erase(bus.find_last_not_of('\n') + 1);

    const Environment env{{"PATH", "/usr/bin:/bin"},          {"HOME", runtime + "/home"},
                          {"XDG_RUNTIME_DIR", runtime},       {"DBUS_SESSION_BUS_ADDRESS", bus},
                          {"WAYLAND_DISPLAY", "wayland-0"},   {"QT_QPA_PLATFORM", "offscreen"},
                          {"LANG", "C.UTF-8"}};
    SpawnOptions type;
    // The compositor's keymap is US English: € is on a third level (AltGr), ö and 中 are
    // not on it at all.
    type.argv = user.command({QUORVEL_BINARY_DIR "/tests/portal_type", data,
                              "Hello{TAB}wörld€ 中!"},
                             env);
    type.logFile = runtime + "/type.log";
    ChildProcess typist(test::spawnProcess(type), "portal_type", type.logFile);

    SpawnOptions consent;
    consent.argv = user.command({"python3", QUORVEL_SOURCE_DIR "/tests/scripts/portal-consent.py",
                                 "40"},
                                env);
    std::string said;
    EXPECT_EQ(test::runProcess(consent, &said, 60s), 0) << said << desktop.logTail();
    const auto status = typist.waitForExit(60s);
    ASSERT_TRUE(status.has_value()) << typist.logTail();
    EXPECT_EQ(*status, 0) << typist.logTail();
    const std::string report = readText(type.logFile);
    EXPECT_NE(report.find("open: \n"), std::string::npos) << report;
    EXPECT_NE(report.find("left out: ö中\n"), std::string::npos) << report;
    // Every character the keymap has, in order, the first included, none in place of
    // the ones it lacks.
    EXPECT_TRUE(waitFor([&] { return readText(typed) == "Hello\twrld€ !"; }, 10s))
        << "typed: [" << readText(typed) << "]\n" << typist.logTail();
}

}  // namespace quorvel
