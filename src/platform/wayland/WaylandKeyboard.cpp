#include "platform/wayland/WaylandKeyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <ctime>
#include <thread>
#include <utility>

#include "model/Text.h"
#include "platform/wayland/WaylandConnection.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace quorvel {

namespace {

// Key ids handed out for character keys: this base plus the keycode.
constexpr int kCharKeyBase = 0x10000;

// The XKB keycode of a key id, and the modifier mask the key sets; 0 for keys we lack.
struct KeyInfo {
    int keycode = 0;
    std::uint32_t modifier = 0;
};

KeyInfo keyInfo(int key) {
    if (key >= kCharKeyBase) return {key - kCharKeyBase, 0};
    switch (key) {
        case VK_TAB: return {fixed_keycode::kTab, 0};
        case VK_RETURN: return {fixed_keycode::kReturn, 0};
        case VK_LEFT: return {fixed_keycode::kLeft, 0};
        case VK_UP: return {fixed_keycode::kUp, 0};
        case VK_RIGHT: return {fixed_keycode::kRight, 0};
        case VK_DOWN: return {fixed_keycode::kDown, 0};
        case VK_INSERT: return {fixed_keycode::kInsert, 0};
        case VK_SHIFT: return {fixed_keycode::kShift, modifier_mask::kShift};
        case VK_CONTROL: return {fixed_keycode::kControl, modifier_mask::kControl};
        case VK_MENU: return {fixed_keycode::kAlt, modifier_mask::kAlt};
        case VK_ALTGR: return {fixed_keycode::kLevel3, modifier_mask::kLevel3};
        default: return {};  // no character needs level 5 here: it has no key
    }
}

std::uint32_t nowMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

}  // namespace

WaylandKeyboard::WaylandKeyboard(std::shared_ptr<WaylandConnection> connection,
                                 std::unique_ptr<PasteClipboard> clipboard)
    : connection_(std::move(connection)), clipboard_(std::move(clipboard)) {
    if (!connection_ || !connection_->seat()) return;
    manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
        connection_->bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    if (!manager_) return;
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_,
                                                                        connection_->seat());
    // A key event before any keymap is a protocol error that ends the connection.
    keymapOk_ = sendKeymap() && connection_->roundtrip();
}

WaylandKeyboard::~WaylandKeyboard() {
    if (keyboard_) {
        if (available()) endRun();
        zwp_virtual_keyboard_v1_destroy(keyboard_);
    }
    if (manager_) zwp_virtual_keyboard_manager_v1_destroy(manager_);
    if (connection_) connection_->flush();
}

bool WaylandKeyboard::available() const {
    return keyboard_ && keymapOk_ && connection_->alive();
}

bool WaylandKeyboard::sendKeymap() {
    const std::string text = planner_.current().text();
    const int fd = memfd_create("quorvel-keymap", MFD_CLOEXEC);
    if (fd < 0) return false;
    // The compositor reads it as a C string: the terminating zero belongs to it.
    const std::size_t size = text.size() + 1;
    bool written = true;
    for (std::size_t done = 0; written && done < size;) {
        const ssize_t n = write(fd, text.c_str() + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else
            written = false;
    }
    if (written) {
        lastKeymap_ = std::chrono::steady_clock::now();
        // The request carries a copy of the descriptor.
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
        ++keymapsSent_;
    }
    close(fd);
    // A new keymap starts with no modifier down: the keys still held say otherwise.
    if (written && modifiers_ != 0) sendModifiers();
    return written && connection_->flush();
}

// Every run sends its keymap before its first key, even one the compositor had already:
// the compositor may have put its own in the meantime (sway does on reload and on a layout
// change, and tells no one).
void WaylandKeyboard::beginRun() {
    if (!available()) return;
    connection_->dispatch(std::chrono::milliseconds(0));
    keymapSentThisRun_ = false;
}

void WaylandKeyboard::prepare(const std::u32string& characters) {
    if (!available()) return;
    planner_.prepare(characters);
    keymapSentThisRun_ = sendKeymap();
}

KeyScan WaylandKeyboard::scan(char32_t ch) {
    if (!available()) return {};
    if (ch == U'\t') return {VK_TAB, 0};
    if (ch == U'\r' || ch == U'\n') return {VK_RETURN, 0};
    const KeymapPlanner::Lookup l = planner_.lookup(ch);
    if (l.keycode == 0) return {};
    // The keymap goes out ahead of the key on the same connection, and the compositor
    // passes it on to the focused client ahead of the key too.
    if (l.switched || !keymapSentThisRun_) {
        // Every keymap makes the target reload its own: at most a few a second.
        constexpr auto kKeymapGap = std::chrono::milliseconds(250);
        if (l.switched && std::chrono::steady_clock::now() < lastKeymap_ + kKeymapGap)
            std::this_thread::sleep_until(lastKeymap_ + kKeymapGap);
        if (!sendKeymap()) return {};
        keymapSentThisRun_ = true;
    }
    return {kCharKeyBase + l.keycode, 0};
}

bool WaylandKeyboard::hasKey(char32_t ch) { return ch >= 0x20 && ch < 0x7F; }

bool WaylandKeyboard::canPaste() const { return clipboard_ && clipboard_->usable(); }

bool WaylandKeyboard::paste(const std::u32string& text, const std::function<void()>& pump) {
    if (!available() || !canPaste()) return false;
    std::string utf8;
    for (char32_t c : text) appendUtf8(utf8, c);
    // Shift+Insert: browsers, GTK and Qt paste the clipboard with it, terminals (where
    // Ctrl+V is a character of its own) the primary selection; both hold the text.  The
    // keymap must be this run's before the paste key goes out.
    if (!keymapSentThisRun_) {
        if (!sendKeymap()) return false;
        keymapSentThisRun_ = true;
    }
    return pasteThrough(*clipboard_, utf8, [&] {
        keyDown(VK_SHIFT);
        keyDown(VK_INSERT);
        keyUp(VK_INSERT);
        keyUp(VK_SHIFT);
    }, pump);
}

void WaylandKeyboard::keyDown(int key) {
    if (available()) send(key, true);
}

void WaylandKeyboard::keyUp(int key) {
    if (available()) send(key, false);
}

void WaylandKeyboard::send(int key, bool down) {
    const KeyInfo k = keyInfo(key);
    if (k.keycode <= 8 || k.keycode > 255) return;
    zwp_virtual_keyboard_v1_key(keyboard_, nowMilliseconds(),
                                static_cast<std::uint32_t>(k.keycode - 8),
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                     : WL_KEYBOARD_KEY_STATE_RELEASED);
    if (down)
        held_.insert(k.keycode);
    else
        held_.erase(k.keycode);
    // Compositors take the modifier state from us, not from the modifier keys' events.
    if (k.modifier) {
        const std::uint32_t before = modifiers_;
        if (down)
            modifiers_ |= k.modifier;
        else
            modifiers_ &= ~k.modifier;
        if (modifiers_ != before) sendModifiers();
    }
    connection_->flush();
    if (!down) pace();
}

// The compositor passes every key on to the focused client at once, whatever the client
// has read so far, and drops a client whose queue of unread events overflows (libwayland
// keeps about 4 KiB per client: some 80 key events).  foot, busy drawing, was dropped in 2
// to 4 of 10 runs of 1,200 characters at full speed, in none of 55 at one key a millisecond.
void WaylandKeyboard::pace() {
    constexpr auto kKeyInterval = std::chrono::milliseconds(1);
    const auto now = std::chrono::steady_clock::now();
    if (now < lastKey_ + kKeyInterval) std::this_thread::sleep_until(lastKey_ + kKeyInterval);
    lastKey_ = std::chrono::steady_clock::now();
}

void WaylandKeyboard::sendModifiers() {
    zwp_virtual_keyboard_v1_modifiers(keyboard_, modifiers_, 0, 0, 0);
}

void WaylandKeyboard::endRun() {
    if (!available()) return;
    for (int kc : std::set<int>(held_)) {
        zwp_virtual_keyboard_v1_key(keyboard_, nowMilliseconds(),
                                    static_cast<std::uint32_t>(kc - 8),
                                    WL_KEYBOARD_KEY_STATE_RELEASED);
        held_.erase(kc);
    }
    if (modifiers_ != 0) {
        modifiers_ = 0;
        sendModifiers();
    }
    // Every key is with the compositor, and so on its way to the target, before the run
    // counts as done.
    connection_->roundtrip();
    // Every paste was read before the run went on, so the user's clipboard can come back.
    if (clipboard_) clipboard_->restore({});
}

}  // namespace quorvel
