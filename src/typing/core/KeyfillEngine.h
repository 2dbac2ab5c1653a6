// Types one keystroke script through a Keyboard: characters with the modifiers their key
// needs, the key codes bare, listed variables by value.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "typing/core/Keyboard.h"

namespace quorvel {

struct KeyfillHooks {
    // Whether the variable list holds the braced, upper-cased name (case-insensitive).
    std::function<bool(const std::string&)> inVars;
    // The value typed for a listed variable; empty when the table has no line for it.
    std::function<std::string(const std::string&)> valueOf;
    // Runs after every element: lets the window thread serve pending events.
    std::function<void()> afterElement;
    // Read afresh at every keystroke.
    std::function<bool()> slowDown;
    // The short pause that follows each keystroke while slowDown() holds.
    std::function<void()> slowWait;
    // Asked before every keystroke; false stops the run at once (the keyboard focus has
    // moved into one of our own windows).
    std::function<bool()> keepTyping;
};

class KeyfillEngine {
public:
    KeyfillEngine(Keyboard& keyboard, KeyfillHooks hooks);

    // Types the whole script.  Returns false, typing nothing, when the keyboard is not
    // available or a run is already in progress (afterElement() can let a second click in).
    bool run(const std::string& script);
    bool running() const { return running_; }
    // Ends the run in progress before its next key (the keys are going astray).
    void stop() {
        if (running_) stopped_ = true;
    }
    // Whether the last run was stopped, by keepTyping() or stop(), before its end.
    bool stopped() const { return stopped_; }
    // The characters of the last run the keyboard could not produce, each once, in the
    // order they were met.
    const std::u32string& leftOut() const { return leftOut_; }

    void SendKey(char32_t character);
    void SendVariable(const std::string& bracedName);
    void SimulateKeyDown(int vk);
    void SimulateKeyUp(int vk);
    void SimulateKeystroke(int vk, int scanCode);

private:
    // The run cut where typing and pasting may change over: text between key codes and
    // control characters, each key code and control character on its own.
    struct Piece {
        std::u32string text;  // empty for a key code
        int virtualKey = 0;
        bool control = false;  // text is one control character, typed as its key
    };
    std::vector<Piece> pieces(const std::string& script) const;
    void typePieces(const std::vector<Piece>& all);
    void prepareKeyboard(const std::vector<Piece>& all);
    // Text the layout lacks a key for goes through the clipboard, as one paste.
    bool pasteWanted(const std::u32string& text);
    void typeText(const std::u32string& text);
    bool listed(const std::string& name) const;
    std::string valueOf(const std::string& name) const;

    Keyboard& keyboard_;
    KeyfillHooks hooks_;
    bool goOn();

    bool running_ = false;
    bool stopped_ = false;
    bool pasteFailed_ = false;  // this run's target took no paste: type the rest
    std::u32string leftOut_;
};

}  // namespace quorvel
