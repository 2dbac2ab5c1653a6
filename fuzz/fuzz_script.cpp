// The keystroke script tokenizer, the editor's code rules and the typing engine over a
// recording keyboard.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "model/Text.h"
#include "support/RecordingKeyboard.h"
#include "typing/core/KeyfillEngine.h"
#include "typing/core/ScriptEditing.h"
#include "typing/core/ScriptTokenizer.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);

    // Every element consumes text, and characters come one per code point.
    std::size_t characters = 0;
    for (const ScriptElement& e : ScriptTokenizer::tokenize(script)) {
        switch (e.kind) {
            case ScriptElement::Kind::Character:
                FUZZ_CHECK(e.character <= 0x10FFFF);
                ++characters;
                break;
            case ScriptElement::Kind::Key:
                FUZZ_CHECK(e.virtualKey == VK_RETURN || e.virtualKey == VK_TAB ||
                           e.virtualKey == VK_UP || e.virtualKey == VK_DOWN ||
                           e.virtualKey == VK_LEFT || e.virtualKey == VK_RIGHT);
                break;
            case ScriptElement::Kind::Variable:
                FUZZ_CHECK(e.name.size() >= 2 && e.name.front() == '{' && e.name.back() == '}');
                FUZZ_CHECK(upperAscii(script).find(e.name) != std::string::npos);
                break;
        }
    }
    FUZZ_CHECK(characters <= charCount(script));

    // A pasted text: no line break is left, and the caret stays inside the text.
    std::size_t caret = size / 2;
    const std::string edited = codesForBreaksAndTabs(script, &caret);
    FUZZ_CHECK(edited.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(caret <= edited.size());
    for (std::size_t at : {std::size_t{0}, size / 3, size}) {
        const auto start = codeCandidateStart(script, at);
        if (start) FUZZ_CHECK(*start < at && script[at - 1] == '}');
    }

    // Typed through a keyboard that records: every key pressed is let go again.
    RecordingKeyboard keyboard;
    const std::map<std::string, std::string> vars = {
        {"{EMAIL}", "me@example.com"}, {"{A}", "x{tab}y\xC3\xA9"}, {"{}", "q"}, {"{EMPTY}", ""}};
    KeyfillHooks hooks;
    hooks.inVars = [&](const std::string& n) { return vars.count(n) > 0; };
    hooks.valueOf = [&](const std::string& n) {
        const auto it = vars.find(n);
        return it == vars.end() ? std::string() : it->second;
    };
    KeyfillEngine engine(keyboard, hooks);
    FUZZ_CHECK(engine.run(script));
    FUZZ_CHECK(!engine.running());
    FUZZ_CHECK(keyboard.beginRuns == 1 && keyboard.endRuns == 1);
    std::map<std::string, int> held;
    for (const std::string& event : keyboard.log) {
        if (startsWith(event, "down ")) {
            ++held[event.substr(5)];
        } else {
            FUZZ_CHECK(startsWith(event, "up "));
            FUZZ_CHECK(--held[event.substr(3)] >= 0);
        }
    }
    for (const auto& [key, count] : held) FUZZ_CHECK(count == 0);
    return 0;
}
