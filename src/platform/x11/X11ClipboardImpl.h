// The clipboard owner's inside, shared by its source files: the worker thread with its
// own connection, what it serves, and what it keeps of the user's clipboard.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/X11Clipboard.h"

namespace quorvel {

namespace x11clip {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long one conversion of the user's clipboard may take, and all of them together.
constexpr auto kConvertLimit = 1s;
constexpr auto kSaveLimit = 4s;
// A client that never deletes the property it was given (ICCCM asks it to) is taken to
// have read it after this.
constexpr auto kUnconfirmedRead = 300ms;
// Some clients read the clipboard whenever it changes (Chromium does, with the same window
// and the same CurrentTime it pastes with): the paste key waits until the clipboard has
// had no request for this long after an offer, at most kSettleLimit.
constexpr auto kSettle = 30ms;
constexpr auto kSettleLimit = 300ms;
// A paste ends when the clipboard has been quiet this long after the read (Chromium asks
// for the clipboard's forms again when it is done).  No target says when it has inserted
// what it read, and Chromium drops a read paste when the clipboard changes hands before
// it inserts, which was seen to be up to 3 s later: why paste is not yet the default.
constexpr auto kQuietAfterRead = 120ms;
constexpr auto kQuietLimit = 2s;
// A target that asked for anything after the paste key is pasting: it gets this long.
constexpr auto kEngagedLimit = 10s;
// Clipboard contents larger than this are not kept (a huge image would stall the run).
constexpr std::size_t kSaveCap = 64u << 20;

struct Entry {
    xcb_atom_t target = XCB_NONE, type = XCB_NONE;
    std::uint8_t format = 8;
    std::string bytes;
};

// A transfer in pieces (ICCCM's INCR) to a client, for contents above one request's size.
struct Outgoing {
    xcb_window_t requestor;
    xcb_atom_t property;
    Entry entry;
    std::size_t offset = 0;
    bool runText = false;
    Clock::time_point deadline;
};

// A client handed the run's text, until it deletes the property it got.
struct PendingRead {
    xcb_window_t requestor;
    xcb_atom_t property;
    Clock::time_point deadline;
};

}  // namespace x11clip
using namespace x11clip;

struct X11Clipboard::Impl {
    xcb_connection_t* c = nullptr;
    xcb_window_t win = 0;
    bool usable = false;
    xcb_atom_t CLIPBOARD{}, TARGETS{}, TIMESTAMP{}, MULTIPLE{}, INCR{}, UTF8_STRING{}, STRING{},
        TEXT{}, PLAIN_UTF8{}, PASSWORD_HINT{}, PROPERTY{}, MANAGER{}, SAVE_TARGETS{}, DELETE{},
        ATOM_PAIR{}, INSERT_SELECTION{}, INSERT_PROPERTY{};
    std::size_t chunk = 65536;  // the most one ChangeProperty carries here

    // The worker thread runs the X side; the caller's thread posts jobs and waits.
    std::thread worker;
    int wake[2] = {-1, -1};
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::function<void()>> jobs;
    std::atomic<bool> stopping{false};
    bool ended = false;  // the worker has returned

    // Worker's state; read by the caller only under `m`.
    bool owning = false;
    xcb_timestamp_t ownTime = XCB_CURRENT_TIME;
    std::vector<Entry> serving;
    bool servingRunText = false;
    bool withdrawn = false;
    // Requests stamped before this server time were not made by the paste key.
    xcb_timestamp_t keyTime = 0;
    bool keySent = false;
    bool handedOut = false;           // the current run text was given to a client after the key
    int reads = 0;                    // ... and read in full, this many times
    bool engaged = false;             // a request came after the key
    Clock::time_point lastRequest{};  // when the last request came
    std::vector<PendingRead> pending;
    std::vector<Outgoing> outgoing;
    bool saved = false, savedHadOwner = false, lostSinceOffer = false;
    std::vector<Entry> savedEntries;

    Impl(const std::string& name, const std::string& selection);
    ~Impl();
    xcb_atom_t atom(const char* name);

    // ---- the caller's side ---------------------------------------------------------------

    void poke();

    // Runs `job` on the worker and waits for it, pumping our own windows meanwhile.
    void run(std::function<void()> job, const Pump& pump);

    // ---- the worker ------------------------------------------------------------------------

    void loop();
    void handle(xcb_generic_event_t* e);
    void listenTo(xcb_window_t w);
    void notify(const xcb_selection_request_event_t& r, xcb_atom_t property);
    void answer(const xcb_selection_request_event_t& r);
    void countRead();
    void propertyChanged(const xcb_property_notify_event_t& p);
    void expire();

    // Waits for an event `match` takes, handling every other event meanwhile.
    xcb_generic_event_t* waitFor(const std::function<bool(xcb_generic_event_t*)>& match,
                                 Clock::time_point deadline);

    // A server time for taking ownership: ICCCM asks for a real one, not CurrentTime.
    xcb_timestamp_t serverTime();
    bool takeOwnership();

    // One conversion of the clipboard into our property, pieces (INCR) put together.
    bool convert(xcb_atom_t selection, xcb_atom_t target, Entry& out, Clock::time_point deadline);

    // Reads and deletes our property.
    bool takeProperty(Entry& out);

    // Keeps a copy of every form the clipboard's owner offers.  False when it has an owner
    // that did not answer: then the clipboard is left alone.
    bool save();

    // The run's text in the forms clients ask for.
    std::vector<Entry> textEntries(const std::string& utf8) const;

    // At exit, a clipboard manager (ICCCM's CLIPBOARD_MANAGER) may keep what we serve.
    void handToManager();
};

}  // namespace quorvel
