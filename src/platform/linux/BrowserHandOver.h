// Handing an address to a browser that may still be starting.  A browser started a moment
// ago cannot take an address yet: Firefox drops one that comes before its remote service
// is up (the second `firefox URL` finds no copy to pass it to), so each address waits
// until the browser shows it can take one, off the window thread, and the addresses go
// over one at a time in the order they were asked for.
#pragma once

#include <QStringList>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "browser/core/BrowserRules.h"

namespace quorvel {

// What a browser shows of itself at one moment.
struct BrowserState {
    bool running = false;
    qint64 runningForMs = 0;     // of its longest-running process
    bool remoteAnswers = false;  // its remote service is up: an address handed over now arrives
    bool remoteWatchable = false;  // that service can be seen from here at all
};

// One address to hand over: the command that hands it over and the browser it is for.
struct HandOverJob {
    QStringList command;  // program and arguments
    QString service;      // the browser, as Connect was given it
    QString program;
    BrowserFamily family = BrowserFamily::Generic;  // which remote service to watch
    qint64 askedAtMs = 0;  // on the hand-over's clock
    int timeoutMs = 10000;
};

// The system under the hand-over: the real one reads /proc and the session bus.
class HandOverSystem {
public:
    virtual ~HandOverSystem() = default;
    virtual BrowserState probe(const HandOverJob& job) = 0;
    // Starts the command detached; its process id, 0 when it could not be started.
    virtual qint64 launch(const QStringList& command) = 0;
    virtual bool stillRunning(qint64 pid) = 0;
    virtual qint64 nowMs() = 0;
};

// The order and timing of hand-overs, one step per poll; single-threaded.
class HandOverQueue {
public:
    // A browser whose remote service cannot be watched is taken as ready once it has run
    // for `settleMs`.
    HandOverQueue(HandOverSystem& system, int settleMs) : system_(system), settleMs_(settleMs) {}

    // How long a gone browser must stay gone before the address starts a new one (a
    // browser may end a first process as it starts for real).
    static constexpr int kGoneForMs = 500;
    // How long the next address waits for the previous hand-over to finish, so two
    // addresses never overtake each other.  Firefox's and Chromium's end within a second
    // once the browser's service is up; one that stays has become the browser itself.
    static constexpr int kClientWaitMs = 2000;

    void add(HandOverJob job) { jobs_.push_back(std::move(job)); }
    // Hands the first address over when its browser can take it (or its time is up), and
    // none while the previous hand-over still runs.
    void poll();
    bool idle() const { return jobs_.empty() && !client_; }
    bool hasJobs() const { return !jobs_.empty(); }

private:
    bool ready(const HandOverJob& job, const BrowserState& state, qint64 now);

    HandOverSystem& system_;
    int settleMs_;
    std::deque<HandOverJob> jobs_;
    std::optional<qint64> client_;  // the hand-over that runs
    qint64 clientSince_ = 0;
    std::optional<qint64> goneSince_;
    std::optional<bool> warm_;  // the first job's browser had run its settle time when asked
};

// The queue driven by a thread of its own, polling every `kPollMs` while there is work.
// Destroyed, it first hands over what is still waiting (each within its own time limit),
// so an address asked for just before the program quits still arrives.
class BrowserHandOver {
public:
    static constexpr int kPollMs = 40;

    BrowserHandOver(std::unique_ptr<HandOverSystem> system, int settleMs);
    ~BrowserHandOver();
    BrowserHandOver(const BrowserHandOver&) = delete;
    BrowserHandOver& operator=(const BrowserHandOver&) = delete;

    // Returns at once; `job.askedAtMs` is set here.
    void add(HandOverJob job);
    // Blocks until everything added has been handed over (tests).
    void waitUntilIdle();

private:
    void run();

    std::unique_ptr<HandOverSystem> system_;
    HandOverQueue queue_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<HandOverJob> inbox_;
    bool busy_ = false;  // the worker holds jobs
    bool closing_ = false;
    std::unique_ptr<QThread> thread_;
};

// The real system: the browser's processes in /proc, its remote service on the session bus
// (Firefox) or as a listening socket (Chromium's SingletonSocket).
std::unique_ptr<HandOverSystem> makeLinuxHandOverSystem();

}  // namespace quorvel
