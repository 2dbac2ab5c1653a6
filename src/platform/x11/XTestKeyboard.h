// The keyboard layer on the X server: key events through XTest, characters translated
// with the keyboard's current XKB map.  A character the layout lacks is typed through a
// spare keycode lent to it in batches planned over the run, kept while the target may
// still read keys that used it; text with such characters goes through the clipboard when
// the target pastes.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "typing/core/Keyboard.h"

namespace quorvel {

class XTestKeyboard : public Keyboard {
public:
    XTestKeyboard();  // $DISPLAY
    explicit XTestKeyboard(const std::string& displayName);
    ~XTestKeyboard() override;
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    bool available() const override;
    void beginRun() override;
    void endRun() override;
    KeyScan scan(char32_t ch) override;
    void keyDown(int key) override;
    void keyUp(int key) override;
    void prepare(const std::u32string& characters) override;
    void giveBackIdle() override;
    bool hasKey(char32_t ch) override;
    bool canPaste() const override;
    bool paste(const std::u32string& text, const std::function<void()>& pump) override;

    // For tests and benchmarks: keycodes free for lending, characters lent right now, how
    // many times a keycode has been remapped since construction, and in how many keymap
    // changes (each one a keymap reload for every client).
    std::size_t spareKeycodes() const;
    std::size_t lentKeycodes() const;
    std::size_t remapCount() const;
    std::size_t keymapChanges() const;
    // For tests: the least time between two keymap changes.
    void setKeymapChangeGap(std::chrono::milliseconds gap);
    // For tests: how long lent keys must be unused before a run's start or the idle check
    // gives them back.
    void setGiveBackTimes(std::chrono::milliseconds atRunStart, std::chrono::milliseconds whenIdle);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace quorvel
