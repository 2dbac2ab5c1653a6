// Native Wayland windows that receive typed text, for the typing tests on sway: the
// project's type_target (a Qt text edit) and foot running `cat` into a file.  Each writes
// what arrived to a file the test reads back.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "support/SwaySession.h"

namespace quorvel::test {

class SwayTextTarget {
public:
    enum class Kind { QtEdit, Foot };

    SwayTextTarget(SwaySession& session, Kind kind, const std::string& name);
    ~SwayTextTarget();
    SwayTextTarget(const SwayTextTarget&) = delete;
    SwayTextTarget& operator=(const SwayTextTarget&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    long window() const { return window_.id; }
    const SwayWindow& info() const { return window_; }
    ChildProcess* process() { return process_.get(); }

    // What arrived so far.
    std::string text() const;
    // Empties the target and waits until it says so; false when it did not.
    bool clear();
    // Waits until the text equals `expected`, or until it has not changed for `settle`;
    // the text then.
    std::string waitFor(const std::string& expected,
                        std::chrono::milliseconds settle = std::chrono::seconds(3)) const;

private:
    bool startFoot();
    SwaySession& session_;
    Kind kind_;
    std::string folder_;
    std::string out_;
    std::string fifo_;
    int commands_ = -1;  // the edit's stdin, held open both ways so it never sees an end
    int clears_ = 0;
    std::unique_ptr<ChildProcess> process_;
    SwayWindow window_;
    std::string error_;
};

}  // namespace quorvel::test
