// When an address goes to a browser that may still be starting: on a scripted browser and
// clock, poll by poll, and through the thread that drives the polls.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/linux/BrowserHandOver.h"

using namespace quorvel;

namespace {

// A browser and clock the test sets; launches are recorded and each runs until ended.
class FakeSystem : public HandOverSystem {
public:
    BrowserState probe(const HandOverJob&) override {
        std::lock_guard lock(mutex);
        BrowserState s = state;
        if (s.running) s.runningForMs = now - startedAt;
        return s;
    }
    qint64 launch(const QStringList& command) override {
        std::lock_guard lock(mutex);
        launched << command.join(' ');
        return ++lastPid;
    }
    bool stillRunning(qint64 pid) override {
        std::lock_guard lock(mutex);
        return clientsWaitForTheTest && pid > endedUpTo;
    }
    qint64 nowMs() override { return now; }

    QStringList launches() {
        std::lock_guard lock(mutex);
        return launched;
    }
    void set(const BrowserState& s) {
        std::lock_guard lock(mutex);
        state = s;
    }
    // Every hand-over so far has done its work.
    void endClients() {
        std::lock_guard lock(mutex);
        endedUpTo = lastPid;
    }

    std::mutex mutex;
    std::atomic<qint64> now{0};
    qint64 startedAt = 0;
    BrowserState state;
    QStringList launched;
    qint64 lastPid = 100;
    qint64 endedUpTo = 100;
    bool clientsWaitForTheTest = true;  // else each hand-over is over at once
};

// The driver owns its system; the test keeps the fake.
class Borrowed : public HandOverSystem {
public:
    explicit Borrowed(FakeSystem& fake) : fake_(fake) {}
    BrowserState probe(const HandOverJob& j) override { return fake_.probe(j); }
    qint64 launch(const QStringList& c) override { return fake_.launch(c); }
    bool stillRunning(qint64 pid) override { return fake_.stillRunning(pid); }
    qint64 nowMs() override { return fake_.nowMs(); }

private:
    FakeSystem& fake_;
};

HandOverJob job(const QString& url, qint64 askedAt = 0) {
    HandOverJob j;
    j.command = {"firefox", url};
    j.askedAtMs = askedAt;
    return j;
}

BrowserState starting(bool watchable, bool answers = false) {
    return BrowserState{true, 0, answers, watchable};
}

struct QueueFixture : ::testing::Test {
    FakeSystem sys;
    HandOverQueue queue{sys, 6000};

    // Polls every 40 ms of the fake clock until `until`.
    void pollUntil(qint64 until) {
        while (sys.now < until) {
            queue.poll();
            sys.now += 40;
        }
    }
};

}  // namespace

TEST_F(QueueFixture, ColdBrowserGetsTheAddressOnceItsServiceAnswersAndNotBefore) {
    sys.set(starting(true));
    queue.add(job("http://a.example/"));
    pollUntil(2000);
    EXPECT_TRUE(sys.launches().isEmpty()) << "handed over before the browser could take it";
    sys.set(starting(true, true));
    queue.poll();
    EXPECT_EQ(sys.launches(), QStringList{"firefox http://a.example/"});
    sys.endClients();
    pollUntil(12000);
    EXPECT_EQ(sys.launches().size(), 1);
    EXPECT_TRUE(queue.idle());
}

TEST_F(QueueFixture, TwoQuickGotosArriveInOrderEachOnceTheSecondAfterTheFirstHandOverEnded) {
    sys.set(starting(true));
    queue.add(job("http://a.example/"));
    sys.now = 300;
    queue.add(job("http://b.example/", 300));
    pollUntil(2500);
    EXPECT_TRUE(sys.launches().isEmpty());
    sys.set(starting(true, true));
    pollUntil(3000);
    // The first hand-over still runs: the second waits, or it might overtake it.
    EXPECT_EQ(sys.launches(), QStringList{"firefox http://a.example/"});
    sys.endClients();
    pollUntil(3100);
    EXPECT_EQ(sys.launches(), (QStringList{"firefox http://a.example/", "firefox http://b.example/"}));
    sys.endClients();
    pollUntil(15000);
    EXPECT_EQ(sys.launches().size(), 2);
    // A hand-over that never ends holds the next one back only for a while.
    queue.add(job("http://c.example/", sys.now));
    queue.add(job("http://d.example/", sys.now));
    pollUntil(sys.now + HandOverQueue::kClientWaitMs - 100);
    EXPECT_EQ(sys.launches().size(), 3);
    pollUntil(sys.now + 200);
    EXPECT_EQ(sys.launches().value(3), "firefox http://d.example/");
}

TEST_F(QueueFixture, SilentServiceAtTheTimeLimitAndUnwatchableServiceAfterItsSettleTime) {
    // Watchable but never answering: the address still goes, once, at the limit.
    sys.set(starting(true));
    queue.add(job("http://a.example/"));
    pollUntil(9950);
    EXPECT_TRUE(sys.launches().isEmpty());
    pollUntil(10100);
    EXPECT_EQ(sys.launches().size(), 1);
    sys.endClients();
    pollUntil(20000);
    EXPECT_EQ(sys.launches().size(), 1);

    // Nothing to watch: the browser's own age decides, counted from its start.
    sys.startedAt = sys.now - 1000;
    sys.set(starting(false));
    queue.add(job("http://b.example/", sys.now));
    pollUntil(sys.startedAt + 5950);
    EXPECT_EQ(sys.launches().size(), 1);
    pollUntil(sys.startedAt + 6100);
    EXPECT_EQ(sys.launches().size(), 2);
}

TEST_F(QueueFixture, RunningBrowserAnswersAtOnceEvenWhereItsServiceCannotBeSeen) {
    sys.startedAt = -60000;  // a browser the user has had open for a minute
    sys.set(starting(true));  // on another session bus, say: its name is not seen
    queue.add(job("http://a.example/"));
    queue.poll();
    EXPECT_EQ(sys.launches().size(), 1);
    sys.endClients();
    sys.set(starting(true, true));
    queue.add(job("http://b.example/", sys.now));
    queue.poll();
    EXPECT_EQ(sys.launches().size(), 2);
}

TEST_F(QueueFixture, GoneBrowserIsStartedWithTheAddressOnlyOnceItStaysGone) {
    sys.set(BrowserState{});
    queue.add(job("http://a.example/"));
    pollUntil(HandOverQueue::kGoneForMs - 100);
    // A blink, as between a launcher's process and the browser's own.
    sys.set(starting(true));
    queue.poll();
    sys.set(BrowserState{});
    pollUntil(sys.now + HandOverQueue::kGoneForMs - 100);
    EXPECT_TRUE(sys.launches().isEmpty());
    pollUntil(sys.now + 200);
    EXPECT_EQ(sys.launches().size(), 1);
}

TEST(BrowserHandOverTest, AddReturnsAtOnceAndQuittingStillHandsOverWhatWaits) {
    FakeSystem sys;
    sys.clientsWaitForTheTest = false;
    sys.set(starting(true));
    std::thread later;
    {
        BrowserHandOver handOver(std::make_unique<Borrowed>(sys), 6000);
        const auto before = std::chrono::steady_clock::now();
        handOver.add(job("http://a.example/"));
        handOver.add(job("http://b.example/"));
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
        // The browser's service comes up a moment after the program began to quit.
        later = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sys.set(starting(true, true));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(sys.launches().isEmpty());
    }  // quits here
    later.join();
    EXPECT_EQ(sys.launches(), (QStringList{"firefox http://a.example/", "firefox http://b.example/"}));
}
