// Windows that receive typed text, for the typing tests on sway: the project's type_target
// (a Qt text edit) and a terminal running `cat` into a file, natively (foot) or as X
// programs through the session's Xwayland (the edit on Qt's X platform, xterm).  Each
// writes what arrived to a file the test reads back.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "support/SwaySession.h"

namespace quorvel::test {

class SwayTextTarget {
public:
    enum class Kind { QtEdit, Foot, QtEditOnX, XTerm };
    // Whether the kind is an X program, which needs a session with Xwayland.
    static bool onX(Kind kind) { return kind == Kind::QtEditOnX || kind == Kind::XTerm; }
    static std::string nameOf(Kind kind);

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
    bool isTerminal() const { return kind_ == Kind::Foot || kind_ == Kind::XTerm; }
    void startTerminal();
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
