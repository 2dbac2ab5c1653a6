#include "DesktopQuorvel.h"

#include <sys/stat.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <ctime>

#include "MainFormHarness.h"
#include "app/core/IniFile.h"
#include "model/DateTime.h"
#include "model/MainDataFile.h"
#include "typing/core/VariableTable.h"

namespace quorvel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

int yearNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

}  // namespace

std::string copyProgramInto(const std::string& folder) {
    for (const char* name : {"quorvel", "advert.so", "quorvel.html"}) {
        const fs::path from = fs::path(QUORVEL_BINARY_DIR) / name;
        if (!fs::exists(from)) {
            if (std::string(name) == "quorvel") return "no program file at " + from.string();
            continue;
        }
        if (DesktopUser::get().copyForUser(from.string(), folder).empty())
            return "cannot copy " + from.string() + " for the user";
    }
    return {};
}

std::string settingsBytes(const QuorvelPlacement& placement,
                          const std::vector<QuorvelCopy::IniValue>& extra) {
    IniFile ini;
    ini.writeBool("Options", "TipOfTheDay", false);
    ini.writeString("Options", "Browser", "");
    ini.writeBool("Options", "CheckForFiles", false);
    ini.writeBool("Options", "AlwaysOnTop", false);
    ini.writeInteger("Window", "Left", placement.left);
    ini.writeInteger("Window", "Top", placement.top);
    ini.writeInteger("Window", "Height", placement.height);
    for (const auto& [section, key, value] : extra) ini.writeString(section, key, value);
    return ini.bytes();
}

std::string itemsBytes(const std::vector<QuorvelItem>& items) {
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
    return writeMainData(GroupTable{}, list, testFormats(), yearNow());
}

std::string variablesBytes(const std::vector<std::pair<std::string, std::string>>& values) {
    VariableLines lines;
    for (const auto& [name, value] : values) lines.push_back(name + "=" + value);
    return writeVariablesFile(lines);
}

std::vector<QuorvelItem> itemsFromBytes(const std::string& bytes, std::string* error) {
    std::vector<QuorvelItem> out;
    if (bytes.empty()) {
        if (error) *error = "Quorvel.dat is missing or empty";
        return out;
    }
    FormatSettings fs = testFormats();
    MainDataReadContext ctx;
    ctx.fs = &fs;
    ctx.currentYear = yearNow();
    std::vector<std::string> bad;
    ctx.onBadItem = [&](const std::string& name) { bad.push_back(name); };
    try {
        MainDataLoad load = readMainData(bytes, ctx);
        for (const auto& r : load.items)
            out.push_back({r->Name, r->Site, r->Keys, r->RepeatDays, r->LastDone, r->EntryCount,
                           r->Comments});
        if (error && !load.clean())
            *error = "Quorvel.dat did not load cleanly (" + std::to_string(bad.size()) +
                     " bad Items)";
    } catch (const std::exception& e) {
        if (error) *error = e.what();
    }
    return out;
}

QuorvelCopy::QuorvelCopy(DesktopSession& session) : session_(session) {
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
    if (error_.empty() && !session.user().chownToUser(folder_)) error_ = "cannot give the copy to the user";
    programFile_ = folder_ + "/quorvel";
}

QuorvelCopy::QuorvelCopy(DesktopSession& session, const Installed& installed)
    : session_(session),
      folder_(session.home() + "/.local/share/quorvel"),
      programFile_(installed.programFile),
      installed_(true) {
    if (!session.ok()) error_ = "no session: " + session.error();
}

QuorvelCopy::~QuorvelCopy() {
    if (process_ && process_->running()) process_->terminate(3s);
}

std::string QuorvelCopy::readFile(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool QuorvelCopy::writeSettings(const Placement& placement, const std::vector<IniValue>& extra) {
    return session_.writeUserFile(file("Quorvel.ini"), settingsBytes(placement, extra));
}

bool QuorvelCopy::writeItems(const std::vector<QuorvelItem>& items) {
    try {
        return session_.writeUserFile(file("Quorvel.dat"), itemsBytes(items));
    } catch (const std::exception& e) {
        error_ = std::string("cannot write the Items: ") + e.what();
        return false;
    }
}

bool QuorvelCopy::writeVariables(const std::vector<std::pair<std::string, std::string>>& values) {
    // The program's own file name with ".var" for its extension.
    return session_.writeUserFile(file("quorvel.var"), variablesBytes(values));
}

std::vector<QuorvelItem> QuorvelCopy::readItems(std::string* error) const {
    return itemsFromBytes(readFile("Quorvel.dat"), error);
}

bool QuorvelCopy::start(std::chrono::milliseconds timeout) {
    if (!ok()) return false;
    if (!installed_ && !fs::exists(file("Quorvel.ini")) && !writeSettings()) {
        error_ = "cannot write Quorvel.ini";
        return false;
    }
    const auto t0 = Clock::now();
    process_ = session_.start({programFile()}, {}, "quorvel");
    if (!process_) {
        error_ = "cannot start " + programFile();
        return false;
    }
    const pid_t pid = process_->pid();
    // A new user's first start shows the tip of the day.
    const auto expected = [&](const WindowInfo& w) {
        return installed_ && w.title.rfind("Tip of the day", 0) == 0;
    };
    std::string unexpected;
    const bool shown = waitUntil(
        [&] {
            for (const WindowInfo& w : session_.windowsOf(pid)) {
                if (!w.viewable || w.overrideRedirect) continue;
                if (w.title.rfind(kTitlePrefix, 0) == 0) mainWindow_ = w.id;
                // A message box at start-up holds the main window back (it is modal).
                else if ((w.type == "DIALOG" || w.type == "NORMAL") && !expected(w))
                    unexpected = "\"" + w.title + "\"";
            }
            return mainWindow_ != 0 || !unexpected.empty() || !process_->running();
        },
        timeout, 50ms);
    startTime_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    if (!unexpected.empty()) {
        error_ = "the program showed an unexpected window at start-up: " + unexpected;
        return false;
    }
    if (!shown || mainWindow_ == 0) {
        error_ = std::string("the main window did not show (") +
                 (process_->running() ? "still running" : "the program ended") +
                 "): " + process_->logTail();
        return false;
    }
    // A box right after the window shows (a check of the files, say) would come now.
    std::this_thread::sleep_for(300ms);
    for (const WindowInfo& w : otherWindows()) {
        if (expected(w)) continue;
        error_ = "the program showed an unexpected window at start-up: \"" + w.title + "\"";
        return false;
    }
    return true;
}

std::vector<WindowInfo> QuorvelCopy::otherWindows() const {
    std::vector<WindowInfo> out;
    if (!process_) return out;
    for (WindowInfo& w : session_.windowsOf(process_->pid()))
        if (w.viewable && !w.overrideRedirect && w.id != mainWindow_) out.push_back(std::move(w));
    return out;
}

bool QuorvelCopy::tooltipShown() const {
    if (!process_) return false;
    for (const WindowInfo& w : session_.windowsOf(process_->pid()))
        if (w.viewable && w.type == "TOOLTIP") return true;
    return false;
}

std::optional<Rect> QuorvelCopy::button(Button which) const {
    const auto client = session_.geometry(mainWindow_);
    if (!client) return std::nullopt;
    static std::map<std::pair<Button, int>, Rect> cache;
    const auto key = std::make_pair(which, client->height);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.emplace(key, buttonInClient(which, client->height)).first;
    const Rect& b = it->second;
    return Rect{client->x + b.x, client->y + b.y, b.width, b.height};
}

Rect QuorvelCopy::buttonInClient(Button which, int clientHeight) {
    MainFormHarness h;
    TMainForm& f = h.start();
    f.show();
    QApplication::processEvents();
    // After the show, which puts the window where its settings say.
    f.resize(f.width(), clientHeight);
    QApplication::processEvents();
    const QWidget* w = which == Button::Type   ? static_cast<QWidget*>(f.Keyfill)
                       : which == Button::Goto ? static_cast<QWidget*>(f.GotoBut)
                       : which == Button::New  ? static_cast<QWidget*>(f.NewBut)
                                               : static_cast<QWidget*>(f.HelpBut);
    const QPoint at = w->mapTo(&f, QPoint(0, 0));
    const Rect r{at.x(), at.y(), w->width(), w->height()};
    h.stop();
    return r;
}

int QuorvelCopy::stop(std::chrono::milliseconds grace) {
    if (!process_) return -1;
    return process_->terminate(grace);
}

}  // namespace quorvel::test
