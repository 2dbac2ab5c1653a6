#include <gtest/gtest.h>

#include "app/core/IniFile.h"

using namespace quorvel;

TEST(IniFile, ReadsLikeTheProfileCalls) {
    const IniFile ini("; my settings\r\n[Options]\r\nTipOfTheDay=2\r\nAutoSave=x\r\n"
                      "browser = \"/usr/bin/firefox\" \r\n[window]\r\nHeight=400\r\n");
    EXPECT_TRUE(ini.readBool("Options", "TipOfTheDay", false));
    EXPECT_TRUE(ini.readBool("Options", "AutoSave", true));    // not a number: the default
    EXPECT_FALSE(ini.readBool("Options", "AutoSave", false));
    EXPECT_EQ(ini.readString("OPTIONS", "Browser", ""), "/usr/bin/firefox");
    EXPECT_EQ(ini.readInteger("Window", "Height", 350), 400);
    EXPECT_EQ(ini.readInteger("Window", "Top", -1), -1);
    EXPECT_EQ(ini.readString("Nope", "x", "def"), "def");
    const IniFile longValue("[a]\r\nk=" + std::string(3000, 'v') + "\r\n");
    EXPECT_EQ(longValue.readString("a", "k", "").size(), 2047u);
}

TEST(IniFile, WritingKeepsOtherSectionsKeysAndComments) {
    IniFile ini("; keep me\r\n[Other]\r\nx=1\r\n\r\n[Options]\r\n; note\r\nAutoSave=1\r\n");
    ini.writeBool("Options", "AutoSave", false);
    ini.writeString("Options", "Browser", "b");
    ini.writeInteger("Window", "Height", 350);
    EXPECT_EQ(ini.bytes(),
              "; keep me\r\n[Other]\r\nx=1\r\n\r\n[Options]\r\n; note\r\nAutoSave=0\r\nBrowser=b\r\n"
              "\r\n[Window]\r\nHeight=350\r\n");
}

// Found by fuzzing: a value holding line breaks wrote lines of its own, which the next
// start read as other keys or a section.
TEST(IniFile, ALineBreakInAValueCannotStartALine) {
    IniFile ini("[Options]\r\nAutoSave=1\r\n");
    ini.writeString("Options", "Browser", "/usr/bin/x\r\n[Window]\nHeight=1\rTop=2");
    const IniFile again(ini.bytes());
    EXPECT_EQ(again.readString("Options", "Browser", ""), "/usr/bin/x [Window] Height=1 Top=2");
    EXPECT_EQ(again.readInteger("Window", "Height", 350), 350);
    EXPECT_EQ(again.readInteger("Options", "Top", -1), -1);
    EXPECT_TRUE(again.readBool("Options", "AutoSave", false));
}
