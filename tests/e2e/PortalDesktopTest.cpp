// Types through a real desktop portal into a native Wayland window, and on KDE into an
// XWayland one: a headless GNOME compositor (mutter) with xdg-desktop-portal and its GNOME
// backend, the consent dialog answered through the accessibility bus as a user would; a
// headless KWin with the KDE backend, which asks a program that is not sandboxed nothing.
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
#include "support/PortalDesktopSession.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::DesktopUser;
using test::PortalDesktopSession;
using test::Environment;
using test::SpawnOptions;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One headless desktop per test, as the desktop user, with the test window shown.
class PortalDesktop : public ::testing::Test {
protected:
    void TearDown() override {
        typist_.reset();
        desktop_.reset();
    }

    void startDesktop(PortalDesktopSession::Desktop desktop,
                      PortalDesktopSession::Options options = {}) {
        desktop_ = std::make_unique<PortalDesktopSession>(desktop, options);
        ASSERT_TRUE(desktop_->ok()) << desktop_->error();
        data_ = desktop_->runtime() + "/data";
        std::filesystem::create_directory(data_);
        ASSERT_TRUE(user_.chownToUser(data_));
        env_ = desktop_->environment();
    }

    // Starts the typing program; `answer` is how the user answers the consent dialog,
    // null where the desktop asks nothing.  The typing program's exit status.
    int typeAnswering(const std::vector<std::string>& args, const char* answer) {
        SpawnOptions type;
        std::vector<std::string> argv{desktop_->tool("portal_type")};
        argv.insert(argv.end(), args.begin(), args.end());
        type.argv = user_.command(argv, env_);
        type.logFile = desktop_->runtime() + "/type.log";
        typist_ = std::make_unique<ChildProcess>(test::spawnProcess(type), "portal_type",
                                                 type.logFile);
        if (answer) {
            SpawnOptions consent;
            consent.argv = user_.command(
                {"python3", desktop_->tool("portal-consent.py"), "40", answer},
                env_);
            std::string said;
            EXPECT_EQ(test::runProcess(consent, &said, 60s), 0) << said << desktop_->logTail();
        }
        const auto status = typist_->waitForExit(60s);
        EXPECT_TRUE(status.has_value()) << typist_->logTail();
        return status.value_or(-1);
    }
    int type(const std::vector<std::string>& args) { return typeAnswering(args, nullptr); }
    std::string report() const { return readText(desktop_->runtime() + "/type.log"); }
    bool typedIs(const std::string& text) const { return desktop_->typedIs(text); }
    std::string typed() const { return desktop_->typed(); }

    const DesktopUser& user_ = DesktopUser::get();
    std::string data_;
    Environment env_;
    std::unique_ptr<PortalDesktopSession> desktop_;
    std::unique_ptr<ChildProcess> typist_;
};

class GnomePortal : public PortalDesktop {
protected:
    void SetUp() override { startDesktop(PortalDesktopSession::Desktop::Gnome); }
};

// Each test starts the KDE desktop with its own target and layouts.
class KdePortal : public PortalDesktop {
protected:
    // The German script into a native or an XWayland target under the German layout.
    // Plasma 5's portal asks a program that is not sandboxed nothing (it only shows a
    // notification); Plasma 6's session is given the consent beforehand.
    void typeGermanScript(bool x11Target);
};

// Codes, variables (a value is typed as it stands, braces and all), the German layout's
// own letters, AltGr (third level) and Shift+AltGr (fourth level) characters next to
// Shift ones, and characters the layout lacks.
const std::vector<std::string> kGermanScript{
    "--var", "{email}=me@example.com", "--var", "{First Name}=J\xC3\xB6rg {tab}",
    "{email}{TAB}Gr\xC3\xBC\xC3\x9F" "e {First Name}{ENTER}@\xE2\x82\xAC\\~|\xC2\xB5\xC2\xB2"
    "\xC3\x84\xCE\xA9\xC3\x84 \xC3\xA9\xE4\xB8\xAD!"};
const std::string kGermanTyped =
    "me@example.com\tGr\xC3\xBC\xC3\x9F" "e J\xC3\xB6rg {tab}\n@\xE2\x82\xAC\\~|\xC2\xB5\xC2\xB2"
    "\xC3\x84\xCE\xA9\xC3\x84 !";

void KdePortal::typeGermanScript(bool x11Target) {
    startDesktop(PortalDesktopSession::Desktop::Kde, {x11Target, "de"});
    if (HasFatalFailure()) return;
    std::vector<std::string> args{kGermanScript.begin(), kGermanScript.end() - 1};
    args.insert(args.end(), {data_, kGermanScript.back()});
    EXPECT_EQ(type(args), 0) << report();
    EXPECT_NE(report().find("open: \n"), std::string::npos) << report();
    EXPECT_NE(report().find("left out: \xC3\xA9\xE4\xB8\xAD\n"), std::string::npos) << report();
    EXPECT_TRUE(typedIs(kGermanTyped)) << "typed: [" << typed() << "]\n" << desktop_->logTail();
}

}  // namespace

TEST_F(GnomePortal, TypesOnceTheUserAllowedItAndANewerPortalKeepsTheConsentAcrossStarts) {
    // The compositor's keymap is US English: € is on a third level (AltGr), ö and 中 are
    // not on it at all.
    EXPECT_EQ(typeAnswering({data_, "Hello{TAB}wörld€ 中!"}, "allow"), 0) << report();
    EXPECT_NE(report().find("open: \n"), std::string::npos) << report();
    EXPECT_NE(report().find("left out: ö中\n"), std::string::npos) << report();
    // Every character the keymap has, in order, the first included, none in place of
    // the ones it lacks.
    EXPECT_TRUE(typedIs("Hello\twrld€ !")) << "typed: [" << typed() << "]";

    // The next start of the program.  A version 1 portal (GNOME 43) hands out no restore
    // token and asks again; a version 2 portal (GNOME 44 and later) hands one out, and the
    // next start types without a dialog and keeps the token the portal handed back (1.20
    // hands back the same one for a consent kept until revoked).
    const std::string tokenFile = data_ + "/remote-desktop.token";
    const std::string first = readText(tokenFile);
    // The previous start's virtual keyboard leaves the seat in the compositor's own time;
    // a person does not restart that quickly.
    std::this_thread::sleep_for(2s);
    if (first.empty()) {
        EXPECT_EQ(typeAnswering({data_, "{ENTER}again"}, "allow"), 0) << report();
        EXPECT_TRUE(typedIs("Hello\twrld€ !\nagain")) << "typed: [" << typed() << "]";
        return;
    }
    EXPECT_EQ(type({data_, "{ENTER}again"}), 0) << report();
    EXPECT_TRUE(typedIs("Hello\twrld€ !\nagain")) << "typed: [" << typed() << "]";
    EXPECT_FALSE(readText(tokenFile).empty());

    // A token the portal does not honour (its permission store was reset, say) brings the
    // dialog back instead of a failure, and the new consent's token is kept.
    const std::string unknown = "00000000-0000-4000-8000-000000000000\n";
    {
        std::ofstream stale(tokenFile, std::ios::trunc);
        stale << unknown;
    }
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(typeAnswering({data_, "{ENTER}asked"}, "allow"), 0) << report();
    EXPECT_TRUE(typedIs("Hello\twrld€ !\nagain\nasked")) << "typed: [" << typed() << "]";
    const std::string renewed = readText(tokenFile);
    EXPECT_FALSE(renewed.empty());
    EXPECT_NE(renewed, unknown);
}

TEST_F(GnomePortal, OurWindowStepsAsideSoTheKeysReachTheWindowInFrontBefore) {
    env_["QT_QPA_PLATFORM"] = "wayland";
    EXPECT_EQ(typeAnswering({"--step-aside", data_, "typed{ENTER}"}, "allow"), 0) << report();
    const std::string r = report();
    EXPECT_NE(r.find("front: 1\n"), std::string::npos) << r;
    EXPECT_NE(r.find("aside: 1\n"), std::string::npos) << r;
    EXPECT_NE(r.find("back: 1\n"), std::string::npos) << r;
    EXPECT_TRUE(typedIs("typed\n")) << "typed: [" << typed() << "]";
}

TEST_F(GnomePortal, ARefusedConsentTypesNothingAndSaysWhy) {
    EXPECT_EQ(typeAnswering({data_, "never"}, "refuse"), 1 << 8) << report();
    EXPECT_NE(report().find("open: Quorvel was not allowed to control the keyboard"),
              std::string::npos)
        << report();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(typed(), "");
}

TEST_F(KdePortal, TypesCodesVariablesAndTheLayoutsCharactersIntoANativeWaylandWindow) {
    typeGermanScript(false);
}

TEST_F(KdePortal, TypesCodesVariablesAndTheLayoutsCharactersIntoAnXWaylandWindow) {
    typeGermanScript(true);
}

TEST_F(KdePortal, UnderSeveralLayoutsOnlyWhatEachTypesOnTheSameKeyIsTypedThenAllOfOne) {
    // German first, US active: KDE's portal finds a keysym's key in the first layout and
    // KWin reads that key in the active one, so Y and Z would swap.  Keys given once for
    // all layouts (the space bar) and keys alike in both (A, 1, Shift+1) still type.
    startDesktop(PortalDesktopSession::Desktop::Kde, {false, "de,us"});
    if (HasFatalFailure()) return;
    ASSERT_TRUE(desktop_->switchLayout(1));
    EXPECT_EQ(type({data_, "yz YZ a1@\xC3\x9F!{TAB}A"}), 0) << report();
    EXPECT_NE(report().find("left out: yzYZ@\xC3\x9F\n"), std::string::npos) << report();
    EXPECT_TRUE(typedIs("  a1!\tA")) << "typed: [" << typed() << "]";
    // The user keeps German alone: the next run reads the new keymap, and so does the
    // portal, which keeps running.
    ASSERT_TRUE(desktop_->setLayouts("de"));
    std::this_thread::sleep_for(2s);  // KWin reads its settings in its own time
    EXPECT_EQ(type({data_, "{ENTER}yz YZ@\xC3\x9F"}), 0) << report();
    EXPECT_NE(report().find("left out: \n"), std::string::npos) << report();
    EXPECT_TRUE(typedIs("  a1!\tA\nyz YZ@\xC3\x9F")) << "typed: [" << typed() << "]";
}

TEST_F(KdePortal, Plasma6AsksOnceKeepsTheConsentAcrossStartsAndARefusalTypesNothing) {
    startDesktop(PortalDesktopSession::Desktop::Kde, {false, "us", false});
    if (HasFatalFailure()) return;
    const bool asks = desktop_->plasma() >= 6;
    // Plasma 5 asks a program that is not sandboxed nothing; Plasma 6 shows its dialog,
    // which the user answers keeping the consent ("Allow restoring on future sessions").
    EXPECT_EQ(typeAnswering({data_, "one"}, asks ? "allow" : nullptr), 0) << report();
    EXPECT_TRUE(typedIs("one")) << "typed: [" << typed() << "]";
    const std::string tokenFile = data_ + "/remote-desktop.token";
    if (asks) {
        EXPECT_FALSE(readText(tokenFile).empty());
    }
    // The previous start's keyboard leaves KWin in its own time.
    std::this_thread::sleep_for(2s);
    // The next start restores the consent: no dialog.
    EXPECT_EQ(type({data_, "{ENTER}two"}), 0) << report();
    EXPECT_TRUE(typedIs("one\ntwo")) << "typed: [" << typed() << "]";
    if (!asks) return;
    // Without the token (the data folder restored from an old backup, say) the dialog
    // comes back; refused, nothing is typed and the user is told why.
    std::filesystem::remove(tokenFile);
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(typeAnswering({data_, "never"}, "refuse"), 1 << 8) << report();
    EXPECT_NE(report().find("open: Quorvel was not allowed to control the keyboard"),
              std::string::npos)
        << report();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(typed(), "one\ntwo");
}

TEST_F(KdePortal, OurWindowStepsAsideSoTheKeysReachTheWindowInFrontBefore) {
    startDesktop(PortalDesktopSession::Desktop::Kde);
    if (HasFatalFailure()) return;
    env_["QT_QPA_PLATFORM"] = "wayland";
    EXPECT_EQ(type({"--step-aside", data_, "typed{ENTER}"}), 0) << report();
    const std::string r = report();
    EXPECT_NE(r.find("front: 1\n"), std::string::npos) << r;
    EXPECT_NE(r.find("aside: 1\n"), std::string::npos) << r;
    EXPECT_NE(r.find("back: 1\n"), std::string::npos) << r;
    EXPECT_TRUE(typedIs("typed\n")) << "typed: [" << typed() << "]";
}

}  // namespace quorvel
