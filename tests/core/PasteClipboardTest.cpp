#include "platform/core/PasteClipboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// A clipboard whose target reads (or not) as the test says; calls go into a shared log.
struct FakeClipboard : PasteClipboard {
    FakeClipboard(std::string name, std::vector<std::string>& log) : name(std::move(name)), log(log) {}
    std::string name;
    std::vector<std::string>& log;
    bool works = true, read = false, handed = false;
    bool usable() const override { return works; }
    bool offer(const std::string& utf8, const Pump&) override {
        log.push_back(name + " offer " + utf8);
        return works;
    }
    void pasteKeyFollows(const Pump&) override { log.push_back(name + " key follows"); }
    bool waitRead(std::chrono::milliseconds, const Pump& pump) override {
        if (pump) pump();
        return read;
    }
    bool withdraw() override {
        log.push_back(name + " withdraw");
        return handed;
    }
    void restore(const Pump&) override { log.push_back(name + " restore"); }
};

struct BothFixture : ::testing::Test {
    std::vector<std::string> log;
    FakeClipboard* clipboard = new FakeClipboard("C", log);
    FakeClipboard* primary = new FakeClipboard("P", log);
    BothClipboards both{std::unique_ptr<PasteClipboard>(clipboard),
                        std::unique_ptr<PasteClipboard>(primary)};
    std::vector<std::string> pasted(const std::string& text) {
        log.clear();
        const bool ok = pasteThrough(both, text, [&] { log.push_back("key"); }, {}, 50ms);
        log.push_back(ok ? "pasted" : "not pasted");
        both.restore({});
        return log;
    }
};

TEST_F(BothFixture, TheTextGoesOnBothAndTheKeyFollowsOnceBothAreReady) {
    clipboard->read = true;
    EXPECT_EQ(pasted("x"), (std::vector<std::string>{"C offer x", "P offer x", "C key follows",
                                                      "P key follows", "key", "pasted",
                                                      "C restore", "P restore"}));
    // A terminal reads the primary selection only.
    clipboard->read = false;
    primary->read = true;
    EXPECT_EQ(pasted("y")[5], "pasted");
}

TEST_F(BothFixture, NoReadMeansNotPastedUnlessOneWasHandedOutAsTheWaitEnded) {
    EXPECT_EQ(pasted("z"), (std::vector<std::string>{"C offer z", "P offer z", "C key follows",
                                                      "P key follows", "key", "C withdraw",
                                                      "P withdraw", "not pasted", "C restore",
                                                      "P restore"}));
    primary->handed = true;
    EXPECT_EQ(pasted("z")[7], "pasted");
}

TEST_F(BothFixture, WithoutAPrimarySelectionTheClipboardAloneServes) {
    primary->works = false;
    clipboard->read = true;
    const auto l = pasted("w");
    EXPECT_EQ(l.front(), "C offer w");
    EXPECT_EQ(std::count(l.begin(), l.end(), "P offer w"), 0);
    EXPECT_EQ(l[l.size() - 3], "pasted");
    // No clipboard at all: nothing is offered, nothing pressed.
    clipboard->works = false;
    EXPECT_EQ(pasted("v").front(), "not pasted");
}

}  // namespace
}  // namespace quorvel
