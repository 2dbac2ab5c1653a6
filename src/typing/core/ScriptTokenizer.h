// Splits a keystroke script into what gets typed: ordinary characters, the six key codes
// and variable references.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/Text.h"  // nextCodePoint

namespace quorvel {

struct ScriptElement {
    enum class Kind { Character, Key, Variable };
    Kind kind = Kind::Character;
    char32_t character = 0;  // Character: the code point to type
    int virtualKey = 0;      // Key: VK_RETURN, VK_TAB or an arrow
    std::string name;        // Variable: "{" + upper-cased code text + "}"

    bool operator==(const ScriptElement&) const = default;
};


// The virtual key of a code's text ("TAB", "enter", ...; only a-z fold), or 0.
int keyCodeFor(std::string_view codeText);

class ScriptTokenizer {
public:
    explicit ScriptTokenizer(std::string_view script);
    // False at the end of the script.
    bool next(ScriptElement& element);

    static std::vector<ScriptElement> tokenize(std::string_view script);

private:
    std::string_view script_;
    std::size_t pos_ = 0;
    // A "{" opens a code only when some "}" follows it; knowing where the last one is
    // answers that in constant time.
    std::size_t lastClose_ = std::string_view::npos;
};

}  // namespace quorvel
