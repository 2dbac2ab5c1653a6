#include "typing/core/KeyfillEngine.h"

#include <utility>

#include "typing/core/ScriptTokenizer.h"

namespace quorvel {

namespace {

// Modifier keys in the order they are pressed, and released again (not reversed).
constexpr struct {
    int bit;
    int vk;
} kModifiers[] = {{SHIFT_BIT, VK_SHIFT}, {CTRL_BIT, VK_CONTROL}, {ALT_BIT, VK_MENU},
                  {ALTGR_BIT, VK_ALTGR}, {LEVEL5_BIT, VK_LEVEL5}};

std::u32string decodeAll(const std::string& text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) out += nextCodePoint(text, pos);
    return out;
}

}  // namespace

KeyfillEngine::KeyfillEngine(Keyboard& keyboard, KeyfillHooks hooks)
    : keyboard_(keyboard), hooks_(std::move(hooks)) {}

bool KeyfillEngine::run(const std::string& script) {
    if (running_ || !keyboard_.available()) return false;
    running_ = true;
    stopped_ = false;
    leftOut_.clear();
    // endRun() must follow beginRun() even when a hook throws, or lent keys stay remapped.
    struct RunGuard {
        KeyfillEngine& e;
        ~RunGuard() {
            e.keyboard_.endRun();
            e.running_ = false;
        }
    };
    keyboard_.beginRun();
    RunGuard guard{*this};
    prepareKeyboard(script);
    typeElements(script);
    return true;
}

bool KeyfillEngine::listed(const std::string& name) const {
    return hooks_.inVars && hooks_.inVars(name);
}

void KeyfillEngine::prepareKeyboard(const std::string& script) {
    std::u32string chars;
    ScriptTokenizer tokens(script);
    ScriptElement e;
    while (tokens.next(e)) {
        if (e.kind == ScriptElement::Kind::Character)
            chars += e.character;
        else if (e.kind == ScriptElement::Kind::Variable && listed(e.name))
            chars += decodeAll(valueOf(e.name));
    }
    keyboard_.prepare(chars);
}

void KeyfillEngine::typeElements(const std::string& script) {
    ScriptTokenizer tokens(script);
    ScriptElement e;
    while (!stopped_ && tokens.next(e)) {
        switch (e.kind) {
            case ScriptElement::Kind::Character:
                SendKey(e.character);
                break;
            case ScriptElement::Kind::Key:
                if (goOn()) SimulateKeystroke(e.virtualKey, 0);
                break;
            case ScriptElement::Kind::Variable:
                if (listed(e.name)) SendVariable(e.name);
                break;
        }
        if (hooks_.afterElement) hooks_.afterElement();
    }
}

bool KeyfillEngine::goOn() {
    if (!stopped_ && hooks_.keepTyping && !hooks_.keepTyping()) stopped_ = true;
    return !stopped_;
}

void KeyfillEngine::SendKey(char32_t character) {
    if (!goOn()) return;
    const KeyScan scan = keyboard_.scan(character);
    // The layout cannot produce it, not even through a lent key: skip it, never type
    // another character in its place.
    if (scan.key < 0) {
        if (leftOut_.find(character) == std::u32string::npos) leftOut_ += character;
        return;
    }
    for (const auto& m : kModifiers)
        if (scan.shiftState & m.bit) SimulateKeyDown(m.vk);
    SimulateKeystroke(scan.key, 0);
    for (const auto& m : kModifiers)
        if (scan.shiftState & m.bit) SimulateKeyUp(m.vk);
}

void KeyfillEngine::SendVariable(const std::string& bracedName) {
    // The value is typed as it stands: braces in it are characters, not codes.
    const std::string value = valueOf(bracedName);
    for (std::size_t pos = 0; pos < value.size() && !stopped_;) SendKey(nextCodePoint(value, pos));
}

std::string KeyfillEngine::valueOf(const std::string& name) const {
    return hooks_.valueOf ? hooks_.valueOf(name) : std::string();
}

void KeyfillEngine::SimulateKeyDown(int vk) { keyboard_.keyDown(vk); }

void KeyfillEngine::SimulateKeyUp(int vk) { keyboard_.keyUp(vk); }

void KeyfillEngine::SimulateKeystroke(int vk, int scanCode) {
    (void)scanCode;  // always 0; the layer knows the keys it hands out
    keyboard_.keyDown(vk);
    keyboard_.keyUp(vk);
    if (hooks_.slowDown && hooks_.slowDown() && hooks_.slowWait) hooks_.slowWait();
}

}  // namespace quorvel
