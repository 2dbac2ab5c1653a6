// The paste clipboard on sway: the user's own programs (wl-copy, wl-paste, run as the
// desktop user) hold and read the clipboard while this process offers a run's text through
// a connection of its own.  A paste gets the run's text; after the run the user's clipboard
// is back exactly as it was, every type with its bytes, or empty when it was empty; a
// withdrawn text reaches no one; a reader that stalls or quits holds up no other.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/WaylandClipboard.h"
#include "support/DesktopSession.h"  // waitUntil
#include "support/SwaySession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;

const std::string kRunText = "\xC3\xBCn\xC3\xAF" "code \xE4\xB8\xAD\xE6\x96\x87";  // ünïcode 中文
const std::string kUserText = "the user's own \xE2\x9C\x93 text";

class WaylandClipboardOnSway : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.ok()) << session.error();
        clipboard = std::make_unique<WaylandClipboard>(socket().c_str());
        ASSERT_TRUE(clipboard->usable());
    }

    std::string socket() const { return session.folder() + "/run/wayland-1"; }

    // The user copies with wl-copy, which serves the clipboard until someone else takes it.
    void userCopies(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"wl-copy", "--foreground"};
        argv.insert(argv.end(), args.begin(), args.end());
        copier = session.start(argv, {}, "wl-copy");
        ASSERT_TRUE(copier);
        ASSERT_TRUE(waitUntil([&] { return !types().empty(); }, 5s)) << copier->logTail();
    }

    // What a paste of `type` (wl-paste's choice of text when empty) gets; nothing when the
    // clipboard is empty or the paste failed.
    std::optional<std::string> paste(const std::string& type = {}) const {
        std::vector<std::string> argv{"sh", "-c", "exec wl-paste --no-newline \"$@\" 2>/dev/null",
                                      "sh"};
        if (!type.empty()) argv.insert(argv.end(), {"--type", type});
        std::string out;
        if (session.run(argv, {}, &out, 20s) != 0) return std::nullopt;
        return out;
    }

    std::vector<std::string> types() const {
        std::string out;
        if (session.run({"sh", "-c", "exec wl-paste --list-types 2>/dev/null"}, {}, &out, 10s) !=
            0)
            return {};
        std::vector<std::string> list;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) list.push_back(line);
        return list;
    }

    // Each type the clipboard offers, with what a paste of it gets.
    std::vector<std::pair<std::string, std::optional<std::string>>> contents() const {
        std::vector<std::pair<std::string, std::optional<std::string>>> all;
        for (const std::string& t : types()) all.emplace_back(t, paste(t));
        return all;
    }

    void offerAndPaste(const std::string& text) {
        ASSERT_TRUE(clipboard->offer(text, {}));
        EXPECT_EQ(paste(), text);
        EXPECT_TRUE(clipboard->waitRead(2s, {}));
    }

    SwaySession session;
    std::unique_ptr<WaylandClipboard> clipboard;
    std::unique_ptr<ChildProcess> copier;
};

TEST_F(WaylandClipboardOnSway, RunTextIsPastedUnderEveryTextNameAndTheUsersTextComesBack) {
    userCopies({"--", kUserText});
    if (HasFatalFailure()) return;
    const auto before = contents();

    offerAndPaste(kRunText);
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING",
                             "TEXT"})
        EXPECT_EQ(paste(type), kRunText) << type;
    // KDE's history is told to leave the run's text out.
    EXPECT_EQ(paste("x-kde-passwordManagerHint"), "secret");
    // A text of the same run replaces the first, and the user's clipboard is kept only once.
    offerAndPaste("second");
    clipboard->restore({});
    EXPECT_EQ(contents(), before);
    // wl-copy lost the clipboard to the run: what comes back is served by this process.
    EXPECT_TRUE(waitUntil([&] { return !copier->running(); }, 5s));
    EXPECT_EQ(paste(), kUserText);

    // The next run keeps the clipboard again, read back from this process itself.
    offerAndPaste(kRunText);
    clipboard->restore({});
    EXPECT_EQ(contents(), before);
}

TEST_F(WaylandClipboardOnSway, EveryTypeComesBackWithItsBytes) {
    // HTML, which wl-copy offers as text/html and under the plain-text names.
    userCopies({"--type", "text/html", "--", "<p>caf\xC3\xA9 <b>menu</b></p>"});
    if (HasFatalFailure()) return;
    const auto html = contents();
    ASSERT_GE(html.size(), 2u);
    EXPECT_EQ(html[0].first, "text/html");
    offerAndPaste(kRunText);
    clipboard->restore({});
    EXPECT_EQ(contents(), html);

    // Bytes that are no text, several pipe buffers long: every byte, NULs included.
    std::string blob;
    for (int i = 0; i < 300000; ++i) blob.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    const std::string file = session.folder() + "/blob";
    ASSERT_TRUE(session.writeUserFile(file, blob));
    copier = session.start(
        {"sh", "-c", "exec wl-copy --foreground --type application/x-quorvel-blob < \"$1\"", "sh",
         file},
        {}, "wl-copy");
    ASSERT_TRUE(waitUntil(
        [&] { return types() == std::vector<std::string>{"application/x-quorvel-blob"}; }, 5s));
    offerAndPaste(kRunText);
    clipboard->restore({});
    EXPECT_EQ(types(), std::vector<std::string>{"application/x-quorvel-blob"});
    const auto back = paste("application/x-quorvel-blob");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->size(), blob.size());
    EXPECT_TRUE(*back == blob);
}

TEST_F(WaylandClipboardOnSway, EmptyClipboardIsEmptyAgain) {
    ASSERT_EQ(paste(), std::nullopt);
    offerAndPaste(kRunText);
    clipboard->restore({});
    EXPECT_TRUE(types().empty());
    EXPECT_EQ(paste(), std::nullopt);
    // Restoring twice gives back nothing that was not there.
    clipboard->restore({});
    EXPECT_EQ(paste(), std::nullopt);
}

TEST_F(WaylandClipboardOnSway, WithdrawnTextReachesNoOne) {
    userCopies({"--", kUserText});
    if (HasFatalFailure()) return;
    ASSERT_TRUE(clipboard->offer(kRunText, {}));
    EXPECT_FALSE(clipboard->withdraw());  // no one had it yet
    const auto late = paste();
    EXPECT_TRUE(!late || late->empty()) << *late;
    int pumped = 0;
    EXPECT_FALSE(clipboard->waitRead(200ms, [&] { ++pumped; }));
    EXPECT_GT(pumped, 5);  // our own windows go on answering while it waits
    clipboard->restore({});
    EXPECT_EQ(paste(), kUserText);

    // Withdrawn after a paste: the caller learns the target had it.
    offerAndPaste(kRunText);
    EXPECT_TRUE(clipboard->withdraw());
    const auto again = paste();
    EXPECT_TRUE(!again || again->empty());
    clipboard->restore({});
    EXPECT_EQ(paste(), kUserText);
}

TEST_F(WaylandClipboardOnSway, StalledOrQuittingReaderHoldsUpNoOtherReader) {
    userCopies({"--", kUserText});
    if (HasFatalFailure()) return;
    // Far more than the pipes between us and a reader hold.
    const std::string big(1 << 20, 'x');
    ASSERT_TRUE(clipboard->offer(big, {}));
    auto stalled = session.start({"sh", "-c", "wl-paste --no-newline | sleep 30"}, {}, "stalled");
    ASSERT_TRUE(stalled);
    std::this_thread::sleep_for(300ms);
    const auto t0 = std::chrono::steady_clock::now();
    const auto whole = paste();
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(whole->size(), big.size());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_TRUE(clipboard->waitRead(1s, {}));
    // A reader that quits half-way costs this process nothing (no SIGPIPE).
    std::string head;
    EXPECT_EQ(session.run({"sh", "-c", "wl-paste --no-newline | head -c 10"}, {}, &head, 10s), 0);
    EXPECT_EQ(head, "xxxxxxxxxx");
    EXPECT_EQ(paste()->size(), big.size());
    clipboard->restore({});
    EXPECT_EQ(paste(), kUserText);
}

TEST(WaylandClipboard, WithoutACompositorNothingIsOffered) {
    WaylandClipboard clipboard("/nonexistent/wayland-0");
    EXPECT_FALSE(clipboard.usable());
    EXPECT_FALSE(clipboard.offer("text", {}));
    EXPECT_FALSE(clipboard.waitRead(10ms, {}));
    clipboard.restore({});
}

}  // namespace
}  // namespace quorvel::test
