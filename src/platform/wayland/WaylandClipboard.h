// The clipboard on wlroots compositors, through their data-control protocol: it reads and
// sets the seat's selection without a window or the keyboard focus of ours.  A connection
// and a thread of its own answer the compositor, because the selection given back after a
// run must go on being served to other programs while the program idles.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/core/PasteClipboard.h"

namespace quorvel {

class WaylandClipboard : public PasteClipboard {
public:
    // nullptr: the compositor of $WAYLAND_DISPLAY.  `primary`: the primary selection (what
    // terminals paste with Shift+Insert) instead of the clipboard; needs the protocol's
    // version 2, else the object is not usable.
    explicit WaylandClipboard(const char* display = nullptr, bool primary = false);
    ~WaylandClipboard() override;
    WaylandClipboard(const WaylandClipboard&) = delete;
    WaylandClipboard& operator=(const WaylandClipboard&) = delete;

    bool usable() const override;
    bool offer(const std::string& utf8, const Pump& pump) override;
    void pasteKeyFollows(const Pump& pump) override;
    bool waitRead(std::chrono::milliseconds limit, const Pump& pump) override;
    bool withdraw() override;
    void restore(const Pump& pump) override;

private:
    struct Worker;
    std::unique_ptr<Worker> worker_;
};

}  // namespace quorvel
