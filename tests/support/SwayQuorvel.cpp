#include "SwayQuorvel.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "app/core/IniFile.h"
#include "model/DateTime.h"
#include "model/MainDataFile.h"
#include "support/DesktopSession.h"  // waitUntil
#include "support/MainFormHarness.h"
#include "typing/core/VariableTable.h"

namespace quorvel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int yearNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

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
    std::error_code ec;
    for (const char* name : {"quorvel", "advert.so", "quorvel.html"}) {
        const fs::path from = fs::path(QUORVEL_BINARY_DIR) / name;
        if (!fs::exists(from)) {
            if (std::string(name) == "quorvel") error_ = "no program file at " + from.string();
            continue;
        }
        fs::copy_file(from, fs::path(folder_) / name, fs::copy_options::overwrite_existing, ec);
        if (ec) error_ = "cannot copy " + from.string() + ": " + ec.message();
    }
    if (error_.empty() && !session.user().chownToUser(folder_))
        error_ = "cannot give the copy to the user";
}

SwayQuorvel::~SwayQuorvel() {
    if (process_ && process_->running()) process_->terminate(3s);
}

bool SwayQuorvel::writeSettings(int height, const std::vector<QuorvelCopy::IniValue>& extra) {
    IniFile ini;
    ini.writeBool("Options", "TipOfTheDay", false);
    ini.writeString("Options", "Browser", "");
    ini.writeBool("Options", "CheckForFiles", false);
    ini.writeBool("Options", "AlwaysOnTop", false);
    ini.writeInteger("Window", "Left", 0);
    ini.writeInteger("Window", "Top", 0);
    ini.writeInteger("Window", "Height", height);
    for (const auto& [section, key, value] : extra) ini.writeString(section, key, value);
    return session_.writeUserFile(file("Quorvel.ini"), ini.bytes());
}

bool SwayQuorvel::writeItems(const std::vector<QuorvelItem>& items) {
    ItemList list;
    for (const QuorvelItem& i : items) {
        auto r = std::make_unique<Rec>();
        r->Name = i.name;
        r->Site = i.url;
        r->Keys = i.keys;
        r->RepeatDays = i.repeatDays;
        r->LastDone = i.lastDone;
        r->EntryCount = i.entries;
        r->Comments = i.comments;
        list.append(std::move(r));
    }
    try {
        return session_.writeUserFile(file("Quorvel.dat"),
                                      writeMainData(GroupTable{}, list, testFormats(), yearNow()));
    } catch (const std::exception& e) {
        error_ = std::string("cannot write the Items: ") + e.what();
        return false;
    }
}

bool SwayQuorvel::writeVariables(const std::vector<std::pair<std::string, std::string>>& values) {
    VariableLines lines;
    for (const auto& [name, value] : values) lines.push_back(name + "=" + value);
    return session_.writeUserFile(file("quorvel.var"), writeVariablesFile(lines));
}

std::vector<QuorvelItem> SwayQuorvel::readItems(std::string* error) const {
    std::vector<QuorvelItem> out;
    std::ifstream in(file("Quorvel.dat"), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    if (bytes.empty()) {
        if (error) *error = "Quorvel.dat is missing or empty";
        return out;
    }
    FormatSettings formats = testFormats();
    MainDataReadContext ctx;
    ctx.fs = &formats;
    ctx.currentYear = yearNow();
    try {
        MainDataLoad load = readMainData(bytes, ctx);
        for (const auto& r : load.items)
            out.push_back({r->Name, r->Site, r->Keys, r->RepeatDays, r->LastDone, r->EntryCount,
                           r->Comments});
        if (error && !load.clean()) *error = "Quorvel.dat did not load cleanly";
    } catch (const std::exception& e) {
        if (error) *error = e.what();
    }
    return out;
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
