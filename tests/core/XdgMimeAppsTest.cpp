// The default application of a MIME type, from a desktop's settings files laid out in a
// temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/core/XdgMimeApps.h"

using namespace quorvel;
namespace fs = std::filesystem;

namespace {

struct XdgFixture : ::testing::Test {
    fs::path root;
    XdgDirs dirs;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "xdgmime-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        dirs.configHome = (root / "config").string();
        dirs.configDirs = {(root / "etc").string()};
        dirs.dataHome = (root / "data").string();
        dirs.dataDirs = {(root / "sys1").string(), (root / "sys2").string()};
    }
    void TearDown() override { fs::remove_all(root); }

    void write(const std::string& relative, const std::string& text) {
        const fs::path p = root / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    void entry(const std::string& relative, const std::string& extra = {},
               const std::string& exec = "/bin/sh %u") {
        write(relative, "[Desktop Entry]\nType=Application\nName=B\nExec=" + exec + "\n" + extra);
    }
    std::string html() { return defaultApplicationFor(dirs, "text/html"); }
};

}  // namespace

TEST_F(XdgFixture, DefaultsFollowPrecedenceAndNeedAnInstalledEntry) {
    EXPECT_EQ(html(), "");
    entry("sys2/applications/low.desktop");
    entry("sys1/applications/mid.desktop");
    entry("data/applications/high.desktop");
    write("sys1/applications/mimeapps.list", "[Default Applications]\ntext/html=low.desktop\n");
    EXPECT_EQ(html(), "low.desktop");
    write("etc/mimeapps.list", "[Default Applications]\ntext/html=mid.desktop\n");
    EXPECT_EQ(html(), "mid.desktop");
    // The first installed one of a list (an entry whose program is gone is not); the
    // user's file above every other; MIME types without regard to case.
    entry("data/applications/gone.desktop", {}, "\"/no/such/browser\" %u");
    write("config/mimeapps.list",
          "# mine\n[Added Associations]\ntext/html=low.desktop;\n"
          "[Default Applications]\nTEXT/HTML = gone.desktop;high.desktop;\n");
    EXPECT_EQ(html(), "high.desktop");
    EXPECT_EQ(defaultApplicationFor(dirs, "text/plain"), "");
    // The desktop's own list comes before the common one of the same folder.
    dirs.desktops = {"xfce"};
    write("config/xfce-mimeapps.list", "[Default Applications]\ntext/html=mid.desktop\n");
    EXPECT_EQ(html(), "mid.desktop");
    // A program named without a folder is looked for along PATH.
    entry("data/applications/bypath.desktop", "TryExec=sh\n", "sh %u");
    write("config/xfce-mimeapps.list", "[Default Applications]\ntext/html=bypath.desktop\n");
    EXPECT_EQ(html(), "high.desktop");
    dirs.path = {"/usr/bin", "/bin"};
    EXPECT_EQ(html(), "bypath.desktop");
}

TEST_F(XdgFixture, AssociationsAndTheCacheWhenNoDefaultIsSet) {
    entry("sys1/applications/cached.desktop");
    entry("sys1/applications/other.desktop");
    write("sys1/applications/mimeinfo.cache",
          "[MIME Cache]\ntext/plain=other.desktop;\ntext/html=missing.desktop;cached.desktop;\n");
    EXPECT_EQ(html(), "cached.desktop");
    write("config/mimeapps.list", "[Default Applications]\ntext/html=missing.desktop\n"
                                  "[Added Associations]\ntext/html=other.desktop;\n");
    EXPECT_EQ(html(), "other.desktop");
    // Removed by the user: neither its own additions nor the cache offer it.
    write("config/mimeapps.list", "[Removed Associations]\ntext/html=other.desktop;cached.desktop\n"
                                  "[Added Associations]\ntext/html=other.desktop;\n");
    EXPECT_EQ(html(), "");
}

TEST_F(XdgFixture, EntryIdsInSubfoldersHiddenEntriesAndTheLastResortScan) {
    entry("sys1/applications/kde4/web.desktop");
    write("config/mimeapps.list", "[Default Applications]\ntext/html=kde4-web.desktop\n");
    EXPECT_EQ(html(), "kde4-web.desktop");
    // A hidden copy in the user's folder hides the system entry.
    entry("data/applications/kde4-web.desktop", "Hidden=true\n");
    EXPECT_EQ(html(), "");
    // With nothing associated, the entries that list the type, highest preference first.
    entry("sys1/applications/plain.desktop", "MimeType=text/plain;text/html;\n");
    entry("sys2/applications/preferred.desktop", "MimeType=text/html;\nInitialPreference=5\n");
    entry("sys2/applications/other.desktop", "MimeType=image/png;\nInitialPreference=9\n");
    EXPECT_EQ(html(), "preferred.desktop");
}

TEST_F(XdgFixture, WithoutAnEntryPagesGoWhereXdgOpenFallsBack) {
    auto program = [&](const std::string& name) {
        write("bin/" + name, "#!/bin/sh\n");
        fs::permissions(root / "bin" / name, fs::perms::owner_all);
    };
    const std::vector<std::string> path = {(root / "nothing").string(), (root / "bin").string()};
    EXPECT_EQ(fallbackBrowser("", true, path), "");
    program("lynx");
    program("chromium");
    // With a display the graphical browsers come first; without one, the text ones only.
    EXPECT_EQ(fallbackBrowser("", true, path), "chromium");
    EXPECT_EQ(fallbackBrowser("", false, path), "lynx");
    program("x-www-browser");
    EXPECT_EQ(fallbackBrowser("", true, path), "x-www-browser");
    // $BROWSER replaces the list: its programs in order, arguments allowed, never xdg-open
    // itself, and a full path as it stands.
    EXPECT_EQ(fallbackBrowser("nosuch:xdg-open:lynx -dump %s", true, path), "lynx");
    EXPECT_EQ(fallbackBrowser("nosuch", true, path), "");
    const std::string full = (root / "bin" / "chromium").string();
    EXPECT_EQ(fallbackBrowser(full + " --new-window %s", false, {}), full);
}

TEST(XdgDirsTest, EnvironmentWithItsDefaults) {
    std::map<std::string, std::string> env{{"HOME", "/home/u"},
                                           {"XDG_DATA_DIRS", "relative:/opt/share/::/usr/share"},
                                           {"XDG_CONFIG_HOME", "/cfg/"},
                                           {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"},
                                           {"PATH", "/usr/bin:/bin"}};
    const XdgDirs d = XdgDirs::fromEnvironment([&](const char* n) { return env[n]; });
    EXPECT_EQ(d.configHome, "/cfg");
    EXPECT_EQ(d.configDirs, std::vector<std::string>{"/etc/xdg"});
    EXPECT_EQ(d.dataHome, "/home/u/.local/share");
    EXPECT_EQ(d.dataDirs, (std::vector<std::string>{"/opt/share", "/usr/share"}));
    EXPECT_EQ(d.desktops, (std::vector<std::string>{"ubuntu", "gnome"}));
    EXPECT_EQ(d.path, (std::vector<std::string>{"/usr/bin", "/bin"}));
    env["XDG_DATA_DIRS"] = "";
    EXPECT_EQ(XdgDirs::fromEnvironment([&](const char* n) { return env[n]; }).dataDirs,
              (std::vector<std::string>{"/usr/local/share", "/usr/share"}));
}
