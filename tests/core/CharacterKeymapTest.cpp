// Keymaps that give every character of a run a key of its own, compiled by libxkbcommon as
// a compositor and its clients compile them and by xkbcomp as Xwayland does, and the
// keymap changes a long run needs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "platform/core/CharacterKeymap.h"

#ifdef QUORVEL_HAVE_XKBCOMMON
#include <xkbcommon/xkbcommon.h>
#endif

using namespace quorvel;

namespace {

const std::u32string kSample = U"aZ 0~é\u00ff\u00df\u20ac\u4e2d\u03a9\U0001F600\U0010FFFD";

#ifdef QUORVEL_HAVE_XKBCOMMON

struct Compiled {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context{
        xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_ENVIRONMENT_NAMES |
                                                       XKB_CONTEXT_NO_DEFAULT_INCLUDES)),
        &xkb_context_unref};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap{nullptr, &xkb_keymap_unref};

    explicit Compiled(const std::string& text) {
        keymap.reset(xkb_keymap_new_from_string(context.get(), text.c_str(),
                                                XKB_KEYMAP_FORMAT_TEXT_V1,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
    // The one keysym at the first level of the key.
    xkb_keysym_t symAt(int keycode) const {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap.get(), keycode, 0, 0, &syms);
        return n == 1 ? syms[0] : XKB_KEY_NoSymbol;
    }
    // What a client types for the key with no modifier down.
    char32_t charAt(int keycode) const {
        std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(keymap.get()),
                                                                     &xkb_state_unref);
        return xkb_state_key_get_utf32(state.get(), keycode);
    }
    // The modifier mask a client sees while the key is held.
    xkb_mod_mask_t maskWhileHeld(int keycode) const {
        std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(keymap.get()),
                                                                     &xkb_state_unref);
        xkb_state_update_key(state.get(), keycode, XKB_KEY_DOWN);
        return xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED);
    }
};

TEST(CharacterKeymapXkb, EveryCharacterIsItsOwnKeysymAtTheFirstLevel) {
    const CharacterKeymap map(kSample);
    const Compiled c(map.text());
    ASSERT_TRUE(c.keymap) << map.text();
    for (char32_t ch : kSample) {
        const int kc = map.keycodeOf(ch);
        SCOPED_TRACE(static_cast<unsigned>(ch));
        ASSERT_NE(kc, 0);
        EXPECT_EQ(c.symAt(kc), CharacterKeymap::keysymOf(ch));
        EXPECT_EQ(c.charAt(kc), ch);
    }
    // Latin-1 keeps its own keysyms, everything above is a Unicode keysym.
    EXPECT_EQ(CharacterKeymap::keysymOf(U'\u00e9'), 0xe9u);
    EXPECT_EQ(CharacterKeymap::keysymOf(U'\u20ac'), 0x10020acu);
}

TEST(CharacterKeymapXkb, FixedKeysAndTheMasksTheirModifiersSet) {
    const Compiled c(CharacterKeymap(U"x").text());
    ASSERT_TRUE(c.keymap);
    EXPECT_EQ(c.symAt(fixed_keycode::kTab), XKB_KEY_Tab);
    EXPECT_EQ(c.symAt(fixed_keycode::kReturn), XKB_KEY_Return);
    EXPECT_EQ(c.symAt(fixed_keycode::kLeft), XKB_KEY_Left);
    EXPECT_EQ(c.symAt(fixed_keycode::kUp), XKB_KEY_Up);
    EXPECT_EQ(c.symAt(fixed_keycode::kRight), XKB_KEY_Right);
    EXPECT_EQ(c.symAt(fixed_keycode::kDown), XKB_KEY_Down);
    EXPECT_EQ(c.symAt(fixed_keycode::kLevel3), XKB_KEY_ISO_Level3_Shift);
    // The masks the keyboard layer announces are the ones the keymap binds to these keys.
    EXPECT_EQ(c.maskWhileHeld(fixed_keycode::kShift), modifier_mask::kShift);
    EXPECT_EQ(c.maskWhileHeld(fixed_keycode::kControl), modifier_mask::kControl);
    EXPECT_EQ(c.maskWhileHeld(fixed_keycode::kAlt), modifier_mask::kAlt);
    EXPECT_EQ(c.maskWhileHeld(fixed_keycode::kLevel3), modifier_mask::kLevel3);
    const xkb_mod_index_t alt = xkb_keymap_mod_get_index(c.keymap.get(), XKB_MOD_NAME_ALT);
    EXPECT_EQ(1u << alt, modifier_mask::kAlt);
    // Shift+Tab is a back tab, as on real layouts.
    const xkb_keysym_t* syms = nullptr;
    ASSERT_EQ(xkb_keymap_key_get_syms_by_level(c.keymap.get(), fixed_keycode::kTab, 0, 1, &syms), 1);
    EXPECT_EQ(syms[0], XKB_KEY_ISO_Left_Tab);
}

// Xwayland hands the keymap to xkbcomp, the X keymap compiler, and serves what comes out:
// no type may reach past its own levels, and an indicator must be there (Xwayland 22
// crashes when an X client reads a keymap without one).
TEST(CharacterKeymapXkb, XkbcompMakesAKeymapAnXServerCanServe) {
    const std::string xkbcomp = "/usr/bin/xkbcomp";
    if (access(xkbcomp.c_str(), X_OK) != 0) GTEST_SKIP() << "no xkbcomp (x11-xkb-utils)";
    char dir[] = "/tmp/quorvel-xkbcomp-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string in = std::string(dir) + "/in.xkb", xkm = std::string(dir) + "/out.xkm",
                      out = std::string(dir) + "/out.xkb";
    std::ofstream(in) << CharacterKeymap(kSample).text();
    // Compiled, then written back as text: what the server holds, as a dump shows it.
    ASSERT_EQ(std::system((xkbcomp + " -w 0 " + in + " " + xkm + " && " + xkbcomp + " -w 0 " +
                           xkm + " " + out).c_str()),
              0);
    std::stringstream dump;
    dump << std::ifstream(out).rdbuf();
    std::filesystem::remove_all(dir);
    const std::string text = dump.str();
    for (const char* type : {"\"ONE_LEVEL\"", "\"TWO_LEVEL\"", "\"ALPHABETIC\"", "\"KEYPAD\""})
        EXPECT_NE(text.find(type), std::string::npos) << type;
    const std::size_t types = text.find("xkb_types"), compat = text.find("xkb_compatibility");
    ASSERT_LT(types, compat) << text;
    EXPECT_EQ(text.substr(types, compat - types).find("Level3"), std::string::npos) << text;
    EXPECT_NE(text.find("indicator \"Caps Lock\""), std::string::npos) << text;
    // And libxkbcommon, which Qt's X keyboard uses, reads the result.
    const Compiled c(text);
    EXPECT_TRUE(c.keymap);
}

// The run a client sees: every keymap the planner switches to is compiled as the client
// would, and each key is translated with the keymap sent last before it.
std::u32string typeThrough(KeymapPlanner& planner, const std::u32string& run) {
    auto client = std::make_unique<Compiled>(planner.current().text());
    if (planner.prepare(run)) client = std::make_unique<Compiled>(planner.current().text());
    std::u32string typed;
    for (char32_t ch : run) {
        const KeymapPlanner::Lookup l = planner.lookup(ch);
        if (l.switched) client = std::make_unique<Compiled>(planner.current().text());
        if (l.keycode == 0) continue;
        EXPECT_TRUE(client->keymap);
        typed += client->charAt(l.keycode);
    }
    return typed;
}

TEST(KeymapPlannerXkb, ALongRunOfManyCharactersLandsExactlyThroughKeymapChanges) {
    // 320 distinct characters (CJK, Greek, Latin-1, emoji), then the early ones again
    // interleaved with late ones: more than one keymap holds, in both directions.
    std::u32string distinct;
    for (char32_t c = 0x4E00; c < 0x4E00 + 200; ++c) distinct += c;
    for (char32_t c = 0x391; c < 0x391 + 25; ++c) distinct += c;
    for (char32_t c = 0xC0; c < 0xC0 + 60; ++c) distinct += c;
    for (char32_t c = 0x1F600; c < 0x1F600 + 35; ++c) distinct += c;
    std::u32string run = distinct;
    for (std::size_t i = 0; i < 80; ++i) {
        run += distinct[i * 3 % distinct.size()];
        run += distinct[distinct.size() - 1 - i];
    }
    KeymapPlanner planner;
    EXPECT_EQ(typeThrough(planner, run), run);
    EXPECT_GE(planner.switches(), 1u);
    // Filling each keymap with what comes next keeps changes rare.
    EXPECT_LE(planner.switches(), 4u);
}

// An X client behind Xwayland gets to a key only after later keymaps have arrived, and
// reads it with the keymap in force then: here, the one sent `lag` keys later.
TEST(KeymapPlannerXkb, AClientReadingKeysLateWithLaterKeymapsStillReadsThemRight) {
    std::u32string run;
    unsigned seed = 11;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 1103515245u + 12345u;
        run += static_cast<char32_t>(0x4E00 + (seed >> 16) % 1000);  // 1,000 kinds, all CJK
    }
    KeymapPlanner planner;
    std::vector<std::string> keymaps{planner.current().text()};
    if (planner.prepare(run)) keymaps.push_back(planner.current().text());
    std::vector<std::pair<int, std::size_t>> keys;  // keycode, keymap in force when sent
    for (char32_t ch : run) {
        const KeymapPlanner::Lookup l = planner.lookup(ch);
        if (l.switched) keymaps.push_back(planner.current().text());
        keys.push_back({l.keycode, keymaps.size() - 1});
    }
    EXPECT_GE(planner.switches(), 20u);
    for (const std::size_t lag : {1, 10, 35}) {
        std::map<std::size_t, std::unique_ptr<Compiled>> compiled;
        std::u32string typed;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::size_t map = keys[std::min(i + lag, keys.size() - 1)].second;
            auto& c = compiled[map];
            if (!c) c = std::make_unique<Compiled>(keymaps[map]);
            typed += c->charAt(keys[i].first);
        }
        EXPECT_EQ(typed, run) << "reading " << lag << " keys late";
    }
}

TEST(KeymapPlannerXkb, CharactersNotAnnouncedStillLandExactly) {
    KeymapPlanner planner;
    std::u32string announced;
    for (char32_t c = 0x3041; c < 0x3041 + 240; ++c) announced += c;
    planner.prepare(announced);
    std::u32string run = U"\u00e9\u3041\u20ac";
    auto client = std::make_unique<Compiled>(planner.current().text());
    std::u32string typed;
    for (char32_t ch : run) {
        const auto l = planner.lookup(ch);
        if (l.switched) client = std::make_unique<Compiled>(planner.current().text());
        typed += client->charAt(l.keycode);
    }
    EXPECT_EQ(typed, run);
}

#endif  // QUORVEL_HAVE_XKBCOMMON

TEST(CharacterKeymap, KeysAreDistinctInRangeAndClearOfTheFixedAndPositionalKeys) {
    std::u32string many;
    for (char32_t c = 0x100; c < 0x100 + 400; ++c) many += c;
    const CharacterKeymap map(U"aa\u00e9a" + many);
    ASSERT_EQ(map.size(), CharacterKeymap::kCapacity);
    EXPECT_EQ(map.characters().substr(0, 2), U"a\u00e9");
    const std::set<int> fixed = {fixed_keycode::kTab,   fixed_keycode::kReturn,
                                 fixed_keycode::kControl, fixed_keycode::kShift,
                                 fixed_keycode::kAlt,   fixed_keycode::kLevel3,
                                 fixed_keycode::kUp,    fixed_keycode::kLeft,
                                 fixed_keycode::kRight, fixed_keycode::kDown};
    // Where clients act on the position: Escape, BackSpace, Shift_R, Caps Lock, F1, F12,
    // Home, Delete, Super, F13, F24.
    const std::set<int> positional = {9, 22, 62, 66, 67, 96, 110, 119, 133, 191, 202};
    std::set<int> used;
    for (char32_t ch : map.characters()) {
        const int kc = map.keycodeOf(ch);
        EXPECT_GE(kc, 9);
        EXPECT_LE(kc, 255);
        EXPECT_EQ(fixed.count(kc), 0u) << kc;
        EXPECT_EQ(positional.count(kc), 0u) << kc;
        EXPECT_TRUE(used.insert(kc).second) << kc;
    }
    // What did not fit has no key.
    EXPECT_FALSE(map.holds(many.back()));
}

TEST(CharacterKeymap, ControlCharactersSurrogatesAndNonCharactersGetNoKey) {
    const CharacterKeymap map(U"\t\n\r\x1b\x7f\u0085x");
    EXPECT_EQ(map.characters(), U"x");
    for (char32_t ch : {char32_t(0x09), char32_t(0x1F), char32_t(0x80), char32_t(0x9F),
                        char32_t(0xD800), char32_t(0xDFFF), char32_t(0x110000)})
        EXPECT_FALSE(CharacterKeymap::typeable(ch)) << static_cast<unsigned>(ch);
    for (char32_t ch : {char32_t(0x20), char32_t(0xA0), char32_t(0xFFFD), char32_t(0x10FFFF)})
        EXPECT_TRUE(CharacterKeymap::typeable(ch)) << static_cast<unsigned>(ch);
    KeymapPlanner planner;
    EXPECT_EQ(planner.lookup(U'\x1b').keycode, 0);
}

TEST(KeymapPlanner, AKeymapIsSentOnlyWhenTheRunNeedsADifferentOne) {
    KeymapPlanner planner;
    EXPECT_TRUE(planner.prepare(U"hello"));
    // The same characters, or fewer, again: the keymap the clients hold already serves.
    EXPECT_FALSE(planner.prepare(U"hole"));
    EXPECT_FALSE(planner.prepare(U""));
    for (char32_t ch : std::u32string(U"hole")) EXPECT_FALSE(planner.lookup(ch).switched);
    EXPECT_TRUE(planner.prepare(U"help"));
    EXPECT_EQ(planner.switches(), 0u);
    // A keycode stays with its character while the keymap is not replaced.
    const int h = planner.lookup(U'h').keycode;
    EXPECT_EQ(planner.lookup(U'p').switched, false);
    EXPECT_EQ(planner.lookup(U'h').keycode, h);
}

TEST(KeymapPlanner, EachChangeHoldsTheCharactersThatComeNext) {
    std::u32string run;
    for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c) run += c;
    KeymapPlanner planner;
    planner.prepare(run);
    std::map<std::size_t, bool> switchedAt;
    for (std::size_t i = 0; i < run.size(); ++i)
        if (planner.lookup(run[i]).switched) switchedAt[i] = true;
    // One keymap for the first 237 characters, one change for the other 63.
    ASSERT_EQ(switchedAt.size(), 1u);
    EXPECT_EQ(switchedAt.begin()->first, CharacterKeymap::kCapacity);
}

}  // namespace
