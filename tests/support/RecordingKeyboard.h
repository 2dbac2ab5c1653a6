// Test fakes of the keyboard and active-window seams.  Qt-free and header-only, so that
// the core tests can use them too.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "model/Text.h"
#include "typing/core/Keyboard.h"

namespace quorvel {

// Records every key event as a readable line ("down Shift", "down A", "up A", ...).
// scan() follows a small US-like table; tests can add or remove characters.
class RecordingKeyboard : public Keyboard {
public:
    std::vector<std::string> log;
    bool isAvailable = true;
    int beginRuns = 0;
    int endRuns = 0;
    std::u32string prepared;
    // Runs after each key event is logged: a test acts on where the key went with it.
    std::function<void(int key, bool down)> onKey;

    RecordingKeyboard() {
        for (char c = 'a'; c <= 'z'; ++c) {
            set(static_cast<char32_t>(c), charKey(c - 'a' + 'A'), 0);
            set(static_cast<char32_t>(c - 'a' + 'A'), charKey(c - 'a' + 'A'), SHIFT_BIT);
        }
        const std::string digits = "0123456789", shifted = ")!@#$%^&*(";
        for (std::size_t i = 0; i < digits.size(); ++i) {
            set(static_cast<char32_t>(digits[i]), charKey(digits[i]), 0);
            set(static_cast<char32_t>(shifted[i]), charKey(digits[i]), SHIFT_BIT);
        }
        const std::string plain = "-=[]\\;',./`", upper = "_+{}|:\"<>?~";
        for (std::size_t i = 0; i < plain.size(); ++i) {
            set(static_cast<char32_t>(plain[i]), charKey(plain[i]), 0);
            set(static_cast<char32_t>(upper[i]), charKey(plain[i]), SHIFT_BIT);
        }
        set(U' ', charKey(' '), 0);
        set(U'\t', VK_TAB, 0);
        set(U'\r', VK_RETURN, 0);
    }

    // A key id for the character key that types `base` unshifted.
    static int charKey(char base) { return 0x1000 + static_cast<unsigned char>(base); }

    void set(char32_t ch, int key, int shiftState) { table_[ch] = KeyScan{key, shiftState}; }
    void remove(char32_t ch) { table_.erase(ch); }

    static std::string keyName(int key) {
        switch (key) {
            case VK_TAB: return "Tab";
            case VK_RETURN: return "Return";
            case VK_SHIFT: return "Shift";
            case VK_CONTROL: return "Ctrl";
            case VK_MENU: return "Alt";
            case VK_ALTGR: return "AltGr";
            case VK_LEVEL5: return "Level5";
            case VK_LEFT: return "Left";
            case VK_UP: return "Up";
            case VK_RIGHT: return "Right";
            case VK_DOWN: return "Down";
            case 0x1000 + ' ': return "Space";
            default: break;
        }
        if (key > 0x1000 && key < 0x1100) return std::string(1, static_cast<char>(key - 0x1000));
        return "#" + std::to_string(key);
    }

    // The log as one string, lines joined by ", ".
    std::string joined() const {
        std::string out;
        for (const auto& line : log) out += (out.empty() ? "" : ", ") + line;
        return out;
    }

    bool available() const override { return isAvailable; }
    void beginRun() override { ++beginRuns; }
    void endRun() override { ++endRuns; }
    KeyScan scan(char32_t ch) override {
        const auto it = table_.find(ch);
        return it == table_.end() ? KeyScan{} : it->second;
    }
    void keyDown(int key) override {
        log.push_back("down " + keyName(key));
        if (onKey) onKey(key, true);
    }
    void keyUp(int key) override {
        log.push_back("up " + keyName(key));
        if (onKey) onKey(key, false);
    }
    void prepare(const std::u32string& characters) override { prepared = characters; }

    // Pasting, when a test turns it on: every paste is logged as "paste <text>", or as
    // "paste refused" when the target takes none.
    bool pasting = false;
    bool pasteWorks = true;
    bool hasKey(char32_t ch) override { return table_.count(ch) > 0; }
    bool canPaste() const override { return pasting; }
    bool paste(const std::u32string& text, const std::function<void()>& pump) override {
        if (pump) pump();
        std::string utf8;
        for (char32_t c : text) appendUtf8(utf8, c);
        log.push_back(pasteWorks ? "paste " + utf8 : "paste refused");
        return pasteWorks;
    }

private:
    std::map<char32_t, KeyScan> table_;
};

// Holds a foreground window that tests set; activate() records and, unless told to
// refuse, brings the window to the front and gives it the keyboard focus.
class FakeActiveWindow : public ActiveWindow {
public:
    bool isAvailable = true;
    bool refuseActivation = false;
    WindowId current = 0;
    WindowId focus = 0;  // the window holding the keyboard focus
    std::vector<WindowId> activated;
    std::vector<WindowId> lastOwn;  // the own windows given with the last call
    std::map<WindowId, std::string> titles;
    int focusChecks = 0;
    // Runs at every focus check: a test moves the focus in the middle of a run with it.
    std::function<void(int check)> onFocusCheck;

    bool available() const override { return isAvailable; }
    WindowId foreground() override { return current; }
    bool activate(WindowId w, const std::vector<WindowId>& own,
                  std::chrono::milliseconds) override {
        activated.push_back(w);
        lastOwn = own;
        if (!refuseActivation) current = focus = w;
        return focus == w && std::find(own.begin(), own.end(), w) == own.end();
    }
    bool focusIn(const std::vector<WindowId>& own) override {
        lastOwn = own;
        if (onFocusCheck) onFocusCheck(++focusChecks);
        return std::find(own.begin(), own.end(), focus) != own.end();
    }
    std::string title(WindowId w) override {
        const auto it = titles.find(w);
        return it == titles.end() ? std::string() : it->second;
    }
};

}  // namespace quorvel
