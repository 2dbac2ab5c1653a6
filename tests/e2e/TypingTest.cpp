// Types into a real Qt window on a private Xvfb, through the engine and the X layers, and
// compares what arrived character by character.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/XTestKeyboard.h"
#include "support/XvfbServer.h"
#include "typing/core/KeyfillEngine.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test::ChildProgram;
using test::emptyKeycodes;
using test::XvfbServer;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string utf8(char32_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    if (c < 0x800)
        return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
}

class TypingE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new XvfbServer;
        char tmpl[] = "/tmp/quorvel-typing-XXXXXX";
        dir_ = mkdtemp(tmpl);
        if (!server_->ok()) return;
        out_ = dir_ / "typed.txt";
        target_ = new ChildProgram(QUORVEL_BINARY_DIR "/tests/type_target", {out_.string()},
                                   server_->display());
        window_ = target_->waitForWindow(20s);
    }
    static void TearDownTestSuite() {
        delete target_;
        delete server_;
        std::filesystem::remove_all(dir_);
        target_ = nullptr;
        server_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(server_->ok()) << server_->error();
        ASSERT_NE(window_, 0u) << "type_target did not show its window";
        keyboard_ = std::make_unique<XTestKeyboard>(server_->display());
        active_ = std::make_unique<X11ActiveWindow>(server_->display());
        ASSERT_TRUE(keyboard_->available());
        ASSERT_TRUE(active_->available());
    }

    // Empties the target and waits until its file says so.
    void clearTarget() {
        const std::string ack = std::to_string(++clears_);
        ASSERT_TRUE(target_->writeStdin("clear " + ack + "\n"));
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (readFile(out_.string() + ".ack") != ack &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        ASSERT_EQ(readFile(out_.string() + ".ack"), ack);
        ASSERT_EQ(readFile(out_), "");
    }

    // Types `script` into the target and returns what arrived once it matches `expected`
    // (or once the target has settled on something else).
    std::string typeAndCollect(const std::string& script, const std::string& expected) {
        clearTarget();
        if (HasFatalFailure()) return {};
        EXPECT_TRUE(active_->activate(window_, {}, 2s));
        EXPECT_EQ(active_->foreground(), window_);
        KeyfillHooks hooks;
        hooks.inVars = [this](const std::string& n) { return vars.count(n) > 0; };
        hooks.valueOf = [this](const std::string& n) { return vars[n]; };
        KeyfillEngine engine(*keyboard_, hooks);
        EXPECT_TRUE(engine.run(script));
        // Done when it matches, or when nothing has changed for a few seconds.
        auto lastChange = std::chrono::steady_clock::now();
        std::string got = readFile(out_);
        while (got != expected && std::chrono::steady_clock::now() - lastChange < 3s) {
            std::this_thread::sleep_for(20ms);
            std::string now = readFile(out_);
            if (now != got) lastChange = std::chrono::steady_clock::now();
            got = std::move(now);
        }
        return got;
    }

    static inline XvfbServer* server_ = nullptr;
    static inline ChildProgram* target_ = nullptr;
    static inline unsigned long window_ = 0;
    static inline int clears_ = 0;
    static inline std::filesystem::path dir_, out_;

    std::unique_ptr<XTestKeyboard> keyboard_;
    std::unique_ptr<X11ActiveWindow> active_;
    std::map<std::string, std::string> vars{{"{EMAIL}", "me@example.com"},
                                            {"{FIRST NAME}", "Zo\xC3\xAB {tab}"}};
};

TEST_F(TypingE2E, ActiveWindowIsTheQtWindow) {
    // The id the program reports through winId() is the one the layer finds and activates.
    // The program writes it just after showing the window, so give it a moment.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (readFile(out_.string() + ".wid").empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(readFile(out_.string() + ".wid"), std::to_string(window_));
    ASSERT_TRUE(active_->activate(window_, {}, 2s));
    EXPECT_EQ(active_->foreground(), window_);
}

TEST_F(TypingE2E, ActivationWaitsForTheFocusAndNeverCountsOurOwnWindows) {
    ASSERT_TRUE(active_->activate(window_, {}, 2s));
    // The focus is inside the window (Qt gives it to a child or the window itself).
    EXPECT_TRUE(active_->focusIn({window_}));
    EXPECT_FALSE(active_->focusIn({window_ + 1}));
    EXPECT_EQ(active_->title(window_), "type_target");
    // A window of our own is never a target, and a window that is gone never takes the
    // focus: both refused, the second only at the limit.
    EXPECT_FALSE(active_->activate(window_, {window_}, 2s));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(active_->activate(0x7ffffff, {}, 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
}

TEST_F(TypingE2E, KeysGoToThePointerWindowWhenThePointerIsInsideTheFocusWindow) {
    // X's rule: with the focus on the root (or PointerRoot, or a frame around the window)
    // the keys go to the window under the pointer.
    Display* dpy = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(dpy, nullptr);
    const Window root = DefaultRootWindow(dpy);
    XWindowAttributes a{};
    ASSERT_TRUE(XGetWindowAttributes(dpy, window_, &a));
    const auto pointerAt = [&](Window w, int x, int y) {
        XWarpPointer(dpy, None, w, 0, 0, 0, 0, x, y);
        XSync(dpy, False);
    };
    for (const Window focus : {root, static_cast<Window>(PointerRoot)}) {
        SCOPED_TRACE(focus == root ? "focus on the root" : "PointerRoot");
        XSetInputFocus(dpy, focus, RevertToPointerRoot, CurrentTime);
        pointerAt(window_, a.width / 2, a.height / 2);
        EXPECT_TRUE(active_->focusIn({window_}));
        pointerAt(root, a.x + a.width + 20, a.y + a.height + 20);  // beside the window
        EXPECT_FALSE(active_->focusIn({window_}));
    }
    XCloseDisplay(dpy);
}

// Codes, variables, both cases, punctuation and characters missing from the layout.
const std::string kScript =
    "x}y Hello, World! The quick brown fox jumps over the lazy dog. 0123456789 "
    "~!@#$%^&*()_+-=[]\\|;:'\",.<>/?`{tab}tab{enter}line2 {email} {First Name}{nosuchvar}"
    "\xC3\xA9 \xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD \xC3\xBC \xCE\xA9 \xC3\x84\xC3\x96"
    "{ENTER}xz{left}y";
const std::string kExpected =
    "x}y Hello, World! The quick brown fox jumps over the lazy dog. 0123456789 "
    "~!@#$%^&*()_+-=[]\\|;:'\",.<>/?`\ttab\nline2 me@example.com Zo\xC3\xAB {tab}"
    "\xC3\xA9 \xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD \xC3\xBC \xCE\xA9 \xC3\x84\xC3\x96\nxyz";

TEST_F(TypingE2E, ScriptArrivesWholeUnderUsAndGermanLayouts) {
    const int emptyBefore = emptyKeycodes(server_->display());
    for (const char* layout : {"us", "de", "us"}) {
        SCOPED_TRACE(layout);
        ASSERT_TRUE(server_->setLayout(layout));
        EXPECT_EQ(typeAndCollect(kScript, kExpected), kExpected);
        // Lent keycodes stay lent after the run: the target may read the keys much later.
        EXPECT_GT(keyboard_->lentKeycodes(), 0u);
        EXPECT_LT(emptyKeycodes(server_->display()), emptyBefore);
    }
    // A second run of the same script needs no change of the keyboard map at all.
    const std::size_t remaps = keyboard_->remapCount();
    const std::size_t spare = keyboard_->spareKeycodes();
    EXPECT_EQ(typeAndCollect(kScript, kExpected), kExpected);
    EXPECT_EQ(keyboard_->remapCount(), remaps);
    // A run without them gives them back once they have been unused long enough, and so
    // does the idle check; not before.
    keyboard_->setGiveBackTimes(1s, 1s);
    EXPECT_EQ(typeAndCollect("plain", "plain"), "plain");
    keyboard_->giveBackIdle();
    EXPECT_GT(keyboard_->lentKeycodes(), 0u);
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(typeAndCollect("plain", "plain"), "plain");
    EXPECT_EQ(keyboard_->lentKeycodes(), 0u);
    EXPECT_EQ(emptyKeycodes(server_->display()), emptyBefore);
    EXPECT_EQ(typeAndCollect(kScript, kExpected), kExpected);
    std::this_thread::sleep_for(1100ms);
    keyboard_->giveBackIdle();
    EXPECT_EQ(keyboard_->lentKeycodes(), 0u);
    EXPECT_EQ(emptyKeycodes(server_->display()), emptyBefore);
    // Keys given back are as free as before.
    EXPECT_EQ(typeAndCollect(kScript, kExpected), kExpected);
    EXPECT_EQ(keyboard_->spareKeycodes(), spare);
    // And the end of the program.
    EXPECT_EQ(typeAndCollect(kScript, kExpected), kExpected);
    keyboard_.reset();
    EXPECT_EQ(emptyKeycodes(server_->display()), emptyBefore);
}

// Every keycode's symbols, as core clients see them.
std::vector<KeySym> coreKeymap(const std::string& display) {
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) return {};
    int lo = 0, hi = 0, per = 0;
    XDisplayKeycodes(dpy, &lo, &hi);
    KeySym* syms = XGetKeyboardMapping(dpy, static_cast<KeyCode>(lo), hi - lo + 1, &per);
    std::vector<KeySym> out(syms, syms + (hi - lo + 1) * per);
    XFree(syms);
    XCloseDisplay(dpy);
    return out;
}

TEST_F(TypingE2E, ManyMissingCharactersShareTheSpareKeycodesInFewKeymapChanges) {
    ASSERT_TRUE(server_->setLayout("us"));
    keyboard_->setKeymapChangeGap(0ms);
    const std::vector<KeySym> before = coreKeymap(server_->display());
    // Far more distinct characters than spare keycodes, each coming back now and then:
    // keycodes are lent again and again while the target still reads earlier events.
    std::vector<std::string> chars;
    for (char32_t c = 0x3B1; c <= 0x3C9; ++c) chars.push_back(utf8(c));         // Greek
    for (char32_t c = 0x4E00; c < 0x4E00 + 40; ++c) chars.push_back(utf8(c));  // CJK
    std::string script;
    unsigned seed = 7;
    for (int i = 0; i < 600; ++i) {
        seed = seed * 1103515245u + 12345u;
        script += chars[(seed >> 16) % chars.size()];
        if (i % 7 == 0) script += "a";
    }
    EXPECT_EQ(typeAndCollect(script, script), script);
    EXPECT_GT(keyboard_->remapCount(), 2 * keyboard_->spareKeycodes());
    // Each change fills every spare key, both levels, with what comes next: a few dozen
    // keymap reloads for the clients, not one per character.
    EXPECT_LE(keyboard_->keymapChanges(), 600 / keyboard_->spareKeycodes());
    // The changes span the keys between the spare ones; those keep their symbols.
    const std::vector<KeySym> during = coreKeymap(server_->display());
    ASSERT_EQ(during.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] != NoSymbol) {
            EXPECT_EQ(during[i], before[i]) << "keymap entry " << i;
        }
    }
    // Caps Lock changes neither level of a lent key, nor the letters around them.
    Display* dpy = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(dpy, nullptr);
    XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, LockMask);
    XSync(dpy, False);
    EXPECT_EQ(typeAndCollect(script, script), script);
    XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, 0);
    XCloseDisplay(dpy);
    // Another layout takes over keys we lent; its own spare keys are lent instead.
    ASSERT_TRUE(server_->setLayout("de"));
    EXPECT_EQ(typeAndCollect(script, script), script);
    ASSERT_TRUE(server_->setLayout("us"));
    // At the end every key is as it was.
    keyboard_.reset();
    EXPECT_EQ(coreKeymap(server_->display()), before);
}

TEST_F(TypingE2E, LayoutKeysAnotherToolEmptiedAreNotLent) {
    ASSERT_TRUE(server_->setLayout("us"));
    EXPECT_EQ(typeAndCollect("\xCE\xA9", "\xCE\xA9"), "\xCE\xA9");
    const std::size_t spare = keyboard_->spareKeycodes();
    EXPECT_GT(spare, 0u);
    // xdotool, finding no free key, borrows the hidden Alt key and leaves it without
    // symbols; clients still read it as a modifier's place.
    Display* dpy = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(dpy, nullptr);
    int per = 0;
    KeySym* old = XGetKeyboardMapping(dpy, 204, 1, &per);
    std::vector<KeySym> none(static_cast<std::size_t>(per), NoSymbol);
    XChangeKeyboardMapping(dpy, 204, per, none.data(), 1);
    XSync(dpy, False);
    keyboard_ = std::make_unique<XTestKeyboard>(server_->display());
    EXPECT_EQ(typeAndCollect("\xCE\xA9", "\xCE\xA9"), "\xCE\xA9");
    EXPECT_EQ(keyboard_->spareKeycodes(), spare);
    XChangeKeyboardMapping(dpy, 204, per, old, 1);
    XFree(old);
    XCloseDisplay(dpy);
}

TEST(TypingWithoutDisplay, LayersReportUnavailableAndTypeNothing) {
    XTestKeyboard keyboard(":65000");
    X11ActiveWindow active(":65000");
    EXPECT_FALSE(keyboard.available());
    EXPECT_FALSE(active.available());
    EXPECT_EQ(active.foreground(), 0u);
    EXPECT_FALSE(active.activate(42, {}, 10ms));
    EXPECT_EQ(keyboard.scan(U'a').key, -1);
    keyboard.keyDown(VK_RETURN);
    KeyfillEngine engine(keyboard, KeyfillHooks{});
    EXPECT_FALSE(engine.run("abc"));
}

}  // namespace
}  // namespace quorvel
