#include "platform/core/PasteClipboard.h"

#include <cstdlib>
#include <utility>

namespace quorvel {

BothClipboards::BothClipboards(std::unique_ptr<PasteClipboard> clipboard,
                               std::unique_ptr<PasteClipboard> primary)
    : clipboard_(std::move(clipboard)), primary_(std::move(primary)) {}

bool BothClipboards::usable() const { return clipboard_ && clipboard_->usable(); }

bool BothClipboards::offer(const std::string& utf8, const Pump& pump) {
    if (!usable() || !clipboard_->offer(utf8, pump)) return false;
    primaryOffered_ = primary_ && primary_->usable() && primary_->offer(utf8, pump);
    return true;
}

void BothClipboards::pasteKeyFollows(const Pump& pump) {
    clipboard_->pasteKeyFollows(pump);
    if (primaryOffered_) primary_->pasteKeyFollows(pump);
}

bool BothClipboards::waitRead(std::chrono::milliseconds limit, const Pump& pump) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (clipboard_->waitRead(std::chrono::milliseconds(5), pump)) return true;
        if (primaryOffered_ && primary_->waitRead(std::chrono::milliseconds(0), pump)) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
    }
}

bool BothClipboards::withdraw() {
    const bool handed = clipboard_->withdraw();
    return (primaryOffered_ && primary_->withdraw()) || handed;
}

void BothClipboards::restore(const Pump& pump) {
    clipboard_->restore(pump);
    if (primary_) primary_->restore(pump);
    primaryOffered_ = false;
}

bool pasteWanted() {
    const char* v = std::getenv("QUORVEL_PASTE");
    return v && std::string(v) == "1";
}

bool pasteThrough(PasteClipboard& clipboard, const std::string& utf8,
                  const std::function<void()>& pressPasteKey, const PasteClipboard::Pump& pump,
                  std::chrono::milliseconds limit) {
    if (!clipboard.usable() || !clipboard.offer(utf8, pump)) return false;
    clipboard.pasteKeyFollows(pump);
    pressPasteKey();
    if (clipboard.waitRead(limit, pump)) return true;
    // Handed out just as the wait ended: it arrives, so it must not be typed as well.
    if (!clipboard.withdraw()) return false;
    clipboard.waitRead(limit, pump);
    return true;
}

}  // namespace quorvel
