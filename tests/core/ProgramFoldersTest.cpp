// Which data folder a copy of the program uses, from where it lies and what its user may
// write; and the per-user folder made private.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/core/ProgramFolders.h"

using namespace quorvel;
namespace fs = std::filesystem;

namespace {

struct Machine {
    std::set<std::string> writable;
    std::set<std::string> folders;
    std::string xdgDataHome;

    FolderFacts facts() const {
        FolderFacts f;
        f.writable = [this](const std::string& p) { return writable.count(p) > 0; };
        f.isDirectory = [this](const std::string& p) { return folders.count(p) > 0; };
        f.xdgDataHome = xdgDataHome;
        f.home = "/home/ann";
        return f;
    }
};

TEST(ProgramFolders, WritableCopyKeepsEverythingBesideItself) {
    Machine m;
    m.writable = {"/home/ann/quorvel/build", "/media/stick/quorvel"};
    for (const std::string folder : {"/home/ann/quorvel/build", "/media/stick/quorvel/"}) {
        const ProgramFolders f = chooseProgramFolders(folder, m.facts());
        const std::string trimmed = folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
        EXPECT_EQ(f.data, trimmed);
        EXPECT_EQ(f.shared, trimmed);
        EXPECT_EQ(f.library, trimmed);
        EXPECT_FALSE(f.installed);
        EXPECT_FALSE(f.perUser);
    }
    // A bin folder of the user's own with no installed shared folder beside it is a copy.
    m.writable.insert("/home/ann/bin");
    EXPECT_EQ(chooseProgramFolders("/home/ann/bin", m.facts()).data, "/home/ann/bin");
}

TEST(ProgramFolders, InstalledCopyUsesThePerUserFolderEvenWhereItsFolderIsWritable) {
    Machine m;
    m.folders = {"/usr/local/share/quorvel", "/opt/q/share/quorvel", "/home/ann/.local/share/quorvel"};
    m.writable = {"/opt/q/bin", "/home/ann/.local/bin"};  // root's own install, or the user's
    for (const std::string prefix : {"/usr/local", "/opt/q", "/home/ann/.local"}) {
        const ProgramFolders f = chooseProgramFolders(prefix + "/bin", m.facts());
        EXPECT_TRUE(f.installed) << prefix;
        EXPECT_TRUE(f.perUser) << prefix;
        EXPECT_EQ(f.data, "/home/ann/.local/share/quorvel");
        EXPECT_EQ(f.shared, prefix + "/share/quorvel");
        EXPECT_EQ(f.library, prefix + "/lib/quorvel");
    }
    InstallDirs dirs;
    dirs.bin = "games";
    dirs.shared = "share/games/quorvel";
    m.folders.insert("/usr/share/games/quorvel");
    const ProgramFolders f = chooseProgramFolders("/usr/games", m.facts(), dirs);
    EXPECT_TRUE(f.installed);
    EXPECT_EQ(f.shared, "/usr/share/games/quorvel");
}

TEST(ProgramFolders, CopyInAFolderItsUserCannotWriteKeepsItsPartsButNotItsData) {
    Machine m;  // read-only media, or someone else's folder
    const ProgramFolders f = chooseProgramFolders("/media/cdrom/quorvel", m.facts());
    EXPECT_FALSE(f.installed);
    EXPECT_TRUE(f.perUser);
    EXPECT_EQ(f.data, "/home/ann/.local/share/quorvel");
    EXPECT_EQ(f.shared, "/media/cdrom/quorvel");
    EXPECT_EQ(f.library, "/media/cdrom/quorvel");
}

TEST(ProgramFolders, DataHomeFromTheEnvironmentOnlyWhenItIsAFullPath) {
    Machine m;
    const auto data = [&](const std::string& value) {
        m.xdgDataHome = value;
        return chooseProgramFolders("/usr/bin", m.facts()).data;
    };
    EXPECT_EQ(data("/srv/ann/data"), "/srv/ann/data/quorvel");
    EXPECT_EQ(data("/srv/ann/data//"), "/srv/ann/data/quorvel");
    EXPECT_EQ(data(""), "/home/ann/.local/share/quorvel");
    EXPECT_EQ(data("relative/data"), "/home/ann/.local/share/quorvel");
}

struct PrivateFolder : ::testing::Test {
    fs::path root;
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "folders-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }
    static unsigned mode(const fs::path& p) {
        struct stat st {};
        return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

TEST_F(PrivateFolder, MakesEachMissingFolderPrivateAndLeavesExistingOnesAlone) {
    chmod(root.c_str(), 0755);
    const fs::path data = root / "home" / ".local" / "share" / "quorvel";
    EXPECT_EQ(makePrivateFolder(data.string() + "/"), "");
    EXPECT_TRUE(fs::is_directory(data));
    EXPECT_EQ(mode(data), 0700u);
    EXPECT_EQ(mode(root / "home" / ".local"), 0700u);
    EXPECT_EQ(mode(root), 0755u);
    // Again: nothing to do, nothing changed.
    chmod(data.c_str(), 0750);
    EXPECT_EQ(makePrivateFolder(data.string()), "");
    EXPECT_EQ(mode(data), 0750u);
}

TEST_F(PrivateFolder, SaysWhatIsInTheWay) {
    std::ofstream(root / "share") << "a file";
    const std::string message = makePrivateFolder((root / "share" / "quorvel").string());
    EXPECT_EQ(message, (root / "share").string() + " is not a folder.");
    EXPECT_EQ(makePrivateFolder("relative/quorvel"), "The folder relative/quorvel is not a full path.");
}

}  // namespace
