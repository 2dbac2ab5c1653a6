#include "platform/linux/BrowserHandOver.h"

#include <chrono>

namespace quorvel {

bool HandOverQueue::ready(const HandOverJob& job, const BrowserState& state, qint64 now) {
    if (!state.running) {
        // The address then starts the browser itself; but not while a browser may merely be
        // between its first process and its real one.
        if (!goneSince_) goneSince_ = now;
        return now - *goneSince_ >= kGoneForMs;
    }
    goneSince_.reset();
    if (!warm_) warm_ = state.runningForMs - (now - job.askedAtMs) >= settleMs_;
    if (state.remoteAnswers) return true;
    // A browser that had long been running when asked, or one whose service cannot be seen
    // from here (another session bus, a browser of unknown kind), is given its settle time.
    return (!state.remoteWatchable || *warm_) && state.runningForMs >= settleMs_;
}

void HandOverQueue::poll() {
    const qint64 now = system_.nowMs();
    if (client_) {
        if (now - clientSince_ < kClientWaitMs && system_.stillRunning(*client_)) return;
        client_.reset();
    }
    if (jobs_.empty()) return;
    const HandOverJob& job = jobs_.front();
    const BrowserState state = system_.probe(job);
    // At the time limit the address goes anyway: a browser that never shows its service may
    // still take it, and a lost address is worse than a late one.
    if (!ready(job, state, now) && now - job.askedAtMs < job.timeoutMs) return;
    const qint64 pid = system_.launch(job.command);
    if (pid > 0) {
        client_ = pid;
        clientSince_ = now;
    }
    jobs_.pop_front();
    goneSince_.reset();
    warm_.reset();
}

BrowserHandOver::BrowserHandOver(std::unique_ptr<HandOverSystem> system, int settleMs)
    : system_(std::move(system)), queue_(*system_, settleMs) {
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
}

BrowserHandOver::~BrowserHandOver() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_->wait();
}

void BrowserHandOver::add(HandOverJob job) {
    job.askedAtMs = system_->nowMs();
    {
        std::lock_guard lock(mutex_);
        inbox_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void BrowserHandOver::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return inbox_.empty() && !busy_; });
}

void BrowserHandOver::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!inbox_.empty()) {
            queue_.add(std::move(inbox_.front()));
            inbox_.pop_front();
        }
        busy_ = !queue_.idle();
        if (!busy_) {
            changed_.notify_all();
            if (closing_) return;
            changed_.wait(lock);
            continue;
        }
        // Quitting, the last hand-over need not be waited for: nothing comes after it.
        if (closing_ && !queue_.hasJobs()) return;
        lock.unlock();
        queue_.poll();
        lock.lock();
        if (!queue_.idle() && inbox_.empty())
            changed_.wait_for(lock, std::chrono::milliseconds(kPollMs));
    }
}

}  // namespace quorvel
