// Processes that desktop tests start: each in a process group of its own, with its output
// in a log file, ended with its whole group when its handle goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::test {

struct SpawnOptions {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH
    // Full environment ("K=V"); empty means this process's own.
    std::vector<std::string> env;
    std::string logFile;     // stdout and stderr appended here; empty: /dev/null
    int outputFd = -1;       // instead of logFile: stdout and stderr go to this descriptor
    int passFd = -1;         // handed to the child as descriptor 3 (Xvfb -displayfd, dbus)
    bool parentDeathKill = true;  // SIGKILL when this process dies without cleaning up
};

// Forks and execs; -1 on failure.  The child leads a new process group.
pid_t spawnProcess(const SpawnOptions& options);

// Runs to the end; the exit code (128+signal when killed), or -1 when it could not start or
// was killed at `timeout`.  `output` gets stdout and stderr when given.
int runProcess(const SpawnOptions& options, std::string* output = nullptr,
               std::chrono::milliseconds timeout = std::chrono::seconds(60));

// SIGTERM to the group, SIGKILL to whatever of it is left after `grace`; reaps `pid`.
void stopProcessGroup(pid_t pid, std::chrono::milliseconds grace);

// The processor time a process has used so far, user and system, in seconds; -1 when gone.
double cpuSeconds(pid_t pid);

// Every process whose chain of parents leads to `ancestor` (not `ancestor` itself).
std::vector<pid_t> descendantsOf(pid_t ancestor);

// What a process and all its descendants hold in memory together, in MiB: the sum of their
// proportional set sizes, so pages they share count once.
double processTreeMiB(pid_t root);

class ChildProcess {
public:
    ChildProcess(pid_t pid, std::string name, std::string logFile);
    ~ChildProcess();  // ends the whole group (SIGTERM, SIGKILL after 3 s)
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& name() const { return name_; }
    const std::string& logFile() const { return logFile_; }
    // The last `bytes` of the log, for failure messages.
    std::string logTail(std::size_t bytes = 4000) const;

    // False once the process has ended (it is reaped then).
    bool running();
    // Waits for the end by itself; the wait status, or nothing at the timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // SIGTERM to the process alone (a program's own shutdown then runs), waits up to
    // `grace` and SIGKILLs after that; the wait status (see <sys/wait.h>).  The rest of
    // the group is ended afterwards.
    int terminate(std::chrono::milliseconds grace = std::chrono::seconds(15));

private:
    pid_t pid_;
    std::string name_;
    std::string logFile_;
    std::optional<int> status_;
};

// "exited 0", "killed by signal 9", ... for messages.
std::string describeWaitStatus(int status);

// Reads a line from `fd` (the number Xvfb prints, the address a bus prints); empty when
// none came in time.
std::string readLine(int fd, std::chrono::milliseconds timeout);
// This process's environment ("K=V") with `extra` added.
std::vector<std::string> ownEnvironmentWith(const std::string& extra);

// A session bus of a test desktop: `argv` runs a dbus-daemon that prints its address on
// descriptor 3 (--print-address=3); the runner's own environment gets `mark`.
struct SessionBus {
    std::unique_ptr<ChildProcess> process;
    std::string address;
    std::string error;  // empty when it started
};
SessionBus startSessionBus(const std::vector<std::string>& argv, const std::string& mark,
                           const std::string& logFile);

}  // namespace quorvel::test
