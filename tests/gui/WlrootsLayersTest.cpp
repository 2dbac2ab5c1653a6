// The wlroots typing layers against a compositor of our own that records the virtual
// keyboard's requests and plays a toplevel list: the keys that arrive translate, with the
// keymap in force when each arrived, to exactly what was typed.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#include "platform/wayland/ForeignToplevelWindow.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "support/FakeWlrootsCompositor.h"
#include "typing/core/KeyfillEngine.h"

using namespace quorvel;
using quorvel::test::FakeWlrootsCompositor;
using namespace std::chrono_literals;

namespace {

// Keycode to character, read from the keymap text as a client would see it.
std::map<std::uint32_t, char32_t> charactersOf(const std::string& keymap) {
    std::map<std::uint32_t, char32_t> out;
    static const std::regex key(R"(key <K(\d+)> \{[^}]*= \[ U([0-9A-F]+) \])");
    for (auto it = std::sregex_iterator(keymap.begin(), keymap.end(), key);
         it != std::sregex_iterator(); ++it)
        out[static_cast<std::uint32_t>(std::stoul((*it)[1]))] =
            static_cast<char32_t>(std::stoul((*it)[2], nullptr, 16));
    out[23] = U'\t';
    out[36] = U'\n';
    return out;
}

// What a client would have typed from the key presses the compositor received.
std::u32string received(const FakeWlrootsCompositor& c) {
    const auto keymaps = c.keymaps();
    std::vector<std::map<std::uint32_t, char32_t>> maps;
    for (const auto& k : keymaps) maps.push_back(charactersOf(k));
    std::u32string out;
    for (const auto& e : c.keys()) {
        if (!e.pressed) continue;
        const auto& m = maps.at(e.keymap);
        if (auto it = m.find(e.key + 8); it != m.end()) out += it->second;
    }
    return out;
}

bool eventually(const std::function<bool()>& condition) {
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct WlrootsLayers : ::testing::Test {
    FakeWlrootsCompositor compositor;
    std::shared_ptr<WaylandConnection> connection;

    void SetUp() override {
        ASSERT_FALSE(compositor.socket().empty());
        connection = WaylandConnection::open(compositor.socket().c_str());
        ASSERT_TRUE(connection);
    }
};

TEST_F(WlrootsLayers, EveryCharacterArrivesWithTheKeymapInForceWhenItsKeyWasSent) {
    WaylandKeyboard keyboard(connection);
    ASSERT_TRUE(keyboard.available());
    std::u32string many;
    for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c) many += c;
    std::string manyUtf8;
    for (char32_t c : many) {  // three UTF-8 bytes each
        manyUtf8 += static_cast<char>(0xE0 | (c >> 12));
        manyUtf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        manyUtf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
    KeyfillEngine engine(keyboard, {});
    ASSERT_TRUE(engine.run("h\xc3\xa9llo{tab}\xc3\x9f \xe2\x82\xac \xe4\xb8\xad \xce\xa9{enter}" +
                           manyUtf8 + manyUtf8.substr(0, 30)));
    // Read right away: the run ends only once the compositor has every key.
    EXPECT_EQ(received(compositor),
              U"h\u00e9llo\t\u00df \u20ac \u4e2d \u03a9\n" + many + many.substr(0, 10));
    EXPECT_GE(compositor.keymaps().size(), 3u);  // at start, for the run, and mid-run
    std::size_t presses = 0, releases = 0;
    for (const auto& e : compositor.keys()) {
        (e.pressed ? presses : releases)++;
        EXPECT_EQ(e.modifiers, 0u);
    }
    EXPECT_EQ(presses, releases);
}

TEST_F(WlrootsLayers, EveryRunSendsItsKeymapAheadOfItsKeysEvenWhenUnchanged) {
    WaylandKeyboard keyboard(connection);
    KeyfillEngine engine(keyboard, {});
    ASSERT_TRUE(engine.run("\xce\xa9" "a"));
    const std::size_t afterFirst = compositor.keymaps().size();
    const std::size_t keysFirst = compositor.keys().size();
    // The compositor may have put a keymap of its own in between (as sway does on reload).
    ASSERT_TRUE(engine.run("a\xce\xa9"));
    const auto keymaps = compositor.keymaps();
    const auto keys = compositor.keys();
    ASSERT_GT(keymaps.size(), afterFirst);
    ASSERT_GT(keys.size(), keysFirst);
    for (std::size_t i = keysFirst; i < keys.size(); ++i) EXPECT_GE(keys[i].keymap, afterFirst);
    EXPECT_EQ(received(compositor), U"\u03a9aa\u03a9");
}

TEST_F(WlrootsLayers, ModifierKeysAnnounceTheirMasksAndARunEndsWithNoneHeld) {
    WaylandKeyboard keyboard(connection);
    keyboard.beginRun();
    keyboard.prepare(U"a");
    const KeyScan a = keyboard.scan(U'a');
    ASSERT_GE(a.key, 0);
    EXPECT_EQ(a.shiftState, 0);
    keyboard.keyDown(VK_CONTROL);
    keyboard.keyDown(a.key);
    keyboard.keyUp(a.key);
    keyboard.keyUp(VK_CONTROL);
    for (int vk : {VK_SHIFT, VK_MENU, VK_ALTGR}) keyboard.keyDown(vk);
    keyboard.endRun();  // with three modifier keys still down
    const auto keys = compositor.keys();
    ASSERT_GE(keys.size(), 4u);
    EXPECT_EQ(keys[0].key + 8, static_cast<std::uint32_t>(fixed_keycode::kControl));
    EXPECT_TRUE(keys[1].pressed);
    EXPECT_EQ(keys[1].modifiers, modifier_mask::kControl);
    const std::vector<std::uint32_t> expected = {
        modifier_mask::kControl, 0, modifier_mask::kShift,
        modifier_mask::kShift | modifier_mask::kAlt,
        modifier_mask::kShift | modifier_mask::kAlt | modifier_mask::kLevel3, 0};
    EXPECT_EQ(compositor.modifierChanges(), expected);
    // Every key that went down came up again.
    std::map<std::uint32_t, int> down;
    for (const auto& e : keys) down[e.key] += e.pressed ? 1 : -1;
    for (const auto& [key, n] : down) EXPECT_EQ(n, 0) << key;
}

TEST_F(WlrootsLayers, TheTargetIsTheActivatedToplevelThatIsNotOurs) {
    const int editor = compositor.addToplevel("org.example.editor", "Ad form");
    const int ours = compositor.addToplevel("quorvel", "Quorvel");
    const int other = compositor.addToplevel("foot", "shell");
    ForeignToplevelWindow windows(connection, "quorvel");
    ASSERT_TRUE(windows.available());
    EXPECT_TRUE(eventually([&] {
        windows.foreground();  // takes in what arrived
        return windows.toplevels().size() == 3;
    }));
    EXPECT_EQ(windows.foreground(), 0u);  // nothing activated yet

    compositor.activateToplevel(editor);
    WindowId editorId = 0;
    EXPECT_TRUE(eventually([&] { return (editorId = windows.foreground()) != 0; }));
    EXPECT_EQ(windows.title(editorId), "Ad form");
    EXPECT_EQ(windows.appId(editorId), "org.example.editor");
    EXPECT_FALSE(windows.focusIn({}));

    // Ours in front: no target, and our windows have the keyboard.
    compositor.activateToplevel(ours);
    EXPECT_TRUE(eventually([&] { return windows.focusIn({}); }));
    EXPECT_EQ(windows.foreground(), 0u);

    // Activating the target waits for the compositor to say it is in front, and for the
    // target to have held the keyboard a while (an X window gets it later).
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(windows.activate(editorId, {}, 2s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, ForeignToplevelWindow::kActivationSettle);
    EXPECT_FALSE(windows.focusIn({}));
    EXPECT_EQ(windows.foreground(), editorId);
    EXPECT_EQ(compositor.activationRequests(), std::vector<int>{editor});

    // A target that loses the keyboard again while it settles (our window takes it back)
    // is not typed into: the activation fails at the limit.
    compositor.activateToplevel(ours);
    EXPECT_TRUE(eventually([&] { return windows.focusIn({}); }));
    std::thread takeBack([&] {
        std::this_thread::sleep_for(ForeignToplevelWindow::kActivationSettle / 3);
        compositor.activateToplevel(ours);
    });
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(windows.activate(editorId, {}, 600ms));
    takeBack.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 600ms);
    EXPECT_TRUE(windows.focusIn({}));

    // A closed window is forgotten and cannot be activated.
    compositor.activateToplevel(other);
    compositor.closeToplevel(editor);
    EXPECT_TRUE(eventually([&] {
        windows.foreground();
        return windows.toplevels().size() == 2;
    }));
    EXPECT_NE(windows.foreground(), editorId);
    EXPECT_EQ(windows.title(editorId), "");
    EXPECT_FALSE(windows.activate(editorId, {}, 100ms));
}

TEST(WlrootsLayersRefused, ActivationTheCompositorIgnoresFailsAtTheLimit) {
    FakeWlrootsCompositor::Options options;
    options.activateOnRequest = false;
    FakeWlrootsCompositor compositor(options);
    const int target = compositor.addToplevel("org.example.editor", "Ad form");
    const int ours = compositor.addToplevel("quorvel", "Quorvel");
    compositor.activateToplevel(ours);
    auto connection = WaylandConnection::open(compositor.socket().c_str());
    ASSERT_TRUE(connection);
    ForeignToplevelWindow windows(connection, "quorvel");
    ASSERT_TRUE(eventually([&] { return windows.focusIn({}); }));
    WindowId id = 0;
    for (WindowId w : windows.toplevels())
        if (windows.appId(w) == "org.example.editor") id = w;
    ASSERT_NE(id, 0u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(windows.activate(id, {}, 300ms));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_EQ(compositor.activationRequests(), std::vector<int>{target});
}

TEST(WlrootsLayersRefused, ACompositorWithoutAGlobalLeavesItsLayerUnavailable) {
    FakeWlrootsCompositor::Options noKeyboard;
    noKeyboard.virtualKeyboard = false;
    FakeWlrootsCompositor a(noKeyboard);
    auto ca = WaylandConnection::open(a.socket().c_str());
    ASSERT_TRUE(ca);
    EXPECT_FALSE(ca->offers("zwp_virtual_keyboard_manager_v1"));
    EXPECT_FALSE(WaylandKeyboard(ca).available());
    EXPECT_TRUE(ForeignToplevelWindow(ca, "quorvel").available());

    FakeWlrootsCompositor::Options noToplevels;
    noToplevels.toplevels = false;
    FakeWlrootsCompositor b(noToplevels);
    auto cb = WaylandConnection::open(b.socket().c_str());
    ASSERT_TRUE(cb);
    EXPECT_FALSE(ForeignToplevelWindow(cb, "quorvel").available());
    WaylandKeyboard keyboard(cb);
    EXPECT_TRUE(keyboard.available());
    EXPECT_EQ(keyboard.scan(U'\x1b').key, -1);

    EXPECT_FALSE(WaylandConnection::open("/nonexistent/wayland-0"));
}

}  // namespace
