// A private X server for tests that need a real one, and programs started on it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quorvel::test {

// Starts Xvfb on a free display number (-displayfd) without TCP; stops it when destroyed.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ok() const { return number_ >= 0; }
    const std::string& error() const { return error_; }
    std::string display() const;  // ":N"
    // Runs setxkbmap on this display; true on success.
    bool setLayout(const std::string& layout) const;

private:
    pid_t pid_ = -1;
    int number_ = -1;
    std::string error_;
};

// A child process on a given display, killed when destroyed.  Its stdin is a pipe.
class ChildProgram {
public:
    ChildProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::string& display);
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool writeStdin(const std::string& text);
    // The child's viewable top-level window (found by _NET_WM_PID), or 0 on timeout.
    unsigned long waitForWindow(std::chrono::milliseconds timeout) const;

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    std::string display_;
};

// Keycodes without any symbol on the display's keyboard, as a client sees them; -1 when the
// display cannot be opened.
int emptyKeycodes(const std::string& display);

// Runs a program to its end with DISPLAY set; its exit status, or -1.
int runProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& display);

}  // namespace quorvel::test
