#include "SwayQuorvel.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "support/DesktopSession.h"  // waitUntil

namespace quorvel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool isMain(const SwayWindow& w) { return w.title.rfind(QuorvelCopy::kTitlePrefix, 0) == 0; }

}  // namespace

std::string SwayQuorvel::placementRule(int x, int y) {
    return std::string("for_window [title=\"^") + QuorvelCopy::kTitlePrefix +
           "\"] floating enable, move position " + std::to_string(x) + " " + std::to_string(y);
}

SwayQuorvel::SwayQuorvel(SwaySession& session) : session_(session) {
    if (!session.ok()) {
        error_ = "no session: " + session.error();
        return;
    }
    folder_ = session.newFolder("quorvel");
    if (folder_.empty()) {
        error_ = "cannot make the program folder";
        return;
    }
    error_ = copyProgramInto(folder_);
    if (error_.empty() && !session.user().chownToUser(folder_))
        error_ = "cannot give the copy to the user";
}

SwayQuorvel::~SwayQuorvel() {
    if (process_ && process_->running()) process_->terminate(3s);
}

bool SwayQuorvel::writeSettings(int height, const std::vector<QuorvelCopy::IniValue>& extra) {
    return session_.writeUserFile(file("Quorvel.ini"),
                                  settingsBytes(QuorvelPlacement{0, 0, height}, extra));
}

bool SwayQuorvel::writeItems(const std::vector<QuorvelItem>& items) {
    try {
        return session_.writeUserFile(file("Quorvel.dat"), itemsBytes(items));
    } catch (const std::exception& e) {
        error_ = std::string("cannot write the Items: ") + e.what();
        return false;
    }
}

bool SwayQuorvel::writeVariables(const std::vector<std::pair<std::string, std::string>>& values) {
    return session_.writeUserFile(file("quorvel.var"), variablesBytes(values));
}

std::vector<QuorvelItem> SwayQuorvel::readItems(std::string* error) const {
    std::ifstream in(file("Quorvel.dat"), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return itemsFromBytes(s.str(), error);
}

bool SwayQuorvel::start(std::chrono::milliseconds timeout) {
    if (!ok()) return false;
    if (!fs::exists(file("Quorvel.ini")) && !writeSettings()) {
        error_ = "cannot write Quorvel.ini";
        return false;
    }
    process_ = session_.start({file("quorvel")}, {}, "quorvel");
    if (!process_) {
        error_ = "cannot start the program";
        return false;
    }
    const pid_t pid = process_->pid();
    std::string unexpected;
    const auto w = session_.waitForWindow(
        [&](const SwayWindow& w) {
            if (w.pid != pid) return false;
            if (!isMain(w)) unexpected = "\"" + w.title + "\"";
            return true;
        },
        timeout);
    if (!w) {
        error_ = std::string("the main window did not show (") +
                 (process_->running() ? "still running" : "the program ended") +
                 "): " + process_->logTail();
        return false;
    }
    if (!unexpected.empty()) {
        error_ = "the program showed an unexpected window at start-up: " + unexpected;
        return false;
    }
    mainWindow_ = w->id;
    // Placed by the rule, and nothing else of the program's after a moment.
    std::this_thread::sleep_for(300ms);
    if (!otherWindows().empty()) {
        error_ = "the program showed an unexpected window at start-up: \"" +
                 otherWindows().front().title + "\"";
        return false;
    }
    return true;
}

std::optional<SwayWindow> SwayQuorvel::mainWindow() const { return session_.window(mainWindow_); }

std::vector<SwayWindow> SwayQuorvel::otherWindows() const {
    std::vector<SwayWindow> out;
    if (!process_) return out;
    for (SwayWindow& w : session_.windows())
        if (w.pid == process_->pid() && w.id != mainWindow_) out.push_back(std::move(w));
    return out;
}

std::optional<Rect> SwayQuorvel::typeButton() const {
    const auto w = mainWindow();
    if (!w) return std::nullopt;
    static std::map<int, Rect> cache;  // building the window offscreen takes a while
    auto it = cache.find(w->rect.height);
    if (it == cache.end())
        it = cache.emplace(w->rect.height,
                           QuorvelCopy::buttonInClient(QuorvelCopy::Button::Type, w->rect.height))
                 .first;
    const Rect& b = it->second;
    return Rect{w->rect.x + b.x, w->rect.y + b.y, b.width, b.height};
}

int SwayQuorvel::stop(std::chrono::milliseconds grace) {
    if (!process_) return -1;
    return process_->terminate(grace);
}

}  // namespace quorvel::test
