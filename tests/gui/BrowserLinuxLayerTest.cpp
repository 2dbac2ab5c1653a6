// The Linux layers under Goto and the browser check: a fake browser program that records
// its arguments and stays running, and a desktop's MIME settings in temporary folders.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/MainFormHarness.h"
#include "support/RecordingShell.h"
#include "platform/linux/DesktopShell.h"
#include "platform/linux/ProcessBrowserConversation.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

const QString kSite = QStringLiteral("http://ads.example/post?a=1,2");

// Browser programs in a temporary folder: each run writes "<name>|<arguments>" to
// "calls" and its process ids to "pids", then waits, as a browser would stay open.
class FakeBrowsers {
public:
    FakeBrowsers() { EXPECT_TRUE(dir.isValid()); }
    ~FakeBrowsers() {
        QFile pids(dir.filePath("pids"));
        if (!pids.open(QIODevice::ReadOnly)) return;
        for (const QByteArray& line : pids.readAll().split('\n'))
            if (line.toInt() > 0) ::kill(line.toInt(), SIGTERM);
    }
    QString script(const QString& name) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n"
                "dir=$(dirname \"$0\")\n"
                "echo $$ >> \"$dir/pids\"\n"
                "printf '%s|%s\\n' \"$(basename \"$0\")\" \"$*\" >> \"$dir/calls\"\n"
                "sleep 60 &\n"
                "echo $! >> \"$dir/pids\"\n"
                "wait\n");
        f.close();
        f.setPermissions(f.permissions() | QFile::ExeOwner);
        return path;
    }
    QString link(const QString& name, const QString& target) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QFile::link(target, path));
        return path;
    }
    QStringList calls() const {
        QFile f(dir.filePath("calls"));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    // The calls once there are `count`, or what there is after five seconds.
    QStringList waitForCalls(int count) const {
        (void)QTest::qWaitFor([&] { return calls().size() >= count; }, 5000);
        return calls();
    }
    void startOnce(const QString& program) {
        const int before = static_cast<int>(calls().size());
        ASSERT_TRUE(QProcess::startDetached(program, {}));
        ASSERT_EQ(waitForCalls(before + 1).size(), before + 1);
    }

    QTemporaryDir dir;
};

struct LayerFixture : ::testing::Test {
    FakeBrowsers browsers;
    MainFormHarness h;
    TMainForm* f = nullptr;
    RecordingShell shell;
    ProcessBrowserConversation conversation{0};

    void SetUp() override {
        h.shell = &shell;
        h.browser = &conversation;
        f = &h.start();
        shell.calls.clear();
        addItem(*f, "Site", "01/01/2000 10:00");
        f->SelectOneItem(0);
        f->Url->setText(kSite);
    }
};

}  // namespace

TEST_F(LayerFixture, RunningScriptIsFoundAndHandedTheAddress) {
    const QString program = browsers.script("fakebrowser");
    ProcessBrowserConversation c;
    EXPECT_FALSE(c.Connect("", "WWW_Activate", program));
    EXPECT_FALSE(c.Request("0xFFFFFFFF", 10000));
    browsers.startOnce(program);
    ASSERT_TRUE(c.Connect("", "WWW_Activate", program));
    EXPECT_TRUE(c.Request("0xFFFFFFFF", 10000));
    // Through the window; a program of no known family gets the address alone.
    f->Browser->setText(program);
    f->GotoButMouseDown(Qt::RightButton);
    EXPECT_EQ(browsers.waitForCalls(2).value(1), "fakebrowser|" + kSite);
    EXPECT_TRUE(shell.calls.empty());  // it was running: nothing started besides
    // A text that would pass as an option never reaches the program.
    ASSERT_TRUE(c.Connect("", "WWW_OpenURL", program));
    EXPECT_FALSE(c.Request("--remote-debugging-port=1,,0,0x3,,,", 10000));
    EXPECT_FALSE(c.Request(kSite, 10000));  // not a request item
    // A browser that has only just started, and shows no service to watch, is given its
    // moment before the address; the request itself returns at once.
    ProcessBrowserConversation settling(1500);
    const QString second = browsers.script("slowbrowser");
    browsers.startOnce(second);
    ASSERT_TRUE(settling.Connect("", "WWW_OpenURL", second));
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(settling.Request(kSite + ",,0xFFFFFFFF,0x3,,,", 10000));
    EXPECT_LT(clock.elapsed(), 200);
    QTest::qWait(700);
    EXPECT_EQ(browsers.calls().size(), 3) << "handed over before the browser's moment";
    settling.waitForHandOvers();
    EXPECT_EQ(browsers.waitForCalls(4).value(3), "slowbrowser|" + kSite);
    EXPECT_GE(clock.elapsed(), 1000);
}

TEST_F(LayerFixture, FirefoxThroughASymlinkAndChromiumGetTheirNewWindowOptions) {
    const QString real = browsers.script("fakebrowser");
    // As on Debian: /usr/bin/firefox links to the program that runs.
    const QString firefox = browsers.link("firefox", real);
    const QString chromium = browsers.script("chromium");
    browsers.startOnce(real);
    browsers.startOnce(chromium);
    f->Browser->setText(firefox);
    f->GotoButMouseDown(Qt::RightButton);
    EXPECT_EQ(browsers.waitForCalls(3).value(2), "firefox|-new-window " + kSite);
    f->GotoButMouseDown(Qt::LeftButton);
    EXPECT_EQ(browsers.waitForCalls(4).value(3), "firefox|" + kSite);
    f->Browser->setText(chromium);
    f->GotoButMouseDown(Qt::RightButton);
    EXPECT_EQ(browsers.waitForCalls(5).value(4), "chromium|--new-window " + kSite);
    f->GotoButMouseDown(Qt::LeftButton);
    EXPECT_EQ(browsers.waitForCalls(6).value(5), "chromium|" + kSite);
    EXPECT_TRUE(shell.calls.empty());
}

namespace {

// A desktop's settings folders of its own, restored afterwards.
struct DesktopMimeFixture : ::testing::Test {
    QTemporaryDir root;
    MainFormHarness h;
    DesktopShell desktop;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved;

    void SetUp() override {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
                                 "XDG_DATA_DIRS", "XDG_CURRENT_DESKTOP", "BROWSER"}) {
            saved.emplace_back(name, qEnvironmentVariableIsSet(name)
                                         ? std::optional<QByteArray>(qgetenv(name))
                                         : std::nullopt);
        }
        qputenv("XDG_CONFIG_HOME", root.filePath("config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", root.filePath("etc").toUtf8());
        qputenv("XDG_DATA_HOME", root.filePath("data").toUtf8());
        qputenv("XDG_DATA_DIRS", root.filePath("share").toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
        // Nor a browser xdg-open would fall back to, whatever this machine has installed.
        qputenv("BROWSER", "no-such-browser-here");
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value) qputenv(name, *value);
            else qunsetenv(name);
        }
    }
    void write(const QString& relative, const QByteArray& text) {
        const QString path = root.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    // What xdg-mime answers under the same settings, for comparison.
    std::optional<QString> xdgMime() {
        const QString tool = QStandardPaths::findExecutable("xdg-mime");
        if (tool.isEmpty()) return std::nullopt;
        QProcessEnvironment env;
        env.insert("PATH", qEnvironmentVariable("PATH"));
        env.insert("HOME", root.path());
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
                                 "XDG_DATA_DIRS"})
            env.insert(name, qEnvironmentVariable(name));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(tool, {"query", "default", "text/html"});
        if (!p.waitForFinished(10000)) return std::nullopt;
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
};

const char* kNoBrowser =
    "There is no browser configured to handle web pages.\n"
    "The Goto button will not function properly.\n"
    "Please go to the Options tab and select a browser.";

}  // namespace

TEST_F(DesktopMimeFixture, BrowserCheckFollowsTheDesktopsMimeSettings) {
    TMainForm& f = h.start();
    f.seams.shell = &desktop;  // after the start-up check, which would find no browser here
    h.writeFile("~~test.html", "stale");
    h.dialogs.expectMessage(MsgKind::Information, kNoBrowser);
    f.BrowserCheck();
    EXPECT_TRUE(h.dialogs.done());
    EXPECT_FALSE(h.exists("~~test.html"));
    EXPECT_EQ(desktop.findHandler(h.path("page.html")), "");
    if (const auto answer = xdgMime()) {
        EXPECT_EQ(*answer, "");
    }

    write("data/applications/testweb.desktop",
          "[Desktop Entry]\nType=Application\nName=Web\nExec=sh %u\nMimeType=text/html;\n");
    write("config/mimeapps.list", "[Default Applications]\ntext/html=testweb.desktop\n");
    f.BrowserCheck();  // silent now
    EXPECT_FALSE(h.exists("~~test.html"));
    EXPECT_EQ(desktop.findHandler(h.path("page.html")), "testweb.desktop");
    EXPECT_EQ(desktop.findHandler(h.path("notes.unknownextension")), "");
    if (const auto answer = xdgMime()) {
        EXPECT_EQ(*answer, "testweb.desktop");
    }
}

TEST(DesktopShellTest, ProgramSettingsSplitLikeASimpleCommandLine) {
    QTemporaryDir dir;
    const QString spaced = dir.filePath("My Browser");
    QFile file(spaced);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(programCommand(spaced), QStringList{spaced});
    EXPECT_EQ(programCommand("/usr/bin/web --profile \"a b\""),
              (QStringList{"/usr/bin/web", "--profile", "a b"}));
    EXPECT_TRUE(programCommand("  ").isEmpty());
    DesktopShell shell;
    EXPECT_FALSE(shell.startProgram("", true));
    EXPECT_FALSE(shell.startProgram(dir.filePath("missing"), true));
    EXPECT_FALSE(shell.open("--help"));
}

TEST_F(DesktopMimeFixture, NoWarningWhileXdgOpenWouldStillFindABrowser) {
    TMainForm& f = h.start();
    f.seams.shell = &desktop;
    qputenv("BROWSER", "no-such-browser-here:/bin/true %s");
    EXPECT_EQ(desktop.findHandler(h.path("page.html")), "/bin/true");
    f.BrowserCheck();  // no box: the scripted dialogs fail the test on one
    EXPECT_TRUE(h.dialogs.done());
}
