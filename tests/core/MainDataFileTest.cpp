#include <gtest/gtest.h>

#include "model/DateTime.h"
#include "model/MainDataFile.h"

using namespace quorvel;

namespace {

const std::string S = kItemSeparator + "\r\n";

FormatSettings dmy() {
    FormatSettings fs;
    fs.shortDateFormat = "dd/mm/yyyy";
    fs.shortTimeFormat = "hh:nn";
    return fs;
}

MainDataLoad read(const std::string& bytes, FormatSettings& fs, std::vector<std::string>* bad = nullptr) {
    MainDataReadContext ctx;
    ctx.fs = &fs;
    ctx.currentYear = 2026;
    ctx.now = encodeDayNumber({2026, 12, 9, 8, 30});
    ctx.onBadItem = [bad](const std::string& n) {
        if (bad) bad->push_back(n);
    };
    return readMainData(bytes, ctx);
}

}  // namespace

TEST(MainDataFile, EmptyModelIsThreeLines) {
    FormatSettings fs = dmy();
    EXPECT_EQ(writeMainData(GroupTable{}, ItemList{}, fs, 2026),
              "NumGroups: 0\r\nNumber of items: 0\r\n" + S);
}

TEST(MainDataFile, WritesTheLayoutAndReadsItBackWhole) {
    FormatSettings fs = dmy();
    GroupTable groups;
    groups.add("Cars", 1);
    groups.add("Toys", 3);
    ItemList items;
    auto a = std::make_unique<Rec>();
    a->Name = std::string(300, 'n');
    a->Site = "http://example.com/" + std::string(400, 's');
    a->Groups = ",1,3,";
    a->Keys = std::string(10000, 'k') + "{tab}";
    a->LastDone = "05/03/2001 14:07";
    a->RepeatDays = 7;
    a->EntryCount = 12;
    a->Comments = "\r\nline two\r\n\r\nline four";
    items.append(std::move(a));
    auto b = std::make_unique<Rec>();
    b->Name = "Empty";
    b->LastDone = "01/01/2000 00:00";
    b->RepeatDays = 5;
    items.append(std::move(b));

    const std::string bytes = writeMainData(groups, items, fs, 2026);
    EXPECT_NE(bytes.find("NumGroups: 2\r\nGroupName1=Cars\r\nGroupNumber1=1\r\nGroupName2=Toys\r\n"
                         "GroupNumber2=3\r\nNumber of items: 2\r\n" + S + "Item: 1\r\n"),
              std::string::npos);
    EXPECT_NE(bytes.find("Last1: 36955.588\r\nFreq: 7,12\r\n\r\nline two\r\n\r\nline four\r\n" + S),
              std::string::npos);
    EXPECT_NE(bytes.find("Item: 2\r\nName: Empty\r\nGroup: \r\nSite: \r\nKeys: \r\nLast1: 36526\r\n"
                         "Freq: 5,0\r\n\r\n" + S),
              std::string::npos);

    FormatSettings fs2 = dmy();
    const MainDataLoad load = read(bytes, fs2);
    ASSERT_TRUE(load.clean());
    ASSERT_EQ(load.groups.size(), 2u);
    EXPECT_EQ(load.groups[1].GroupName, "Toys");
    EXPECT_EQ(load.groups[1].GroupNumber, 3);
    ASSERT_EQ(load.items.size(), 2u);
    const Rec& r = *load.items[0];
    EXPECT_EQ(r.Name, std::string(300, 'n'));
    EXPECT_EQ(r.Site.size(), 419u);
    EXPECT_EQ(r.Groups, ",1,3,");
    EXPECT_EQ(r.Keys.size(), 10005u);
    EXPECT_EQ(r.LastDone, "05/03/2001 14:06");  // stored to 1/1000 of a day
    EXPECT_EQ(r.RepeatDays, 7);
    EXPECT_EQ(r.EntryCount, 12);
    EXPECT_EQ(r.Comments, "\r\nline two\r\n\r\nline four");
    EXPECT_EQ(load.items[1]->Comments, "");
    EXPECT_EQ(load.items[1]->Keys, "");
    // A round trip is byte for byte once the time has been rounded.
    ItemList again;
    for (const auto& rec : load.items) again.append(std::make_unique<Rec>(*rec));
    const std::string twice = writeMainData(groups, again, fs2, 2026);
    EXPECT_EQ(writeMainData(groups, again, fs2, 2026), twice);
}

TEST(MainDataFile, DecimalSeparatorSwitchesBothWays) {
    const std::string comma = "NumGroups: 0\r\nNumber of items: 1\r\n" + S +
                              "Item: 1\r\nName: A\r\nGroup: \r\nSite: \r\nKeys: \r\n"
                              "Last1: 36526,5\r\nFreq: 5,0\r\n\r\n" + S;
    FormatSettings point = dmy();
    const MainDataLoad a = read(comma, point);
    EXPECT_EQ(point.decimalSeparator, ',');
    ASSERT_EQ(a.items.size(), 1u);
    EXPECT_EQ(a.items[0]->LastDone, "01/01/2000 12:00");
    ItemList l;
    l.append(std::make_unique<Rec>(*a.items[0]));
    EXPECT_NE(writeMainData(GroupTable{}, l, point, 2026).find("Last1: 36526,5\r\n"), std::string::npos);

    std::string pointFile = comma;
    pointFile.replace(pointFile.find("36526,5"), 7, "36526.5");
    FormatSettings commaFs = dmy();
    commaFs.decimalSeparator = ',';
    const MainDataLoad b = read(pointFile, commaFs);
    EXPECT_EQ(commaFs.decimalSeparator, '.');
    EXPECT_EQ(b.items.size(), 1u);
}

TEST(MainDataFile, OlderLayoutsLoad) {
    const std::string old = "Number of items: 2\r\n" + S +
                            "Item: 1\r\nName: Old\r\nDesc: a description\r\nSite: http://x\r\n"
                            "Date: 05/03/2001 10:00\r\nFreq: 9\r\nmore\r\n" + S +
                            "Item: 2\r\nName: Bad date\r\nDesc: d\r\nSite: \r\nKeys: k\r\n"
                            "Date: not a date\r\nFreq: 3,4\r\n" + S;
    FormatSettings fs = dmy();
    const MainDataLoad load = read(old, fs);
    ASSERT_EQ(load.items.size(), 2u);
    EXPECT_TRUE(load.groups.empty());
    const Rec& r = *load.items[0];
    EXPECT_EQ(r.Groups, "");
    EXPECT_EQ(r.Comments, "a description\r\n\r\nmore");
    EXPECT_EQ(r.LastDone, "05/03/2001 10:00");
    EXPECT_EQ(r.RepeatDays, 9);
    EXPECT_EQ(r.EntryCount, 0);
    EXPECT_EQ(load.items[1]->LastDone, "09/12/2026 08:30");  // now
    EXPECT_EQ(load.items[1]->Keys, "k");
    EXPECT_EQ(load.items[1]->EntryCount, 4);
}

TEST(MainDataFile, BadItemIsReportedAndSkippedAndTheRestLoads) {
    const std::string f = "NumGroups: 0\r\nNumber of items: 3\r\n" + S +
                          "Item: 1\r\nName: First\r\nGroup: \r\nSite: \r\nKeys: \r\n"
                          "Last1: 36526\r\nFreq: 5,0\r\n\r\n" + S +
                          "Item: 2\r\nName: Broken\r\nGroup: \r\nSite: \r\nKeys: \r\n"
                          "Last1: abc\r\nFreq: 5,0\r\ncomment\r\n" + S +
                          "Item: 3\r\nName: Third\r\nGroup: \r\nSite: \r\nKeys: \r\n"
                          "Last1: 36526\r\nFreq: 5,0\r\n\r\n" + S;
    FormatSettings fs = dmy();
    std::vector<std::string> bad;
    const MainDataLoad load = read(f, fs, &bad);
    ASSERT_EQ(load.items.size(), 2u);
    EXPECT_EQ(load.items[1]->Name, "Third");
    EXPECT_EQ(bad, std::vector<std::string>{"Broken"});
    EXPECT_FALSE(load.clean());
}

TEST(MainDataFile, CountsThatLeaveLinesUnreadOrTooManyGroupsAreNotClean) {
    std::string f = "NumGroups: 52\r\n";
    for (int k = 1; k <= 52; ++k)
        f += "GroupName" + std::to_string(k) + "=g" + std::to_string(k) + "\r\nGroupNumber" +
             std::to_string(k) + "=" + std::to_string(k) + "\r\n";
    f += "Number of items: 0\r\n" + S + "Item: 1\r\nName: Hidden\r\n";
    FormatSettings fs = dmy();
    const MainDataLoad load = read(f, fs);
    EXPECT_EQ(load.groups.size(), 50u);
    EXPECT_EQ(load.groupsNotLoaded, (std::vector<std::string>{"g51", "g52"}));
    EXPECT_TRUE(load.linesLeftUnread);
    EXPECT_TRUE(load.items.empty());
}

TEST(MainDataFile, Windows1252LinesLoadAsUtf8) {
    const std::string f = "NumGroups: 0\r\nNumber of items: 1\r\n" + S +
                          "Item: 1\r\nName: Z\xFCrich\r\nGroup: \r\nSite: \r\nKeys: \r\n"
                          "Last1: 36526\r\nFreq: 5,0\r\n\r\n" + S;
    FormatSettings fs = dmy();
    const MainDataLoad load = read(f, fs);
    ASSERT_EQ(load.items.size(), 1u);
    EXPECT_EQ(load.items[0]->Name, "Z\xC3\xBCrich");
}

TEST(MainDataFile, LineBreaksInsideOneLineFieldsNeverShiftTheLayout) {
    FormatSettings fs = dmy();
    ItemList l;
    auto r = std::make_unique<Rec>();
    r->Name = "two\r\nlines";
    r->Keys = "a\r\nb\nc";
    r->LastDone = "01/01/2000 00:00";
    r->RepeatDays = 5;
    l.append(std::move(r));
    const std::string bytes = writeMainData(GroupTable{}, l, fs, 2026);
    EXPECT_NE(bytes.find("Name: two lines\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Keys: a{enter}b{enter}c\r\n"), std::string::npos);
    FormatSettings fs2 = dmy();
    const MainDataLoad load = read(bytes, fs2);
    ASSERT_TRUE(load.clean());
    EXPECT_EQ(load.items[0]->RepeatDays, 5);
}

TEST(MainDataFile, CountsAndNumbersAreReadWhole) {
    ItemList l;
    for (int i = 0; i < 100000; ++i) {
        auto r = std::make_unique<Rec>();
        r->Name = "n" + std::to_string(i);
        r->LastDone = "01/01/2000 00:00";
        r->RepeatDays = 5;
        r->EntryCount = i == 0 ? 1234567 : 0;
        l.append(std::move(r));
    }
    FormatSettings fs = dmy();
    const MainDataLoad load = read(writeMainData(GroupTable{}, l, fs, 2026), fs);
    EXPECT_TRUE(load.clean());
    ASSERT_EQ(load.items.size(), 100000u);
    EXPECT_EQ(load.items[0]->EntryCount, 1234567);
}

// Inputs found by fuzzing the reader.
TEST(MainDataFile, CountsAndDayNumbersFromAHostileFileStayHarmless) {
    // A group count of two thousand million went on reading empty groups past the end of
    // the file for minutes and gigabytes.
    FormatSettings fs = dmy();
    const MainDataLoad groups =
        read("NumGroups: 2147483647\r\nGroupName1=Cars\r\nGroupNumber1=1\r\n", fs);
    ASSERT_EQ(groups.groups.size(), 1u);
    EXPECT_EQ(groups.groups[0].GroupName, "Cars");
    EXPECT_TRUE(groups.groupsNotLoaded.empty());

    // A Last1 far outside the calendar hung the date conversion; one just outside the
    // years 1 to 9999 loaded as text that no later save could write.  Such an Item is
    // skipped and reported like any other bad one; the boundaries still load.
    const auto file = [](const std::string& last) {
        return "NumGroups: 0\r\nNumber of items: 2\r\n" + S +
               "Item: 1\r\nName: Far\r\nGroup: \r\nSite: \r\nKeys: \r\nLast1: " + last +
               "\r\nFreq: 5,0\r\n\r\n" + S +
               "Item: 2\r\nName: Near\r\nGroup: \r\nSite: \r\nKeys: \r\nLast1: 36526\r\n"
               "Freq: 5,0\r\n\r\n" + S;
    };
    for (const std::string last : {"1e300", "-1e300", "4e18", "2958466", "-693594"}) {
        FormatSettings f = dmy();
        std::vector<std::string> bad;
        const MainDataLoad load = read(file(last), f, &bad);
        EXPECT_EQ(bad, std::vector<std::string>{"Far"}) << last;
        ASSERT_EQ(load.items.size(), 1u) << last;
        EXPECT_EQ(load.items[0]->Name, "Near");
    }
    for (const std::string last : {"2958465.999", "-693593.5"}) {
        FormatSettings f = dmy();
        const MainDataLoad load = read(file(last), f);
        ASSERT_TRUE(load.clean()) << last;
        ItemList l;
        for (const auto& rec : load.items) l.append(std::make_unique<Rec>(*rec));
        EXPECT_NO_THROW(writeMainData(GroupTable{}, l, f, 2026)) << last;
    }
}

// Found by fuzzing a group file import followed by a save: values a downloaded group data
// file can carry broke the data file, losing or inventing Items at the next start.
TEST(MainDataFile, ImportedValuesCannotBreakTheLayout) {
    GroupTable groups;
    groups.add("Two\r\nlines", 1);  // a line break shifted every line after it
    ItemList l;
    auto a = std::make_unique<Rec>();
    a->Name = "A";
    a->Site = "http://x/?a=\x1A" "1";  // 1A ended the readable file there
    a->LastDone = "01/01/2000 00:00";
    // A comment line equal to the separator ended the Item and made the rest an Item.
    a->Comments = "before\r\n" + kItemSeparator + "\r\nItem: 2\r\nName: Injected";
    l.append(std::move(a));
    auto b = std::make_unique<Rec>();
    b->Name = "B";
    b->LastDone = "01/01/2000 00:00";
    l.append(std::move(b));

    FormatSettings fs = dmy();
    const MainDataLoad load = read(writeMainData(groups, l, fs, 2026), fs);
    EXPECT_TRUE(load.clean());
    ASSERT_EQ(load.groups.size(), 1u);
    EXPECT_EQ(load.groups[0].GroupName, "Two lines");
    ASSERT_EQ(load.items.size(), 2u);
    EXPECT_EQ(load.items[0]->Site, "http://x/?a=1");
    EXPECT_EQ(load.items[0]->Comments,
              "before\r\n" + std::string(41, '-') + "\r\nItem: 2\r\nName: Injected");
    EXPECT_EQ(load.items[1]->Name, "B");

    // The same through an older file whose description reads as the separator.
    const std::string old = "Number of items: 2\r\n" + S + "Item: 1\r\nName: Old\r\nDesc: " +
                            kItemSeparator + "\r\nSite: \r\nDate: 05/03/2001 10:00\r\nFreq: 9\r\n" +
                            S + "Item: 2\r\nName: Next\r\nDesc: d\r\nSite: \r\n"
                            "Date: 05/03/2001 10:00\r\nFreq: 9\r\n" + S;
    ItemList fromOld;
    for (auto& rec : read(old, fs).items) fromOld.append(std::move(rec));
    ASSERT_EQ(fromOld.size(), 2u);
    const MainDataLoad again = read(writeMainData(GroupTable{}, fromOld, fs, 2026), fs);
    EXPECT_TRUE(again.clean());
    ASSERT_EQ(again.items.size(), 2u);
    EXPECT_EQ(again.items[1]->Name, "Next");
}

TEST(MainDataFile, ACommentOfManySeparatorLinesSavesQuickly) {
    // Mending each such line by erasing inside the text was quadratic: a comment of a
    // downloaded file's 64 MiB would never have saved.
    std::string comments;
    for (int i = 0; i < 200000; ++i) comments += kItemSeparator + "\r\n";
    ItemList l;
    auto r = std::make_unique<Rec>();
    r->Name = "A";
    r->LastDone = "01/01/2000 00:00";
    r->Comments = comments;
    l.append(std::move(r));
    FormatSettings fs = dmy();
    const MainDataLoad load = read(writeMainData(GroupTable{}, l, fs, 2026), fs);
    ASSERT_TRUE(load.clean());
    ASSERT_EQ(load.items.size(), 1u);
    EXPECT_EQ(load.items[0]->Comments.size(), comments.size() - 200000);
}
