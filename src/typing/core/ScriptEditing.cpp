#include "typing/core/ScriptEditing.h"

#include "typing/core/ScriptTokenizer.h"

namespace quorvel {

std::optional<std::size_t> codeCandidateStart(std::string_view text, std::size_t caret) {
    if (caret == 0 || caret > text.size() || text[caret - 1] != '}') return std::nullopt;
    if (caret == 1) return 0;
    const std::size_t open = text.rfind('{', caret - 2);
    return open == std::string_view::npos ? 0 : open;
}

bool isKeyCode(std::string_view braced) {
    return braced.size() >= 2 && braced.front() == '{' && braced.back() == '}' &&
           keyCodeFor(braced.substr(1, braced.size() - 2)) != 0;
}

std::string codesForBreaksAndTabs(std::string_view text, std::size_t* caret) {
    std::string out;
    out.reserve(text.size());
    std::optional<std::size_t> newCaret;
    std::size_t i = 0;
    while (i < text.size()) {
        if (caret && !newCaret && i >= *caret) newCaret = out.size();
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += kEnterCode;
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        } else if (c == '\t' && i + 1 < text.size()) {
            out += kTabCode;
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    if (caret) *caret = newCaret.value_or(out.size());
    return out;
}

}  // namespace quorvel
