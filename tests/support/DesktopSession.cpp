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

pid_t DesktopSession::windowManagerPid() const {
    return windowManagerProcess_ ? windowManagerProcess_->pid() : 0;
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
