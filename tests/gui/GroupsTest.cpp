// Groups and group data files through the real window.
#include <gtest/gtest.h>

#include <QFile>

#include "exchange/core/GroupDataFile.h"
#include "support/MainFormHarness.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct GroupsFixture : ::testing::Test {
    MainFormHarness h;
    TMainForm* f = nullptr;
    void SetUp() override { f = &h.start(); }
    void addGroup(const QString& name) {
        h.dialogs.expectInput("Add New Group", "What would you like to call the new Group?", "", name);
        f->MenuAddNewGroupClick();
    }
    void show(const QString& group) {
        f->GroupList->setCurrentIndex(f->GroupList->findText(group));
        f->GroupListChange();
    }
    void selectRows(std::initializer_list<int> rows) {
        f->Entries->clearSelection();
        for (int r : rows) f->Entries->setSelected(r, true);
        f->Entries->setItemIndex(*rows.begin());
    }
    void join(const QString& group) {
        for (QAction* a : f->MenuGroups->actions())
            if (a->data().toString() == group) return f->MenuGroupSelectClick(a);
        FAIL() << "no submenu entry " << group.toStdString();
    }
    Rec& rec(const std::string& name) { return f->Items.at(f->Items.resolve(name)); }
    QStringList submenu() {
        QStringList out;
        for (QAction* a : f->MenuGroups->actions()) out << a->data().toString();
        return out;
    }
};

}  // namespace

TEST_F(GroupsFixture, JoinLeaveAndTheSubmenuFollowTheTable) {
    for (int k = 1; k <= 12; ++k) addGroup(QString("g%1").arg(k));
    EXPECT_EQ(submenu().first().toStdString(), "Remove");
    EXPECT_EQ(submenu().size(), 13);
    addItem(*f, "item", "10/03/2001 10:00");
    f->GroupListChange();
    selectRows({0});
    join("g2");
    join("g12");
    EXPECT_EQ(rec("item").Groups, ",2,12,");
    h.dialogs.expectMessage(MsgKind::Information, "item is already in the g2 group.");
    join("g2");
    show("g12");
    ASSERT_EQ(f->Entries->count(), 1);
    selectRows({0});
    join("Remove");
    EXPECT_EQ(rec("item").Groups, ",2,");
    EXPECT_EQ(f->Entries->count(), 0);
    show("g2");
    EXPECT_EQ(f->Entries->count(), 1);
    EXPECT_EQ(f->Label1->text().toStdString(), "Items: (1/1)");  // the stored flag: due
}

TEST_F(GroupsFixture, JoiningThreeWithOneMemberGivesOneMessage) {
    addGroup("Cars");
    for (const char* n : {"a", "b", "c"}) addItem(*f, n, "10/03/2001 10:00");
    rec("b").Groups = ",1,";
    f->GroupListChange();
    selectRows({0, 1, 2});
    h.dialogs.expectMessage(MsgKind::Information, "b is already in the Cars group.");
    join("Cars");
    EXPECT_EQ(rec("a").Groups, ",1,");
    EXPECT_EQ(rec("c").Groups, ",1,");
    show("All Items");
    selectRows({0, 1, 2});
    join("Remove");  // with All Items shown nothing changes
    EXPECT_EQ(rec("b").Groups, ",1,");
    EXPECT_EQ(f->Entries->count(), 3);
}

TEST_F(GroupsFixture, AddRenameAndDeleteWithTheirMessages) {
    addGroup("Cars");
    h.dialogs.expectInput("Add New Group", "What would you like to call the new Group?", "",
                          QString("CARS"));
    h.dialogs.expectMessage(MsgKind::Error, "The CARS group already exists.");
    f->MenuAddNewGroupClick();
    ASSERT_EQ(f->Groups.count(), 1);
    show("Cars");
    h.dialogs.expectInput("Rename Group", "What would you like to rename \"Cars\" to?", "Cars",
                          QString("cars"));
    h.dialogs.expectMessage(MsgKind::Error, "The cars group already exists.");
    f->MenuRenameGroupClick();
    h.dialogs.expectInput("Rename Group", "What would you like to rename \"Cars\" to?", "Cars",
                          QString("Autos"));
    f->MenuRenameGroupClick();
    EXPECT_EQ(f->GroupList->currentText().toStdString(), "Autos");
    EXPECT_EQ(submenu()[1].toStdString(), "Autos");
    EXPECT_EQ(f->Groups.at(1).GroupNumber, 1);
    show("All Items");
    h.dialogs.expectMessage(MsgKind::Error, "You can not rename the All Items group.");
    f->MenuRenameGroupClick();
    h.dialogs.expectMessage(MsgKind::Error, "You can not delete the All Items group.");
    f->MenuDeleteGroupClick();
}

TEST_F(GroupsFixture, DeletingGroupOneFreesItsNumberForAnEmptyNewGroup) {
    addGroup("Cars");
    addGroup("Boats");
    addGroup("Planes");
    addItem(*f, "x", "10/03/2001 10:00", 5, ",1,2,3,");
    show("Cars");
    h.dialogs.expectMessage(MsgKind::Confirm, "Are you sure you want to delete the \"Cars\" group?",
                            MsgAnswer::Yes);
    f->MenuDeleteGroupClick();
    EXPECT_EQ(rec("x").Groups, ",2,3,");
    EXPECT_EQ(f->Groups.count(), 2);
    EXPECT_EQ(f->Groups.at(1).GroupNumber, 2);
    EXPECT_EQ(submenu(), (QStringList{"Remove", "Boats", "Planes"}));
    EXPECT_EQ(f->GroupList->currentText().toStdString(), "All Items");
    addGroup("Trains");
    EXPECT_EQ(f->Groups.at(3).GroupNumber, 1);
    show("Trains");
    EXPECT_EQ(f->Entries->count(), 0);
    EXPECT_EQ(f->Entries->itemIndex(), -1);
    EXPECT_EQ(f->Label1->text().toStdString(), "Items: (0/0)");
    EXPECT_TRUE(f->Url->text().isEmpty());
}

TEST_F(GroupsFixture, GroupSortingBeforeAllItemsIsShownAfterADeletion) {
    addGroup("1st");
    addGroup("Zoo");
    EXPECT_EQ(f->GroupList->itemText(0).toStdString(), "1st");
    show("Zoo");
    h.dialogs.expectMessage(MsgKind::Confirm, "Are you sure you want to delete the \"Zoo\" group?",
                            MsgAnswer::Yes);
    f->MenuDeleteGroupClick();
    EXPECT_EQ(f->GroupList->currentText().toStdString(), "1st");
}

TEST_F(GroupsFixture, AGroupNamedRemoveActsAsRemoveAndTheTableStopsAtFifty) {
    addGroup("remove");
    addItem(*f, "a", "10/03/2001 10:00");
    f->GroupListChange();
    selectRows({0});
    join("remove");  // taken for the Remove entry: "All Items" shown, nothing happens
    EXPECT_EQ(rec("a").Groups, "");
    while (!f->Groups.full()) addGroup(QString("g%1").arg(f->Groups.count()));
    h.dialogs.expectInput("Add New Group", "What would you like to call the new Group?", "",
                          QString("one more"));
    h.dialogs.expectMessage(MsgKind::Error,
                            "Quorvel can keep at most 50 groups.\nPlease delete a group before "
                            "adding another one.");
    f->MenuAddNewGroupClick();
    EXPECT_EQ(f->Groups.count(), 50);
    EXPECT_EQ(f->GroupList->count(), 51);
}
