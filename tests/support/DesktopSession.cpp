#include "DesktopSession.h"

#include <gtest/gtest.h>
// After gtest, and with its None macro gone (WindowManager::None is ours).
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#undef None
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace quorvel::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

std::chrono::milliseconds since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t);
}

// Reads a line from `fd` (the number Xvfb prints, the address the bus prints).
std::string readLine(int fd, std::chrono::milliseconds timeout) {
    std::string text;
    const auto deadline = Clock::now() + timeout;
    while (text.find('\n') == std::string::npos && Clock::now() < deadline) {
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

// A fresh profile that opens the page and nothing else: no first-run pages, no default-
// browser question, no updates or telemetry going out, and no form history whose
// suggestions could take a typed Enter.
const char* const kFirefoxPrefs = R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("startup.homepage_override_url", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.firstrunSkipsHomepage", true);
user_pref("trailhead.firstrun.didSeeAboutWelcome", true);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("app.update.auto", false);
user_pref("app.update.checkInstallTime", false);
user_pref("app.normandy.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("extensions.getAddons.cache.enabled", false);
user_pref("browser.search.update", false);
user_pref("browser.region.update.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.safebrowsing.provider.mozilla.updateURL", "");
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.prefetch-next", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.newtabpage.activity-stream.feeds.system.topstories", false);
user_pref("browser.ping-centre.telemetry", false);
user_pref("browser.translations.enable", false);
user_pref("browser.tabs.warnOnClose", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("browser.formfill.enable", false);
user_pref("signon.rememberSignons", false);
user_pref("signon.autofillForms", false);
user_pref("extensions.formautofill.addresses.enabled", false);
user_pref("extensions.formautofill.creditCards.enabled", false);
user_pref("browser.download.panel.shown", true);
user_pref("media.autoplay.default", 5);
user_pref("toolkit.cosmeticAnimations.enabled", false);
user_pref("ui.prefersReducedMotion", 1);
)";

// The text/html handler the program's start-up check looks for, so it starts quietly.
const char* const kMimeApps =
    "[Default Applications]\n"
    "text/html=firefox-esr.desktop\n"
    "x-scheme-handler/http=firefox-esr.desktop\n"
    "x-scheme-handler/https=firefox-esr.desktop\n";

bool readWholeEnviron(pid_t pid, std::string& out) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

std::vector<const DesktopSession*>& liveSessions() {
    static std::vector<const DesktopSession*> sessions;
    return sessions;
}

// The screen at a test's first failure shows what went wrong; by the time the session
// ends, the windows of the programs the test ended are gone.
class FirstFailureScreenshots : public ::testing::EmptyTestEventListener {
public:
    // gtest holds its lock while it reports a result: the test's name is noted before.
    explicit FirstFailureScreenshots(std::string test) : test_(std::move(test)) {}

private:
    void OnTestStart(const ::testing::TestInfo& info) override {
        test_ = std::string(info.test_suite_name()) + "." + info.name();
        for (char& c : test_)
            if (c == '/') c = '_';
        shot_ = false;
    }
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed() || shot_) return;
        shot_ = true;
        // What an earlier run of this test kept would mislead.
        std::error_code ec;
        fs::remove_all(artifactPath(test_), ec);
        if (liveSessions().empty()) return;
        fs::create_directories(artifactPath(test_), ec);
        int n = 0;
        for (const DesktopSession* s : liveSessions())
            s->screenshot(artifactPath(test_) + "/at-first-failure" +
                          (n++ ? "-" + std::to_string(n) : std::string()) + ".png");
    }
    std::string test_;
    bool shot_ = false;
};

void watchFailures(const DesktopSession* session) {
    static const bool installed = [] {
        ::testing::UnitTest::GetInstance()->listeners().Append(
            new FirstFailureScreenshots(currentTestName()));
        return true;
    }();
    static_cast<void>(installed);
    liveSessions().push_back(session);
}

void forget(const DesktopSession* session) {
    auto& v = liveSessions();
    v.erase(std::remove(v.begin(), v.end(), session), v.end());
}

// What /proc tells of a process.
struct ProcessStat {
    pid_t pid = 0;
    pid_t parent = 0;
    char state = 0;
    unsigned long long startTicks = 0;  // since boot
    uid_t uid = 0;
};

std::vector<ProcessStat> processes() {
    std::vector<ProcessStat> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        const std::string dir = std::string("/proc/") + e->d_name;
        std::ifstream in(dir + "/stat");
        std::string line;
        if (!std::getline(in, line)) continue;
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        ProcessStat p;
        p.pid = static_cast<pid_t>(pid);
        rest >> p.state >> p.parent;
        // Fields 5 to 21, then the start time (field 22).
        std::string skip;
        for (int i = 5; i <= 21; ++i) rest >> skip;
        rest >> p.startTicks;
        struct stat st {};
        if (stat(dir.c_str(), &st) == 0) p.uid = st.st_uid;
        out.push_back(p);
    }
    closedir(d);
    return out;
}

// Folders of sessions whose test process was killed (a timeout, say) before it could
// clean up: an hour old and no process left that carries their mark.
void removeStaleSessionFolders() {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    std::vector<fs::path> stale;
    for (const auto& e : fs::directory_iterator("/tmp", ec)) {
        if (e.path().filename().string().rfind("quorvel-desktop-", 0) != 0) continue;
        const auto changed = fs::last_write_time(e.path(), ec);
        if (!ec && now - changed > std::chrono::hours(1)) stale.push_back(e.path());
    }
    if (stale.empty()) return;
    std::string environments;
    for (const ProcessStat& p : processes()) {
        std::string env;
        if (readWholeEnviron(p.pid, env)) environments += env;
    }
    for (const fs::path& dir : stale)
        if (environments.find("QUORVEL_DESKTOP_SESSION=" + dir.string() + '\0') ==
            std::string::npos)
            fs::remove_all(dir, ec);
}

unsigned long long ticksSinceBoot() {
    std::ifstream in("/proc/uptime");
    double seconds = 0;
    in >> seconds;
    return static_cast<unsigned long long>(seconds * static_cast<double>(sysconf(_SC_CLK_TCK)));
}

}  // namespace

const char* nameOf(WindowManager wm) {
    switch (wm) {
    case WindowManager::None: return "none";
    case WindowManager::Openbox: return "openbox";
    case WindowManager::Xfwm4: return "xfwm4";
    }
    return "?";
}

const char* nameOf(Browser browser) {
    return browser == Browser::FirefoxEsr ? "firefox-esr" : "chromium";
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
}

std::string artifactPath(const std::string& name) {
    const std::string dir = QUORVEL_BINARY_DIR "/tests/desktop-artifacts";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir + "/" + name;
}

std::string currentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) return "no-test";
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

// ---------------------------------------------------------------- the session

DesktopSession::DesktopSession(WindowManager wm) : wm_(wm) {
    const DesktopUser& u = user();
    if (!u.ok()) {
        error_ = u.error();
        return;
    }
    // Daemons that leave their parent (bus-activated services, forking helpers) stay our
    // descendants, so nothing of the session can outlive it unseen.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    startTicks_ = ticksSinceBoot();
    removeStaleSessionFolders();
    folder_ = u.makeTempDir("quorvel-desktop");
    if (folder_.empty()) {
        error_ = "cannot make the session folder";
        return;
    }
    mark_ = "QUORVEL_DESKTOP_SESSION=" + folder_;
    if (newFolder("logs").empty() || !startServer()) return;
    watchFailures(this);
    if (!prepareHome() || !startBus() || !startWindowManager()) return;
}

DesktopSession::~DesktopSession() {
    forget(this);
    if (::testing::Test::HasFailure() && dpy_) keepArtifacts();
    windowManagerProcess_.reset();
    // Programs the test did not end (their handles outlive the session) end with it.
    endStrays();
    bus_.reset();
    if (dpy_) {
        XCloseDisplay(dpy_);
        XSetErrorHandler(reinterpret_cast<XErrorHandler>(previousErrorHandler_));
    }
    server_.reset();
    endStrays();
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

std::string DesktopSession::logFile(const std::string& name) const {
    return folder_ + "/logs/" + std::to_string(++logCount_) + "-" + name + ".log";
}

std::string DesktopSession::newFolder(const std::string& name) const {
    const std::string path = folder_ + "/" + name;
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || chmod(path.c_str(), 0700) != 0 || !user().chownToUser(path)) return {};
    return path;
}

bool DesktopSession::writeUserFile(const std::string& path, const std::string& bytes) const {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return false;
    }
    // Every folder on the way below the session's belongs to the user too.
    for (fs::path p = fs::path(path); p.string().size() > folder_.size(); p = p.parent_path())
        if (!user().chownToUser(p.string())) return false;
    return true;
}

bool DesktopSession::startServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    SpawnOptions o;
    o.argv = {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0",
              std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24"};
    o.env = ownEnvironmentWith(mark_);
    o.logFile = logFile("Xvfb");
    o.passFd = fds[1];
    const pid_t pid = spawnProcess(o);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        error_ = "cannot start Xvfb";
        return false;
    }
    server_ = std::make_unique<ChildProcess>(pid, "Xvfb", o.logFile);
    // Xvfb writes the display number once it accepts connections.
    const std::string number = readLine(fds[0], 20s);
    close(fds[0]);
    if (number.empty()) {
        error_ = "Xvfb did not report a display: " + server_->logTail();
        return false;
    }
    displayNumber_ = std::stoi(number);
    previousErrorHandler_ = reinterpret_cast<void*>(XSetErrorHandler(ignoreXErrors));
    dpy_ = XOpenDisplay(display().c_str());
    if (!dpy_) {
        error_ = "cannot open " + display();
        return false;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy_, &event, &error, &major, &minor)) {
        error_ = "the X server has no XTest";
        return false;
    }
    return true;
}

bool DesktopSession::prepareHome() {
    if (newFolder("home").empty() || newFolder("run").empty() ||
        !writeUserFile(home() + "/.config/mimeapps.list", kMimeApps)) {
        error_ = "cannot prepare the session's home";
        return false;
    }
    // A sanitized build's program reports with the options its tests run under; the
    // suppressions file is copied where the user can read it.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string options = value;
        const std::string key = "suppressions=";
        if (const auto at = options.find(key); at != std::string::npos) {
            const auto end = options.find(':', at);
            const std::string from = options.substr(at + key.size(), end == std::string::npos
                                                                         ? std::string::npos
                                                                         : end - at - key.size());
            std::ifstream in(from, std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            const std::string to = folder_ + "/" + name + ".supp";
            if (!writeUserFile(to, bytes.str())) {
                error_ = "cannot copy " + from;
                return false;
            }
            options.replace(at + key.size(), from.size(), to);
        }
        sanitizerOptions_[name] = options;
    }
    return true;
}

Environment DesktopSession::environment() const {
    const DesktopUser& u = user();
    Environment env{
        {"HOME", home()},
        {"USER", u.name()},
        {"LOGNAME", u.name()},
        {"SHELL", "/bin/sh"},
        {"PATH", "/usr/local/bin:/usr/bin:/bin"},
        {"LANG", "C.UTF-8"},
        {"DISPLAY", display()},
        {"XDG_RUNTIME_DIR", folder_ + "/run"},
        // No accessibility bridge: it would start a bus of its own for nothing.
        {"NO_AT_BRIDGE", "1"},
        {"MOZ_CRASHREPORTER_DISABLE", "1"},
    };
    if (!busAddress_.empty()) env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
    for (const auto& [k, v] : sanitizerOptions_) env[k] = v;
    const auto eq = mark_.find('=');
    env[mark_.substr(0, eq)] = mark_.substr(eq + 1);
    return env;
}

bool DesktopSession::startBus() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    SpawnOptions o;
    o.argv = user().command({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--address=unix:path=" + folder_ + "/run/bus", "--print-address=3"},
                            environment());
    o.env = ownEnvironmentWith(mark_);
    o.logFile = logFile("dbus-daemon");
    o.passFd = fds[1];
    const pid_t pid = spawnProcess(o);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        error_ = "cannot start dbus-daemon";
        return false;
    }
    bus_ = std::make_unique<ChildProcess>(pid, "dbus-daemon", o.logFile);
    busAddress_ = readLine(fds[0], 10s);
    close(fds[0]);
    if (busAddress_.empty()) {
        error_ = "the session bus did not start: " + bus_->logTail();
        return false;
    }
    return true;
}

bool DesktopSession::startWindowManager() {
    std::vector<std::string> argv;
    switch (wm_) {
    case WindowManager::None: return true;
    case WindowManager::Openbox: argv = {"openbox", "--sm-disable"}; break;
    case WindowManager::Xfwm4: argv = {"xfwm4", "--compositor=off", "--sm-client-disable"}; break;
    }
    windowManagerProcess_ = start(argv, {}, nameOf(wm_));
    if (!windowManagerProcess_) {
        error_ = std::string("cannot start ") + nameOf(wm_);
        return false;
    }
    // Ready once it names its check window on the root, and that window names itself.
    const Atom check = XInternAtom(dpy_, "_NET_SUPPORTING_WM_CHECK", False);
    auto windowOf = [&](Window w) -> Window {
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        Window out = 0;
        if (XGetWindowProperty(dpy_, w, check, 0, 1, False, XA_WINDOW, &type, &format, &n, &after,
                               &data) == Success &&
            data) {
            if (n == 1) out = *reinterpret_cast<Window*>(data);
            XFree(data);
        }
        return out;
    };
    const bool ready = waitUntil(
        [&] {
            const Window w = windowOf(DefaultRootWindow(dpy_));
            return w != 0 && windowOf(w) == w;
        },
        20s);
    if (!ready) {
        error_ = std::string(nameOf(wm_)) + " did not take the screen: " +
                 windowManagerProcess_->logTail();
        return false;
    }
    return true;
}

std::unique_ptr<ChildProcess> DesktopSession::start(const std::vector<std::string>& argv,
                                                    const Environment& extra,
                                                    const std::string& name) {
    if (argv.empty()) return nullptr;
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

int DesktopSession::run(const std::vector<std::string>& argv, const Environment& extra,
                        std::string* output, std::chrono::milliseconds timeout) const {
    Environment env = environment();
    for (const auto& [k, v] : extra) env[k] = v;
    SpawnOptions o;
    o.argv = user().command(argv, env);
    o.env = ownEnvironmentWith(mark_);
    return runProcess(o, output, timeout);
}

DesktopSession::BrowserWindow DesktopSession::startBrowser(Browser browser, const std::string& url,
                                                           std::chrono::milliseconds timeout) {
    BrowserWindow out;
    const auto t0 = Clock::now();
    const std::string profile =
        newFolder(std::string(nameOf(browser)) + "-profile-" + std::to_string(++profileCount_));
    if (profile.empty()) {
        out.error = "cannot make a profile folder";
        return out;
    }
    std::function<bool(const WindowInfo&)> isMain;
    if (browser == Browser::FirefoxEsr) {
        if (!writeUserFile(profile + "/user.js", kFirefoxPrefs)) {
            out.error = "cannot write the profile";
            return out;
        }
        out.process = start({"firefox-esr", "--no-remote", "--profile", profile, "--width", "900",
                             "--height", "700", url},
                            {}, "firefox-esr");
        isMain = [](const WindowInfo& w) { return w.instance == "Navigator"; };
    } else {
        out.process = start({"chromium", "--no-first-run", "--disable-background-networking",
                             "--disable-component-update", "--disable-sync",
                             "--no-default-browser-check", "--password-store=basic",
                             "--disable-features=Translate,AutofillServerCommunication",
                             "--user-data-dir=" + profile, "--window-size=900,700",
                             "--window-position=0,0", url},
                            {}, "chromium");
        isMain = [](const WindowInfo& w) {
            return w.windowClass == "Chromium" && w.type == "NORMAL" && w.geometry.width > 200;
        };
    }
    if (!out.process) {
        out.error = std::string("cannot start ") + nameOf(browser);
        return out;
    }
    const pid_t pid = out.process->pid();
    out.window = waitForWindow(
        [&](const WindowInfo& w) {
            if (!w.viewable || w.overrideRedirect || !isMain(w)) return false;
            for (const WindowInfo& mine : windowsOf(pid))
                if (mine.id == w.id) return true;
            return false;
        },
        timeout);
    if (out.window == 0) {
        out.error = std::string(nameOf(browser)) + " showed no window in time (" +
                    (out.process->running() ? "still running" : "it ended") +
                    "): " + out.process->logTail();
        return out;
    }
    const FrameExtents e = frameExtents(out.window);
    if (!moveResize(out.window, {e.left, e.top, 900, 700})) {
        const auto g = geometry(out.window).value_or(Rect{});
        std::ostringstream s;
        s << nameOf(browser) << " window could not be placed; it is at " << g;
        out.error = s.str();
        return out;
    }
    out.startTime = since(t0);
    return out;
}

// ---------------------------------------------------------------- windows

namespace {

std::string stringProperty(Display* dpy, Window w, Atom property, Atom type) {
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::string out;
    if (XGetWindowProperty(dpy, w, property, 0, 4096, False, type, &actual, &format, &n, &after,
                           &data) == Success &&
        data) {
        if (format == 8) out.assign(reinterpret_cast<char*>(data), n);
        XFree(data);
    }
    return out;
}

std::vector<unsigned long> longsProperty(Display* dpy, Window w, Atom property, Atom type) {
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(dpy, w, property, 0, 1024, False, type, &actual, &format, &n, &after,
                           &data) == Success &&
        data) {
        if (format == 32) {
            auto* v = reinterpret_cast<unsigned long*>(data);
            out.assign(v, v + n);
        }
        XFree(data);
    }
    return out;
}

bool hasProperty(Display* dpy, Window w, Atom property) {
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    const bool ok = XGetWindowProperty(dpy, w, property, 0, 0, False, AnyPropertyType, &actual,
                                       &format, &n, &after, &data) == Success &&
                    actual != 0L;
    if (data) XFree(data);
    return ok;
}

std::vector<Window> childrenOf(Display* dpy, Window w) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    std::vector<Window> out;
    if (XQueryTree(dpy, w, &root, &parent, &children, &n)) {
        out.assign(children, children + n);
        if (children) XFree(children);
    }
    return out;
}

Window parentOf(Display* dpy, Window w) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return 0;
    if (children) XFree(children);
    return parent;
}

// True when `pid` is `ancestor` or one of its descendants.
bool inProcessTree(pid_t pid, pid_t ancestor) {
    for (int depth = 0; pid > 1 && depth < 64; ++depth) {
        if (pid == ancestor) return true;
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(in, line)) return false;
        const auto close = line.rfind(')');
        if (close == std::string::npos) return false;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        pid = ppid;
    }
    return false;
}

}  // namespace

unsigned long DesktopSession::clientOf(unsigned long window) const {
    const Atom wmState = XInternAtom(dpy_, "WM_STATE", False);
    std::vector<Window> level{window};
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (Window w : level) {
            if (hasProperty(dpy_, w, wmState)) return w;
            for (Window c : childrenOf(dpy_, w)) next.push_back(c);
        }
        level = std::move(next);
    }
    return 0;
}

std::optional<WindowInfo> DesktopSession::window(unsigned long id) const {
    if (!dpy_ || id == 0) return std::nullopt;
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy_, id, &attrs)) return std::nullopt;
    WindowInfo w;
    w.id = id;
    w.viewable = attrs.map_state == IsViewable;
    w.overrideRedirect = attrs.override_redirect;
    Window child = 0;
    int x = 0, y = 0;
    XTranslateCoordinates(dpy_, id, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child);
    w.geometry = {x, y, attrs.width, attrs.height};
    const Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
    w.title = stringProperty(dpy_, id, XInternAtom(dpy_, "_NET_WM_NAME", False), utf8);
    if (w.title.empty()) w.title = stringProperty(dpy_, id, XA_WM_NAME, XA_STRING);
    const std::string cls = stringProperty(dpy_, id, XA_WM_CLASS, XA_STRING);
    const auto nul = cls.find('\0');
    w.instance = cls.substr(0, nul);
    if (nul != std::string::npos) {
        w.windowClass = cls.substr(nul + 1);
        if (const auto end = w.windowClass.find('\0'); end != std::string::npos)
            w.windowClass.resize(end);
    }
    const auto pid = longsProperty(dpy_, id, XInternAtom(dpy_, "_NET_WM_PID", False), XA_CARDINAL);
    if (!pid.empty()) w.pid = static_cast<pid_t>(pid[0]);
    const auto types =
        longsProperty(dpy_, id, XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM);
    if (!types.empty()) {
        if (char* name = XGetAtomName(dpy_, types[0])) {
            w.type = name;
            XFree(name);
            const std::string prefix = "_NET_WM_WINDOW_TYPE_";
            if (w.type.rfind(prefix, 0) == 0) w.type = w.type.substr(prefix.size());
        }
    }
    return w;
}

std::vector<WindowInfo> DesktopSession::windows() const {
    std::vector<WindowInfo> out;
    if (!dpy_) return out;
    for (Window top : childrenOf(dpy_, DefaultRootWindow(dpy_))) {
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(dpy_, top, &attrs)) continue;
        // A frame holds the client; without a window manager the top window is the client.
        Window client = attrs.override_redirect ? top : clientOf(top);
        if (client == 0 && wm_ == WindowManager::None) client = top;
        if (client == 0) continue;
        if (auto info = window(client)) {
            // A client inside an unmapped frame is not on the screen.
            if (client != top && attrs.map_state != IsViewable) info->viewable = false;
            out.push_back(*info);
        }
    }
    return out;
}

std::vector<WindowInfo> DesktopSession::windowsOf(pid_t processTree) const {
    std::vector<WindowInfo> out;
    for (WindowInfo& w : windows())
        if (w.pid > 0 && inProcessTree(w.pid, processTree)) out.push_back(std::move(w));
    return out;
}

unsigned long DesktopSession::waitForWindow(const std::function<bool(const WindowInfo&)>& match,
                                            std::chrono::milliseconds timeout) const {
    unsigned long found = 0;
    waitUntil(
        [&] {
            for (const WindowInfo& w : windows())
                if (w.viewable && match(w)) {
                    found = w.id;
                    return true;
                }
            return false;
        },
        timeout, 50ms);
    return found;
}

std::optional<Rect> DesktopSession::geometry(unsigned long id) const {
    auto w = window(id);
    if (!w) return std::nullopt;
    return w->geometry;
}

FrameExtents DesktopSession::frameExtents(unsigned long id) const {
    FrameExtents e;
    if (!dpy_) return e;
    const auto v = longsProperty(dpy_, id, XInternAtom(dpy_, "_NET_FRAME_EXTENTS", False), XA_CARDINAL);
    if (v.size() == 4) {
        e.left = static_cast<int>(v[0]);
        e.right = static_cast<int>(v[1]);
        e.top = static_cast<int>(v[2]);
        e.bottom = static_cast<int>(v[3]);
    }
    return e;
}

bool DesktopSession::moveResize(unsigned long id, const Rect& client,
                                std::chrono::milliseconds timeout) {
    if (!dpy_) return false;
    if (wm_ == WindowManager::None) {
        XMoveResizeWindow(dpy_, id, client.x, client.y, static_cast<unsigned>(client.width),
                          static_cast<unsigned>(client.height));
        XSync(dpy_, False);
    } else {
        // With north-west gravity the position is the frame's outer corner.
        const FrameExtents e = frameExtents(id);
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = id;
        ev.xclient.message_type = XInternAtom(dpy_, "_NET_MOVERESIZE_WINDOW", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = NorthWestGravity | (1 << 8) | (1 << 9) | (1 << 10) | (1 << 11) |
                               (2 << 12);  // x, y, width, height; from a pager
        ev.xclient.data.l[1] = client.x - e.left;
        ev.xclient.data.l[2] = client.y - e.top;
        ev.xclient.data.l[3] = client.width;
        ev.xclient.data.l[4] = client.height;
        XSendEvent(dpy_, DefaultRootWindow(dpy_), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XSync(dpy_, False);
    }
    return waitUntil([&] { return geometry(id) == client; }, timeout);
}

bool DesktopSession::activate(unsigned long id, std::chrono::milliseconds timeout) {
    if (!dpy_) return false;
    if (wm_ == WindowManager::None) {
        XRaiseWindow(dpy_, id);
        XSetInputFocus(dpy_, id, RevertToParent, CurrentTime);
    } else {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = id;
        ev.xclient.message_type = XInternAtom(dpy_, "_NET_ACTIVE_WINDOW", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = 2;  // from a pager: honoured without focus-stealing rules
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy_, DefaultRootWindow(dpy_), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    }
    XSync(dpy_, False);
    // A window manager names the active window a moment after the focus moved.
    return waitUntil(
        [&] {
            return focusedTopLevel() == id &&
                   (wm_ == WindowManager::None || activeWindow() == id);
        },
        timeout);
}

// ---------------------------------------------------------------- input

void DesktopSession::movePointer(Point p) {
    if (!dpy_) return;
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), p.x, p.y, CurrentTime);
    XSync(dpy_, False);
}

void DesktopSession::click(Point p, int button) {
    if (!dpy_) return;
    movePointer(p);
    // Toolkits act on the press where the pointer was last seen: let the motion arrive.
    std::this_thread::sleep_for(50ms);
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(button), True, CurrentTime);
    XSync(dpy_, False);
    std::this_thread::sleep_for(30ms);
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(button), False, CurrentTime);
    XSync(dpy_, False);
}

Point DesktopSession::pointer() const {
    Point p;
    if (!dpy_) return p;
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(dpy_, DefaultRootWindow(dpy_), &root, &child, &p.x, &p.y, &wx, &wy, &mask);
    return p;
}

namespace {

std::u32string codePoints(const std::string& utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        char32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
        for (int k = 1; k < n && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(cp);
        i += n;
    }
    return out;
}

KeySym keysymOf(char32_t cp) {
    if (cp == '\n') return XK_Return;
    if (cp == '\t') return XK_Tab;
    if (cp == '\b') return XK_BackSpace;
    if ((cp >= 0x20 && cp <= 0x7E) || (cp >= 0xA0 && cp <= 0xFF)) return cp;
    return 0x01000000 | cp;
}

}  // namespace

bool DesktopSession::typeText(const std::string& utf8, std::chrono::milliseconds perKey,
                              std::chrono::milliseconds settle) {
    if (!dpy_) return false;
    int minKc = 0, maxKc = 0, per = 0;
    XDisplayKeycodes(dpy_, &minKc, &maxKc);
    const int count = maxKc - minKc + 1;
    KeySym* map = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(minKc), count, &per);
    if (!map) return false;
    struct Stroke {
        KeyCode code;
        bool shift;
    };
    auto find = [&](KeySym ks) -> std::optional<Stroke> {
        for (int level = 0; level < std::min(per, 2); ++level)
            for (int i = 0; i < count; ++i)
                if (map[i * per + level] == ks)
                    return Stroke{static_cast<KeyCode>(minKc + i), level == 1};
        return std::nullopt;
    };
    std::vector<KeyCode> spare;
    for (int i = count - 1; i >= 0; --i) {
        bool empty = true;
        for (int k = 0; k < per; ++k) empty = empty && map[i * per + k] == NoSymbol;
        if (empty) spare.push_back(static_cast<KeyCode>(minKc + i));
    }
    std::vector<Stroke> strokes;
    std::vector<std::pair<KeySym, KeyCode>> remapped;
    bool ok = true;
    for (char32_t cp : codePoints(utf8)) {
        const KeySym ks = keysymOf(cp);
        std::optional<Stroke> s = find(ks);
        for (const auto& [sym, code] : remapped)
            if (!s && sym == ks) s = Stroke{code, false};
        if (!s) {
            if (spare.empty()) {
                ok = false;
                break;
            }
            const KeyCode code = spare.back();
            spare.pop_back();
            KeySym both[2] = {ks, ks};
            XChangeKeyboardMapping(dpy_, code, 2, both, 1);
            remapped.emplace_back(ks, code);
            s = Stroke{code, false};
        }
        strokes.push_back(*s);
    }
    XFree(map);
    XSync(dpy_, False);
    if (!remapped.empty()) std::this_thread::sleep_for(settle);
    const KeyCode shift = XKeysymToKeycode(dpy_, XK_Shift_L);
    for (const Stroke& s : ok ? strokes : std::vector<Stroke>{}) {
        if (s.shift) XTestFakeKeyEvent(dpy_, shift, True, CurrentTime);
        XTestFakeKeyEvent(dpy_, s.code, True, CurrentTime);
        XTestFakeKeyEvent(dpy_, s.code, False, CurrentTime);
        if (s.shift) XTestFakeKeyEvent(dpy_, shift, False, CurrentTime);
        XSync(dpy_, False);
        if (perKey.count() > 0) std::this_thread::sleep_for(perKey);
    }
    if (!remapped.empty()) {
        std::this_thread::sleep_for(settle);
        KeySym none[2] = {NoSymbol, NoSymbol};
        for (const auto& [sym, code] : remapped) XChangeKeyboardMapping(dpy_, code, 2, none, 1);
        XSync(dpy_, False);
    }
    return ok;
}

bool DesktopSession::xdotoolType(const std::string& utf8, int delayMs) const {
    return run({"xdotool", "type", "--delay", std::to_string(delayMs), "--", utf8}) == 0;
}

bool DesktopSession::key(const std::string& keys) const {
    return run({"xdotool", "key", "--delay", "20", keys}) == 0;
}

bool DesktopSession::setLayout(const std::string& layout) const {
    return run({"setxkbmap", "-display", display(), layout}) == 0;
}

// ---------------------------------------------------------------- what is in front

unsigned long DesktopSession::focusedWindow() const {
    if (!dpy_) return 0;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy_, &focus, &revert);
    return focus == PointerRoot ? 0 : focus;
}

unsigned long DesktopSession::focusedTopLevel() const {
    const Window root = dpy_ ? DefaultRootWindow(dpy_) : 0;
    Window w = focusedWindow();
    if (w == 0 || w == root) return 0;
    const Atom wmState = XInternAtom(dpy_, "WM_STATE", False);
    Window below = w;
    for (Window x = w; x != 0 && x != root; x = parentOf(dpy_, x)) {
        if (hasProperty(dpy_, x, wmState)) return x;
        below = x;
    }
    // The focus on a frame, or no window manager: the client inside the top window.
    const unsigned long client = clientOf(below);
    return client != 0 ? client : below;
}

unsigned long DesktopSession::activeWindow() const {
    if (!dpy_) return 0;
    const auto v = longsProperty(dpy_, DefaultRootWindow(dpy_),
                                 XInternAtom(dpy_, "_NET_ACTIVE_WINDOW", False), XA_WINDOW);
    return v.empty() ? 0 : v[0];
}

bool DesktopSession::screenshot(const std::string& path) const {
    SpawnOptions o;
    o.argv = {"import", "-display", display(), "-window", "root", path};
    std::string output;
    return runProcess(o, &output, 30s) == 0;
}

// ---------------------------------------------------------------- teardown

void DesktopSession::keepArtifacts() {
    const std::string dir = artifactPath(currentTestName());
    std::error_code ec;
    fs::create_directories(dir, ec);
    screenshot(dir + "/at-end.png");
    for (const auto& e : fs::directory_iterator(folder_ + "/logs", ec))
        fs::copy_file(e.path(), dir + "/" + e.path().filename().string(),
                      fs::copy_options::overwrite_existing, ec);
    std::cerr << "desktop session: screenshot and logs kept in " << dir << "\n";
}

void DesktopSession::endStrays() {
    if (mark_.empty()) return;
    const std::string needle = mark_ + '\0';
    auto marked = [&] {
        std::vector<pid_t> out;
        for (const ProcessStat& p : processes()) {
            // The server ends last, through its handle.
            if (p.pid == getpid() || (server_ && p.pid == server_->pid())) continue;
            std::string env;
            if (readWholeEnviron(p.pid, env) && env.find(needle) != std::string::npos)
                out.push_back(p.pid);
        }
        return out;
    };
    const std::vector<pid_t> strays = marked();
    for (pid_t p : strays) kill(p, SIGTERM);
    if (!strays.empty() && !waitUntil([&] { return reapZombies(), marked().empty(); }, 3s)) {
        for (pid_t p : marked()) kill(p, SIGKILL);
        waitUntil([&] { return reapZombies(), marked().empty(); }, 3s);
    }
    reapZombies();
}

void DesktopSession::reapZombies() const {
    // Programs that left their parent were handed to us (we are their subreaper), and
    // when they end nobody else would collect them.  Only those born in this session.
    for (const ProcessStat& p : processes())
        if (p.parent == getpid() && p.state == 'Z' && p.startTicks >= startTicks_ &&
            (!user().switches() || p.uid == user().uid()))
            waitpid(p.pid, nullptr, WNOHANG);
}

// ---------------------------------------------------------------- load

CpuLoad::CpuLoad(DesktopSession& session, int workers) {
    process_ = session.start(
        {"stress-ng", "--cpu", std::to_string(workers), "--timeout", "900s", "--quiet"}, {},
        "stress-ng");
}

}  // namespace quorvel::test
