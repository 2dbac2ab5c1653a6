// The active window on GNOME and KDE Wayland desktops.  They show a client no other
// client's windows, so the target is "the window that was in front before ours": Type
// steps our windows aside and the compositor gives the keyboard back to that window.
#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "typing/core/Keyboard.h"

namespace quorvel::portal {

class PortalActiveWindow : public ActiveWindow {
public:
    // The one id that stands for the window in front before ours.  Never one of ours: Qt's
    // Wayland and offscreen windows count their ids up from 1, and no address ends so.
    static constexpr WindowId kWindowBefore = ~WindowId(0) - 1;

    bool available() const override { return true; }
    // kWindowBefore while another program is in front, 0 while we are.
    WindowId foreground() override;
    // Minimises our visible windows and waits until none of them has the keyboard.
    bool activate(WindowId w, const std::vector<WindowId>& own,
                  std::chrono::milliseconds limit) override;
    bool focusIn(const std::vector<WindowId>& own) override;
    std::string title(WindowId) override { return {}; }
    // Brings back the windows activate() stepped aside, as they were.
    void runEnded() override;

private:
    struct SteppedAside {
        QPointer<QWidget> widget;
        Qt::WindowStates state;
    };
    std::vector<SteppedAside> aside_;
};

}  // namespace quorvel::portal
