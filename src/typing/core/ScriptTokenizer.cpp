#include "typing/core/ScriptTokenizer.h"

#include "model/Text.h"
#include "typing/core/Keyboard.h"

namespace quorvel {

int keyCodeFor(std::string_view codeText) {
    const std::string upper = upperAscii(codeText);
    if (upper == "ENTER") return VK_RETURN;
    if (upper == "TAB") return VK_TAB;
    if (upper == "UP") return VK_UP;
    if (upper == "DOWN") return VK_DOWN;
    if (upper == "LEFT") return VK_LEFT;
    if (upper == "RIGHT") return VK_RIGHT;
    return 0;
}

ScriptTokenizer::ScriptTokenizer(std::string_view script)
    : script_(script), lastClose_(script.rfind('}')) {}

bool ScriptTokenizer::next(ScriptElement& element) {
    if (pos_ >= script_.size()) return false;
    element = ScriptElement{};
    if (script_[pos_] == '{' && lastClose_ != std::string_view::npos && lastClose_ > pos_) {
        // The code runs to the first "}" after the "{"; scanning stops there, so the
        // whole walk stays linear.
        const std::size_t close = script_.find('}', pos_ + 1);
        const std::string_view text = script_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        if (const int vk = keyCodeFor(text)) {
            element.kind = ScriptElement::Kind::Key;
            element.virtualKey = vk;
        } else {
            element.kind = ScriptElement::Kind::Variable;
            element.name = "{" + upperAscii(text) + "}";
        }
        return true;
    }
    element.kind = ScriptElement::Kind::Character;
    element.character = nextCodePoint(script_, pos_);
    return true;
}

std::vector<ScriptElement> ScriptTokenizer::tokenize(std::string_view script) {
    std::vector<ScriptElement> out;
    ScriptTokenizer t(script);
    ScriptElement e;
    while (t.next(e)) out.push_back(std::move(e));
    return out;
}

}  // namespace quorvel
