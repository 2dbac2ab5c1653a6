#include "support/PortalDesktopSession.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace quorvel::test {

namespace {

using namespace std::chrono_literals;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

template <typename F>
bool waitFor(F done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

}  // namespace

PortalDesktopSession::PortalDesktopSession(Desktop desktop, Options options) {
    const bool kde = desktop == Desktop::Kde;
    std::vector<std::string> tools{"/usr/libexec/xdg-desktop-portal", "/usr/bin/busctl"};
    if (kde) {
        // The backend's program lives in an architecture's folder: its bus service names it.
        tools.insert(tools.end(),
                     {"/usr/bin/kwin_wayland", "/usr/bin/Xwayland",
                      "/usr/share/dbus-1/services/org.freedesktop.impl.portal.desktop.kde.service"});
    } else {
        tools.insert(tools.end(), {"/usr/bin/mutter", "/usr/libexec/xdg-desktop-portal-gnome"});
    }
    for (const std::string& tool : tools) {
        if (access(tool.c_str(), tool.ends_with(".service") ? R_OK : X_OK) != 0) {
            error_ = tool + " is missing: run scripts/install-deps";
            return;
        }
    }
    if (!user_.ok()) {
        error_ = user_.error();
        return;
    }
    if (kde) {
        // Where Xwayland puts its socket; a booted system makes it, a fresh root does not,
        // and KWin 6 starts no Xwayland without it.  Only root may make it as it must be.
        std::error_code ec;
        if (std::filesystem::create_directory("/tmp/.X11-unix", ec))
            std::filesystem::permissions("/tmp/.X11-unix", std::filesystem::perms(01777), ec);
    }
    runtime_ = user_.makeTempDir("quorvel-portal-");
    if (runtime_.empty()) {
        error_ = "no folder for the session";
        return;
    }
    typed_ = runtime_ + "/typed.txt";
    const std::string bin = runtime_ + "/bin";
    std::filesystem::create_directory(bin);
    if (!user_.chownToUser(bin)) {
        error_ = "cannot give " + bin + " to the user";
        return;
    }
    for (const std::string file :
         {QUORVEL_SOURCE_DIR "/tests/scripts/portal-session.sh",
          QUORVEL_SOURCE_DIR "/tests/scripts/portal-consent.py",
          QUORVEL_BINARY_DIR "/tests/type_target", QUORVEL_BINARY_DIR "/tests/portal_type",
          QUORVEL_BINARY_DIR "/tests/portal_click"}) {
        if (user_.copyForUser(file, bin).empty()) {
            error_ = "cannot copy " + file + " for the user";
            return;
        }
    }
    SpawnOptions session;
    session.argv = user_.command(
        {"dbus-run-session", "--", tool("portal-session.sh"),
         kde ? "kde" : "gnome", runtime_, tool("type_target"), typed_,
         options.x11Target ? "x11" : "wayland", options.layouts,
         options.preauthorised ? "" : "ask"},
        {{"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}});
    session.logFile = runtime_ + "/session.log";
    desktop_ = std::make_unique<ChildProcess>(spawnProcess(session),
                                              kde ? "KDE session" : "GNOME session",
                                              session.logFile);
    if (!waitFor([&] { return std::filesystem::exists(runtime_ + "/bus"); }, 60s)) {
        error_ = "the desktop did not come up:\n" + desktop_->logTail();
        return;
    }
    std::string bus = readText(runtime_ + "/bus");
    bus.erase(bus.find_last_not_of('\n') + 1);
    env_ = {{"PATH", "/usr/bin:/bin"},        {"HOME", runtime_ + "/home"},
            {"XDG_RUNTIME_DIR", runtime_},    {"DBUS_SESSION_BUS_ADDRESS", bus},
            {"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_CURRENT_DESKTOP", kde ? "KDE" : "GNOME"}, {"LANG", "C.UTF-8"}};
    // An instrumented build's programs keep the sanitizers' settings and suppressions.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* v = std::getenv(name)) env_[name] = v;
}

PortalDesktopSession::~PortalDesktopSession() {
    desktop_.reset();
    if (!runtime_.empty()) std::filesystem::remove_all(runtime_);
}

std::string PortalDesktopSession::logTail() const { return desktop_ ? desktop_->logTail() : ""; }

int PortalDesktopSession::plasma() const { return std::atoi(readText(runtime_ + "/plasma").c_str()); }

std::string PortalDesktopSession::typed() const { return readText(typed_); }

bool PortalDesktopSession::typedIs(const std::string& text, std::chrono::milliseconds limit) const {
    return waitFor([&] { return typed() == text; }, limit);
}

bool PortalDesktopSession::switchLayout(unsigned index) const {
    SpawnOptions call;
    call.argv = user_.command({"busctl", "--user", "call", "org.kde.keyboard", "/Layouts",
                               "org.kde.KeyboardLayouts", "setLayout", "u",
                               std::to_string(index)},
                              env_);
    std::string said;
    return runProcess(call, &said, 20s) == 0 && said.find("true") != std::string::npos;
}

bool PortalDesktopSession::setLayouts(const std::string& layouts) const {
    {
        std::ofstream out(runtime_ + "/home/.config/kxkbrc", std::ios::trunc);
        out << "[Layout]\nUse=true\nLayoutList=" << layouts << "\n";
        if (!out) return false;
    }
    SpawnOptions call;
    call.argv = user_.command({"dbus-send", "--session", "--type=signal", "/Layouts",
                               "org.kde.keyboard.reloadConfig"},
                              env_);
    return runProcess(call, nullptr, 20s) == 0;
}

bool PortalDesktopSession::click(const std::vector<std::pair<int, int>>& points) const {
    std::vector<std::string> argv{tool("portal_click")};
    for (const auto& [x, y] : points) argv.push_back(std::to_string(x) + "," + std::to_string(y));
    SpawnOptions call;
    call.argv = user_.command(argv, env_);
    std::string said;
    return runProcess(call, &said, 30s) == 0;
}

std::optional<std::vector<PortalDesktopSession::Window>> PortalDesktopSession::windows() const {
    // The script prints to KWin's output, which is the session's log; the mark tells this
    // query's lines from earlier ones.
    const std::string mark = "quorvel-windows-" + std::to_string(++queries_);
    const std::string script = runtime_ + "/" + mark + ".js";
    {
        std::ofstream out(script);
        // Plasma 6 renamed the list; Plasma 5 has only the old name.
        out << "var cs = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
               "for (var i = 0; i < cs.length; ++i) {\n"
               "  var c = cs[i], f = c.frameGeometry;\n"
               "  print('" << mark << " ' + f.x + ' ' + f.y + ' ' + f.width + ' ' + f.height + ' ' +\n"
               "        (c.active ? 1 : 0) + ' ' + (c.minimized ? 1 : 0) + ' ' + c.resourceClass +\n"
               "        ' ' + c.caption);\n"
               "}\n"
               "print('" << mark << " end');\n";
    }
    const auto kwin = [&](std::vector<std::string> args) {
        std::vector<std::string> argv{"busctl", "--user", "call", "org.kde.KWin", "/Scripting",
                                      "org.kde.kwin.Scripting"};
        argv.insert(argv.end(), args.begin(), args.end());
        SpawnOptions call;
        call.argv = user_.command(argv, env_);
        return runProcess(call, nullptr, 20s) == 0;
    };
    const std::string prefix = "js: " + mark + " ";
    std::string log;
    const bool answered = kwin({"loadScript", "ss", script, mark}) && kwin({"start"}) &&
                          waitFor(
                              [&] {
                                  log = readText(runtime_ + "/session.log");
                                  return log.find(prefix + "end\n") != std::string::npos;
                              },
                              10s);
    kwin({"unloadScript", "s", mark});
    std::filesystem::remove(script);
    if (!answered) return std::nullopt;
    std::vector<Window> out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) != 0 || line == prefix + "end") continue;
        std::istringstream in(line.substr(prefix.size()));
        Window w;
        in >> w.x >> w.y >> w.width >> w.height >> w.active >> w.minimized >> w.appId;
        std::getline(in >> std::ws, w.caption);
        out.push_back(std::move(w));
    }
    return out;
}

}  // namespace quorvel::test
