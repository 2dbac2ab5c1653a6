#include "typing/core/ScriptTokenizer.h"

#include <gtest/gtest.h>

#include "typing/core/Keyboard.h"

namespace quorvel {
namespace {

// One line per element: the character (as UTF-8 digits), "<vk>" or the braced name.
std::string describe(std::string_view script) {
    std::string out;
    for (const auto& e : ScriptTokenizer::tokenize(script)) {
        if (!out.empty()) out += " ";
        switch (e.kind) {
            case ScriptElement::Kind::Character:
                out += e.character < 0x80 ? std::string(1, static_cast<char>(e.character))
                                          : "U+" + std::to_string(e.character);
                break;
            case ScriptElement::Kind::Key:
                out += "<" + std::to_string(e.virtualKey) + ">";
                break;
            case ScriptElement::Kind::Variable:
                out += e.name;
                break;
        }
    }
    return out;
}

TEST(ScriptTokenizer, KeyCodesInAnyCase) {
    EXPECT_EQ(describe("{tab}{TAB}{Tab}"), "<9> <9> <9>");
    EXPECT_EQ(describe("{enter}{eNTER}{up}{DOWN}{Left}{rigHT}"),
              "<13> <13> <38> <40> <37> <39>");
}

TEST(ScriptTokenizer, OtherCodesAreUpperCasedVariableReferences) {
    EXPECT_EQ(describe("{ tab}"), "{ TAB}");
    EXPECT_EQ(describe("{First Name}x"), "{FIRST NAME} x");
    EXPECT_EQ(describe("{}"), "{}");
    // Only a to z fold: é keeps its case, so "{é}" stays as written.
    EXPECT_EQ(describe("{tabé}"), "{TABé}");
}

TEST(ScriptTokenizer, UnmatchedBracesAreCharacters) {
    EXPECT_EQ(describe("a{b"), "a { b");
    EXPECT_EQ(describe("x}y"), "x } y");
    EXPECT_EQ(describe("}{"), "} {");
    // The last "{" has no "}" after it; the first code ends at the first "}".
    EXPECT_EQ(describe("{a}}{"), "{A} } {");
}

TEST(ScriptTokenizer, CodeEndsAtFirstCloseAndSwallowsInnerOpen) {
    EXPECT_EQ(describe("{a{TAB}"), "{A{TAB}");
    EXPECT_EQ(describe("{a{TAB}}"), "{A{TAB} }");
}

TEST(ScriptTokenizer, WalksByCodePointAndKeepsControlCharacters) {
    EXPECT_EQ(describe("\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD\xF0\x9F\x98\x80"),
              "U+233 U+8364 U+20013 U+128512");
    EXPECT_EQ(describe("a\tb"), "a \t b");
    // A stray byte is read as Windows-1252: 0x80 is the euro sign.
    EXPECT_EQ(describe("\x80z"), "U+8364 z");
}

TEST(ScriptTokenizer, LongScriptWithLateCloseIsLinear) {
    // 32,000 "{"-free characters, then many opens each followed by a far "}"; a
    // rescanning tokenizer would take quadratic time here.
    std::string script(16000, '{');
    script += std::string(16000, 'x');
    script += "}";
    const auto elements = ScriptTokenizer::tokenize(script);
    ASSERT_EQ(elements.size(), 1u);
    EXPECT_EQ(elements[0].kind, ScriptElement::Kind::Variable);

    std::string many;
    for (int i = 0; i < 32000; ++i) many += (i % 2) ? "{" : "a";
    many += "}";
    const auto e2 = ScriptTokenizer::tokenize(many);
    ASSERT_EQ(e2.size(), 2u);  // "a", then one code running to the end
    EXPECT_EQ(e2[1].name.size(), 32000u);

    // Every "{" lies after the only "}": all are plain characters.
    const std::string opens = "}" + std::string(32000, '{');
    EXPECT_EQ(ScriptTokenizer::tokenize(opens).size(), 32001u);
}

}  // namespace
}  // namespace quorvel
