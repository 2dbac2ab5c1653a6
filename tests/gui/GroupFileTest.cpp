// Saving and loading group data files through the real window.
#include <gtest/gtest.h>

#include "exchange/core/GroupDataFile.h"
#include "model/MainDataFile.h"
#include "support/MainFormHarness.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct GroupFileFixture : ::testing::Test {
    MainFormHarness h;
    TMainForm* f = nullptr;
    void SetUp() override { f = &h.start(); }
    void save(const QString& name, bool withScripts) {
        h.dialogs.expectSaveFile(h.path(name), "Save Roder Data File");
        h.dialogs.expectMessage(MsgKind::Confirm,
                                "Do you want to include Type and Comment sections?\n\nNote: Type "
                                "and Comment strings could include personal information.",
                                withScripts ? MsgAnswer::Yes : MsgAnswer::No);
        f->MenuSaveGroupClick();
    }
    void load(const QString& name, const QString& prompt, const QString& proposed,
              std::optional<QString> target) {
        Q_UNUSED(name);
        h.dialogs.expectInput("Load Data File", prompt, proposed, target);
    }
    void imported(const QString& name) {
        h.dialogs.expectMessage(MsgKind::Information, name + " successfully imported.");
    }
    Rec& rec(const std::string& name) { return f->Items.at(f->Items.resolve(name)); }
};

}  // namespace

TEST_F(GroupFileFixture, SaveAndLoadRoundTripUnderAnotherGroupWithDuplicateRenames) {
    addItem(*f, "Shop", "05/03/2001 14:07");
    addItem(*f, "Zoo", "01/01/2000 00:00");
    rec("Shop").Site = "http://shop";
    rec("Shop").Keys = "{first name}{tab}{email}{enter}";
    rec("Shop").Comments = "line one\r\nline two";
    rec("Shop").EntryCount = 3;
    f->GroupListChange();
    save("all.qdf", true);
    ASSERT_TRUE(h.exists("all.qdf"));
    EXPECT_TRUE(h.dialogs.fileDialogs.back().defaultSuffix == "qdf");
    EXPECT_EQ(h.dialogs.fileDialogs.back().fileName.toStdString(), "All Items");

    // Loaded under its own name "All Items": every name exists, rename one, skip one.
    load("all.qdf", "Add 2 new items to this Group:", "All Items", QString("Cars"));
    h.dialogs.expectInput("Duplicate Name", "Shop already exists. Rename to:", "Shop", QString("Zoo"));
    h.dialogs.expectInput("Duplicate Name", "Zoo already exists. Rename to:", "Zoo", QString("Shop 2"));
    h.dialogs.expectInput("Duplicate Name", "Zoo already exists. Rename to:", "Zoo", std::nullopt);
    imported("all.qdf");
    f->LoadDataFile(h.path("all.qdf"));
    ASSERT_EQ(f->Items.size(), 3u);
    const Rec& copy = rec("Shop 2");
    EXPECT_EQ(copy.Site, "http://shop");
    EXPECT_EQ(copy.Keys, "{first name}{tab}{email}{enter}");
    EXPECT_EQ(copy.Comments, "line one\r\nline two");
    EXPECT_EQ(copy.EntryCount, 3);
    EXPECT_EQ(copy.Groups, ",1,");
    EXPECT_EQ(f->GroupList->currentText().toStdString(), "Cars");
    EXPECT_EQ(f->Entries->count(), 1);
    EXPECT_EQ(f->Label1->text().toStdString(), "Items: (1/1)");
}

TEST_F(GroupFileFixture, NoWritesEmptyScriptsAndAnEmptyGroupLoadsAsZeroItems) {
    addItem(*f, "Shop", "05/03/2001 14:07");
    rec("Shop").Keys = "secret";
    rec("Shop").Comments = "private";
    f->GroupListChange();
    save("plain.qdf", false);
    const std::string bytes = h.readFile("plain.qdf");
    EXPECT_NE(bytes.find(Crypt("Keys=") + "\r\n" + Crypt("Com=") + "\r\n"), std::string::npos);
    h.dialogs.expectInput("Add New Group", "What would you like to call the new Group?", "",
                          QString("Empty"));
    f->MenuAddNewGroupClick();
    f->GroupList->setCurrentIndex(f->GroupList->findText("Empty"));
    f->GroupListChange();
    save("empty.qdf", true);
    EXPECT_NE(h.readFile("empty.qdf").find(Crypt("Number=-1")), std::string::npos);
    load("empty.qdf", "Add 0 new items to this Group:", "Empty", QString("Fresh"));
    imported("empty.qdf");
    f->LoadDataFile(h.path("empty.qdf"));
    EXPECT_EQ(f->Groups.count(), 2);
    EXPECT_EQ(f->Items.size(), 1u);
}

TEST_F(GroupFileFixture, ExistingGroupInOtherCaseAndAllItemsTarget) {
    h.dialogs.expectInput("Add New Group", "What would you like to call the new Group?", "",
                          QString("CARS"));
    f->MenuAddNewGroupClick();
    std::vector<const Rec*> none;
    Rec a;
    a.Name = "A";
    a.LastDone = "05/03/2001 14:07";
    a.RepeatDays = 5;
    h.writeFile("cars.qdf", writeGroupFile("Cars", {&a}, true, h.formats, 2001));
    load("cars.qdf", "Add 1 new items to this Group:", "Cars", QString("Cars"));
    imported("cars.qdf");
    f->LoadDataFile(h.path("cars.qdf"));
    EXPECT_EQ(f->Groups.count(), 1);
    EXPECT_EQ(rec("A").Groups, ",1,");
    EXPECT_EQ(f->GroupList->currentText().toStdString(), "CARS");
    a.Name = "B";
    h.writeFile("b.qdf", writeGroupFile("All Items", {&a}, true, h.formats, 2001));
    load("b.qdf", "Add 1 new items to this Group:", "All Items", QString("All Items"));
    imported("b.qdf");
    f->LoadDataFile(h.path("b.qdf"));
    EXPECT_EQ(rec("B").Groups, "");
    EXPECT_EQ(f->Groups.count(), 1);
    EXPECT_EQ(f->GroupList->currentText().toStdString(), "All Items");
}

TEST_F(GroupFileFixture, BadHeaderBadNumbersAndDecimalComma) {
    std::string good = writeGroupFile("G", {}, true, h.formats, 2001);
    std::string bad = good;
    bad[0] = 'q';
    h.writeFile("bad.qdf", bad);
    h.dialogs.expectMessage(MsgKind::Error, "bad.qdf is not a valid Quorvel data file.");
    f->LoadDataFile(h.path("bad.qdf"));

    // Two blocks, the second with a Freq that is not a number: the first stays.
    Rec a;
    a.Name = "First";
    a.LastDone = "05/03/2001 14:07";
    a.RepeatDays = 5;
    Rec b = a;
    b.Name = "Second";
    std::string two = writeGroupFile("G", {&a, &b}, true, h.formats, 2001);
    const std::string freq = Crypt("Freq=5");
    const std::size_t second = two.rfind(freq);
    two.replace(second, freq.size(), Crypt("Freq=x5"));
    h.writeFile("two.qdf", two);
    load("two.qdf", "Add 2 new items to this Group:", "G", QString("G"));
    h.dialogs.expectReport("'x5' is not a valid integer value.");
    f->LoadDataFile(h.path("two.qdf"));
    EXPECT_TRUE(f->Items.contains("First"));
    EXPECT_FALSE(f->Items.contains("Second"));
    EXPECT_EQ(f->Groups.count(), 1);

    // A file written under a decimal comma switches the program to it for good.
    FormatSettings comma = h.formats;
    comma.decimalSeparator = ',';
    a.Name = "Comma";
    h.writeFile("comma.qdf", writeGroupFile("G", {&a}, true, comma, 2001));
    load("comma.qdf", "Add 1 new items to this Group:", "G", QString("G"));
    imported("comma.qdf");
    f->LoadDataFile(h.path("comma.qdf"));
    EXPECT_EQ(f->formats.decimalSeparator, ',');
    EXPECT_EQ(rec("Comma").LastDone, "05/03/2001 14:06");
    h.stop();
    EXPECT_NE(h.readFile("Quorvel.dat").find("Last1: 36955,588"), std::string::npos);
}

TEST_F(GroupFileFixture, ScriptLineBreaksBecomeReturnCodesSoTheDataFileStaysWhole) {
    Rec a;
    a.Name = "Multi";
    a.LastDone = "05/03/2001 14:07";
    a.RepeatDays = 5;
    a.Keys = "line1\r\nline2";
    a.Comments = "c1\r\nc2";
    h.writeFile("m.qdf", writeGroupFile("G", {&a}, true, h.formats, 2001));
    load("m.qdf", "Add 1 new items to this Group:", "G", QString("G"));
    imported("m.qdf");
    f->LoadDataFile(h.path("m.qdf"));
    EXPECT_EQ(rec("Multi").Keys, "line1{enter}line2");
    EXPECT_EQ(rec("Multi").Comments, "c1\r\nc2");
    h.stop();
    FormatSettings fs = h.formats;
    MainDataReadContext ctx;
    ctx.fs = &fs;
    const MainDataLoad back = readMainData(h.readFile("Quorvel.dat"), ctx);
    ASSERT_TRUE(back.clean());
    EXPECT_EQ(back.items[0]->Comments, "c1\r\nc2");
}

TEST_F(GroupFileFixture, AFiftyFirstGroupFromAFileIsRefused) {
    for (int k = 1; k <= 50; ++k) f->CreateNewGroup(QString("g%1").arg(k));
    Rec a;
    a.Name = "A";
    a.LastDone = "05/03/2001 14:07";
    h.writeFile("x.qdf", writeGroupFile("New one", {&a}, true, h.formats, 2001));
    load("x.qdf", "Add 1 new items to this Group:", "New one", QString("New one"));
    h.dialogs.expectMessage(MsgKind::Error,
                            "Quorvel can keep at most 50 groups, so the group \"New one\" cannot be "
                            "created.\nPlease delete a group and load the file again.");
    f->LoadDataFile(h.path("x.qdf"));
    EXPECT_EQ(f->Items.size(), 0u);
    EXPECT_EQ(f->Groups.count(), 50);
}
