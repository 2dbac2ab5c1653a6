// The active window on the X server: the EWMH active window where a window manager
// keeps one, else the top-level window holding the input focus.
#pragma once

#include <memory>
#include <string>

#include "typing/core/Keyboard.h"

namespace quorvel {

class X11ActiveWindow : public ActiveWindow {
public:
    X11ActiveWindow();  // $DISPLAY
    explicit X11ActiveWindow(const std::string& displayName);
    ~X11ActiveWindow() override;
    X11ActiveWindow(const X11ActiveWindow&) = delete;
    X11ActiveWindow& operator=(const X11ActiveWindow&) = delete;

    bool available() const override;
    // The top-level client window, comparable with a Qt top-level's winId(); 0 for none.
    WindowId foreground() override;
    // Asks the window manager to activate `w`, or focuses and raises it where none runs,
    // and waits for the keyboard focus itself: the root's active-window property can still
    // name `w` for a moment after a click has given the focus to another window.
    bool activate(WindowId w, const std::vector<WindowId>& own,
                  std::chrono::milliseconds limit) override;
    bool focusIn(const std::vector<WindowId>& own) override;
    std::string title(WindowId w) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace quorvel
