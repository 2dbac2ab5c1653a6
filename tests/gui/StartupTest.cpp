// Start-up, settings, the main data file's saving and restoring, through the real window.
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QScreen>

#include "support/AsUser.h"
#include "support/MainFormHarness.h"
#include "model/MainDataFile.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

const std::string S = kItemSeparator + "\r\n";

std::string dataFile(const std::string& items, int count, const std::string& groups = "NumGroups: 0\r\n") {
    return groups + "Number of items: " + std::to_string(count) + "\r\n" + S + items;
}

std::string item(int k, const std::string& name, const std::string& last, const std::string& extra = "") {
    return "Item: " + std::to_string(k) + "\r\nName: " + name + "\r\nGroup: \r\nSite: http://" + name +
           "\r\nKeys: \r\nLast1: " + last + "\r\nFreq: 5,0\r\n" + extra + "\r\n" + S;
}

}  // namespace

TEST(Startup, FirstStartDefaults) {
    MainFormHarness h;
    QFile::remove(h.path("Quorvel.ini"));
    TMainForm& f = h.start();
    EXPECT_EQ(f.windowTitle().toStdString(), "Quorvel! V1.0 by Orrin Halvik");
    EXPECT_TRUE(f.AutoSave->isChecked());
    EXPECT_TRUE(f.AutoCheck->isChecked());
    EXPECT_TRUE(f.TipOfTheDay->isChecked());
    EXPECT_FALSE(f.SlowDownType->isChecked());
    EXPECT_FALSE(f.NewOnly->isChecked());
    EXPECT_FALSE(f.CheckForFiles->isChecked());
    EXPECT_FALSE(f.AlwaysOnTop->isChecked());
    EXPECT_TRUE(f.Browser->text().isEmpty());
    EXPECT_EQ(f.Items.size(), 0u);
    EXPECT_EQ(f.GroupList->count(), 1);
    EXPECT_EQ(f.GroupList->currentText().toStdString(), "All Items");
    EXPECT_EQ(f.formats.twoDigitYearCenturyWindow, 50);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(f.frameGeometry().top(), (screen.height() - f.frameGeometry().height()) / 2);
    h.stop();
    const std::string ini = h.readFile("Quorvel.ini");
    EXPECT_NE(ini.find("[Window]\r\nHeight="), std::string::npos);
    EXPECT_NE(ini.find("TipOfTheDay=1\r\nAdCount=0\r\nAutoSave=1\r\nAutoCheck=1\r\nSlowDownType=0\r\n"
                       "NewOnly=0\r\nCheckForFiles=0\r\nAlwaysOnTop=0\r\nBrowser=\r\n"),
              std::string::npos);
    EXPECT_EQ(h.readFile("Quorvel.dat"), "NumGroups: 0\r\nNumber of items: 0\r\n" + S);
}

TEST(Startup, SettingsAndBrandAreRead) {
    MainFormHarness h;
    h.writeFile("brand.ini", "[CoBrand]\r\nTitle=for Friends\r\n");
    h.writeFile("Quorvel.ini",
                "; mine\r\n[Window]\r\nHeight=400\r\nTop=10\r\nLeft=20\r\n[Options]\r\n"
                "TipOfTheDay=2\r\nAdCount=41\r\nAutoSave=x\r\nAlwaysOnTop=1\r\nBrowser=/usr/bin/firefox\r\n"
                "[Extra]\r\nkeep=me\r\n");
    TMainForm& f = h.start();  // AlwaysOnTop from the settings: no restart message
    EXPECT_EQ(f.windowTitle().toStdString(), "Quorvel! V1.0 for Friends");
    EXPECT_TRUE(f.TipOfTheDay->isChecked());
    EXPECT_TRUE(f.AutoSave->isChecked());
    EXPECT_TRUE(f.AlwaysOnTop->isChecked());
    EXPECT_EQ(f.AdCount, 41);
    EXPECT_EQ(f.frameGeometry().top(), 10);
    EXPECT_EQ(f.frameGeometry().left(), 20);
    EXPECT_EQ(f.Browser->text().toStdString(), "/usr/bin/firefox");
    h.dialogs.expectMessage(MsgKind::Information,
                            "Please exit and restart Quorvel to\nactivate your Always On Top selection.");
    f.AlwaysOnTop->setChecked(false);
    f.AdAdCounted();
    h.stop();
    const std::string ini = h.readFile("Quorvel.ini");
    EXPECT_EQ(ini.rfind("; mine\r\n", 0), 0u);
    EXPECT_NE(ini.find("AdCount=42\r\n"), std::string::npos);
    EXPECT_NE(ini.find("AlwaysOnTop=0\r\n"), std::string::npos);
    EXPECT_NE(ini.find("[Extra]\r\nkeep=me\r\n"), std::string::npos);
}

TEST(Startup, LoadsItemsOpensOnTheFirstDueRowAndWritesThemBack) {
    MainFormHarness h;  // now: 10/03/2001 12:00 (day 36960.5)
    const std::string file = dataFile(item(1, "Beta", "36960.25") + item(2, "alpha", "36900") +
                                          item(3, "Gamma", "36000"),
                                      3);
    h.writeFile("Quorvel.dat", file);
    TMainForm& f = h.start();
    ASSERT_EQ(f.Entries->count(), 3);
    EXPECT_EQ(f.Entries->text(0).toStdString(), "alpha");
    // Row 0 was current; Next moves to the first due row after it: Beta is done, Gamma due.
    EXPECT_EQ(f.Entries->itemIndex(), 2);
    EXPECT_EQ(f.Url->text().toStdString(), "http://Gamma");
    EXPECT_EQ(f.Label1->text().toStdString(), "Items: (2/3)");
    h.stop();
    EXPECT_EQ(h.readFile("Quorvel.dat"), file);
    EXPECT_FALSE(h.exists("Quorvel.bak"));
}

TEST(Startup, BadItemIsReportedAndTheFileKeptBeforeTheFirstSave) {
    MainFormHarness h;
    const std::string file =
        dataFile(item(1, "Good", "36960") + item(2, "Broken", "xyz") + item(3, "Fine", "36960"), 3);
    h.writeFile("Quorvel.dat", file);
    h.dialogs.expectMessage(MsgKind::Error,
                            "Error loading entry. Entry will be ignored.\nPossible name: Broken");
    h.dialogs.expectMessage(MsgKind::Warning,
                            "Quorvel.dat did not load completely.\nThe file as it was has been kept "
                            "as Quorvel.damaged\nso that nothing in it is lost.");
    h.dialogs.expectMessage(MsgKind::Information, "All items have been completed.");
    TMainForm& f = h.start();
    EXPECT_EQ(f.Items.size(), 2u);
    h.stop();
    EXPECT_EQ(h.readFile("Quorvel.damaged"), file);
    EXPECT_EQ(h.readFile("Quorvel.dat").find("Broken"), std::string::npos);
}

TEST(SaveData, SaveNowMakesTheBackupEqualAndShutdownLeavesIt) {
    MainFormHarness h;
    h.writeFile("Quorvel.dat", dataFile(item(1, "One", "36960"), 1));
    h.dialogs.expectMessage(MsgKind::Information, "All items have been completed.");
    TMainForm& f = h.start();
    h.dialogs.expectMessage(MsgKind::Information, "All items saved to disk.\n(Backup file created)");
    f.MenuSaveDataClick();
    EXPECT_EQ(h.readFile("Quorvel.bak"), h.readFile("Quorvel.dat"));
    const std::string backup = h.readFile("Quorvel.bak");
    f.Items.at(0).EntryCount = 9;
    h.stop();
    EXPECT_EQ(h.readFile("Quorvel.bak"), backup);
    EXPECT_NE(h.readFile("Quorvel.dat"), backup);
}

TEST(SaveData, UnparsableDateKeepsTheFileAndYesRestoresTheBackup) {
    for (const bool restore : {false, true}) {
        MainFormHarness h;
        const std::string before = dataFile(item(1, "One", "36960"), 1);
        const std::string backup = dataFile(item(1, "Older", "36000"), 1);
        h.writeFile("Quorvel.dat", before);
        h.writeFile("Quorvel.bak", backup);
        h.dialogs.expectMessage(MsgKind::Information, "All items have been completed.");
        TMainForm& f = h.start();
        f.Items.at(0).LastDone = "not a date";
        h.dialogs.expectMessage(MsgKind::Confirm,
                                "There was a problem saving your entries.\nWould you like to "
                                "restore your backup?",
                                restore ? MsgAnswer::Yes : MsgAnswer::No);
        f.MenuSaveDataClick();  // and never "All items saved to disk."
        EXPECT_EQ(h.readFile("Quorvel.dat"), restore ? backup : before);
        EXPECT_EQ(h.exists("Quorvel.err"), restore);
        if (restore) {
            EXPECT_EQ(h.readFile("Quorvel.err"), before);
        }
        EXPECT_EQ(f.Items.at(0).LastDone, "not a date");  // the model is unchanged
        f.Items.at(0).LastDone = "10/03/2001 12:00";
    }
}

TEST(SaveData, FolderThatCannotBeWrittenLeavesTheFileWhole) {
    if (rerunAsUnprivilegedUser()) return;  // root reads and writes everything
    MainFormHarness h;
    const std::string before = dataFile(item(1, "One", "36960"), 1);
    h.writeFile("Quorvel.dat", before);
    h.dialogs.expectMessage(MsgKind::Information, "All items have been completed.");
    TMainForm& f = h.start();
    QFile::setPermissions(h.dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    h.dialogs.expectMessage(MsgKind::Confirm,
                            "There was a problem saving your entries.\nWould you like to restore "
                            "your backup?",
                            MsgAnswer::No);
    f.SaveData(true);
    QFile::setPermissions(h.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(h.readFile("Quorvel.dat"), before);
}

// A copy built without a download server: no start-up check even when the setting asks for
// one (it would fail for every user), the Download tab says why it is idle, and the setting
// itself is kept for a copy that has a server.
TEST(Startup, CopyWithoutADownloadServerSaysSoAndNeverChecks) {
    MainFormHarness h;
    h.downloadHost.clear();
    h.writeFile("Quorvel.ini", "[Options]\r\nCheckForFiles=1\r\n");
    TMainForm& f = h.start();  // a check would end in a message box nobody scripted
    EXPECT_TRUE(f.CheckForFiles->isChecked());
    EXPECT_FALSE(f.CheckForFiles->isEnabled());
    EXPECT_FALSE(f.CheckButton->isEnabled());
    EXPECT_FALSE(f.DownloadBut->isEnabled());
    EXPECT_NE(f.Description->toPlainText().indexOf("built without a download server"), -1);
    h.stop();
    EXPECT_NE(h.readFile("Quorvel.ini").find("CheckForFiles=1\r\n"), std::string::npos);
}
