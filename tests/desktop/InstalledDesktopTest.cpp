// The program as installed: `cmake --install` into a prefix the desktop user cannot write
// (root's, read-only), the standard layout, and the installed program started by the user
// with a fresh home.  Everything the user does survives a restart, kept in the user's
// data folder, and no message box comes up at any point.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/DesktopProcess.h"
#include "support/DesktopQuorvel.h"
#include "support/DesktopSession.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void closeTip(DesktopSession& session, QuorvelCopy& quorvel) {
    const unsigned long tip = session.waitForWindow(
        [&](const WindowInfo& w) { return w.title.rfind("Tip of the day", 0) == 0; }, 10s);
    ASSERT_NE(tip, 0u) << "no tip of the day";
    ASSERT_TRUE(waitUntil([&] { return session.focusedTopLevel() == tip; }, 5s));
    ASSERT_TRUE(session.key("Return"));
    ASSERT_TRUE(waitUntil([&] { return quorvel.otherWindows().empty(); }, 5s));
}

class InstalledProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = "/tmp/quorvel-prefix-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        prefix = pattern;
        chmod(prefix.c_str(), 0755);
        SpawnOptions install;
        install.argv = {"cmake", "--install", QUORVEL_BINARY_DIR, "--prefix", prefix.string()};
        std::string output;
        ASSERT_EQ(runProcess(install, &output, 120s), 0) << output;
        // As a distribution installs it: nobody but root may change it, and under root
        // not even root (the tests' user is another account then).
        setWritable(false);
    }
    void TearDown() override {
        setWritable(true);
        std::error_code ec;
        fs::remove_all(prefix, ec);
    }
    void setWritable(bool on) {
        std::error_code ec;
        const auto change = [&](const fs::path& p) {
            fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            on ? fs::perm_options::add : fs::perm_options::remove, ec);
            if (on) fs::permissions(p, fs::perms::group_write | fs::perms::others_write,
                                    fs::perm_options::remove, ec);
        };
        change(prefix);
        for (auto it = fs::recursive_directory_iterator(prefix, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (!it->is_symlink()) change(it->path());
    }

    fs::path prefix;
};

TEST_F(InstalledProgram, LaysOutItsFilesTheStandardWay) {
    EXPECT_EQ(namesIn(prefix / "bin"), std::vector<std::string>{"quorvel"});
    EXPECT_TRUE(fs::is_regular_file(prefix / "lib/quorvel/advert.so"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/quorvel/quorvel.html"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/applications/quorvel.desktop"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/icons/hicolor/48x48/apps/quorvel.png"));
    const fs::path metainfo = prefix / "share/metainfo/io.github.quorvel.Quorvel.metainfo.xml";
    ASSERT_TRUE(fs::is_regular_file(metainfo));
    SpawnOptions validate;
    validate.argv = {"appstreamcli", "validate", "--no-net", metainfo.string()};
    std::string output;
    EXPECT_EQ(runProcess(validate, &output), 0) << output;
    validate.argv = {"desktop-file-validate", (prefix / "share/applications/quorvel.desktop").string()};
    EXPECT_EQ(runProcess(validate, &output), 0) << output;
}

TEST_F(InstalledProgram, KeepsWhatTheUserDidInTheirDataFolderAcrossRestarts) {
    DesktopSession session(WindowManager::Openbox);
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string program = (prefix / "bin/quorvel").string();
    const fs::path data = fs::path(session.home()) / ".local/share/quorvel";
    QuorvelCopy first(session, QuorvelCopy::Installed{program});
    ASSERT_TRUE(first.start()) << first.error();

    // A new user: the tip of the day (it shows at every start until the option is
    // cleared on the Options tab; the tip's own box does not clear it).
    closeTip(session, first);
    if (HasFatalFailure()) return;

    // A new Item through the New button.
    const auto newButton = first.button(QuorvelCopy::Button::New);
    ASSERT_TRUE(newButton.has_value());
    session.click(newButton->center());
    const unsigned long box = session.waitForWindow(
        [&](const WindowInfo& w) { return w.title == "Add new entry"; }, 10s);
    ASSERT_NE(box, 0u) << "no name box";
    ASSERT_TRUE(waitUntil([&] { return session.focusedTopLevel() == box; }, 5s));
    ASSERT_TRUE(session.typeText("Weekly car ads\n"));
    ASSERT_TRUE(waitUntil([&] { return first.otherWindows().empty(); }, 5s))
        << first.otherWindows().front().title;

    // The user moves the window; the place is a setting.
    const auto frame = session.frameExtents(first.mainWindow());
    const auto before = session.geometry(first.mainWindow());
    ASSERT_TRUE(before.has_value());
    const Rect moved{300, 200 + frame.top, before->width, before->height};
    ASSERT_TRUE(session.moveResize(first.mainWindow(), moved));
    int status = first.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);

    // Everything is in the data folder, private to the user; nothing beside the program.
    struct stat st {};
    ASSERT_EQ(stat(data.c_str(), &st), 0) << data << " was not made";
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, session.user().uid());
    EXPECT_EQ(namesIn(data), (std::vector<std::string>{"Quorvel.dat", "Quorvel.ini", "quorvel.var"}));
    EXPECT_EQ(namesIn(prefix / "bin"), std::vector<std::string>{"quorvel"});
    const std::string variables = read(data / "quorvel.var");
    EXPECT_NE(variables.find("{email}="), std::string::npos) << variables;
    // The user's own value, as if set on the Variables tab in between.
    ASSERT_TRUE(session.writeUserFile((data / "quorvel.var").string(),
                                      variables + "{shop}=Cars and more\r\n"));

    // Again: no box, the window where it was left, the Item and variables kept.
    QuorvelCopy second(session, QuorvelCopy::Installed{program});
    ASSERT_TRUE(second.start()) << second.error();
    closeTip(session, second);
    if (HasFatalFailure()) return;
    const auto again = session.geometry(second.mainWindow());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->x, moved.x);
    EXPECT_EQ(again->y, moved.y);
    status = second.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
    std::string error;
    const auto items = second.readItems(&error);
    ASSERT_EQ(items.size(), 1u) << error;
    EXPECT_EQ(items[0].name, "Weekly car ads");
    EXPECT_NE(read(data / "quorvel.var").find("{shop}=Cars and more\r\n"), std::string::npos);
}

TEST_F(InstalledProgram, SaysSoAndEndsWhenItCannotMakeTheDataFolder) {
    DesktopSession session(WindowManager::Openbox);
    ASSERT_TRUE(session.ok()) << session.error();
    // A file where the data folder's parent should be.
    const std::string blocked = session.home() + "/blocked";
    ASSERT_TRUE(session.writeUserFile(blocked, "not a folder"));
    auto process = session.start({(prefix / "bin/quorvel").string()},
                                 {{"XDG_DATA_HOME", blocked + "/data"}}, "quorvel");
    ASSERT_TRUE(process);
    const unsigned long box = session.waitForWindow(
        [&](const WindowInfo& w) { return w.title == "Error"; }, 20s);
    ASSERT_NE(box, 0u) << "no error box: " << process->logTail();
    for (const WindowInfo& w : session.windowsOf(process->pid()))
        EXPECT_TRUE(!w.viewable || w.id == box || w.overrideRedirect) << "also shown: " << w.title;
    ASSERT_TRUE(waitUntil([&] { return session.focusedTopLevel() == box; }, 5s));
    ASSERT_TRUE(session.key("Return"));
    const std::optional<int> status = process->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "still running after the box";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << describeWaitStatus(*status);
    EXPECT_FALSE(fs::exists(blocked + "/data"));
}

}  // namespace
}  // namespace quorvel::test
