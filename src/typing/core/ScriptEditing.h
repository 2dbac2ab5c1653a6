// The script editor's text rules: keys and pasted line breaks become codes, and a
// Backspace after a complete code removes the whole code.  Texts are UTF-8; positions
// are byte offsets.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The codes the editor writes for the keys it takes over.
inline constexpr std::string_view kEnterCode = "{enter}";
inline constexpr std::string_view kTabCode = "{tab}";
inline constexpr std::string_view kLeftCode = "{left}";
inline constexpr std::string_view kUpCode = "{up}";
inline constexpr std::string_view kRightCode = "{right}";
inline constexpr std::string_view kDownCode = "{down}";

// When the character before `caret` is "}": where the text that a Backspace there may
// remove whole begins, namely at the nearest "{" before that "}", or at the start of the
// text when there is none.  Nothing otherwise.
std::optional<std::size_t> codeCandidateStart(std::string_view text, std::size_t caret);

// "{TAB}", "{enter}", "{Left}" ...: one of the six key codes, braces included, any case.
bool isKeyCode(std::string_view braced);

// Replaces every line break (CR LF, a lone CR, a lone LF) by "{enter}" and every tab
// except one that is the very last character by "{tab}".  When `caret` is given it is
// moved to the same place in the result.
std::string codesForBreaksAndTabs(std::string_view text, std::size_t* caret = nullptr);

}  // namespace quorvel
