// The X server's CLIPBOARD selection for typing runs: owned on a connection and a thread of
// its own, so that it answers other programs at once, between runs as well (the user's
// clipboard, given back after a run, is served from here until someone copies anew).
#pragma once

#include <memory>
#include <string>

#include "platform/core/PasteClipboard.h"

namespace quorvel {

class X11Clipboard : public PasteClipboard {
public:
    // `selection`: CLIPBOARD, or PRIMARY (what terminals paste).  "" -> $DISPLAY.
    explicit X11Clipboard(const std::string& displayName,
                          const std::string& selection = "CLIPBOARD");
    // Hands what it serves to a clipboard manager when one runs; without one it is gone,
    // as when any program that owns the clipboard ends.
    ~X11Clipboard() override;
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    bool usable() const override;
    bool offer(const std::string& utf8, const Pump& pump) override;
    void pasteKeyFollows(const Pump& pump) override;
    bool waitRead(std::chrono::milliseconds limit, const Pump& pump) override;
    bool withdraw() override;
    void restore(const Pump& pump) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace quorvel
