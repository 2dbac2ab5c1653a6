#include <gtest/gtest.h>

#include "model/Text.h"

using namespace quorvel;

TEST(LineReader, EndsAtCrSkipsOneLfAndStopsAt1A) {
    LineReader r(std::string("a\r\nb\nc\r\r\nd\x1A" "e\r\n"));
    EXPECT_EQ(r.readLine(), "a");
    EXPECT_EQ(r.readLine(), "b\nc");
    EXPECT_EQ(r.readLine(), "");
    EXPECT_EQ(r.readLine(), "d");
    EXPECT_TRUE(r.eof());
    EXPECT_EQ(r.readLine(), "");  // past the end: empty lines
}

TEST(Text, Windows1252LinesBecomeUtf8AndCutsCountCharacters) {
    EXPECT_EQ(decodeLine("Z\xFCrich"), "Z\xC3\xBCrich");
    EXPECT_EQ(decodeLine("Z\xC3\xBCrich"), "Z\xC3\xBCrich");
    EXPECT_EQ(decodeLine("\x80"), "\xE2\x82\xAC");
    EXPECT_EQ(charCount("Z\xC3\xBCrich"), 6u);
    EXPECT_EQ(charMid("Z\xC3\xBCrich", 2, 1), "\xC3\xBC");
    EXPECT_EQ(charLeft("\xE2\x82\xAC\xE2\x82\xAC", 1), "\xE2\x82\xAC");
    EXPECT_EQ(upperAscii("ab\xC3\xBC"), "AB\xC3\xBC");
}
