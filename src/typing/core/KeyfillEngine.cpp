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
    pasteFailed_ = false;
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
    // Variables are read once: the run lets events in, and a value must not change halfway.
    const std::vector<Piece> all = pieces(script);
    prepareKeyboard(all);
    typePieces(all);
    return true;
}

bool KeyfillEngine::listed(const std::string& name) const {
    return hooks_.inVars && hooks_.inVars(name);
}

std::vector<KeyfillEngine::Piece> KeyfillEngine::pieces(const std::string& script) const {
    std::vector<Piece> out;
    std::u32string text;
    auto endText = [&] {
        if (!text.empty()) out.push_back({text, 0, false});
        text.clear();
    };
    auto addCharacters = [&](const std::u32string& chars) {
        for (char32_t c : chars) {
            if (c < 0x20 || c == 0x7F) {
                endText();
                out.push_back({std::u32string(1, c), 0, true});
            } else {
                text += c;
            }
        }
    };
    ScriptTokenizer tokens(script);
    ScriptElement e;
    while (tokens.next(e)) {
        switch (e.kind) {
            case ScriptElement::Kind::Character:
                addCharacters(std::u32string(1, e.character));
                break;
            case ScriptElement::Kind::Key:
                endText();
                out.push_back({{}, e.virtualKey, false});
                break;
            case ScriptElement::Kind::Variable:
                // The value is typed as it stands: braces in it are characters, not codes.
                if (listed(e.name)) addCharacters(decodeAll(valueOf(e.name)));
                break;
        }
    }
    endText();
    return out;
}

void KeyfillEngine::prepareKeyboard(const std::vector<Piece>& all) {
    std::u32string chars;
    for (const Piece& p : all)
        if (!p.text.empty() && (p.control || !keyboard_.canPaste() || !pasteWanted(p.text)))
            chars += p.text;
    keyboard_.prepare(chars);
}

bool KeyfillEngine::pasteWanted(const std::u32string& text) {
    if (pasteFailed_) return false;
    for (char32_t c : text)
        if (!keyboard_.hasKey(c)) return true;
    return false;
}

void KeyfillEngine::typePieces(const std::vector<Piece>& all) {
    for (const Piece& p : all) {
        if (stopped_) break;
        if (p.text.empty()) {
            if (goOn()) SimulateKeystroke(p.virtualKey, 0);
            if (hooks_.afterElement) hooks_.afterElement();
        } else {
            typeText(p.text);
        }
    }
}

void KeyfillEngine::typeText(const std::u32string& text) {
    if (keyboard_.canPaste() && text.size() > 0 && text[0] >= 0x20 && pasteWanted(text)) {
        if (!goOn()) return;
        const std::function<void()> pump = hooks_.afterElement ? hooks_.afterElement : [] {};
        if (keyboard_.paste(text, pump)) {
            if (hooks_.slowDown && hooks_.slowDown() && hooks_.slowWait) hooks_.slowWait();
            if (hooks_.afterElement) hooks_.afterElement();
            return;
        }
        // The target takes no paste (a terminal, say): keys for the rest of the run.
        pasteFailed_ = true;
    }
    for (char32_t c : text) {
        if (stopped_) return;
        SendKey(c);
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
