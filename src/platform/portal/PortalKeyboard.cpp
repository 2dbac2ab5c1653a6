#include "platform/portal/PortalKeyboard.h"

#include <QDir>
#include <chrono>
#include <thread>
#include <utility>

namespace quorvel::portal {

namespace {

// Key ids of character keys: their keysym above every virtual key of the script.
constexpr int kKeysymKey = 0x20000000;

int virtualKeysym(int key) {
    switch (key) {
        case VK_TAB: return 0xff09;      // Tab
        case VK_RETURN: return 0xff0d;   // Return
        case VK_SHIFT: return 0xffe1;    // Shift_L
        case VK_CONTROL: return 0xffe3;  // Control_L
        case VK_MENU: return 0xffe9;     // Alt_L
        case VK_LEFT: return 0xff51;
        case VK_UP: return 0xff52;
        case VK_RIGHT: return 0xff53;
        case VK_DOWN: return 0xff54;
        case VK_ALTGR: return 0xfe03;   // ISO_Level3_Shift
        case VK_LEVEL5: return 0xfe11;  // ISO_Level5_Shift
        default: return 0;
    }
}

}  // namespace

PortalKeyboard::PortalKeyboard(QDBusConnection bus, const QString& dataFolder,
                               KeymapSource keymap)
    : session_(std::move(bus), QDir(dataFolder).filePath(tokenFileName())),
      keymapSource_(std::move(keymap)) {}

// A portal that has not answered yet may still offer a keyboard: open() asks it again.
bool PortalKeyboard::available() const { return session_.offered() || !session_.answered(); }

std::string PortalKeyboard::open() {
    const bool opening = !session_.isOpen();
    const QString refused = session_.open(consentLimit_);
    if (refused.isEmpty() && opening) awaitKeyboard();
    return refused.toStdString();
}

// A desktop with no keyboard of its own (headless, or a remote session) gives its seat a
// keyboard only once the portal's virtual one exists, a few milliseconds after the session's
// first key; a keymap read before that is empty and every character would be left out.
// Where the seat has a keyboard already this returns at once.
void PortalKeyboard::awaitKeyboard() const {
    if (!keymapSource_) return;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (keymapSource_().empty() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void PortalKeyboard::beginRun() {
    // Read afresh: the user may have switched layouts since the last run.
    keymap_ = XkbKeymap::fromText(keymapSource_ ? keymapSource_() : std::string());
}

KeyScan PortalKeyboard::scan(char32_t ch) {
    // Without the compositor's keymap we cannot know what a keysym would type: type nothing
    // rather than a wrong character.
    const auto found = keymap_ ? keymap_->find(ch) : std::nullopt;
    if (!found) return {};
    return KeyScan{kKeysymKey + static_cast<int>(found->keysym), found->shiftState};
}

void PortalKeyboard::send(int key, bool pressed) {
    const int keysym = key >= kKeysymKey ? key - kKeysymKey : virtualKeysym(key);
    if (keysym != 0) session_.keysym(keysym, pressed);
}

void PortalKeyboard::keyDown(int key) { send(key, true); }
void PortalKeyboard::keyUp(int key) { send(key, false); }

}  // namespace quorvel::portal
