// The clipboard as typing uses it: a run hands text the layout cannot type to the target
// through the clipboard and the target's paste key, and then gives the user's clipboard
// back as it was.  The real layers own the desktop's clipboard selection on connections of
// their own; `pump` keeps our own windows answering while a call waits (one of them may be
// the clipboard's owner).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace quorvel {

class PasteClipboard {
public:
    using Pump = std::function<void()>;
    virtual ~PasteClipboard() = default;

    virtual bool usable() const = 0;
    // The clipboard offers `utf8` as plain text from now on.  The first offer after
    // construction or restore() first keeps a copy of what the clipboard holds.  False when
    // the clipboard could not be taken; nothing changed then.
    virtual bool offer(const std::string& utf8, const Pump& pump) = 0;
    // The paste key goes out next.  Only reads from now on count: some clients read the
    // clipboard whenever it changes (Chromium does), long before a paste.
    virtual void pasteKeyFollows(const Pump& pump) { (void)pump; }
    // Waits until a client has read the offered text in full; false at the limit.
    virtual bool waitRead(std::chrono::milliseconds limit, const Pump& pump) = 0;
    // A client that asks for the offered text from now on gets nothing.  True when a client
    // had already been handed it (the target pastes it after all).
    virtual bool withdraw() = 0;
    // The clipboard holds again what it held before the first offer (nothing, when it held
    // nothing), and goes on serving it while the program runs.  Nothing to do without an
    // offer since the last restore().
    virtual void restore(const Pump& pump) = 0;
};

// The clipboard and the primary selection as one: the text goes on both, and a read of
// either counts.  Usable when the clipboard is; the primary selection is optional.
class BothClipboards : public PasteClipboard {
public:
    BothClipboards(std::unique_ptr<PasteClipboard> clipboard,
                   std::unique_ptr<PasteClipboard> primary);
    bool usable() const override;
    bool offer(const std::string& utf8, const Pump& pump) override;
    void pasteKeyFollows(const Pump& pump) override;
    bool waitRead(std::chrono::milliseconds limit, const Pump& pump) override;
    bool withdraw() override;
    void restore(const Pump& pump) override;

private:
    std::unique_ptr<PasteClipboard> clipboard_, primary_;
    bool primaryOffered_ = false;
};

// Whether typing may paste at all.  Off unless QUORVEL_PASTE=1: a target gives no sign
// that it has inserted what it read, and Chromium on X11 drops a paste it has read when
// the clipboard changes hands first (one paste in 10 to 40 of a long run).
bool pasteWanted();

// One paste: `utf8` offered, the paste key pressed, and the target's read awaited.  True
// once the target has the text; false when it took none (then nothing of it arrives).
// `limit`: how long a target gets to ask for the text.  One that takes longer is sent the
// text as keys (a late request then gets nothing, so it never arrives twice).
bool pasteThrough(PasteClipboard& clipboard, const std::string& utf8,
                  const std::function<void()>& pressPasteKey, const PasteClipboard::Pump& pump,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

}  // namespace quorvel
