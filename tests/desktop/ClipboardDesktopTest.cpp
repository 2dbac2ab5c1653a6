// The clipboard a typing run borrows, on a real X server with xclip as the other program,
// run by the desktop user: what the user had copied comes back after the run in every form
// it was offered in, large contents included; a newer copy wins; a withdrawn text is never
// handed out.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/x11/X11Clipboard.h"
#include "support/DesktopSession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;

class ClipboardOnX11 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.ok()) << session.error(); }

    // The user copies `bytes` as `type`; xclip stays behind as the owner.
    void userCopies(const std::string& bytes, const std::string& type = "UTF8_STRING") {
        const std::string file = session.folder() + "/copy";
        ASSERT_TRUE(session.writeUserFile(file, bytes));
        ASSERT_EQ(session.run({"xclip", "-selection", "clipboard", "-t", type, "-i", file}), 0);
        // xclip takes the clipboard from a child of its own, after it has returned.
        ASSERT_TRUE(waitUntil([&] { return pasted(type) == bytes; }, 10s));
    }

    // What a paste of `type` gets; nullopt when the clipboard gives nothing.
    std::optional<std::string> pasted(const std::string& type = "UTF8_STRING") {
        std::string out;
        if (session.run({"xclip", "-selection", "clipboard", "-t", type, "-o"}, {}, &out, 10s) != 0)
            return std::nullopt;
        return out;
    }

    DesktopSession session;
    const PasteClipboard::Pump noPump;
};

TEST_F(ClipboardOnX11, ARunBorrowsTheClipboardAndGivesTheUsersBack) {
    X11Clipboard clip(session.display());
    ASSERT_TRUE(clip.usable());
    userCopies("<b>Gr\xC3\xBC\xC3\x9F" "e</b>", "text/html");

    const std::string text = "Hello \xE4\xB8\xAD\xE6\x96\x87 \xC3\xBC";
    ASSERT_TRUE(clip.offer(text, noPump));
    // A read before the paste key (a client that reads every change) is no paste.
    EXPECT_EQ(pasted(), text);
    EXPECT_FALSE(clip.waitRead(300ms, noPump));
    clip.pasteKeyFollows(noPump);
    EXPECT_EQ(pasted(), text);
    EXPECT_TRUE(clip.waitRead(2s, noPump));
    // Latin-1 only as STRING; this text is not.
    EXPECT_EQ(pasted("STRING"), std::nullopt);
    clip.restore(noPump);
    EXPECT_EQ(pasted("text/html"), "<b>Gr\xC3\xBC\xC3\x9F" "e</b>");
    const auto targets = pasted("TARGETS");
    ASSERT_TRUE(targets.has_value());
    EXPECT_NE(targets->find("text/html"), std::string::npos) << *targets;
    // A text that is all Latin-1 goes out as STRING too, in Latin-1.
    ASSERT_TRUE(clip.offer("Gr\xC3\xBC\xC3\x9F" "e", noPump));
    EXPECT_EQ(pasted("STRING"), "Gr\xFC\xDF" "e");
    clip.restore(noPump);

    // A withdrawn text reaches no one, and the user's clipboard still comes back.
    ASSERT_TRUE(clip.offer("second", noPump));
    clip.pasteKeyFollows(noPump);
    EXPECT_FALSE(clip.withdraw());
    EXPECT_EQ(pasted(), std::nullopt);
    EXPECT_FALSE(clip.waitRead(100ms, noPump));
    clip.restore(noPump);
    EXPECT_EQ(pasted("text/html"), "<b>Gr\xC3\xBC\xC3\x9F" "e</b>");

    // The user copies something new while a run holds the clipboard: that stays.
    ASSERT_TRUE(clip.offer("third", noPump));
    userCopies("newer");
    clip.restore(noPump);
    EXPECT_EQ(pasted(), "newer");
}

TEST_F(ClipboardOnX11, LargeAndEmptyClipboardsComeBackAsTheyWere) {
    X11Clipboard clip(session.display());
    ASSERT_TRUE(clip.usable());
    // Nothing copied: nothing after the run either.
    ASSERT_EQ(pasted(), std::nullopt);
    ASSERT_TRUE(clip.offer("run", noPump));
    EXPECT_EQ(pasted(), "run");
    clip.restore(noPump);
    EXPECT_EQ(pasted(), std::nullopt);

    // Larger than one request carries: both ways in pieces.
    std::string big;
    for (int i = 0; big.size() < (3u << 20); ++i) big += "line " + std::to_string(i) + " \xE2\x82\xAC\n";
    userCopies(big);
    const std::string longText(600000, 'x');
    ASSERT_TRUE(clip.offer(longText + "\xCE\xA9", noPump));
    clip.pasteKeyFollows(noPump);
    EXPECT_EQ(pasted(), longText + "\xCE\xA9");
    EXPECT_TRUE(clip.waitRead(2s, noPump));
    clip.restore(noPump);
    EXPECT_EQ(pasted(), big);

}

}  // namespace
}  // namespace quorvel::test
