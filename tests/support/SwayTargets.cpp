#include "SwayTargets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/DesktopSession.h"  // waitUntil

namespace quorvel::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string SwayTextTarget::nameOf(Kind kind) {
    switch (kind) {
        case Kind::QtEdit: return "QtEdit";
        case Kind::Foot: return "Foot";
        case Kind::QtEditOnX: return "QtEditOnX";
        case Kind::XTerm: return "XTerm";
    }
    return "?";
}

SwayTextTarget::SwayTextTarget(SwaySession& session, Kind kind, const std::string& name)
    : session_(session), kind_(kind) {
    if (!session.ok()) {
        error_ = "no session: " + session.error();
        return;
    }
    folder_ = session.newFolder("target-" + name);
    if (folder_.empty()) {
        error_ = "cannot make the target's folder";
        return;
    }
    out_ = folder_ + "/typed.txt";
    const Environment x = onX(kind) ? session.xEnvironment() : Environment{};
    if (onX(kind) && x.empty()) {
        error_ = "an X target needs a session with Xwayland";
        return;
    }
    if (isTerminal()) {
        startTerminal();
    } else {
        // Commands reach the edit through a FIFO on its stdin; opened here for both
        // reading and writing, so opening never blocks and the edit never reads an end.
        fifo_ = folder_ + "/commands";
        if (mkfifo(fifo_.c_str(), 0600) != 0 || !session.user().chownToUser(fifo_) ||
            (commands_ = open(fifo_.c_str(), O_RDWR | O_CLOEXEC)) < 0) {
            error_ = "cannot make the command FIFO";
            return;
        }
        process_ = session.start(
            {"sh", "-c", "exec " + shellQuoted(session.testProgram("type_target")) + " " +
                             shellQuoted(out_) + " < " + shellQuoted(fifo_)},
            x, "type_target-" + name);
    }
    if (!process_) {
        error_ = "cannot start the target";
        return;
    }
    const pid_t pid = process_->pid();
    const auto w =
        session.waitForWindow([&](const SwayWindow& w) { return w.pid == pid; }, 20s);
    if (!w) {
        error_ = "the target showed no window: " + process_->logTail();
        return;
    }
    window_ = *w;
    // Qt writes the empty file once the edit is up; foot's cat makes it at once.
    if (!waitUntil([&] { return fs::exists(out_); }, 10s)) error_ = "the target made no file";
}

void SwayTextTarget::startTerminal() {
    // No line discipline buffering and no echo: each character reaches the file as it
    // arrives; Return arrives as a line feed.  Appending, so the test may truncate it.
    const std::string script = "stty -icanon -echo min 1; exec cat >> " + shellQuoted(out_);
    if (kind_ == Kind::XTerm) {
        // A fontconfig font: Xwayland has no core fonts unless a font package brings them.
        process_ = session_.start({"xterm", "-class", "xterm-sink", "-u8", "-fa", "monospace",
                                   "-fs", "9", "-e", "sh", "-c", "cd / && " + script},
                                  session_.xEnvironment(), "xterm");
        return;
    }
    // A font that is installed everywhere, so foot starts without a search.  The shell
    // starts in / : the tests' folder may be closed to the desktop user, and foot 1.13
    // (Debian 12) runs no shell at all in a folder it cannot enter.
    process_ = session_.start({"foot", "--app-id=foot-sink", "-o", "font=monospace:size=9",
                               "--working-directory=/", "sh", "-c", script},
                              {}, "foot");
}

SwayTextTarget::~SwayTextTarget() {
    if (process_ && process_->running()) process_->terminate(3s);
    if (commands_ >= 0) close(commands_);
}

std::string SwayTextTarget::text() const { return readAll(out_); }

bool SwayTextTarget::clear() {
    if (!ok()) return false;
    if (isTerminal()) {
        // cat appends, so a truncated file stays truncated.
        std::ofstream(out_, std::ios::binary | std::ios::trunc);
        return text().empty();
    }
    const std::string ack = std::to_string(++clears_);
    const std::string line = "clear " + ack + "\n";
    if (write(commands_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return false;
    return waitUntil([&] { return readAll(out_ + ".ack") == ack; }, 10s, 5ms) && text().empty();
}

std::string SwayTextTarget::waitFor(const std::string& expected,
                                    std::chrono::milliseconds settle) const {
    auto lastChange = Clock::now();
    std::string got = text();
    while (got != expected && Clock::now() - lastChange < settle) {
        std::this_thread::sleep_for(10ms);
        std::string now = text();
        if (now != got) lastChange = Clock::now();
        got = std::move(now);
    }
    return got;
}

}  // namespace quorvel::test
