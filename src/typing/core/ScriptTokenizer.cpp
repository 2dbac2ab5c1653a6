#include "typing/core/ScriptTokenizer.h"

#include "model/Text.h"
#include "typing/core/Keyboard.h"

namespace quorvel {

char32_t nextCodePoint(std::string_view text, std::size_t& pos) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) {
        ++pos;
        return c;
    }
    std::size_t n = 0;
    char32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        cp = c & 0x07;
    }
    bool valid = n != 0 && pos + n <= text.size();
    for (std::size_t k = 1; valid && k < n; ++k) {
        const auto cc = static_cast<unsigned char>(text[pos + k]);
        valid = (cc & 0xC0) == 0x80;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (valid) {
        const bool overlong = (n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) ||
                              (n == 4 && cp < 0x10000);
        valid = !overlong && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (valid) {
        pos += n;
        return cp;
    }
    // One stray byte: its Windows-1252 character.
    const std::string utf8 = cp1252ToUtf8(text.substr(pos, 1));
    ++pos;
    std::size_t p = 0;
    return nextCodePoint(utf8, p);
}

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
