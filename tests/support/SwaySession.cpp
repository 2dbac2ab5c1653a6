#include "SwaySession.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "support/DesktopSession.h"  // waitUntil, currentTestName

extern char** environ;

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

// One output of a fixed size, no bar, no borders or gaps, so a window's content is where
// its container is; focus moves only when a test asks or clicks.  Xwayland only when asked
// (a program must not find X through it otherwise), then started at once rather than at
// the first X client, and a script run by sway tells which display it got: sway sets
// DISPLAY only in what it starts.
std::string configText(const std::string& extra, const std::string& xScript) {
    return "output HEADLESS-1 mode " + std::to_string(SwaySession::kWidth) + "x" +
           std::to_string(SwaySession::kHeight) +
           " position 0 0\n" +
           (xScript.empty() ? "xwayland disable\n" : "xwayland force\nexec " + xScript + "\n") +
           "default_border none\n"
           "default_floating_border none\n"
           "titlebar_border_thickness 0\n"
           "gaps inner 0\n"
           "focus_follows_mouse no\n"
           "focus_on_window_activation focus\n"
           "seat * hide_cursor 0\n" +
           extra + "\n";
}

void collectWindows(const QJsonObject& node, bool floating, std::vector<SwayWindow>& out) {
    const QString type = node.value("type").toString();
    if ((type == "con" || type == "floating_con") && node.contains("app_id") &&
        node.value("nodes").toArray().isEmpty()) {
        SwayWindow w;
        w.id = node.value("id").toInteger();
        w.appId = node.value("app_id").toString().toStdString();
        w.title = node.value("name").toString().toStdString();
        w.pid = static_cast<pid_t>(node.value("pid").toInteger());
        w.xwayland = node.value("shell").toString() == "xwayland";
        if (w.xwayland) {
            const QJsonObject x = node.value("window_properties").toObject();
            w.appId = x.value("class").toString().toStdString();
        }
        w.focused = node.value("focused").toBool();
        w.floating = floating || type == "floating_con";
        const QJsonObject r = node.value("rect").toObject();
        const QJsonObject c = node.value("window_rect").toObject();
        w.rect = {r.value("x").toInt() + c.value("x").toInt(),
                  r.value("y").toInt() + c.value("y").toInt(), c.value("width").toInt(),
                  c.value("height").toInt()};
        out.push_back(std::move(w));
    }
    for (const QJsonValue& child : node.value("nodes").toArray())
        collectWindows(child.toObject(), floating, out);
    for (const QJsonValue& child : node.value("floating_nodes").toArray())
        collectWindows(child.toObject(), true, out);
}

std::vector<const SwaySession*>& liveSessions() {
    static std::vector<const SwaySession*> sessions;
    return sessions;
}

// The screen and the tree at a test's first failure: by the time the session ends, the
// windows of the programs the test ended are gone.
class FirstFailureShots : public ::testing::EmptyTestEventListener {
public:
    // Installed while a test runs: that test's start has gone by.
    explicit FirstFailureShots(std::string test) : test_(std::move(test)) {}

private:
    // gtest holds its lock while it reports a result, so the name is noted before.
    void OnTestStart(const ::testing::TestInfo& info) override {
        test_ = std::string(info.test_suite_name()) + "." + info.name();
        for (char& c : test_)
            if (c == '/') c = '_';
        shot_ = false;
    }
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed() || shot_ || liveSessions().empty()) return;
        shot_ = true;
        // What an earlier run of this test kept would mislead.
        std::error_code ec;
        fs::remove_all(waylandArtifactPath(test_), ec);
        int n = 0;
        for (const SwaySession* s : liveSessions())
            s->keepScreen(test_, "at-first-failure" + (n++ ? "-" + std::to_string(n) : std::string()));
    }
    std::string test_;
    bool shot_ = false;
};

void watchFailures(const SwaySession* session) {
    static const bool installed = [] {
        ::testing::UnitTest::GetInstance()->listeners().Append(new FirstFailureShots(currentTestName()));
        return true;
    }();
    static_cast<void>(installed);
    liveSessions().push_back(session);
}

void forget(const SwaySession* session) {
    auto& v = liveSessions();
    v.erase(std::remove(v.begin(), v.end(), session), v.end());
}

// Folders of sessions whose test process was killed (a timeout, say) before it could
// clean up: an hour old and no process left that carries their mark.
void removeStaleSessionFolders() {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    std::vector<fs::path> stale;
    for (const auto& e : fs::directory_iterator("/tmp", ec)) {
        if (e.path().filename().string().rfind("quorvel-sway-", 0) != 0) continue;
        const auto changed = fs::last_write_time(e.path(), ec);
        if (!ec && now - changed > std::chrono::hours(1)) stale.push_back(e.path());
    }
    if (stale.empty()) return;
    std::string environments;
    for (const auto& e : fs::directory_iterator("/proc", ec))
        environments += readAll(e.path().string() + "/environ");
    for (const fs::path& dir : stale)
        if (environments.find("QUORVEL_SWAY_SESSION=" + dir.string() + '\0') == std::string::npos)
            fs::remove_all(dir, ec);
}

}  // namespace

std::string waylandArtifactPath(const std::string& name) {
    const std::string dir = QUORVEL_BINARY_DIR "/tests/wayland-artifacts";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir + "/" + name;
}

SwaySession::SwaySession(const std::string& extraConfig, X x) {
    const DesktopUser& u = user();
    if (!u.ok()) {
        error_ = u.error();
        return;
    }
    // Daemons that leave their parent stay our descendants, so they end with the session.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    removeStaleSessionFolders();
    folder_ = u.makeTempDir("quorvel-sway");
    if (folder_.empty()) {
        error_ = "cannot make the session folder";
        return;
    }
    mark_ = "QUORVEL_SWAY_SESSION=" + folder_;
    // XDG_RUNTIME_DIR must be the user's own and private, or sway and Qt refuse it.
    if (newFolder("logs").empty() || newFolder("home").empty() || newFolder("run").empty() ||
        newFolder("bin").empty()) {
        error_ = "cannot make the session's folders";
        return;
    }
    for (const char* name : {"wl_click", "type_target"})
        if (u.copyForUser(QUORVEL_BINARY_DIR "/tests/" + std::string(name), folder_ + "/bin").empty()) {
            error_ = std::string("cannot copy ") + name + " for the user";
            return;
        }
    if (!startBus() || !startSway(extraConfig, x) || !plugInMouse()) return;
    if (x == X::Xwayland && !waitForXwayland()) return;
    watchFailures(this);
}

SwaySession::~SwaySession() {
    forget(this);
    if (::testing::Test::HasFailure() && sway_) keepArtifacts();
    endStrays();
    mouse_.reset();
    sway_.reset();
    bus_.reset();
    endStrays();
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

std::string SwaySession::logFile(const std::string& name) const {
    return folder_ + "/logs/" + std::to_string(++logCount_) + "-" + name + ".log";
}

std::string SwaySession::newFolder(const std::string& name) const {
    const std::string path = folder_ + "/" + name;
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || chmod(path.c_str(), 0700) != 0 || !user().chownToUser(path)) return {};
    return path;
}

bool SwaySession::writeUserFile(const std::string& path, const std::string& bytes) const {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return false;
    }
    for (fs::path p = fs::path(path); p.string().size() > folder_.size(); p = p.parent_path())
        if (!user().chownToUser(p.string())) return false;
    return true;
}

Environment SwaySession::environment() const {
    const DesktopUser& u = user();
    Environment env{
        {"HOME", home()},
        {"USER", u.name()},
        {"LOGNAME", u.name()},
        {"SHELL", "/bin/sh"},
        {"PATH", "/usr/local/bin:/usr/bin:/bin"},
        {"LANG", "C.UTF-8"},
        {"XDG_RUNTIME_DIR", folder_ + "/run"},
        {"WAYLAND_DISPLAY", "wayland-1"},
        {"XDG_SESSION_TYPE", "wayland"},
        {"QT_QPA_PLATFORM", "wayland"},
        {"NO_AT_BRIDGE", "1"},
    };
    if (!swaySocket_.empty()) env["SWAYSOCK"] = swaySocket_;
    if (!busAddress_.empty()) env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
    // No DISPLAY, even with Xwayland on: only the X targets get it (xEnvironment).
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* v = std::getenv(name); v && *v) env[name] = v;
    const auto eq = mark_.find('=');
    env[mark_.substr(0, eq)] = mark_.substr(eq + 1);
    return env;
}

Environment SwaySession::xEnvironment() const {
    if (xDisplay_.empty()) return {};
    return {{"DISPLAY", xDisplay_}, {"QT_QPA_PLATFORM", "xcb"}};
}

bool SwaySession::startBus() {
    const std::vector<std::string> argv =
        user().command({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                        "--address=unix:path=" + folder_ + "/run/bus", "--print-address=3"},
                       environment());
    SessionBus bus = startSessionBus(argv, mark_, logFile("dbus-daemon"));
    bus_ = std::move(bus.process);
    busAddress_ = bus.address;
    error_ = bus.error;
    return error_.empty();
}

bool SwaySession::startSway(const std::string& extraConfig, X x) {
    const std::string config = folder_ + "/sway.config";
    std::string xScript;
    if (x == X::Xwayland) {
        // A script rather than the command in the config: sway would read "$DISPLAY" as a
        // variable of its own.
        xScript = folder_ + "/bin/tell-display";
        const std::string out = folder_ + "/run/x-display";
        if (!writeUserFile(xScript, "#!/bin/sh\nprintf '%s' \"$DISPLAY\" > " + out +
                                        ".part && mv " + out + ".part " + out + "\n") ||
            chmod(xScript.c_str(), 0700) != 0) {
            error_ = "cannot write the display script";
            return false;
        }
    }
    if (!writeUserFile(config, configText(extraConfig, xScript))) {
        error_ = "cannot write sway's config";
        return false;
    }
    Environment env = environment();
    env.erase("WAYLAND_DISPLAY");  // sway picks the first free socket; it is the only one
    env.erase("QT_QPA_PLATFORM");
    env["WLR_BACKENDS"] = "headless";
    env["WLR_RENDERER"] = "pixman";
    env["WLR_LIBINPUT_NO_DEVICES"] = "1";
    SpawnOptions o;
    o.argv = user().command({"sway", "-c", config}, env);
    o.env = ownEnvironmentWith(mark_);
    o.logFile = logFile("sway");
    const pid_t pid = spawnProcess(o);
    if (pid < 0) {
        error_ = "cannot start sway";
        return false;
    }
    sway_ = std::make_unique<ChildProcess>(pid, "sway", o.logFile);
    // Ready once both its Wayland socket and its IPC socket are there.
    const std::string run = folder_ + "/run";
    const bool ready = waitUntil(
        [&] {
            if (!sway_->running()) return false;
            std::error_code ec;
            bool wayland = false;
            for (const auto& e : fs::directory_iterator(run, ec)) {
                const std::string n = e.path().filename().string();
                if (n == "wayland-1") wayland = true;
                if (n.rfind("sway-ipc.", 0) == 0) swaySocket_ = e.path().string();
            }
            return wayland && !swaySocket_.empty();
        },
        20s);
    if (!ready) {
        error_ = std::string("sway did not start (") +
                 (sway_->running() ? "no sockets" : "it ended") + "): " + sway_->logTail();
        return false;
    }
    // The IPC socket answers once the config has been read.
    if (!waitUntil([&] { return command("nop"); }, 10s)) {
        error_ = "sway does not answer on its socket: " + sway_->logTail();
        return false;
    }
    return true;
}

bool SwaySession::plugInMouse() {
    mouse_ = start({testProgram("wl_click"), "--hold"}, {}, "mouse");
    const bool plugged = mouse_ && waitUntil(
        [&] {
            std::string json;
            if (run({"swaymsg", "--raw", "-t", "get_inputs"}, {}, &json, 5s) != 0) return false;
            for (const QJsonValue& input :
                 QJsonDocument::fromJson(QByteArray::fromStdString(json)).array())
                if (input.toObject().value("type").toString() == "pointer") return true;
            return false;
        },
        10s, 50ms);
    if (!plugged) error_ = "the session's pointer did not appear: " + logTail();
    return plugged;
}

bool SwaySession::waitForXwayland() {
    const std::string file = folder_ + "/run/x-display";
    if (!waitUntil([&] { return !readAll(file).empty(); }, 20s)) {
        error_ = "sway told no X display: " + sway_->logTail();
        return false;
    }
    xDisplay_ = readAll(file);
    // X clients map windows once sway manages X windows: it marks the root window then.
    const bool managed = waitUntil(
        [&] {
            std::string out;
            return run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, xEnvironment(), &out,
                       5s) == 0 &&
                   out.find("window id") != std::string::npos;
        },
        20s, 100ms);
    if (!managed) {
        error_ = "Xwayland on " + xDisplay_ + " did not come up: " + sway_->logTail();
        return false;
    }
    return true;
}

std::unique_ptr<ChildProcess> SwaySession::start(const std::vector<std::string>& argv,
                                                 const Environment& extra,
                                                 const std::string& name) {
    if (argv.empty() || !ok()) return nullptr;
    Environment env = environment();
    for (const auto& [k, v] : extra) env[k] = v;
    const std::string label = name.empty() ? fs::path(argv[0]).filename().string() : name;
    SpawnOptions o;
    o.argv = user().command(argv, env);
    o.env = ownEnvironmentWith(mark_);
    o.logFile = logFile(label);
    const pid_t pid = spawnProcess(o);
    if (pid < 0) return nullptr;
    return std::make_unique<ChildProcess>(pid, label, o.logFile);
}

int SwaySession::run(const std::vector<std::string>& argv, const Environment& extra,
                     std::string* output, std::chrono::milliseconds timeout) const {
    Environment env = environment();
    for (const auto& [k, v] : extra) env[k] = v;
    SpawnOptions o;
    o.argv = user().command(argv, env);
    o.env = ownEnvironmentWith(mark_);
    return runProcess(o, output, timeout);
}

bool SwaySession::command(const std::string& cmd, std::string* reply) const {
    std::string out;
    if (run({"swaymsg", "--raw", "--", cmd}, {}, &out, 10s) != 0) {
        if (reply) *reply = out;
        return false;
    }
    if (reply) *reply = out;
    // One result per command, each with "success".
    const QJsonArray results = QJsonDocument::fromJson(QByteArray::fromStdString(out)).array();
    if (results.isEmpty()) return false;
    for (const QJsonValue& r : results)
        if (!r.toObject().value("success").toBool()) return false;
    return true;
}

std::vector<SwayWindow> SwaySession::windows() const {
    std::vector<SwayWindow> out;
    std::string json;
    if (run({"swaymsg", "--raw", "-t", "get_tree"}, {}, &json, 10s) != 0) return out;
    collectWindows(QJsonDocument::fromJson(QByteArray::fromStdString(json)).object(), false, out);
    return out;
}

std::optional<SwayWindow> SwaySession::window(long id) const {
    for (SwayWindow& w : windows())
        if (w.id == id) return std::move(w);
    return std::nullopt;
}

std::optional<SwayWindow> SwaySession::focused() const {
    for (SwayWindow& w : windows())
        if (w.focused) return std::move(w);
    return std::nullopt;
}

std::optional<SwayWindow> SwaySession::waitForWindow(
    const std::function<bool(const SwayWindow&)>& match, std::chrono::milliseconds timeout) const {
    std::optional<SwayWindow> found;
    waitUntil(
        [&] {
            for (SwayWindow& w : windows())
                if (w.rect.width > 0 && w.rect.height > 0 && match(w)) {
                    found = std::move(w);
                    return true;
                }
            return false;
        },
        timeout, 50ms);
    return found;
}

bool SwaySession::focus(long id, std::chrono::milliseconds timeout) const {
    if (!command("[con_id=" + std::to_string(id) + "] focus")) return false;
    return waitUntil(
        [&] {
            const auto f = focused();
            return f && f->id == id;
        },
        timeout, 30ms);
}

bool SwaySession::click(Point p) const {
    return run({testProgram("wl_click"), std::to_string(p.x), std::to_string(p.y),
                std::to_string(kWidth), std::to_string(kHeight)},
               {}, nullptr, 10s) == 0;
}

bool SwaySession::wtype(const std::string& utf8, const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"wtype"};
    argv.insert(argv.end(), args.begin(), args.end());
    // Keys alone (-k Return) without a text.
    if (!utf8.empty()) {
        argv.push_back("--");
        argv.push_back(utf8);
    }
    return run(argv, {}, nullptr, 60s) == 0;
}

bool SwaySession::screenshot(const std::string& path) const {
    // grim writes as the user into the session; the file is then moved where asked.
    const std::string temp = folder_ + "/run/screenshot.png";
    if (run({"grim", temp}, {}, nullptr, 20s) != 0) return false;
    std::error_code ec;
    fs::copy_file(temp, path, fs::copy_options::overwrite_existing, ec);
    fs::remove(temp, ec);
    return !ec;
}

std::string SwaySession::logTail(std::size_t bytes) const {
    return sway_ ? sway_->logTail(bytes) : std::string();
}

void SwaySession::keepScreen(const std::string& test, const std::string& name) const {
    const std::string dir = waylandArtifactPath(test);
    std::error_code ec;
    fs::create_directories(dir, ec);
    screenshot(dir + "/" + name + ".png");
    std::string tree;
    run({"swaymsg", "--raw", "-t", "get_tree"}, {}, &tree, 10s);
    std::ofstream(dir + "/" + name + "-tree.json") << tree;
}

void SwaySession::keepArtifacts() {
    const std::string dir = waylandArtifactPath(currentTestName());
    std::error_code ec;
    keepScreen(currentTestName(), "at-end");
    for (const auto& e : fs::directory_iterator(folder_ + "/logs", ec))
        fs::copy_file(e.path(), dir + "/" + e.path().filename().string(),
                      fs::copy_options::overwrite_existing, ec);
    std::cerr << "sway session: screenshot, tree and logs kept in " << dir << "\n";
}

void SwaySession::endStrays() {
    if (mark_.empty()) return;
    const std::string needle = mark_ + '\0';
    auto marked = [&] {
        std::vector<pid_t> out;
        DIR* d = opendir("/proc");
        if (!d) return out;
        while (dirent* e = readdir(d)) {
            char* end = nullptr;
            const long pid = std::strtol(e->d_name, &end, 10);
            if (pid <= 0 || *end != '\0' || pid == getpid()) continue;
            if (readAll("/proc/" + std::string(e->d_name) + "/environ").find(needle) !=
                std::string::npos)
                out.push_back(static_cast<pid_t>(pid));
        }
        closedir(d);
        return out;
    };
    const std::vector<pid_t> strays = marked();
    // Only those: other children still have handles that reap them.
    auto reap = [&] {
        for (pid_t p : strays) waitpid(p, nullptr, WNOHANG);
    };
    for (pid_t p : strays) kill(p, SIGTERM);
    if (!strays.empty() && !waitUntil([&] { return reap(), marked().empty(); }, 3s)) {
        for (pid_t p : marked()) kill(p, SIGKILL);
        waitUntil([&] { return reap(), marked().empty(); }, 3s);
    }
}

}  // namespace quorvel::test
