// Goto, the browser conversation, choosing a browser, the browser check and help, driven
// through the real window against recording stand-ins of the shell and the conversation.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "browser/Form_browser.h"
#include "support/MainFormHarness.h"
#include "support/RecordingConversation.h"
#include "support/RecordingShell.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using Calls = std::vector<std::string>;

const QString kSite = QStringLiteral("http://ads.example/post?a=1,2");

struct BrowserFixture : ::testing::Test {
    MainFormHarness h;
    TMainForm* f = nullptr;
    RecordingShell shell;
    RecordingConversation dde;
    Calls journal;

    void SetUp() override {
        h.shell = &shell;
        h.browser = &dde;
        f = &h.start();
        shell.calls.clear();  // the start-up check
        shell.journal = &journal;
        dde.journal = &journal;
    }
    void oneItem(const QString& site = kSite) {
        addItem(*f, "Site", "01/01/2000 10:00");
        f->SelectOneItem(0);
        f->Url->setText(site);
    }
    // The focus can only be seen in an active window.
    void activate() {
        f->show();
        f->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(f));
        f->Url->setFocus();
    }
};

std::string openUrl(const std::string& item) { return "Request(" + item + ", 10000)"; }

const QString kNoBrowser = QStringLiteral(
    "There is no browser configured to handle web pages.\n"
    "The Goto button will not function properly.\n"
    "Please go to the Options tab and select a browser.");

}  // namespace

TEST_F(BrowserFixture, NamedBrowserIsDrivenStepByStepInBothWindowModes) {
    oneItem();
    f->Browser->setText("/opt/web/browser.exe");
    f->GotoButMouseDown(Qt::RightButton);
    const std::string c = "Connect(browser, ";
    const std::string p = ", /opt/web/browser.exe)";
    EXPECT_EQ(journal, (Calls{c + "WWW_Activate" + p, "Request(0xFFFFFFFF, 10000)", "Disconnect()",
                              c + "WWW_OpenURL" + p,
                              openUrl("http://ads.example/post?a=1,2,,0,0x3,,,"),
                              "Disconnect()"}));
    journal.clear();
    f->GotoButMouseDown(Qt::LeftButton);
    EXPECT_EQ(journal, (Calls{c + "WWW_Activate" + p, "Request(0xFFFFFFFF, 10000)", "Disconnect()",
                              c + "WWW_OpenURL" + p,
                              openUrl("http://ads.example/post?a=1,2,,0xFFFFFFFF,0x3,,,"),
                              "Disconnect()"}));
    // A program name without a dot answers on no service: the program itself is asked.
    journal.clear();
    f->Browser->setText("/usr/bin/firefox");
    f->GotoUrl("http://b.example/", false);
    EXPECT_EQ(journal.at(0), "Connect(, WWW_Activate, /usr/bin/firefox)");
    EXPECT_EQ(journal.at(3), "Connect(, WWW_OpenURL, /usr/bin/firefox)");
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(BrowserFixture, SilentBrowserIsStartedOncePerTopicAndAskedAgain) {
    f->Browser->setText("/opt/web/browser.exe");
    dde.connectAnswers = {false, true, false, false};
    f->GotoUrl("http://a.example/", true);
    const std::string start = "startProgram(/opt/web/browser.exe, minimised)";
    const std::string a = "Connect(browser, WWW_Activate, /opt/web/browser.exe)";
    const std::string o = "Connect(browser, WWW_OpenURL, /opt/web/browser.exe)";
    EXPECT_EQ(journal, (Calls{a, start, a, "Request(0xFFFFFFFF, 10000)", "Disconnect()",
                              o, start, o, "Disconnect()"}));
    // A start that fails is not followed by a second attempt.
    journal.clear();
    dde.connectDefault = false;
    shell.startAnswer = false;
    // A program that cannot be started is named once per Goto, and nothing else changes.
    h.dialogs.expectMessage(MsgKind::Warning,
                            "The browser program /opt/web/browser.exe cannot be started. Please "
                            "check the Browser setting on the Options tab.");
    f->GotoUrl("http://a.example/", false);
    EXPECT_EQ(journal, (Calls{a, start, "Disconnect()", o, start, "Disconnect()"}));
}

TEST_F(BrowserFixture, WithoutABrowserSettingTheShellOpensTheSiteAndBothButtonsAgree) {
    oneItem();
    f->GotoButMouseDown(Qt::RightButton);
    f->GotoButMouseDown(Qt::LeftButton);
    f->GotoButMouseDown(Qt::MiddleButton);
    gotoButClick(*f);
    const std::string open = "open(" + kSite.toStdString() + ")";
    EXPECT_EQ(journal, (Calls{open, open, open}));
}

TEST_F(BrowserFixture, NothingToOpenOnlyFocusesTheList) {
    activate();
    gotoButClick(*f);
    EXPECT_TRUE(f->Entries->hasFocus());
    f->Url->setFocus();
    f->GotoButMouseDown(Qt::LeftButton);
    EXPECT_TRUE(f->Entries->hasFocus());
    oneItem(QString());
    f->Browser->setText("/opt/web/browser.exe");
    f->Url->setFocus();
    f->GotoButMouseDown(Qt::RightButton);
    EXPECT_TRUE(f->Entries->hasFocus());
    f->Url->setFocus();
    gotoButClick(*f);
    EXPECT_TRUE(f->Entries->hasFocus());
    EXPECT_TRUE(journal.empty());
    // ... and so does a site opened.
    f->Url->setText(kSite);
    f->Url->setFocus();
    f->GotoButMouseDown(Qt::LeftButton);
    EXPECT_TRUE(f->Entries->hasFocus());
    EXPECT_FALSE(journal.empty());
}

// The window's own wiring: the press on Goto, its pop-up entry and the double click.
TEST_F(BrowserFixture, ClickShortcutAndDoubleClickEachOpenTheSiteOnce) {
    activate();
    oneItem();
    const Calls once{"open(" + kSite.toStdString() + ")"};
    QTest::mouseClick(f->GotoBut, Qt::LeftButton);
    EXPECT_EQ(journal, once);
    journal.clear();
    f->Entries->setFocus();
    QTest::keyClick(f->Entries, Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(journal, once);
    journal.clear();
    f->EntriesDblClick();
    EXPECT_EQ(journal, once);
}

TEST(BrowserStartUp, TheWindowsStartUpRunsTheBrowserCheck) {
    MainFormHarness h;
    RecordingShell shell;
    shell.handler.clear();
    h.shell = &shell;
    h.dialogs.expectMessage(MsgKind::Information, kNoBrowser);
    h.start();
    EXPECT_TRUE(h.dialogs.done());
    EXPECT_EQ(shell.calls, Calls{"findHandler(" + h.path("~~test.html").toStdString() + ")"});
    EXPECT_FALSE(h.exists("~~test.html"));
}

TEST_F(BrowserFixture, FindOffersExecutablesAndTakesOnlyAProgram) {
    const QString program = h.path("mybrowser");
    h.writeFile("mybrowser", "#!/bin/sh\n");
    h.writeFile("notes.txt", "text");
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    f->Browser->setText("/usr/bin/firefox");
    h.dialogs.expectOpenFile(std::nullopt, "Find your Browser");
    f->FindButtonClick();
    EXPECT_EQ(f->Browser->text(), "/usr/bin/firefox");
    ASSERT_EQ(h.dialogs.fileDialogs.size(), 1u);
    const FileDialogRequest& shown = h.dialogs.fileDialogs[0];
    EXPECT_EQ(shown.filter, "Executables (*)");
    EXPECT_TRUE(shown.executablesOnly);
    EXPECT_TRUE(shown.mustExist);
    h.dialogs.expectOpenFile(h.path("notes.txt"));
    f->FindButtonClick();
    EXPECT_EQ(f->Browser->text(), "/usr/bin/firefox");
    h.dialogs.expectOpenFile(program);
    f->FindButtonClick();
    EXPECT_EQ(f->Browser->text(), program);
    EXPECT_TRUE(h.dialogs.done());
}

TEST_F(BrowserFixture, BrowserCheckAsksAboutAFreshTestFileAndRemovesIt) {
    h.writeFile("~~test.html", "stale contents");
    shell.handler.clear();
    std::optional<qint64> sizeWhenAsked;
    shell.onFindHandler = [&](const QString& path) { sizeWhenAsked = QFileInfo(path).size(); };
    h.dialogs.expectMessage(MsgKind::Information, kNoBrowser);
    f->BrowserCheck();
    EXPECT_TRUE(h.dialogs.done());
    EXPECT_EQ(shell.calls, Calls{"findHandler(" + h.path("~~test.html").toStdString() + ")"});
    EXPECT_EQ(sizeWhenAsked, 0);
    EXPECT_FALSE(h.exists("~~test.html"));
    // With a handler: silence, and still no file left behind.
    shell.handler = "firefox-esr.desktop";
    f->BrowserCheck();
    EXPECT_FALSE(h.exists("~~test.html"));
}

TEST_F(BrowserFixture, HelpOpensThePageBesideTheProgramOrSaysItCannot) {
    activate();
    const std::string page = h.path("quorvel.html").toStdString();
    h.dialogs.expectMessage(MsgKind::Error, "Unable to open the Quorvel help file.");
    f->HelpButClick();  // no page yet
    EXPECT_TRUE(h.dialogs.done());
    EXPECT_TRUE(f->Entries->hasFocus());
    h.writeFile("quorvel.html", "<html></html>");
    f->Url->setFocus();
    f->HelpButClick();
    EXPECT_EQ(shell.calls, Calls{"open(" + page + ")"});
    EXPECT_TRUE(f->Entries->hasFocus());
    shell.openAnswer = false;
    h.dialogs.expectMessage(MsgKind::Error, "Unable to open the Quorvel help file.");
    f->HelpButClick();
    EXPECT_TRUE(h.dialogs.done());
}
