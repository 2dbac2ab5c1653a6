// Types through a real desktop portal: a headless GNOME compositor (mutter) with
// xdg-desktop-portal and its GNOME backend, the consent dialog answered through the
// accessibility bus as a user would, into a native Wayland window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
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

// One headless GNOME session per test, as the desktop user, with the test window shown.
class GnomePortal : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/mutter", "/usr/libexec/xdg-desktop-portal",
                                 "/usr/libexec/xdg-desktop-portal-gnome", "/usr/bin/busctl"})
            ASSERT_EQ(access(tool, X_OK), 0) << tool << " is missing: run scripts/install-deps";
        ASSERT_TRUE(user_.ok()) << user_.error();
        runtime_ = user_.makeTempDir("quorvel-portal-");
        ASSERT_FALSE(runtime_.empty());
        data_ = runtime_ + "/data";
        typed_ = runtime_ + "/typed.txt";
        std::filesystem::create_directory(data_);
        ASSERT_TRUE(user_.chownToUser(data_));
        // The user runs copies: the checkout may be unreadable to it.
        bin_ = runtime_ + "/bin";
        std::filesystem::create_directory(bin_);
        ASSERT_TRUE(user_.chownToUser(bin_));
        for (const std::string file :
             {QUORVEL_SOURCE_DIR "/tests/scripts/gnome-portal-session.sh",
              QUORVEL_SOURCE_DIR "/tests/scripts/portal-consent.py",
              QUORVEL_BINARY_DIR "/tests/type_target", QUORVEL_BINARY_DIR "/tests/portal_type"})
            ASSERT_FALSE(user_.copyForUser(file, bin_).empty()) << "cannot copy " << file;
        SpawnOptions session;
        session.argv = user_.command(
            {"dbus-run-session", "--", bin_ + "/gnome-portal-session.sh", runtime_,
             bin_ + "/type_target", typed_},
            {{"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}});
        session.logFile = runtime_ + "/session.log";
        desktop_ = std::make_unique<ChildProcess>(test::spawnProcess(session), "GNOME session",
                                                  session.logFile);
        ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(runtime_ + "/bus"); }, 40s))
            << desktop_->logTail();
        std::string bus = readText(runtime_ + "/bus");
        bus.erase(bus.find_last_not_of('\n') + 1);
        env_ = {{"PATH", "/usr/bin:/bin"},        {"HOME", runtime_ + "/home"},
                {"XDG_RUNTIME_DIR", runtime_},    {"DBUS_SESSION_BUS_ADDRESS", bus},
                {"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "offscreen"},
                {"LANG", "C.UTF-8"}};
        // An instrumented build's programs keep the sanitizers' settings and suppressions.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* v = std::getenv(name)) env_[name] = v;
    }
    void TearDown() override {
        typist_.reset();
        desktop_.reset();
        if (!runtime_.empty()) std::filesystem::remove_all(runtime_);
    }

    // Starts the typing program; `answer` is how the user answers the consent dialog.
    // The typing program's exit status.
    int typeAnswering(const std::vector<std::string>& args, const char* answer) {
        SpawnOptions type;
        std::vector<std::string> argv{bin_ + "/portal_type"};
        argv.insert(argv.end(), args.begin(), args.end());
        type.argv = user_.command(argv, env_);
        type.logFile = runtime_ + "/type.log";
        typist_ = std::make_unique<ChildProcess>(test::spawnProcess(type), "portal_type",
                                                 type.logFile);
        SpawnOptions consent;
        consent.argv = user_.command(
            {"python3", bin_ + "/portal-consent.py", "40", answer}, env_);
        std::string said;
        EXPECT_EQ(test::runProcess(consent, &said, 60s), 0) << said << desktop_->logTail();
        const auto status = typist_->waitForExit(60s);
        EXPECT_TRUE(status.has_value()) << typist_->logTail();
        return status.value_or(-1);
    }
    std::string report() const { return readText(runtime_ + "/type.log"); }
    bool typedIs(const std::string& text) const {
        return waitFor([&] { return readText(typed_) == text; }, 10s);
    }

    const DesktopUser& user_ = DesktopUser::get();
    std::string runtime_, bin_, data_, typed_;
    Environment env_;
    std::unique_ptr<ChildProcess> desktop_, typist_;
};

}  // namespace

TEST_F(GnomePortal, TypesIntoANativeWaylandWindowOnceTheUserAllowedIt) {
    // The compositor's keymap is US English: € is on a third level (AltGr), ö and 中 are
    // not on it at all.
    EXPECT_EQ(typeAnswering({data_, "Hello{TAB}wörld€ 中!"}, "allow"), 0) << report();
    EXPECT_NE(report().find("open: \n"), std::string::npos) << report();
    EXPECT_NE(report().find("left out: ö中\n"), std::string::npos) << report();
    // Every character the keymap has, in order, the first included, none in place of
    // the ones it lacks.
    EXPECT_TRUE(typedIs("Hello\twrld€ !")) << "typed: [" << readText(typed_) << "]";
}

TEST_F(GnomePortal, OurWindowStepsAsideSoTheKeysReachTheWindowInFrontBefore) {
    env_["QT_QPA_PLATFORM"] = "wayland";
    EXPECT_EQ(typeAnswering({"--step-aside", data_, "typed{ENTER}"}, "allow"), 0) << report();
    const std::string r = report();
    EXPECT_NE(r.find("front: 1\n"), std::string::npos) << r;
    EXPECT_NE(r.find("aside: 1\n"), std::string::npos) << r;
    EXPECT_NE(r.find("back: 1\n"), std::string::npos) << r;
    EXPECT_TRUE(typedIs("typed\n")) << "typed: [" << readText(typed_) << "]";
}

TEST_F(GnomePortal, ARefusedConsentTypesNothingAndSaysWhy) {
    EXPECT_EQ(typeAnswering({data_, "never"}, "refuse"), 1 << 8) << report();
    EXPECT_NE(report().find("open: Quorvel was not allowed to control the keyboard"),
              std::string::npos)
        << report();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(readText(typed_), "");
}

}  // namespace quorvel
