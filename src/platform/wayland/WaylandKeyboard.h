// The keyboard layer on wlroots compositors: a virtual keyboard of our own whose keymap
// holds exactly the characters the run types, each on a key of its own.  With a clipboard,
// text beyond ASCII is pasted instead: the keymap then stays small and the same from run to
// run, and no client reloads keymaps in the middle of a text.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>

#include "platform/core/CharacterKeymap.h"
#include "platform/core/PasteClipboard.h"
#include "typing/core/Keyboard.h"

struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace quorvel {

class WaylandConnection;

class WaylandKeyboard : public Keyboard {
public:
    explicit WaylandKeyboard(std::shared_ptr<WaylandConnection> connection,
                             std::unique_ptr<PasteClipboard> clipboard = nullptr);
    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    bool available() const override;
    void beginRun() override;
    void endRun() override;
    void prepare(const std::u32string& characters) override;
    KeyScan scan(char32_t ch) override;
    void keyDown(int key) override;
    void keyUp(int key) override;
    bool hasKey(char32_t ch) override;
    bool canPaste() const override;
    bool paste(const std::u32string& text, const std::function<void()>& pump) override;

    // For tests and benchmarks: keymaps sent since construction.
    std::size_t keymapsSent() const { return keymapsSent_; }

private:
    bool sendKeymap();
    void send(int key, bool down);
    void sendModifiers();
    void pace();

    std::shared_ptr<WaylandConnection> connection_;
    std::unique_ptr<PasteClipboard> clipboard_;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    bool keymapOk_ = false;
    bool keymapSentThisRun_ = false;
    KeymapPlanner planner_;
    std::uint32_t modifiers_ = 0;  // real modifier mask of the modifier keys held
    std::set<int> held_;           // keycodes down
    std::size_t keymapsSent_ = 0;
    std::chrono::steady_clock::time_point lastKey_{};  // the last key release sent
    std::chrono::steady_clock::time_point lastKeymap_{};
};

}  // namespace quorvel
