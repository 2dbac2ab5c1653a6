// Typing through the remote-desktop portal, against a recording stand-in of the portal on a
// private session bus: the order of the portal calls, the consent kept between starts,
// and characters the compositor's keymap lacks left out and named.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QWidget>
#include <QFile>
#include <QTemporaryDir>

#include "platform/portal/PortalActiveWindow.h"
#include "platform/portal/PortalKeyboard.h"
#include "platform/portal/XkbKeymap.h"
#include "support/MainFormHarness.h"
#include "support/PortalStandIn.h"
#include "support/RecordingKeyboard.h"
#include "typing/core/KeyfillEngine.h"

using namespace quorvel;
using namespace quorvel::portal;
using namespace quorvel::test;

namespace {

using Lines = std::vector<std::string>;

QString fileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<none>");
}

PortalKeyboard::KeymapSource layout(const char* name) {
    return [name] { return layoutKeymap(name); };
}

}  // namespace

TEST(PortalKeymap, LevelsOfTheCompositorsKeymapDecideWhatCanBeTyped) {
    const auto us = XkbKeymap::fromText(layoutKeymap("us"));
    ASSERT_TRUE(us);
    EXPECT_EQ(us->find(U'a')->shiftState, 0);
    EXPECT_EQ(us->find(U'A')->shiftState, SHIFT_BIT);
    EXPECT_EQ(us->find(U'A')->keysym, 0x41u);
    EXPECT_EQ(us->find(U'!')->shiftState, SHIFT_BIT);
    // The digit row, not the keypad, which would need Num Lock.
    EXPECT_EQ(us->find(U'7')->shiftState, 0);
    EXPECT_FALSE(us->find(U'é'));
    EXPECT_FALSE(us->find(U'中'));
    const auto de = XkbKeymap::fromText(layoutKeymap("de"));
    ASSERT_TRUE(de);
    EXPECT_EQ(de->find(U'ß')->shiftState, 0);
    EXPECT_EQ(de->find(U'€')->shiftState, ALTGR_BIT);
    EXPECT_EQ(de->find(U'€')->keysym, 0x20acu);  // EuroSign
    EXPECT_EQ(de->find(U'@')->shiftState, ALTGR_BIT);
    // Two layouts: the compositor uses whichever is active, which we cannot see, and KDE's
    // portal picks the key in the first layout.
    for (const char* layouts : {"us,de", "de,us"}) {
        SCOPED_TRACE(layouts);
        const auto both = XkbKeymap::fromText(layoutKeymap(layouts));
        ASSERT_TRUE(both);
        EXPECT_EQ(both->find(U'A')->shiftState, SHIFT_BIT);  // the same key and level
        // Keys given once for every layout.
        EXPECT_EQ(both->find(U' ')->shiftState, 0);
        EXPECT_EQ(both->find(U'1')->shiftState, 0);
        EXPECT_FALSE(both->find(U'Z'));  // the same level, but another key: Y under the other
        EXPECT_FALSE(both->find(U'y'));
        EXPECT_FALSE(both->find(U'@'));  // Shift on one, AltGr on the other
        EXPECT_FALSE(both->find(U'ß'));  // on one only
    }
    EXPECT_FALSE(XkbKeymap::fromText("xkb_keymap { garbage"));
    EXPECT_FALSE(XkbKeymap::fromText(""));
}

TEST(PortalKeyboard, AsksOnceTypesInScriptOrderAndKeepsTheConsentForTheNextStart) {
    PortalStandIn portal;
    ASSERT_TRUE(portal.problem().isEmpty()) << portal.problem().toStdString();
    QTemporaryDir data;
    const QString token = QDir(data.path()).filePath(PortalKeyboard::tokenFileName());
    {
        PortalKeyboard keyboard(portal.bus(), data.path(), layout("de"));
        ASSERT_TRUE(keyboard.available());
        EXPECT_EQ(keyboard.open(), "");
        // A Shift press and release wakes the compositor's keyboard, typing nothing.
        const Lines opening{"CreateSession session_handle_token=given",
                            "SelectDevices types=1 persist_mode=2", "Start parent_window=''",
                            "press Shift_L", "release Shift_L"};
        EXPECT_EQ(portal.calls(), opening);
        EXPECT_EQ(fileText(token).toStdString(), "tok-1\n");
        EXPECT_EQ(keyboard.open(), "");  // the session stays open: no second dialog
        EXPECT_EQ(portal.calls(), opening);

        KeyfillEngine engine(keyboard, {});
        ASSERT_TRUE(engine.run("aB{TAB}€中x中{ENTER}"));
        const Lines keys = portal.keyEvents();
        EXPECT_EQ(Lines(keys.begin() + 2, keys.end()),
                  Lines({"press a", "release a", "press Shift_L", "press B", "release B",
                         "release Shift_L", "press Tab", "release Tab", "press ISO_Level3_Shift",
                         "press 0x20ac", "release 0x20ac", "release ISO_Level3_Shift", "press x",
                         "release x", "press Return", "release Return"}));
        EXPECT_EQ(engine.leftOut(), U"中");
    }
    // The program's end closes the session; the next start hands the kept token back and
    // keeps the new one.
    PortalKeyboard again(portal.bus(), data.path(), layout("us"));
    EXPECT_EQ(again.open(), "");
    const Lines calls = portal.calls();
    ASSERT_GE(calls.size(), 12u);
    EXPECT_EQ(Lines(calls.end() - 6, calls.end()),
              Lines({"Session.Close", "CreateSession session_handle_token=given",
                     "SelectDevices types=1 persist_mode=2 restore_token=tok-1",
                     "Start parent_window=''", "press Shift_L", "release Shift_L"}));
    EXPECT_EQ(fileText(token).toStdString(), "tok-2\n");
}

TEST(PortalKeyboard, AFirstVersionPortalIsAskedWithoutPersistenceAndNothingIsKept) {
    PortalStandIn portal({QStringLiteral("--version"), QStringLiteral("1")});
    ASSERT_TRUE(portal.problem().isEmpty()) << portal.problem().toStdString();
    QTemporaryDir data;
    PortalKeyboard keyboard(portal.bus(), data.path(), layout("us"));
    EXPECT_EQ(keyboard.open(), "");
    EXPECT_EQ(portal.calls(), Lines({"CreateSession session_handle_token=given",
                                     "SelectDevices types=1", "Start parent_window=''",
                                     "press Shift_L", "release Shift_L"}));
    EXPECT_FALSE(QFile::exists(QDir(data.path()).filePath(PortalKeyboard::tokenFileName())));
}

TEST(PortalKeyboard, WithoutTheCompositorsKeymapNothingIsTypedAtAll) {
    PortalStandIn portal;
    ASSERT_TRUE(portal.problem().isEmpty()) << portal.problem().toStdString();
    QTemporaryDir data;
    PortalKeyboard keyboard(portal.bus(), data.path(), [] { return std::string(); });
    ASSERT_EQ(keyboard.open(), "");
    KeyfillEngine engine(keyboard, {});
    engine.run("ab{TAB}");
    // The code keys need no keymap entry of ours; the characters do.
    EXPECT_EQ(portal.keyEvents(),
              Lines({"press Shift_L", "release Shift_L", "press Tab", "release Tab"}));
    EXPECT_EQ(engine.leftOut(), U"ab");
}

TEST(PortalKeyboard, AKeyboardThatAppearsOnlyAfterTheFirstKeyIsWaitedFor) {
    // A headless GNOME 48 seat has no keyboard until the portal's virtual one is made by
    // the session's first key: the keymap must be read once it is there.
    PortalStandIn portal;
    ASSERT_TRUE(portal.problem().isEmpty()) << portal.problem().toStdString();
    QTemporaryDir data;
    int reads = 0;
    const auto us = layout("us");
    PortalKeyboard keyboard(portal.bus(), data.path(),
                            [&] { return ++reads < 4 ? std::string() : us(); });
    ASSERT_EQ(keyboard.open(), "");
    KeyfillEngine engine(keyboard, {});
    engine.run("ab");
    EXPECT_EQ(portal.keyEvents(), Lines({"press Shift_L", "release Shift_L", "press a",
                                         "release a", "press b", "release b"}));
    EXPECT_EQ(engine.leftOut(), U"");
}

TEST(PortalKeyboard, APortalWithoutKeyboardIsNotAvailable) {
    PortalStandIn portal({QStringLiteral("--devices"), QStringLiteral("2")});
    ASSERT_TRUE(portal.problem().isEmpty()) << portal.problem().toStdString();
    QTemporaryDir data;
    PortalKeyboard keyboard(portal.bus(), data.path(), layout("us"));
    EXPECT_FALSE(keyboard.available());
    QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                          QStringLiteral("portal-test-none"));
    EXPECT_FALSE(PortalKeyboard(none, data.path(), layout("us")).available());
    QDBusConnection::disconnectFromBus(QStringLiteral("portal-test-none"));
}

TEST(PortalKeyboard, APortalStillStartingWhenWeDidIsAskedAgainAtType) {
    // Busy for longer than we wait for its answer at our start (a loaded login, say): the
    // keyboard must not be written off for the program's life.
    PortalStandIn portal({QStringLiteral("--busy"), QStringLiteral("7000")});
    ASSERT_TRUE(portal.problem().isEmpty()) << portal.problem().toStdString();
    QTemporaryDir data;
    PortalKeyboard keyboard(portal.bus(), data.path(), layout("us"));
    EXPECT_TRUE(keyboard.available());
    EXPECT_EQ(keyboard.open(), "");
    KeyfillEngine engine(keyboard, {});
    ASSERT_TRUE(engine.run("a"));
    const Lines keys = portal.keyEvents();
    EXPECT_EQ(Lines(keys.begin() + 2, keys.end()), Lines({"press a", "release a"}));
}

namespace {

struct PortalTypeFixture : ::testing::Test {
    MainFormHarness h;
    FakeActiveWindow active;
    TMainForm* f = nullptr;
    void start(Keyboard& keyboard, const std::string& script) {
        h.keyboard = &keyboard;
        h.activeWindow = &active;
        f = &h.start();
        addItem(*f, "Shop", "10/03/2001 10:00");
        f->SelectOneItem(0);
        f->Items.at(0).Keys = script;
        active.current = 99;
        f->FindTargetTimer();
    }
};

}  // namespace

TEST_F(PortalTypeFixture, ConsentRefusedSaysSoAndTypesNothing) {
    PortalStandIn portal({QStringLiteral("--refuse")});
    ASSERT_TRUE(portal.problem().isEmpty()) << portal.problem().toStdString();
    PortalKeyboard keyboard(portal.bus(), h.dir.path(), layout("us"));
    start(keyboard, "abc");
    h.dialogs.expectMessage(
        MsgKind::Warning,
        "Quorvel was not allowed to control the keyboard, so it cannot type into other windows. "
        "Nothing was typed. Click Type again to be asked once more.");
    f->KeyfillClick();
    EXPECT_TRUE(h.dialogs.done());
    EXPECT_TRUE(active.activated.empty());  // our window was not stepped aside
    EXPECT_TRUE(portal.keyEvents().empty());
    EXPECT_EQ(portal.calls().back(), "Session.Close");
    EXPECT_FALSE(QFile::exists(h.path(PortalKeyboard::tokenFileName())));
}

TEST_F(PortalTypeFixture, CharactersTheLayoutLacksAreNamedOnceAfterTheRun) {
    RecordingKeyboard keyboard;
    start(keyboard, "Grüße, 中 ü!");
    h.dialogs.expectMessage(MsgKind::Information,
                            "The keyboard layout of this desktop cannot type these characters, "
                            "so they were left out:\nü ß 中");
    f->KeyfillClick();
    EXPECT_TRUE(h.dialogs.done());
    EXPECT_EQ(keyboard.joined(),
              "down Shift, down G, up G, up Shift, down R, up R, down E, up E, down ,, up ,, "
              "down Space, up Space, down Space, up Space, down Shift, down 1, up 1, up Shift");
    // A run that types everything says nothing (an unexpected box fails the test).
    f->Items.at(0).Keys = "ok";
    f->KeyfillClick();
}

TEST(PortalActiveWindow, StepsOurWindowsAsideForABoundedTimeAndBringsThemBack) {
    QWidget window;
    window.show();
    window.activateWindow();
    PortalActiveWindow active;
    EXPECT_NE(active.foreground(), static_cast<WindowId>(window.winId()));
    // Only the window in front before ours can be brought forward.
    EXPECT_FALSE(active.activate(4711, {}, std::chrono::milliseconds(50)));
    EXPECT_FALSE(window.isMinimized());

    QElapsedTimer took;
    took.start();
    active.activate(PortalActiveWindow::kWindowBefore, {static_cast<WindowId>(window.winId())},
                    std::chrono::milliseconds(300));
    EXPECT_LT(took.elapsed(), 3000);
    EXPECT_TRUE(window.isMinimized());
    active.runEnded();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
}
