// The Type button and the script editor, with a recording keyboard and a fake foreground.
#include <gtest/gtest.h>

#include <QDialog>
#include <QKeyEvent>
#include <QSpinBox>
#include <QTest>
#include <algorithm>

#include "support/MainFormHarness.h"
#include "support/RecordingKeyboard.h"
#include "typing/KeyfillForm.h"
#include "typing/core/KeyfillEngine.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct TypeFixture : ::testing::Test {
    MainFormHarness h;
    RecordingKeyboard keyboard;
    FakeActiveWindow active;
    TMainForm* f = nullptr;
    void SetUp() override {
        h.keyboard = &keyboard;
        h.activeWindow = &active;
        f = &h.start();
        addItem(*f, "Shop", "10/03/2001 10:00");
        f->SelectOneItem(0);
    }
};

const char* const kStoppedInFirefox =
    "Typing stopped because the keys were reaching Quorvel instead of Form page - Firefox.\n"
    "Click where the text belongs in Form page - Firefox, then click Type again.";

}  // namespace

TEST_F(TypeFixture, TargetIsNeverTheMainWindowAndNothingIsTypedBeforeOneWasInFront) {
    f->Items.at(0).Keys = "a";
    active.current = static_cast<WindowId>(f->effectiveWinId());
    f->FindTargetTimer();
    EXPECT_EQ(f->TargetWindow, 0u);
    f->KeyfillClick();
    EXPECT_TRUE(keyboard.log.empty());
    active.current = 4711;
    f->FindTargetTimer();
    active.current = static_cast<WindowId>(f->effectiveWinId());
    f->FindTargetTimer();
    EXPECT_EQ(f->TargetWindow, 4711u);
    f->KeyfillClick();
    EXPECT_EQ(active.activated, std::vector<WindowId>{4711});
    EXPECT_FALSE(keyboard.log.empty());
}

TEST_F(TypeFixture, AnEmptyScriptOpensTheEditorAndDoneStoresTheText) {
    int opened = 0;
    h.dialogs.onModal = [&](QDialog& d) {
        ++opened;
        EXPECT_EQ(d.windowTitle().toStdString(), "Keyfill for \"Shop\"");
        f->KeyfillForm->setScriptText("typed{tab}");
        return int(QDialog::Accepted);
    };
    f->KeyfillClick();  // no script yet: the editor instead of typing
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(f->Items.at(0).Keys, "typed{tab}");
    EXPECT_TRUE(keyboard.log.empty());
    h.dialogs.onModal = [&](QDialog&) {
        f->KeyfillForm->setScriptText("discarded");
        return int(QDialog::Rejected);  // the close box
    };
    f->KeyfillMouseDown(Qt::RightButton);
    EXPECT_EQ(f->Items.at(0).Keys, "typed{tab}");
    f->KeyfillMouseDown(Qt::LeftButton);  // a left press only clicks
}

TEST_F(TypeFixture, VariablesFromTheTableAndSlowDownWaitAfterKeystrokes) {
    f->Items.at(0).Keys = "{EMAIL}";
    for (auto& line : f->VarTable)
        if (line.rfind("{email}=", 0) == 0) line = "{email}=x{TAB}";
    active.current = 99;
    f->FindTargetTimer();
    f->SlowDownType->setChecked(true);
    f->KeyfillClick();
    // The value typed literally: six characters, no Tab key.
    std::string typed;
    for (const auto& e : keyboard.log) typed += e + ";";
    EXPECT_EQ(typed.find("down Tab"), std::string::npos) << typed;
    EXPECT_NE(typed.find("down X"), std::string::npos) << typed;
    EXPECT_FALSE(f->TypeDelay->isActive());
}

TEST(TypeWithoutDisplay, TheTypeButtonExplainsOnce) {
    MainFormHarness h;
    RecordingKeyboard keyboard;
    keyboard.isAvailable = false;
    FakeActiveWindow active;
    h.keyboard = &keyboard;
    h.activeWindow = &active;
    // The typing layers name what this desktop lacks; the user hears it once.
    h.typingMissing = QStringLiteral("Typing needs a display: none was found.");
    TMainForm& f = h.start();
    addItem(f, "Shop", "10/03/2001 10:00");
    f.Items.at(0).Keys = "abc";
    f.SelectOneItem(0);
    h.dialogs.expectMessage(MsgKind::Information, "Typing needs a display: none was found.");
    f.KeyfillClick();
    f.KeyfillClick();
    EXPECT_TRUE(keyboard.log.empty());
}

TEST_F(TypeFixture, NothingIsTypedUnlessTheTargetTakesTheKeyboardFromUs) {
    f->winId();  // shown windows have one; this one is never shown
    f->Items.at(0).Keys = "abc";
    active.current = 4711;
    active.titles[4711] = "Form page - Chromium";
    f->FindTargetTimer();
    active.refuseActivation = true;
    active.focus = static_cast<WindowId>(f->effectiveWinId());
    h.dialogs.expectMessage(MsgKind::Warning, "Quorvel could not bring Form page - Chromium to "
                                              "the front; nothing was typed.");
    f->KeyfillClick();
    EXPECT_TRUE(keyboard.log.empty());
    // Our own windows are the ones the focus must leave.
    const WindowId main = static_cast<WindowId>(f->effectiveWinId());
    EXPECT_NE(std::find(active.lastOwn.begin(), active.lastOwn.end(), main), active.lastOwn.end());

    // The target recorded is one of ours (the script editor was in front): refused too.
    active.refuseActivation = false;
    f->KeyfillForm->show();
    const WindowId editor = static_cast<WindowId>(f->KeyfillForm->effectiveWinId());
    active.current = editor;
    f->FindTargetTimer();
    f->KeyfillForm->hide();
    ASSERT_EQ(f->TargetWindow, editor);
    h.dialogs.expectMessage(MsgKind::Warning, "Quorvel could not bring Keyfill for \"Shop\" to "
                                              "the front; nothing was typed.");
    active.titles[editor] = "Keyfill for \"Shop\"";
    f->KeyfillClick();
    EXPECT_TRUE(keyboard.log.empty());
}

TEST_F(TypeFixture, AClickIntoOurWindowDuringARunStopsItAndTheItemStaysAsItWas) {
    f->winId();
    f->Items.at(0).Keys = "12345678{tab}90";
    f->Freq->setValue(5);
    active.current = 4711;
    active.titles[4711] = "Form page - Firefox";
    f->FindTargetTimer();
    // The focus comes back to us after three characters, as the user's click would do it.
    active.onFocusCheck = [&](int check) {
        if (check == 4) active.focus = static_cast<WindowId>(f->effectiveWinId());
    };
    h.dialogs.expectMessage(MsgKind::Warning, kStoppedInFirefox);
    f->KeyfillClick();
    EXPECT_EQ(keyboard.joined(), "down 1, up 1, down 2, up 2, down 3, up 3");
    EXPECT_EQ(f->Items.at(0).RepeatDays, 5);
    EXPECT_EQ(f->Items.at(0).Keys, "12345678{tab}90");
    EXPECT_FALSE(f->Typist->running());
}

TEST_F(TypeFixture, KeysOfARunThatReachOurWindowAreSwallowedAndEndTheRun) {
    // However the focus checks went, the desktop delivers the fourth key to us: no widget
    // sees it, nothing further is typed, and the user hears why once.
    f->show();
    f->Items.at(0).Keys = "123{tab}456{enter}";
    f->Freq->setValue(5);
    f->Freq->setFocus();
    active.current = 4711;
    active.titles[4711] = "Form page - Firefox";
    f->FindTargetTimer();
    int sent = 0;
    keyboard.onKey = [&](int, bool down) {
        if (!down || ++sent < 4) return;
        for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease})
            QCoreApplication::postEvent(f->Freq, new QKeyEvent(type, Qt::Key_9, Qt::NoModifier,
                                                              QStringLiteral("9")));
        QCoreApplication::postEvent(f->Entries, new QKeyEvent(QEvent::KeyPress, Qt::Key_Delete,
                                                              Qt::NoModifier));
    };
    h.dialogs.expectMessage(MsgKind::Warning, kStoppedInFirefox);
    f->KeyfillClick();
    EXPECT_EQ(keyboard.joined(), "down 1, up 1, down 2, up 2, down 3, up 3, down Tab, up Tab");
    EXPECT_EQ(f->Freq->value(), 5);
    EXPECT_EQ(f->Items.size(), 1u);
    EXPECT_EQ(f->Items.at(0).RepeatDays, 5);
    // The next run starts afresh; a key of its very last that reaches us only after the
    // run's end is swallowed and said all the same.
    keyboard.log.clear();
    sent = -1000;
    keyboard.onKey = [&](int key, bool down) {
        if (!down && key == VK_RETURN)
            QCoreApplication::postEvent(f->Freq, new QKeyEvent(QEvent::KeyPress, Qt::Key_Up,
                                                              Qt::NoModifier));
    };
    h.dialogs.expectMessage(MsgKind::Warning, kStoppedInFirefox);
    f->KeyfillClick();
    EXPECT_EQ(keyboard.log.size(), 16u);
    EXPECT_EQ(f->Freq->value(), 5);
    // Keys after the run reach the window again.
    QTest::keyClick(f->Freq, Qt::Key_7);
    EXPECT_NE(f->Freq->value(), 5);
}
