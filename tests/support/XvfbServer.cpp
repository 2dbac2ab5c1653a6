#include "XvfbServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace quorvel::test {

namespace {

using Clock = std::chrono::steady_clock;

// The environment of this process with DISPLAY replaced; Qt programs started on a display
// must use it, even when this process runs its own widgets offscreen.
std::vector<std::string> environmentWith(const std::string& display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            env.emplace_back(*e);
    if (!display.empty()) {
        env.push_back("DISPLAY=" + display);
        env.push_back("QT_QPA_PLATFORM=xcb");
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Spawns with PATH lookup; `actions` may redirect descriptors.  -1 on failure.
pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::string& display, posix_spawn_file_actions_t* actions) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environmentWith(display);
    auto argp = pointers(argv);
    auto envp = pointers(env);
    pid_t pid = -1;
    if (posix_spawnp(&pid, program.c_str(), actions, nullptr, argp.data(), envp.data()) != 0)
        return -1;
    return pid;
}

// SIGTERM, then SIGKILL if the process does not end within a few seconds.
void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

XvfbServer::XvfbServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_ = spawn("Xvfb",
                 {"-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, "",
                 &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        error_ = "cannot start Xvfb";
        return;
    }
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[32];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        error_ = "Xvfb did not report a display";
        stop(pid_);
        pid_ = -1;
        return;
    }
    number_ = std::stoi(number);
}

XvfbServer::~XvfbServer() { stop(pid_); }

std::string XvfbServer::display() const {
    std::string name(":");
    name += std::to_string(number_);
    return name;
}

bool XvfbServer::setLayout(const std::string& layout) const {
    return ok() && runProgram("setxkbmap", {"-display", display(), layout}, display()) == 0;
}

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& display)
    : display_(display) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    pid_ = spawn(program, args, display, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    stdin_ = fds[1];
}

ChildProgram::~ChildProgram() {
    if (stdin_ >= 0) close(stdin_);
    stop(pid_);
}

bool ChildProgram::writeStdin(const std::string& text) {
    return stdin_ >= 0 &&
           write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

unsigned long ChildProgram::waitForWindow(std::chrono::milliseconds timeout) const {
    if (pid_ <= 0) return 0;
    Display* dpy = XOpenDisplay(display_.c_str());
    if (!dpy) return 0;
    XErrorHandler previous = XSetErrorHandler(ignoreErrors);
    const Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", False);
    unsigned long found = 0;
    const auto deadline = Clock::now() + timeout;
    while (found == 0 && Clock::now() < deadline) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int n = 0;
        if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n)) {
            for (unsigned int i = 0; i < n && found == 0; ++i) {
                Atom type = 0;
                int format = 0;
                unsigned long count = 0, after = 0;
                unsigned char* data = nullptr;
                if (XGetWindowProperty(dpy, children[i], pidAtom, 0, 1, False, XA_CARDINAL,
                                       &type, &format, &count, &after, &data) == Success &&
                    data) {
                    XWindowAttributes attrs;
                    if (count == 1 && *reinterpret_cast<unsigned long*>(data) ==
                                          static_cast<unsigned long>(pid_) &&
                        XGetWindowAttributes(dpy, children[i], &attrs) &&
                        attrs.map_state == IsViewable)
                        found = children[i];
                    XFree(data);
                }
            }
            if (children) XFree(children);
        }
        if (found == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XSync(dpy, False);
    XSetErrorHandler(previous);
    XCloseDisplay(dpy);
    return found;
}

int emptyKeycodes(const std::string& display) {
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) return -1;
    int minKc = 0, maxKc = 0, perKey = 0;
    XDisplayKeycodes(dpy, &minKc, &maxKc);
    KeySym* syms =
        XGetKeyboardMapping(dpy, static_cast<KeyCode>(minKc), maxKc - minKc + 1, &perKey);
    int empty = 0;
    for (int kc = 0; kc <= maxKc - minKc; ++kc) {
        bool none = true;
        for (int i = 0; i < perKey; ++i) none = none && syms[kc * perKey + i] == NoSymbol;
        empty += none;
    }
    XFree(syms);
    XCloseDisplay(dpy);
    return empty;
}

int runProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& display) {
    const pid_t pid = spawn(program, args, display, nullptr);
    if (pid < 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quorvel::test
