#include <gtest/gtest.h>

#include <initializer_list>

#include "exchange/core/GroupDataFile.h"
#include "model/Errors.h"

using namespace quorvel;

namespace {

Rec item(std::string name, std::string last = "01/01/2000 18:00") {
    Rec r;
    r.Name = std::move(name);
    r.Site = "http://ads.example/post?a=1";
    r.LastDone = std::move(last);
    r.RepeatDays = 7;
    r.EntryCount = 3;
    r.Keys = "{email}{tab}hello";
    r.Comments = "first";
    r.Groups = ",1,";
    r.Done = true;
    return r;
}

std::string save(std::initializer_list<const Rec*> items, bool withKeys = true,
                 FormatSettings fs = {}) {
    return writeGroupFile("Cars", std::vector<const Rec*>(items), withKeys, fs, 2000);
}

// A file as another writer might have made it: the header, then `lines` scrambled.
std::string handMade(std::initializer_list<std::string> lines) {
    std::string out = groupFileHeader() + "\r\n";
    for (const std::string& l : lines) out += Crypt(l) + "\r\n";
    return out;
}

template <typename F>
void expectConvertError(F f, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "no error, expected: " << text;
    } catch (const ConvertError& e) {
        EXPECT_EQ(e.what(), text);
    }
}

}  // namespace

TEST(GroupDataFile, CryptFlipsTheLowestBitAndIsItsOwnInverse) {
    EXPECT_EQ(Crypt("Name="), "\x4F\x60\x6C\x64\x3C");
    EXPECT_EQ(Crypt(Crypt("a\r\nb\xC3\xBC")), "a\r\nb\xC3\xBC");
    EXPECT_EQ(Crypt("\r\n"), "\x0C\x0B");
}

TEST(GroupDataFile, RoundTripKeepsEveryCarriedFieldAndLineBreaks) {
    Rec a = item("Ads \xC3\xBC");
    a.Keys = "line1\r\nline2{enter}";
    a.Comments = "c1\r\nc2\r\n";
    Rec b = item("Second", "02/01/2000 00:00");
    const std::string bytes = save({&a, &b});

    // The header is plain, the line breaks of the values are not real line breaks.
    EXPECT_EQ(bytes.rfind(groupFileHeader() + "\r\n", 0), 0u);
    EXPECT_NE(bytes.find(Crypt("Keys=line1") + "\x0C\x0B" + Crypt("line2{enter}") + "\r\n"),
              std::string::npos);
    EXPECT_NE(bytes.find(Crypt("Last=36526.75") + "\r\n"), std::string::npos);

    GroupFileReader r(bytes);
    ASSERT_TRUE(r.headerValid());
    EXPECT_EQ(r.proposedGroupName(), "Cars");
    EXPECT_EQ(r.announcedBlocksMinusOne(), 1);
    FormatSettings fs;
    EXPECT_EQ(r.blockName(), "Ads \xC3\xBC");
    const Rec ra = r.readBlockRest(fs);
    EXPECT_EQ(ra.Name, a.Name);
    EXPECT_EQ(ra.Site, a.Site);
    EXPECT_EQ(ra.LastDone, "01/01/2000 18:00");
    EXPECT_EQ(ra.RepeatDays, 7);
    EXPECT_EQ(ra.EntryCount, 3);
    EXPECT_EQ(ra.Keys, a.Keys);
    EXPECT_EQ(ra.Comments, a.Comments);
    EXPECT_EQ(ra.Groups, "");  // not carried: the load decides
    EXPECT_FALSE(ra.Done);
    EXPECT_EQ(r.blockName(), "Second");
    EXPECT_EQ(r.readBlockRest(fs).LastDone, "02/01/2000 00:00");
    EXPECT_TRUE(r.atEnd());
}

TEST(GroupDataFile, WithoutKeysAndCommentsTheirLinesAreBare) {
    const Rec a = item("A");
    const std::string bytes = save({&a}, false);
    EXPECT_NE(bytes.find(Crypt("Num=3") + "\r\n" + Crypt("Keys=") + "\r\n" + Crypt("Com=") +
                         "\r\n" + Crypt("ThisIsTheVeryEndOfTheItemMarker") + "\r\n"),
              std::string::npos);
    GroupFileReader r(bytes);
    FormatSettings fs;
    r.blockName();
    const Rec ra = r.readBlockRest(fs);
    EXPECT_EQ(ra.Keys, "");
    EXPECT_EQ(ra.Comments, "");
}

TEST(GroupDataFile, EmptyGroupIsTheHeaderWithNumberMinusOne) {
    const std::string bytes = writeGroupFile("All Items", {}, true, FormatSettings{}, 2000);
    EXPECT_EQ(bytes, groupFileHeader() + "\r\n" + Crypt("Name=All Items") + "\r\n" +
                         Crypt("Number=-1") + "\r\n");
    GroupFileReader r(bytes);
    EXPECT_TRUE(r.headerValid());
    EXPECT_EQ(r.proposedGroupName(), "All Items");
    EXPECT_EQ(r.announcedBlocksMinusOne(), -1);
}

TEST(GroupDataFile, BadLastDoneStopsTheWholeSave) {
    const Rec good = item("A");
    const Rec bad = item("B", "not a date");
    expectConvertError([&] { save({&good, &bad}); }, "'not a date' is not a valid date and time");
}

TEST(GroupDataFile, EscapeByteIsLeftOutSoTheRestOfTheFileStaysReadable) {
    Rec a = item("A");
    a.Keys = "x\x1By";  // stored as 1A it would end the readable text
    const Rec b = item("B");
    GroupFileReader r(save({&a, &b}));
    FormatSettings fs;
    r.blockName();
    EXPECT_EQ(r.readBlockRest(fs).Keys, "xy");
    EXPECT_EQ(r.blockName(), "B");
    EXPECT_EQ(r.readBlockRest(fs).EntryCount, 3);
}

TEST(GroupDataFile, FormFeedInCommentSplitsItsLineAndTheRestIsAppended) {
    Rec a = item("A");
    a.Comments =
        "ab\x0C"
        "cd";
    const Rec b = item("B");
    GroupFileReader r(save({&a, &b}));
    FormatSettings fs;
    r.blockName();
    EXPECT_EQ(r.readBlockRest(fs).Comments, "abcd");
    EXPECT_EQ(r.blockName(), "B");
}

TEST(GroupDataFile, ContinuationLinesAppendNonEmptyOnesUpToTheMarker) {
    GroupFileReader r(
        handMade({"Name=G", "Number=0", "Name=A", "Url=u", "Last=36526.5", "Freq=1", "Num=2",
                  "Keys=k", "Com=x", "", "y", "ThisIsTheVeryEndOfTheItemMarker", "ignored"}));
    FormatSettings fs;
    r.blockName();
    EXPECT_EQ(r.readBlockRest(fs).Comments, "xy");
}

TEST(GroupDataFile, BlockCutBeforeItsMarkerIsRefusedWhereverTheCut) {
    Rec a = item("A"), b = item("B");
    b.Keys = "{email}{tab}the whole script";
    b.Comments = "line one\r\nline two";
    const std::string whole = save({&a, &b});
    const std::size_t secondBlock = whole.find(Crypt("Name=B"));
    ASSERT_NE(secondBlock, std::string::npos);
    // Cut after B's script, inside its comment, and just before its marker.
    for (const std::size_t cut : {whole.find(Crypt("Com="), secondBlock), whole.find(Crypt("line two")),
                                  whole.rfind(Crypt(kGroupFileEndMarker)) - 2}) {
        SCOPED_TRACE(cut);
        GroupFileReader r(whole.substr(0, cut));
        FormatSettings fs;
        r.blockName();
        EXPECT_EQ(r.readBlockRest(fs).Comments, "first");
        EXPECT_EQ(r.blockName(), "B");
        try {
            r.readBlockRest(fs);
            ADD_FAILURE() << "a cut block was read as whole";
        } catch (const QuorvelError& e) {
            EXPECT_STREQ(e.what(), "The file ends inside the item \"B\", which was not imported.");
        }
    }
}

TEST(GroupDataFile, DecimalSeparatorSwitchesWhenTheValueLacksIt) {
    Rec midnight = item("M", "01/01/2000 00:00");
    const std::string bytes = save({&midnight});
    EXPECT_NE(bytes.find(Crypt("Last=36526") + "\r\n"), std::string::npos);
    {
        FormatSettings fs;  // a whole day number holds no separator: it still switches
        GroupFileReader r(bytes);
        r.blockName();
        EXPECT_EQ(r.readBlockRest(fs).LastDone, "01/01/2000 00:00");
        EXPECT_EQ(fs.decimalSeparator, ',');
    }
    FormatSettings comma;
    comma.decimalSeparator = ',';
    const Rec evening = item("E");
    const std::string commaFile = save({&evening}, true, comma);
    EXPECT_NE(commaFile.find(Crypt("Last=36526,75")), std::string::npos);
    FormatSettings fs;
    GroupFileReader r(commaFile);
    r.blockName();
    EXPECT_EQ(r.readBlockRest(fs).LastDone, "01/01/2000 18:00");
    EXPECT_EQ(fs.decimalSeparator, ',');
    // The same separator again leaves it alone.
    GroupFileReader again(commaFile);
    again.blockName();
    again.readBlockRest(fs);
    EXPECT_EQ(fs.decimalSeparator, ',');
}

TEST(GroupDataFile, HeaderMustMatchExactly) {
    std::string lower = save({});
    lower[0] = 'q';
    EXPECT_FALSE(GroupFileReader(lower).headerValid());
    EXPECT_FALSE(GroupFileReader("Quorvel Data File. http://other.example/\r\n").headerValid());
    EXPECT_FALSE(GroupFileReader("").headerValid());
}

TEST(GroupDataFile, MissingBlockFailsOnItsEmptyDayNumberAfterSwitching) {
    const std::string bytes =
        handMade({"Name=G", "Number=1", "Name=A", "Url=u", "Last=36526.5", "Freq=1", "Num=2",
                  "Keys=", "Com=", "ThisIsTheVeryEndOfTheItemMarker"});
    GroupFileReader r(bytes);
    EXPECT_EQ(r.announcedBlocksMinusOne(), 1);
    FormatSettings fs;
    r.blockName();
    r.readBlockRest(fs);
    EXPECT_EQ(r.blockName(), "");
    expectConvertError([&] { r.readBlockRest(fs); }, "'' is not a valid floating point value");
    EXPECT_EQ(fs.decimalSeparator, ',');
}

TEST(GroupDataFile, BadNumbersRaiseTheStandardTexts) {
    expectConvertError(
        [] {
            GroupFileReader(handMade({"Name=G", "Number=two"})).announcedBlocksMinusOne();
        },
        "'two' is not a valid integer value");
    GroupFileReader r(handMade({"Name=G", "Number=0", "Name=A", "Url=u", "Last=1.5", "Freq=7x"}));
    FormatSettings fs;
    r.blockName();
    expectConvertError([&] { r.readBlockRest(fs); }, "'7x' is not a valid integer value");
}

TEST(GroupDataFile, DayNumbersBeyondTheYear9999AreRefused) {
    // Their date-time text would not read back, and every later save would fail on it.
    for (const std::string v : {"1e300", "2958466", "-693594"}) {
        GroupFileReader r(handMade({"Name=G", "Number=0", "Name=A", "Url=u", "Last=" + v}));
        FormatSettings fs;
        r.blockName();
        expectConvertError([&] { r.readBlockRest(fs); },
                           "'" + v + "' is not a valid date and time");
    }
    GroupFileReader r(handMade({"Name=G", "Number=0", "Name=A", "Url=u", "Last=2958465.999",
                                "Freq=1", "Num=1", "Keys=", "Com=", std::string(kGroupFileEndMarker)}));
    FormatSettings fs;
    r.blockName();
    EXPECT_EQ(r.readBlockRest(fs).LastDone, "31/12/9999 23:58");
}

TEST(GroupDataFile, SkipBlockStopsAtTheMarkerOrTheEnd) {
    const Rec a = item("A"), b = item("B");
    GroupFileReader r(save({&a, &b}));
    r.blockName();
    r.skipBlock();
    EXPECT_EQ(r.blockName(), "B");
    r.skipBlock();
    EXPECT_TRUE(r.atEnd());
    r.blockName();
    r.skipBlock();  // past the end: returns rather than looping
}

TEST(GroupDataFile, Windows1252LinesReadAsTextAndCutsCountCharacters) {
    // Bytes as an 8-bit Windows program writes them: FC is u-umlaut, 80 the euro sign.
    GroupFileReader r(handMade({"Name=Z\xFCrich", "Number=0", "Name=\x80 ads",
                                "Url=http://\xFC.example", "Last=36526.5", "Freq=1", "Num=2",
                                "Keys=\xE9", "Com=caf\xE9", "ThisIsTheVeryEndOfTheItemMarker"}));
    EXPECT_EQ(r.proposedGroupName(), "Z\xC3\xBCrich");
    FormatSettings fs;
    EXPECT_EQ(r.blockName(), "\xE2\x82\xAC ads");
    const Rec ra = r.readBlockRest(fs);
    EXPECT_EQ(ra.Site, "http://\xC3\xBC.example");
    EXPECT_EQ(ra.Keys, "\xC3\xA9");
    EXPECT_EQ(ra.Comments, "caf\xC3\xA9");
}

TEST(GroupDataFile, LongValuesSurviveWholeButTheGroupNameIsCut) {
    std::string umlauts;
    for (int i = 0; i < 300; ++i) umlauts += "\xC3\xBC";
    Rec a = item(std::string(400, 'n'));
    a.Site = "http://x.example/" + std::string(500, 's');
    a.Keys = std::string(10000, 'k');
    a.Comments = std::string(5000, 'c') + "\r\n" + umlauts;
    const std::string bytes =
        writeGroupFile(umlauts, std::vector<const Rec*>{&a}, true, FormatSettings{}, 2000);
    GroupFileReader r(bytes);
    EXPECT_EQ(r.proposedGroupName(), umlauts.substr(0, 510));  // 255 characters
    FormatSettings fs;
    EXPECT_EQ(r.blockName(), a.Name);
    const Rec ra = r.readBlockRest(fs);
    EXPECT_EQ(ra.Site, a.Site);
    EXPECT_EQ(ra.Keys, a.Keys);
    EXPECT_EQ(ra.Comments, a.Comments);
}
