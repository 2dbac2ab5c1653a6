#include "DesktopProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace quorvel::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

// The fields of /proc/<pid>/stat from the third (the state) on; empty when gone.  The
// command name may hold blanks and parentheses: the fields follow the last ')'.
std::string statFields(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return {};
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 > line.size() ? std::string()
                                                                 : line.substr(close + 2);
}

namespace {

// The parent's pid of `pid` from /proc, or -1.
pid_t parentOf(pid_t pid) {
    const std::string fields = statFields(pid);
    if (fields.empty()) return -1;
    std::istringstream rest(fields);
    char state = 0;
    pid_t ppid = -1;
    rest >> state >> ppid;
    return ppid;
}

// Reaps whatever of group `pgid` has ended and is our child.
void reapGroup(pid_t pgid) {
    while (waitpid(-pgid, nullptr, WNOHANG) > 0) {
    }
}

}  // namespace

pid_t spawnProcess(const SpawnOptions& options) {
    if (options.argv.empty()) return -1;
    std::vector<std::string> argv = options.argv;
    std::vector<std::string> env = options.env;
    if (env.empty())
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
    auto argp = pointers(argv);
    auto envp = pointers(env);
    const pid_t parent = getpid();
    const std::string log = options.logFile.empty() ? "/dev/null" : options.logFile;

    const pid_t pid = fork();
    if (pid != 0) {
        if (pid > 0) setpgid(pid, pid);  // also here, so a kill right after fork reaches it
        return pid;
    }
    // Child: async-signal-safe calls only until exec.
    setpgid(0, 0);
    if (options.parentDeathKill) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
    }
    const int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    const int out = options.outputFd >= 0 ? options.outputFd
                                          : open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    if (options.passFd >= 0) {
        if (options.passFd == 3) fcntl(3, F_SETFD, 0);
        else dup2(options.passFd, 3);
    }
    // Nothing else of this process leaks into the programs it starts.
    syscall(SYS_close_range, options.passFd >= 0 ? 4u : 3u, ~0u, 0u);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
}

int runProcess(const SpawnOptions& options, std::string* output, std::chrono::milliseconds timeout) {
    int fds[2] = {-1, -1};
    SpawnOptions o = options;
    if (output) {
        if (pipe2(fds, O_CLOEXEC) != 0) return -1;
        o.outputFd = fds[1];
    }
    const pid_t pid = spawnProcess(o);
    if (output) close(fds[1]);
    if (pid < 0) {
        if (output) close(fds[0]);
        return -1;
    }
    const auto deadline = Clock::now() + timeout;
    bool timedOut = false;
    if (output) {
        output->clear();
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                break;
            }
            pollfd p{fds[0], POLLIN, 0};
            const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
            if (r < 0 && errno != EINTR) break;
            if (r <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            output->append(buf, static_cast<std::size_t>(n));
        }
        close(fds[0]);
    }
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return -1;
        if (timedOut || Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            reapGroup(pid);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    reapGroup(pid);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void stopProcessGroup(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);  // in case it left the group
    const auto deadline = Clock::now() + grace;
    for (;;) {
        reapGroup(pid);
        waitpid(pid, nullptr, WNOHANG);
        const bool groupGone = kill(-pid, 0) != 0 && errno == ESRCH;
        const bool leaderGone = kill(pid, 0) != 0 && errno == ESRCH;
        if (groupGone && leaderGone) return;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    const auto hard = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < hard) {
        reapGroup(pid);
        waitpid(pid, nullptr, WNOHANG);
        if (kill(-pid, 0) != 0 && kill(pid, 0) != 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

double processTreeMiB(pid_t root) {
    std::vector<pid_t> all = descendantsOf(root);
    all.push_back(root);
    double kib = 0;
    for (pid_t p : all) {
        std::ifstream in("/proc/" + std::to_string(p) + "/smaps_rollup");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("Pss:", 0) == 0) kib += std::strtod(line.c_str() + 4, nullptr);
    }
    return kib / 1024;
}

double cpuSeconds(pid_t pid) {
    const std::string fields = statFields(pid);
    if (fields.empty()) return -1;
    // State is field 3, utime and stime fields 14 and 15.
    std::istringstream rest(fields);
    std::string field;
    for (int i = 3; i < 14; ++i) rest >> field;
    unsigned long long user = 0, system = 0;
    if (!(rest >> user >> system)) return -1;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::vector<pid_t> descendantsOf(pid_t ancestor) {
    std::map<pid_t, pid_t> parent;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            char* end = nullptr;
            const long pid = std::strtol(e->d_name, &end, 10);
            if (pid <= 0 || *end != '\0') continue;
            const pid_t pp = parentOf(static_cast<pid_t>(pid));
            if (pp >= 0) parent[static_cast<pid_t>(pid)] = pp;
        }
        closedir(d);
    }
    std::vector<pid_t> out;
    for (const auto& [pid, pp] : parent) {
        pid_t p = pp;
        for (int depth = 0; p > 1 && depth < 64; ++depth) {
            if (p == ancestor) {
                out.push_back(pid);
                break;
            }
            const auto it = parent.find(p);
            if (it == parent.end()) break;
            p = it->second;
        }
    }
    return out;
}

ChildProcess::ChildProcess(pid_t pid, std::string name, std::string logFile)
    : pid_(pid), name_(std::move(name)), logFile_(std::move(logFile)) {}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0) return;
    if (!status_) stopProcessGroup(pid_, std::chrono::seconds(3));
    else stopProcessGroup(pid_, std::chrono::milliseconds(500));  // what it left running
}

std::string ChildProcess::logTail(std::size_t bytes) const {
    std::ifstream in(logFile_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string all = s.str();
    return all.size() > bytes ? all.substr(all.size() - bytes) : all;
}

bool ChildProcess::running() {
    if (status_ || pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return !status_;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (running()) {
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

int ChildProcess::terminate(std::chrono::milliseconds grace) {
    if (running()) {
        kill(pid_, SIGTERM);
        if (!waitForExit(grace)) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            status_ = status;
        }
    }
    stopProcessGroup(pid_, std::chrono::milliseconds(1000));
    return status_.value_or(-1);
}

std::string describeWaitStatus(int status) {
    if (status < 0) return "not started";
    if (WIFEXITED(status)) return "exited " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "status " + std::to_string(status);
}

std::string readLine(int fd, std::chrono::milliseconds timeout) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    const auto nl = text.find('\n');
    return nl == std::string::npos ? std::string() : text.substr(0, nl);
}

std::vector<std::string> ownEnvironmentWith(const std::string& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back(extra);
    return env;
}

SessionBus startSessionBus(const std::vector<std::string>& argv, const std::string& mark,
                           const std::string& logFile) {
    SessionBus bus;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        bus.error = "pipe failed";
        return bus;
    }
    SpawnOptions o;
    o.argv = argv;
    o.env = ownEnvironmentWith(mark);
    o.logFile = logFile;
    o.passFd = fds[1];
    const pid_t pid = spawnProcess(o);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        bus.error = "cannot start dbus-daemon";
        return bus;
    }
    bus.process = std::make_unique<ChildProcess>(pid, "dbus-daemon", logFile);
    bus.address = readLine(fds[0], std::chrono::seconds(10));
    close(fds[0]);
    if (bus.address.empty()) bus.error = "the session bus did not start: " + bus.process->logTail();
    return bus;
}

}  // namespace quorvel::test
