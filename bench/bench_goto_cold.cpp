// Goto into a browser that is not running, against the browser started with the address
// itself: from the click on Goto (the Browser setting naming Firefox ESR or Chromium) or
// from the start of `firefox-esr URL`, `chromium URL` or `xdg-open URL` to the page's first
// request at the form server.  Every measurement has a desktop of its own with a fresh
// home, so each browser starts cold on a new profile; the kinds take turns run by run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>

#include "support/DesktopFormServer.h"
#include "support/DesktopQuorvel.h"
#include "support/DesktopSession.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace quorvel::test;

struct Kind {
    std::string name;
    std::string browserSetting;          // Goto with this setting ...
    std::vector<std::string> direct;     // ... or this command with the address appended
};

// Seconds from `start` to the first page request, empty when none came in 60 s.
std::optional<double> firstRequestAfter(const FormServer& server, Clock::time_point start) {
    if (!server.waitFor([&] { return !server.pageRequests().empty(); }, 60s)) return std::nullopt;
    return std::chrono::duration<double>(server.pageRequests().front().at - start).count();
}

std::optional<double> measure(const Kind& kind, std::string& why) {
    FormServer server;
    DesktopSession session(WindowManager::Openbox);
    if (!server.ok() || !session.ok()) {
        why = server.error() + session.error();
        return std::nullopt;
    }
    const std::string url = server.url("/?visit=1");
    if (kind.direct.empty()) {
        QuorvelCopy quorvel(session);
        if (!quorvel.ok() || !quorvel.writeSettings({}, {{"Options", "Browser", kind.browserSetting}}) ||
            !quorvel.writeItems({QuorvelItem{"Shop", url, "x", 5, "01/01/2001 00:00", 0, ""}}) ||
            !quorvel.start()) {
            why = quorvel.error();
            return std::nullopt;
        }
        const auto gotoButton = quorvel.button(QuorvelCopy::Button::Goto);
        if (!gotoButton) {
            why = "no Goto button";
            return std::nullopt;
        }
        // The press opens the site; its time is the start.
        std::optional<Clock::time_point> pressed;
        session.click(gotoButton->center(), 1, 30ms, [&] { pressed = Clock::now(); });
        auto seconds = firstRequestAfter(server, *pressed);
        if (!seconds) why = "the page never came";
        quorvel.stop();
        return seconds;
    }
    std::vector<std::string> argv = kind.direct;
    argv.push_back(url);
    const auto start = Clock::now();
    auto browser = session.start(argv, {}, kind.name);
    if (!browser) {
        why = "cannot start " + argv.front();
        return std::nullopt;
    }
    auto seconds = firstRequestAfter(server, start);
    if (!seconds) why = "the page never came";
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    // The Goto button is found by building the main window here, offscreen.
    Q_INIT_RESOURCE(resources);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 5;
    bool xdgOpen = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-xdg-open") xdgOpen = false;
        if (std::string(argv[i]) == "--runs" && i + 1 < argc) runs = std::atoi(argv[i + 1]);
    }
    std::vector<Kind> kinds{
        {"Goto firefox-esr", "/usr/bin/firefox-esr", {}},
        {"firefox-esr URL", "", {"firefox-esr"}},
        {"Goto chromium", "/usr/bin/chromium", {}},
        {"chromium URL", "", {"chromium"}},
    };
    if (xdgOpen) kinds.push_back({"xdg-open URL", "", {"xdg-open"}});

    std::printf("Cold start to the page's first request, Xvfb + openbox, a fresh home each time\n");
    std::printf("%-18s %4s %10s\n", "kind", "run", "seconds");
    std::map<std::string, std::vector<double>> times;
    for (int run = 1; run <= runs; ++run) {
        for (const Kind& kind : kinds) {
            std::string why;
            const auto seconds = measure(kind, why);
            if (seconds) {
                times[kind.name].push_back(*seconds);
                std::printf("%-18s %4d %10.2f\n", kind.name.c_str(), run, *seconds);
            } else {
                std::printf("%-18s %4d %10s  %s\n", kind.name.c_str(), run, "-", why.c_str());
            }
            std::fflush(stdout);
        }
    }
    std::printf("\n%-18s %4s %10s %10s %10s\n", "kind", "runs", "median", "min", "max");
    for (const Kind& kind : kinds) {
        const auto& v = times[kind.name];
        if (v.empty()) continue;
        std::printf("%-18s %4zu %10.2f %10.2f %10.2f\n", kind.name.c_str(), v.size(), median(v),
                    *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    }
    return 0;
}
