#include <gtest/gtest.h>

#include <map>

#include "exchange/core/GroupDataFile.h"
#include "exchange/core/ListFile.h"
#include "exchange/core/ListPublisher.h"
#include "model/Errors.h"

using namespace quorvel;

namespace {

std::string groupFile(const std::vector<std::string>& names, const FormatSettings& fs = {}) {
    std::vector<Rec> recs;
    for (const std::string& n : names) {
        Rec r;
        r.Name = n;
        r.Site = "http://ads.example/";
        r.LastDone = "01/03/2001 12:00";
        r.Keys = "line one\r\nline two";
        recs.push_back(r);
    }
    std::vector<const Rec*> items;
    for (const Rec& r : recs) items.push_back(&r);
    return writeGroupFile("Cars", items, true, fs, 2001);
}

struct Folder {
    std::map<std::string, std::string> files;
    std::vector<std::string> read;  // names asked for, in order
    FolderFileReader reader() {
        return [this](const std::string& name) -> std::optional<std::string> {
            read.push_back(name);
            if (name == "locked.qdf") throw QuorvelError("It cannot be read: Permission denied.");
            const auto it = files.find(name);
            if (it == files.end()) return std::nullopt;
            return it->second;
        };
    }
};

}  // namespace

TEST(ListPublisher, RefusesNamesTheProgramNginxOrTheListLineCannotCarry) {
    for (const std::string& bad : std::vector<std::string>{
             // the program's own refusals
             "", "../x.qdf", "a\\b.qdf", "x.qdf.", "   ", "tab\t.qdf", std::string(256, 'n'),
             "Quorvel.dat", "QUORVEL.INI", "quorvel", "quorvel.var", "quorvel.html",
             // the list itself, the list line, the program's re-encoding
             "qdf.lst", "QDF.lst", "cars,2.qdf", "caf\xE9.qdf",
             // what nginx does not hand over unchanged
             "my cars.qdf", "100%.qdf", "a%20b.qdf", "what?.qdf", "no#1.qdf"}) {
        const auto reason = unpublishableNameReason(bad);
        ASSERT_TRUE(reason) << bad;
        EXPECT_FALSE(reason->empty());
    }
    EXPECT_EQ(unpublishableNameReason("cars,2.qdf"),
              "The file name contains a comma, which would end the name early in its list line.");
    EXPECT_EQ(unpublishableNameReason("my cars.qdf"),
              "The file name contains a blank, which nginx does not accept in the program's "
              "request.");
    // Served byte for byte by nginx and fetched unchanged by the program.
    for (const std::string& good : std::vector<std::string>{
             "cars.qdf", "z\xC3\xBC.qdf", "\xE4\xB8\xAD.qdf", "a+b;c&d=e.qdf", "(x)[y]{z}!$'.qdf",
             ".hidden.qdf", "..cars", "quorvel.qdf", std::string(251, 'n') + ".qdf"})
        EXPECT_EQ(unpublishableNameReason(good), std::nullopt) << good;
}

TEST(ListPublisher, RefusesDescriptionsTheListLineCannotCarry) {
    std::string u1024, u1025;
    for (int i = 0; i < 1024; ++i) u1024 += "\xC3\xBC";
    u1025 = u1024 + "x";
    for (const std::string& bad : std::vector<std::string>{
             "two\r\nlines", "lone\nLF", "lone\rCR", "end\x1A of text", std::string("nul\0x", 5),
             "esc\x1B", "bad \xFF utf-8", u1025})
        EXPECT_TRUE(uncarriableDescriptionReason(bad)) << bad;
    EXPECT_EQ(uncarriableDescriptionReason(u1025),
              "The description is 1025 characters long; the program shows at most 1024.");
    for (const std::string& good :
         std::vector<std::string>{"", "Cars, vans, trucks", "tab\tstop", u1024, "\xE2\x82\xAC 5"})
        EXPECT_EQ(uncarriableDescriptionReason(good), std::nullopt) << good;
}

TEST(ListPublisher, AcceptsOnlyGroupFilesTheImportReadsToTheEnd) {
    EXPECT_EQ(notImportableReason(groupFile({"Auto Mart", "Car Lot"})), std::nullopt);
    EXPECT_EQ(notImportableReason(groupFile({})), std::nullopt);  // an empty group imports
    FormatSettings comma;
    comma.decimalSeparator = ',';
    EXPECT_EQ(notImportableReason(groupFile({"Auto Mart"}, comma)), std::nullopt);

    EXPECT_TRUE(notImportableReason(""));
    EXPECT_TRUE(notImportableReason("<html><body>404 Not Found</body></html>"));
    std::string otherHome = groupFile({"Auto Mart"});
    otherHome.replace(otherHome.find("http"), 4, "HTTP");
    EXPECT_TRUE(notImportableReason(otherHome));
    // Cut short, as by a broken upload: the import would stop inside the last Item.
    const std::string whole = groupFile({"Auto Mart", "Car Lot"});
    const auto cut = notImportableReason(whole.substr(0, whole.size() - 20));
    ASSERT_TRUE(cut);
    EXPECT_EQ(*cut, "The import would stop with \"The file ends inside the item \"Car Lot\", "
                    "which was not imported.\".");
    // More Items announced than the file holds.
    std::string announced = whole;
    const std::string number = Crypt("Number=1");
    announced.replace(announced.find(number), number.size(), Crypt("Number=2"));
    EXPECT_TRUE(notImportableReason(announced));
}

TEST(ListPublisher, WritesASortedListThatShowsEachFileItsOwnDescription) {
    Folder folder;
    folder.files = {{"cars.qdf", groupFile({"A"})},
                    {"cars.qdf2", groupFile({"B"})},
                    {"z\xC3\xBC.qdf", groupFile({"C"})}};
    // A byte-order mark, both line ends, comments, blank lines, a Windows-1252 line.
    const std::string descriptions = "\xEF\xBB\xBF# offered files\r\n"
                                     "cars.qdf2,Second, with a comma\n"
                                     "\n"
                                     "z\xC3\xBC.qdf,\xC3\x9C" "ber sites\r\n"
                                     "cars.qdf,First caf\xE9\n";
    const PublishedList out = publishList(descriptions, "descriptions.txt", folder.reader());
    ASSERT_TRUE(out.problems.empty()) << out.problems.front();
    EXPECT_EQ(out.bytes, listFileHeader() + "\r\n"
                             "cars.qdf,First caf\xC3\xA9\r\n"
                             "cars.qdf2,Second, with a comma\r\n"
                             "z\xC3\xBC.qdf,\xC3\x9C" "ber sites\r\n");
    // The program's own reading of it.
    const ListFile list = parseListFile(out.bytes);
    ASSERT_TRUE(list.headerValid);
    EXPECT_EQ(describe(list.lines, "cars.qdf"), "First caf\xC3\xA9");
    EXPECT_EQ(describe(list.lines, "cars.qdf2"), "Second, with a comma");
    EXPECT_EQ(describe(list.lines, "z\xC3\xBC.qdf"), "\xC3\x9C" "ber sites");

    EXPECT_EQ(publishList("# nothing yet\n", "d", folder.reader()).bytes, listFileHeader() + "\r\n");
}

TEST(ListPublisher, NamesEveryProblemAndWritesNothing) {
    Folder folder;
    folder.files = {{"cars.qdf", groupFile({"A"})}, {"page.qdf", "<html>oops</html>"}};
    const std::string descriptions = "cars.qdf,Cars\n"
                                     "no comma here\n"
                                     "CARS.qdf,Again\n"
                                     "missing.qdf,Gone\n"
                                     "page.qdf,An error page\n"
                                     "locked.qdf,Unreadable\n"
                                     "my cars.qdf,Blank\n"
                                     "cars.qdf2,Two\rlines\n";
    folder.files["cars.qdf2"] = groupFile({"B"});
    const PublishedList out = publishList(descriptions, "descriptions.txt", folder.reader());
    EXPECT_TRUE(out.bytes.empty());
    const std::string home = groupFileHeader();
    EXPECT_EQ(out.problems,
              (std::vector<std::string>{
                  "descriptions.txt line 2: There is no comma between the file name and its "
                  "description.",
                  "descriptions.txt line 3: CARS.qdf: The file is listed already, on line 1 "
                  "(letter case aside).",
                  "descriptions.txt line 4: missing.qdf: There is no such file in the folder.",
                  "descriptions.txt line 5: page.qdf: It is no group data file of this build: "
                  "its first line is not \"" + home + "\".",
                  "descriptions.txt line 6: locked.qdf: It cannot be read: Permission denied.",
                  "descriptions.txt line 7: my cars.qdf: The file name contains a blank, which "
                  "nginx does not accept in the program's request.",
                  "descriptions.txt line 8: cars.qdf2: The description contains a line break, "
                  "which would end its list line."}));
    // A refused name is never opened.
    EXPECT_EQ(folder.read, (std::vector<std::string>{"cars.qdf", "missing.qdf", "page.qdf",
                                                     "locked.qdf", "cars.qdf2"}));
}
