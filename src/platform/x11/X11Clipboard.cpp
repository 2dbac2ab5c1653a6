#include "platform/x11/X11Clipboard.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "platform/x11/X11ClipboardImpl.h"

namespace quorvel {


X11Clipboard::X11Clipboard(const std::string& displayName, const std::string& selection)
    : d_(std::make_unique<Impl>(displayName, selection)) {}

X11Clipboard::~X11Clipboard() = default;

bool X11Clipboard::usable() const {
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->usable;
}

bool X11Clipboard::offer(const std::string& utf8, const Pump& pump) {
    if (!usable()) return false;
    bool ok = false;
    d_->run(
        [&] {
            Impl& d = *d_;
            bool mustSave;
            {
                std::lock_guard<std::mutex> lock(d.m);
                mustSave = !d.saved;
            }
            if (mustSave && !d.save()) return;
            const std::vector<Entry> entries = d.textEntries(utf8);
            {
                std::lock_guard<std::mutex> lock(d.m);
                d.serving = entries;
                d.servingRunText = true;
                d.withdrawn = false;
                d.keySent = false;
                d.handedOut = false;
                d.reads = 0;
                d.engaged = false;
            }
            d.pending.clear();
            ok = d.takeOwnership();
            if (!ok && mustSave) {
                std::lock_guard<std::mutex> lock(d.m);
                d.saved = false;  // nothing to give back: the clipboard never changed
            }
        },
        pump);
    return ok;
}

void X11Clipboard::pasteKeyFollows(const Pump& pump) {
    if (!usable()) return;
    d_->run(
        [&] {
            Impl& d = *d_;
            // Let the clients that read every change have their read first.
            const auto limit = Clock::now() + kSettleLimit;
            for (;;) {
                const auto now = Clock::now();
                Clock::time_point last;
                {
                    std::lock_guard<std::mutex> lock(d.m);
                    last = d.lastRequest;
                }
                if (now >= limit || now - last >= kSettle) break;
                if (xcb_generic_event_t* e = d.waitFor([](xcb_generic_event_t*) { return false; },
                                                       std::min(limit, last + kSettle)))
                    std::free(e);
            }
            const xcb_timestamp_t now = d.serverTime();
            std::lock_guard<std::mutex> lock(d.m);
            d.keyTime = now;
            d.keySent = true;
            d.handedOut = false;
            d.reads = 0;
            d.engaged = false;
        },
        pump);
}

bool X11Clipboard::waitRead(std::chrono::milliseconds limit, const Pump& pump) {
    const auto start = Clock::now();
    std::unique_lock<std::mutex> lock(d_->m);
    while (d_->reads == 0 && d_->usable) {
        // A target that has begun to ask is pasting, however slowly (a mere look, with no
        // limit, never waits).
        const bool extend = d_->engaged && limit.count() > 0;
        const auto deadline = start + (extend ? std::max<Clock::duration>(limit, kEngagedLimit)
                                              : Clock::duration(limit));
        if (Clock::now() >= deadline) return false;
        d_->cv.wait_for(lock, 5ms);
        if (pump && d_->reads == 0) {
            lock.unlock();
            pump();
            lock.lock();
        }
    }
    if (d_->reads == 0) return false;
    const auto readAt = Clock::now();
    while (d_->usable && Clock::now() - readAt < kQuietLimit &&
           Clock::now() - d_->lastRequest < kQuietAfterRead) {
        d_->cv.wait_for(lock, 5ms);
        if (pump) {
            lock.unlock();
            pump();
            lock.lock();
        }
    }
    return true;
}

bool X11Clipboard::withdraw() {
    std::lock_guard<std::mutex> lock(d_->m);
    d_->withdrawn = true;
    return d_->handedOut;
}

void X11Clipboard::restore(const Pump& pump) {
    if (!usable()) return;
    d_->run(
        [&] {
            Impl& d = *d_;
            std::unique_lock<std::mutex> lock(d.m);
            if (!d.saved) return;
            d.saved = false;
            d.servingRunText = false;
            d.withdrawn = false;
            // Someone copied since the run took the clipboard: theirs is the newer content.
            if (d.lostSinceOffer) return;
            if (d.savedHadOwner && !d.savedEntries.empty()) {
                d.serving = std::move(d.savedEntries);
                d.savedEntries.clear();
                lock.unlock();
                // Owned anew, so that clipboard managers see the content change back.
                d.takeOwnership();
            } else {
                d.serving.clear();
                d.owning = false;
                lock.unlock();
                xcb_set_selection_owner(d.c, XCB_NONE, d.CLIPBOARD, d.serverTime());
                xcb_flush(d.c);
            }
        },
        pump);
}

}  // namespace quorvel
