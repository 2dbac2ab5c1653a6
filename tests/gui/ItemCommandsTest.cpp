// Due rules, the item list and the item commands, driven through the real window.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTest>

#include "model/Errors.h"
#include "support/MainFormHarness.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct ItemsFixture : ::testing::Test {
    MainFormHarness h;
    TMainForm* f = nullptr;
    void SetUp() override { f = &h.start(); }
    void select(std::initializer_list<int> rows) {
        f->Entries->clearSelection();
        for (int r : rows) f->Entries->setSelected(r, true);
        f->Entries->setItemIndex(*rows.begin());
    }
    Rec& rec(const std::string& name) {
        return f->Items.at(f->Items.resolve(name));
    }
};

}  // namespace

TEST_F(ItemsFixture, DueRuleAtMidnight) {
    h.clock.value = dayNumber(2001, 3, 10, 23, 59) + 59.0 / 86400;
    EXPECT_TRUE(f->CheckDone("10/03/2001 23:59", 1));
    EXPECT_TRUE(f->CheckDone("10/03/2001 00:01", 1));
    h.clock.value = dayNumber(2001, 3, 11, 0, 0);
    EXPECT_FALSE(f->CheckDone("10/03/2001 23:59", 1));
    EXPECT_FALSE(f->CheckDone("10/03/2001 00:01", 1));
    EXPECT_FALSE(f->CheckDone("11/03/2001 00:00", 0));  // interval 0: due at once
    EXPECT_THROW(f->CheckDone("someday", 1), ConvertError);
    EXPECT_FALSE(f->CheckDateTime("someday"));
}

TEST_F(ItemsFixture, UpdateStopsAtABadDateWithTheCountSoFar) {
    addItem(*f, "a", "01/01/2000 10:00");  // due
    addItem(*f, "b", "nonsense");
    addItem(*f, "c", "01/01/2000 10:00");
    f->Items.at(2).Done = true;
    h.dialogs.expectMessage(MsgKind::Error, "Error in b");
    f->MenuUpdateClick();
    EXPECT_EQ(f->Label1->text().toStdString(), "Items: (1/3)");
    EXPECT_TRUE(f->Items.at(2).Done);  // after the failing one: kept
    f->Items.at(1).LastDone = "01/01/2000 10:00";
}

TEST_F(ItemsFixture, UpdateReadsTheClockOnceForTheWholeList) {
    for (int i = 0; i < 50; ++i) addItem(*f, "item" + std::to_string(i), "01/01/2000 10:00");
    h.clock.reads = 0;
    f->MenuUpdateClick();
    EXPECT_EQ(f->Label1->text().toStdString(), "Items: (50/50)");
    EXPECT_EQ(h.clock.reads, 1);
}

TEST_F(ItemsFixture, NextWrapsStartsAfterTheLastRowAndReportsAllDone) {
    addItem(*f, "a", "01/01/2000 10:00");
    addItem(*f, "b", "10/03/2001 10:00");
    addItem(*f, "c", "10/03/2001 10:00");
    f->MenuUpdateClick();
    EXPECT_EQ(f->Label1->text().toStdString(), "Items: (1/3)");
    f->SelectOneItem(2);
    f->NextButClick();
    EXPECT_EQ(f->Entries->itemIndex(), 0);
    f->NextButClick();  // only row 0 is due: it is found last
    EXPECT_EQ(f->Entries->itemIndex(), 0);
    f->Items.at(0).Done = true;
    f->SelectOneItem(1);
    f->Entries->setSelected(2, true);
    h.dialogs.expectMessage(MsgKind::Information, "All items have been completed.");
    f->NextButClick();
    EXPECT_EQ(f->Entries->itemIndex(), 1);
    EXPECT_EQ(f->Entries->selCount(), 1);
}

TEST_F(ItemsFixture, NextAndFindOnAnEmptyListDoNothing) {
    f->NextButClick();
    h.dialogs.expectInput("Find Item", "What would you like search for?", "", QString("x"));
    f->MenuFindItemClick();
    h.dialogs.expectInput("Find Item", "What would you like search for?", "x", std::nullopt);
    f->MenuFindItemClick();  // Cancel repeats the last search; still nothing to search
    EXPECT_EQ(f->Entries->itemIndex(), -1);
}

TEST_F(ItemsFixture, FindSearchesNamesAndCommentsRepeatsAndReportsNothingFound) {
    addItem(*f, "Apple", "10/03/2001 10:00");
    addItem(*f, "Banana", "10/03/2001 10:00");
    addItem(*f, "Cherry", "10/03/2001 10:00");
    rec("Banana").Comments = "needs a bike";
    rec("Cherry").Comments = "BIKE rules";
    f->SelectOneItem(2);
    h.dialogs.expectInput("Find Item", "What would you like search for?", "", QString("bike"));
    f->MenuFindItemClick();
    EXPECT_EQ(f->Entries->itemIndex(), 1);  // new text: starts after row 0
    h.dialogs.expectInput("Find Item", "What would you like search for?", "bike", std::nullopt);
    f->MenuFindItemClick();  // F3 and Enter: the next match
    EXPECT_EQ(f->Entries->itemIndex(), 2);
    h.dialogs.expectInput("Find Item", "What would you like search for?", "bike", QString("zebra"));
    h.dialogs.expectMessage(MsgKind::Information, "All items have been searched.");
    f->MenuFindItemClick();
    EXPECT_EQ(f->Entries->itemIndex(), 0);
    EXPECT_EQ(f->Entries->selCount(), 1);
}

TEST_F(ItemsFixture, NewItemRefusesDuplicatesAndJoinsNoGroupUnderAllItems) {
    h.dialogs.expectInput("Add new entry", "What would you like to call the new entry?", "",
                          QString("SHOP"));
    f->NewButClick();
    ASSERT_EQ(f->Items.size(), 1u);
    const Rec& r = f->Items.at(0);
    EXPECT_TRUE(r.Done);
    EXPECT_EQ(r.Groups, "");
    EXPECT_EQ(r.RepeatDays, 5);
    EXPECT_EQ(r.LastDone, "10/03/2000 12:00");  // a year back (2000 is a leap year)
    EXPECT_EQ(f->Entries->itemIndex(), 0);
    h.dialogs.expectInput("Add new entry", "What would you like to call the new entry?", "",
                          QString("Shop"));
    h.dialogs.expectMessage(MsgKind::Warning, "The Shop item already exists.");
    f->NewButClick();
    h.dialogs.expectInput("Add new entry", "What would you like to call the new entry?", "",
                          QString("Shop2"));
    f->NewButClick();
    h.dialogs.expectInput("Add new entry", "What would you like to call the new entry?", "",
                          std::nullopt);
    f->NewButClick();
    EXPECT_EQ(f->Items.size(), 2u);
}

TEST_F(ItemsFixture, DeleteAsksPerSelectedRowAndAnEmptiedListClearsTheFields) {
    for (const char* n : {"a", "b", "c", "d"}) addItem(*f, n, "10/03/2001 10:00");
    select({0, 1, 2});
    auto q = [](const char* n) {
        return QString("Are you sure you want to delete the \"%1\" entry?\n\nNote: This will "
                       "DELETE the item completely!")
            .arg(n);
    };
    h.dialogs.expectMessage(MsgKind::Information, q("a"), MsgAnswer::Yes);
    h.dialogs.expectMessage(MsgKind::Information, q("b"), MsgAnswer::No);
    h.dialogs.expectMessage(MsgKind::Information, q("c"), MsgAnswer::Yes);
    f->DelButClick();
    ASSERT_EQ(f->Entries->count(), 2);
    EXPECT_EQ(f->Entries->text(0).toStdString(), "b");
    EXPECT_EQ(f->Items.size(), 2u);
    select({0, 1});
    h.dialogs.expectMessage(MsgKind::Information, q("b"), MsgAnswer::Yes);
    h.dialogs.expectMessage(MsgKind::Information, q("d"), MsgAnswer::Yes);
    f->DelButClick();
    EXPECT_EQ(f->Entries->count(), 0);
    EXPECT_EQ(f->Entries->itemIndex(), -1);
    EXPECT_TRUE(f->Url->text().isEmpty());
    EXPECT_EQ(f->Freq->value(), 5);
}

TEST_F(ItemsFixture, FieldEditsReachOnlyTheCurrentItem) {
    addItem(*f, "a", "10/03/2001 10:00");
    addItem(*f, "b", "10/03/2001 10:00");
    select({1, 0});  // both selected, row 1 current
    f->Entries->setItemIndex(1);
    f->EntriesClick();
    f->Url->setText("http://b");
    f->Comments->setPlainText("one\ntwo");
    EXPECT_EQ(rec("b").Site, "http://b");
    EXPECT_EQ(rec("b").Comments, "one\r\ntwo");
    EXPECT_EQ(rec("a").Site, "");

    h.dialogs.expectMessage(MsgKind::Error, "Invalid value for\n\"Number of entries\"");
    f->NumEntries->setText("");
    EXPECT_EQ(rec("b").EntryCount, 0);
    EXPECT_EQ(f->NumEntries->text().toStdString(), "0");
    h.dialogs.expectMessage(MsgKind::Error, "Invalid value for\n\"Number of entries\"");
    f->NumEntries->setText("12a");
    EXPECT_EQ(rec("b").EntryCount, 12);
    EXPECT_EQ(f->NumEntries->text().toStdString(), "12");
    f->NumEntries->setText("$10");
    EXPECT_EQ(rec("b").EntryCount, 16);

    h.dialogs.expectMessage(MsgKind::Error, "Invalid Date or Time");
    f->Last->setText("1");
    EXPECT_EQ(f->Last->text().toStdString(), "10/03/2001 10:00");
    f->Last->setText("");
    EXPECT_EQ(rec("b").LastDone, "10/03/2001 10:00");
    f->Last->setText("01/01/2001 09:00");
    EXPECT_EQ(rec("b").LastDone, "01/01/2001 09:00");
    EXPECT_FALSE(rec("b").Done);

    f->Freq->setFocus();
    f->Freq->setText("400");
    EXPECT_EQ(rec("b").RepeatDays, 400);
    f->Freq->clearFocus();
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(f->Freq, &out);
    EXPECT_EQ(rec("b").RepeatDays, 365);
    EXPECT_EQ(f->Freq->text().toStdString(), "365");
    f->Freq->setText("x");
    EXPECT_EQ(rec("b").RepeatDays, 1);
    EXPECT_EQ(rec("a").RepeatDays, 5);
}

TEST_F(ItemsFixture, DoneAndUndoneOnSelectedRows) {
    addItem(*f, "a", "01/01/2000 10:00");
    addItem(*f, "b", "01/01/2000 10:00");
    rec("b").EntryCount = 0;
    select({0, 1});
    f->DoneButClick();
    EXPECT_TRUE(rec("a").Done);
    EXPECT_EQ(rec("a").EntryCount, 1);
    EXPECT_EQ(rec("a").LastDone, "10/03/2001 12:00");
    f->DoneButMouseDown(Qt::RightButton);
    EXPECT_FALSE(rec("a").Done);
    EXPECT_EQ(rec("a").EntryCount, 0);
    EXPECT_EQ(rec("a").LastDone, "05/03/2001 12:00");
    EXPECT_FALSE(f->CheckDone(rec("a").LastDone, rec("a").RepeatDays));
    f->MenuMarkUnDoneClick();
    EXPECT_EQ(rec("b").EntryCount, 0);  // never below 0
}

TEST_F(ItemsFixture, RenameOntoAnotherNameAndChangeOfCase) {
    addItem(*f, "abc", "10/03/2001 10:00");
    addItem(*f, "other", "10/03/2001 10:00");
    f->Items.at(0).Site = "first";
    f->Items.at(1).Site = "second";
    f->SelectOneItem(1);
    h.dialogs.expectInput("Rename entry", "What would you like to rename this entry to?", "other",
                          QString("abc"));
    f->MenuRenameItemClick();
    ASSERT_EQ(f->Entries->count(), 2);
    // Both rows now resolve to the first Item of that name.
    EXPECT_EQ(f->Items.at(static_cast<std::size_t>(f->FindItem(0))).Site, "first");
    EXPECT_EQ(f->Items.at(static_cast<std::size_t>(f->FindItem(1))).Site, "first");
    f->SelectOneItem(0);
    h.dialogs.expectInput("Rename entry", "What would you like to rename this entry to?", "abc",
                          QString("ABC"));
    f->MenuRenameItemClick();
    EXPECT_EQ(f->Items.at(0).Name, "ABC");
}

TEST_F(ItemsFixture, ShortcutsActWhileTheListHasTheFocus) {
    f->show();
    f->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f));
    addItem(*f, "a", "01/01/2000 10:00");
    f->SelectOneItem(0);
    f->Entries->setFocus();
    QTest::keyClick(f->Entries, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(f->Items.at(0).Done);
    QTest::keyClick(f->Entries, Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(f->Items.at(0).Done);
    h.dialogs.expectMessage(MsgKind::Information, "All items saved to disk.\n(Backup file created)");
    QTest::keyClick(f->Entries, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(h.exists("Quorvel.bak"));
}

TEST_F(ItemsFixture, RowPaintsGlyphAtTwoAndTextAfterIt) {
    addItem(*f, "Row", "01/01/2000 10:00");
    f->Items.at(0).Done = false;
    QImage img(200, 16, QImage::Format_ARGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setBrush(QColor(10, 20, 200));
    p.setPen(Qt::white);
    f->EntriesDrawItem(0, p, QRect(0, 0, 200, 16), true);
    p.end();
    // The row is filled with the brush; the glyph covers x 2..17; text starts at 18.
    EXPECT_EQ(img.pixelColor(0, 0), QColor(10, 20, 200));
    EXPECT_EQ(img.pixelColor(1, 8), QColor(10, 20, 200));
    int glyphPixels = 0, textPixels = 0, beyond = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 200; ++x) {
            const bool painted = img.pixelColor(x, y) != QColor(10, 20, 200);
            if (!painted) continue;
            if (x >= 2 && x <= 17) ++glyphPixels;
            else if (x >= 18) ++textPixels;
            else ++beyond;
        }
    EXPECT_GT(glyphPixels, 20);
    EXPECT_GT(textPixels, 5);
    EXPECT_EQ(beyond, 0);
    f->RowPaintEnabled = false;
    QImage blank(200, 16, QImage::Format_ARGB32);
    blank.fill(Qt::white);
    QPainter q(&blank);
    f->EntriesDrawItem(0, q, QRect(0, 0, 200, 16), false);
    q.end();
    EXPECT_EQ(blank.pixelColor(5, 5), QColor(Qt::white));
}
