// Whether a window keeps answering: _NET_WM_PING sent to it every `interval`, as a window
// manager does to tell a program that hangs, from a connection and a thread of its own.
// A window answers from its event loop, so a window thread that sleeps or blocks shows as
// a ping left unanswered for that long.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace quorvel::test {

class WindowPinger {
public:
    WindowPinger(const std::string& display, unsigned long window,
                 std::chrono::milliseconds interval = std::chrono::milliseconds(100));
    ~WindowPinger();
    WindowPinger(const WindowPinger&) = delete;
    WindowPinger& operator=(const WindowPinger&) = delete;

    bool ok() const { return ok_; }
    // The longest a ping waited for its answer, one still waiting included.
    std::chrono::milliseconds longestWait() const;
    int answered() const { return answered_; }

private:
    void loop(std::string display, unsigned long window, std::chrono::milliseconds interval);

    std::atomic<bool> ok_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    mutable std::mutex mutex_;
    std::chrono::milliseconds longest_{0};
    std::chrono::steady_clock::time_point pendingSince_{};
    bool pending_ = false;
    std::thread thread_;
};

}  // namespace quorvel::test
