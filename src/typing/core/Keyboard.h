// The keyboard and active-window seams of the typing engine: the real layers talk to the
// X server or the Wayland compositor, the test fakes record what they were asked to do.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quorvel {

enum VirtualKey : int {
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    // Our own modifier keys beyond Windows' three: the level-3 (AltGr) and level-5 shifts.
    VK_ALTGR = 0x100,
    VK_LEVEL5 = 0x101,
};

// Bits of KeyScan::shiftState.
enum ShiftBits : int {
    SHIFT_BIT = 1,
    CTRL_BIT = 2,
    ALT_BIT = 4,
    ALTGR_BIT = 8,
    LEVEL5_BIT = 16,
};

// The VkKeyScan analogue: `key` is an opaque key id (the virtual keys above, or ids the layer
// hands out for character keys); -1 when the character cannot be produced. shiftState bits:
// 1 Shift, 2 Ctrl, 4 Alt, and our own extensions 8 AltGr (ISO level 3) and 16 ISO level 5,
// pressed in that order after Shift, Ctrl, Alt.
struct KeyScan {
    int key = -1;
    int shiftState = 0;
};

class Keyboard {
public:
    virtual ~Keyboard() = default;
    virtual bool available() const = 0;  // false: typing impossible on this desktop
    virtual void beginRun() = 0;         // (re)build the layout map for this run
    // The run's last key event was sent.  Keys lent to characters stay lent: the target may
    // read the events long after they were sent, with the keymap it holds at that moment.
    virtual void endRun() = 0;
    virtual KeyScan scan(char32_t ch) = 0;
    virtual void keyDown(int key) = 0;  // virtual keys of the enum, modifier keys, ids from scan()
    virtual void keyUp(int key) = 0;
    // A hint given after beginRun(): the characters the run is about to type, so that a layer
    // that has to lend keys to characters missing from the layout can do it all at once.
    virtual void prepare(const std::u32string& characters) { (void)characters; }
    // Called now and then between runs: gives back lent keys once they have been idle long
    // enough that no target can still be reading events that used them.
    virtual void giveBackIdle() {}
    // Whether the layout types `ch` on a key of its own: no key lent, no keymap change.
    virtual bool hasKey(char32_t ch) {
        (void)ch;
        return true;
    }
    // Whether paste() can work on this desktop at all.
    virtual bool canPaste() const { return false; }
    // Hands `text` to the window with the keyboard through the clipboard and the paste key.
    // True once the window has read it; false when nothing of it arrived (it must be typed
    // then).  `pump` keeps our own windows answering while this waits.  The user's
    // clipboard is given back at endRun().
    virtual bool paste(const std::u32string& text, const std::function<void()>& pump) {
        (void)text;
        (void)pump;
        return false;
    }
    // Called at Type before the target is brought to the front.  A layer that must first
    // open a session with the desktop, which may ask the user's consent, does it here.
    // Empty when typing can go ahead; otherwise what to tell the user, and nothing is typed.
    virtual std::string open() { return {}; }
};

using WindowId = unsigned long;

class ActiveWindow {
public:
    virtual ~ActiveWindow() = default;
    virtual bool available() const = 0;
    virtual WindowId foreground() = 0;  // 0 when there is none
    // Brings `w` to the front and waits, at most `limit`, until the keyboard focus is inside
    // `w` and inside none of `own` (our own windows).  False when that did not happen.
    virtual bool activate(WindowId w, const std::vector<WindowId>& own,
                          std::chrono::milliseconds limit) = 0;
    // Whether the keyboard focus is inside one of `own` right now.
    virtual bool focusIn(const std::vector<WindowId>& own) = 0;
    // The window's title as its owner set it; empty when it has none.
    virtual std::string title(WindowId w) = 0;
    // The run that followed a successful activate() has ended (a layer that stepped our
    // windows aside brings them back).
    virtual void runEnded() {}
};

}  // namespace quorvel
