// Saves on a disk that fails: a preloaded library fails one operation on one file, and
// a small mounted file system fills up.  No save is reported as done that did not
// happen, and the previous files stay byte for byte as they were.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>

#include "Reliability.h"
#include "platform/FileIO.h"
#include "support/MainFormHarness.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

const std::string kRestoreQuestion =
    "box Confirm There was a problem saving your entries.\\nWould you like to restore your backup?";
const std::string kSaved = "box Information All items saved to disk.\\n(Backup file created)";
const std::string kFirstIni = "[Options]\r\nTipOfTheDay=0\r\n";

bool has(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

struct Folder {
    QTemporaryDir root;
    QString path(const char* name) const { return root.filePath(name); }
    std::string dat = dataFileOf(3, "old"), bak = dataFileOf(2, "older"),
                var = "{email}=me@example.org\r\n";
    Folder() {
        writeBytes(path("Quorvel.ini"), kFirstIni);
        writeBytes(path("Quorvel.dat"), dat);
        writeBytes(path("Quorvel.bak"), bak);
        writeBytes(path("quorvel.var"), var);
    }
};

}  // namespace

TEST(FailingIo, NoFailedWriteSyncCloseOrRenameIsReportedAsASave) {
    struct Case {
        const char* op;
        const char* file;  // the file whose temporary file fails
        int error;
    };
    for (const Case c : {Case{"write", ".Quorvel.dat.saving-", 5}, Case{"write", ".Quorvel.dat.saving-", 28},
                         Case{"fsync", ".Quorvel.dat.saving-", 5}, Case{"close", ".Quorvel.dat.saving-", 5},
                         Case{"rename", ".Quorvel.dat.saving-", 5}}) {
        SCOPED_TRACE(std::string(c.op) + " " + std::to_string(c.error));
        Folder f;
        const WorkerRun run = runWorker(
            {"once", f.root.path(), "savenow", "no"},
            {QStringLiteral("FAILIO_OP=%1").arg(c.op), QStringLiteral("FAILIO_MATCH=%1").arg(c.file),
             QStringLiteral("FAILIO_ERRNO=%1").arg(c.error)},
            true);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.printed(kRestoreQuestion));
        EXPECT_FALSE(run.printed(kSaved));
        EXPECT_TRUE(run.printed("stale 0"));
        EXPECT_EQ(readBytes(f.path("Quorvel.bak")), f.bak);
        // The shutdown save fails the same way, so the old file is still there.
        EXPECT_EQ(readBytes(f.path("Quorvel.dat")), f.dat);
    }
}

TEST(FailingIo, FailedBackupAndFailedRestoreSaySoAndKeepWhatWasThere) {
    {  // the data file is saved, its backup not
        Folder f;
        const WorkerRun run = runWorker({"once", f.root.path(), "savenow", "no"},
                                        {"FAILIO_OP=fsync", "FAILIO_MATCH=.Quorvel.bak.saving-"}, true);
        EXPECT_TRUE(has(run.boxes(), "box Error Your items are saved in Quorvel.dat, but the backup "
                                     "Quorvel.bak could not be written (I/O error 5)."));
        EXPECT_FALSE(run.printed(kSaved));
        EXPECT_NE(readBytes(f.path("Quorvel.dat")), f.dat);
        EXPECT_EQ(readBytes(f.path("Quorvel.bak")), f.bak);
    }
    {  // "Yes, restore": the restore itself cannot write the data file
        Folder f;
        const WorkerRun run = runWorker({"once", f.root.path(), "save", "yes"},
                                        {"FAILIO_OP=fsync", "FAILIO_MATCH=.Quorvel.dat.saving-"}, true);
        EXPECT_TRUE(run.printed(kRestoreQuestion));
        EXPECT_TRUE(run.printed("box Error The backup Quorvel.bak could not be restored.\\nQuorvel.dat "
                                "is as it was before the save."));
        EXPECT_TRUE(run.printed("result false"));
        EXPECT_EQ(readBytes(f.path("Quorvel.dat")), f.dat);
        EXPECT_EQ(readBytes(f.path("Quorvel.err")), f.dat);  // the error copy is the file as it was
    }
    {  // a folder that cannot be synced after the rename: not reported as saved
        Folder f;
        const WorkerRun run = runWorker({"once", f.root.path(), "savenow", "no"},
                                        {"FAILIO_OP=dirsync", "FAILIO_MATCH=" + f.root.path()}, true);
        EXPECT_TRUE(run.printed(kRestoreQuestion));
        EXPECT_FALSE(run.printed(kSaved));
    }
}

TEST(FailingIo, ShutdownReportsUnwrittenVariablesAndSettingsAndKeepsThem) {
    for (const bool variables : {true, false}) {
        Folder f;
        const WorkerRun run = runWorker(
            {"once", f.root.path(), "shutdown", "no"},
            {"FAILIO_OP=fsync", variables ? "FAILIO_MATCH=.quorvel.var.saving-" : "FAILIO_MATCH=.Quorvel.ini.saving-"},
            true);
        EXPECT_TRUE(run.printed("box Report I/O error 5"));
        EXPECT_TRUE(run.printed("stale 0"));
        // The one that failed is as it was; the other was written.
        EXPECT_EQ(readBytes(f.path("quorvel.var")) == f.var, variables);
        EXPECT_EQ(readBytes(f.path("Quorvel.ini")) == kFirstIni, !variables);
    }
}

// ---- a small file system that fills up

namespace {

class SmallDisk {
public:
    SmallDisk(const QString& at, const char* size) : at_(at) {
        const std::string options = std::string("size=") + size;
        mounted_ = ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(QFile::encodeName(at_).constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    unsigned long long freeBytes() const {
        struct statvfs s {};
        ::statvfs(QFile::encodeName(at_).constData(), &s);
        return static_cast<unsigned long long>(s.f_bavail) * s.f_frsize;
    }

private:
    QString at_;
    bool mounted_ = false;
};

void fillWith(TMainForm& f, int count) {
    for (int i = 0; i < count; ++i)
        addItem(f, "Item " + std::to_string(i) + std::string(60, 'x'), "10/03/2001 12:00");
}

}  // namespace

TEST(FullDisk, SaveThatDoesNotFitAsksToRestoreAndKeepsTheFilesByteForByte) {
    if (!mountUnavailable.empty()) GTEST_SKIP() << "no small disk can be mounted here: " << mountUnavailable;
    MainFormHarness h;
    SmallDisk disk(h.dir.path(), "256k");
    ASSERT_TRUE(disk.mounted()) << "tmpfs could not be mounted on " << h.dir.path().toStdString();
    h.writeFile("Quorvel.ini", kFirstIni);
    TMainForm& f = h.start();
    fillWith(f, 5);
    h.dialogs.expectMessage(MsgKind::Information, "All items saved to disk.\n(Backup file created)");
    f.MenuSaveDataClick();
    const std::string small = h.readFile("Quorvel.dat");
    ASSERT_EQ(h.readFile("Quorvel.bak"), small);
    const auto freeBefore = disk.freeBytes();

    fillWith(f, 4000);  // about 330 KB: more than the disk holds
    for (const bool restore : {false, true}) {
        h.dialogs.expectMessage(MsgKind::Confirm,
                                "There was a problem saving your entries.\nWould you like to restore "
                                "your backup?",
                                restore ? MsgAnswer::Yes : MsgAnswer::No);
        f.MenuSaveDataClick();  // and never "All items saved to disk."
        EXPECT_TRUE(h.dialogs.done());
        EXPECT_EQ(h.readFile("Quorvel.dat"), small);
        EXPECT_EQ(h.readFile("Quorvel.bak"), small);
        EXPECT_EQ(h.exists("Quorvel.err"), restore);
        for (const QString& name : filesIn(h.dir.path())) EXPECT_FALSE(isSaveTempName(name));
        // The failed save gave back all the room it took.
        if (!restore) {
            EXPECT_EQ(disk.freeBytes(), freeBefore);
        }
    }
    h.dialogs.clear();
    f.Items.clear();
    f.Entries->clear();
    h.stop();
}

TEST(FullDisk, BackupThatDoesNotFitIsReportedAndTheSettingsStayAtShutdown) {
    if (!mountUnavailable.empty()) GTEST_SKIP() << "no small disk can be mounted here: " << mountUnavailable;
    MainFormHarness h;
    SmallDisk disk(h.dir.path(), "256k");
    ASSERT_TRUE(disk.mounted());
    h.writeFile("Quorvel.ini", kFirstIni);
    TMainForm& f = h.start();
    fillWith(f, 5);
    h.dialogs.expectMessage(MsgKind::Information, "All items saved to disk.\n(Backup file created)");
    f.MenuSaveDataClick();
    const std::string smallBackup = h.readFile("Quorvel.bak");

    fillWith(f, 1000);  // about 135 KB: the data file fits, its backup beside it does not
    h.dialogs.expectMessage(MsgKind::Error,
                            "Your items are saved in Quorvel.dat, but the backup Quorvel.bak could "
                            "not be written (I/O error 28).\nThe previous backup is kept as it was.");
    f.MenuSaveDataClick();
    EXPECT_TRUE(h.dialogs.done());
    EXPECT_TRUE(h.readFile("Quorvel.dat") == f.mainDataFileBytes());
    EXPECT_EQ(h.readFile("Quorvel.bak"), smallBackup);

    // Fill what is left: the shutdown can write nothing and says so for each file.
    writeBytes(h.path("filler"), std::string(disk.freeBytes(), 'f'));
    const std::string dat = h.readFile("Quorvel.dat");
    f.Items.at(0).EntryCount = 42;
    f.VarTable.push_back("{new}=value");
    h.dialogs.expectMessage(MsgKind::Confirm,
                            "There was a problem saving your entries.\nWould you like to restore "
                            "your backup?",
                            MsgAnswer::No);
    h.dialogs.expectReport("I/O error 28.");
    h.dialogs.expectReport("I/O error 28.");
    h.stop();
    EXPECT_TRUE(h.readFile("Quorvel.dat") == dat);
    EXPECT_EQ(h.readFile("Quorvel.ini"), kFirstIni);
    EXPECT_FALSE(h.exists("quorvel.var"));
    for (const QString& name : filesIn(h.dir.path())) EXPECT_FALSE(isSaveTempName(name));
}
