// Whole-file writes: the target is replaced only by a complete file, keeps its
// permissions and links, and no temporary file outlives a write or a start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/MainFormHarness.h"
#include "model/Errors.h"
#include "platform/FileIO.h"

using namespace quorvel;

namespace {

QStringList allFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(AtomicWrite, ReplacesWholeKeepsModeAndLinksAndLeavesNothingBehind) {
    QTemporaryDir dir;
    const QString target = dir.filePath("Quorvel.dat");
    writeWholeFile(target, "old");
    ::chmod(QFile::encodeName(target).constData(), 0640);
    writeWholeFile(target, std::string(100000, 'n'));
    EXPECT_EQ(readWholeFile(target), std::string(100000, 'n'));
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(allFiles(dir.path()), QStringList{"Quorvel.dat"});

    // A link stays a link; the file it names gets the bytes.
    ASSERT_TRUE(QFile::link(target, dir.filePath("link.dat")));
    writeWholeFile(dir.filePath("link.dat"), "through the link");
    EXPECT_TRUE(QFileInfo(dir.filePath("link.dat")).isSymLink());
    EXPECT_EQ(readWholeFile(target), "through the link");

    writeWholeFile(dir.filePath("empty"), {});
    EXPECT_EQ(readWholeFile(dir.filePath("empty")), "");

    // The longest name a file may have still gets a temporary name beside it.
    const QString longest(255, QLatin1Char('m'));
    writeWholeFile(dir.filePath(longest), "long");
    EXPECT_EQ(readWholeFile(dir.filePath(longest)), "long");
    const QString wide = QString(127, QChar(0x00e9)) + "x";  // 255 bytes in UTF-8
    writeWholeFile(dir.filePath(wide), "wide");
    EXPECT_EQ(readWholeFile(dir.filePath(wide)), "wide");
    EXPECT_EQ(allFiles(dir.path()).size(), 5);
}

TEST(AtomicWrite, UncommittedOrFailedWriteLeavesTheTargetAsItWas) {
    QTemporaryDir dir;
    const QString target = dir.filePath("Quorvel.ini");
    writeWholeFile(target, "before");
    {
        AtomicFile f(target);
        f.write("half", 4);
        EXPECT_TRUE(QFile::exists(f.tempPath()));
        EXPECT_TRUE(isSaveTempName(QFileInfo(f.tempPath()).fileName()));
    }
    EXPECT_EQ(readWholeFile(target), "before");
    EXPECT_EQ(allFiles(dir.path()), QStringList{"Quorvel.ini"});

    // A folder that does not exist: an error, never a reported success.
    EXPECT_THROW(writeWholeFile(dir.filePath("missing/Quorvel.ini"), "x"), InOutError);
    // A target that is a folder: refused before anything is written.
    QDir(dir.path()).mkdir("Quorvel.dat");
    try {
        AtomicFile f(dir.filePath("Quorvel.dat"));
        ADD_FAILURE() << "a folder was taken as a target";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), EISDIR);
    }
    EXPECT_EQ(allFiles(dir.path()), QStringList{"Quorvel.ini"});
}

TEST(AtomicWrite, StaleTemporaryFilesAreRecognisedAndRemovedAtStart) {
    EXPECT_TRUE(isSaveTempName(".Quorvel.dat.saving-aB3xYz"));
    EXPECT_TRUE(isSaveTempName(".quorvel.var.saving-000000"));
    EXPECT_FALSE(isSaveTempName("Quorvel.dat.saving-aB3xYz"));   // not hidden: the user's
    EXPECT_FALSE(isSaveTempName(".Quorvel.dat.saving-aB3xY"));   // five characters
    EXPECT_FALSE(isSaveTempName(".Quorvel.dat.saving-aB3xYz~"));
    EXPECT_FALSE(isSaveTempName(".saving-aB3xYz"));

    test::MainFormHarness h;
    h.writeFile(".Quorvel.dat.saving-aB3xYz", "left by a cut save");
    h.writeFile(".Quorvel.ini.saving-QQQQQQ", "");
    h.writeFile("Quorvel.dat.saving-aB3xYz", "kept");
    h.start();
    EXPECT_FALSE(h.exists(".Quorvel.dat.saving-aB3xYz"));
    EXPECT_FALSE(h.exists(".Quorvel.ini.saving-QQQQQQ"));
    EXPECT_TRUE(h.exists("Quorvel.dat.saving-aB3xYz"));
}
