#include <gtest/gtest.h>

#include "exchange/core/ListFile.h"

using namespace quorvel;

TEST(ListFile, KeepsNonEmptyLinesAfterAnExactHeader) {
    const ListFile list = parseListFile(listFileHeader() +
                                        "\r\ncars.qdf,Car sites, used\r\n\r\nnocomma\r\n"
                                        "\r\n\xE9t\xE9.qdf,caf\xE9\r\n\x1A"
                                        "after.qdf,x\r\n");
    ASSERT_TRUE(list.headerValid);
    ASSERT_EQ(list.lines.size(), 3u);
    EXPECT_EQ(list.lines[0], "cars.qdf,Car sites, used");
    EXPECT_EQ(list.lines[1], "nocomma");
    EXPECT_EQ(list.lines[2], "\xC3\xA9t\xC3\xA9.qdf,caf\xC3\xA9");
    EXPECT_EQ(nameOf(list.lines[0]), "cars.qdf");
    EXPECT_EQ(descriptionOf(list.lines[0]), "Car sites, used");
    EXPECT_EQ(nameOf(list.lines[1]), "");
    EXPECT_EQ(descriptionOf(list.lines[1]), "");

    std::string upper = listFileHeader();
    upper[0] = 'q';
    EXPECT_FALSE(parseListFile(upper + "\r\na,b\r\n").headerValid);
    EXPECT_FALSE(parseListFile("").headerValid);
    EXPECT_TRUE(parseListFile(listFileHeader()).lines.empty());
}

TEST(ListFile, DescriptionIsCutAt1024Characters) {
    std::string text;
    for (int i = 0; i < 1100; ++i) text += "\xC3\xBC";
    const std::string d = descriptionOf("x.qdf," + text);
    EXPECT_EQ(d, text.substr(0, 2048));
}

TEST(ListFile, DescribeTakesTheFirstLineBeginningWithTheName) {
    const std::vector<std::string> lines = {"nocomma", "cars.qdf2,Second", "cars.qdf,First"};
    EXPECT_EQ(describe(lines, "cars.qdf"), "Second");
    EXPECT_EQ(describe(lines, "cars.qdf2"), "Second");
    EXPECT_EQ(describe(lines, "boats.qdf"), std::nullopt);
    EXPECT_EQ(describe(lines, ""), std::nullopt);  // the name of a line without a comma
}

TEST(ListFile, UnsafeNamesAreRefusedWithAReason) {
    for (const std::string& bad : std::vector<std::string>{
             "../x", "/etc/passwd", "a\\b", ".", "..", "a\rb", "a\nGET /qdf/b", "", "tab\there",
             "del\x7F", std::string(256, 'n'), "Quorvel.dat", "advert.so"}) {
        const auto reason = unsafeFileNameReason(bad);
        ASSERT_TRUE(reason) << bad;
        EXPECT_FALSE(reason->empty());
    }
    EXPECT_TRUE(unsafeFileNameReason("quorvel", {"quorvel", "quorvel.var"}));
    for (const std::string& good : std::vector<std::string>{
             "cars.qdf", "my cars.qdf", "..cars", "\xC3\xBC.qdf", "qdf.lst", std::string(255, 'n')})
        EXPECT_EQ(unsafeFileNameReason(good), std::nullopt) << good;
}
