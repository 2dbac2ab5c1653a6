#include "platform/x11/X11Clipboard.h"

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "model/Text.h"

namespace quorvel {

namespace {

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

}  // namespace

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
    bool handedOut = false;  // the current run text was given to a client after the key
    int reads = 0;           // ... and read in full, this many times
    bool engaged = false;                    // a request came after the key
    Clock::time_point lastRequest{};         // when the last request came
    std::vector<PendingRead> pending;
    std::vector<Outgoing> outgoing;
    bool saved = false, savedHadOwner = false, lostSinceOffer = false;
    std::vector<Entry> savedEntries;

    Impl(const std::string& name, const std::string& selection) {
        c = xcb_connect(name.empty() ? nullptr : name.c_str(), nullptr);
        if (!c || xcb_connection_has_error(c)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        win = xcb_generate_id(c);
        const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, screen->root_visual, XCB_CW_EVENT_MASK,
                          mask);
        CLIPBOARD = atom(selection.c_str());  // the selection this object serves
        TARGETS = atom("TARGETS");
        TIMESTAMP = atom("TIMESTAMP");
        MULTIPLE = atom("MULTIPLE");
        INCR = atom("INCR");
        UTF8_STRING = atom("UTF8_STRING");
        STRING = XCB_ATOM_STRING;
        TEXT = atom("TEXT");
        PLAIN_UTF8 = atom("text/plain;charset=utf-8");
        // KDE's clipboard history leaves out what carries this hint: the run's text is ours.
        PASSWORD_HINT = atom("x-kde-passwordManagerHint");
        PROPERTY = atom("QUORVEL_SELECTION");
        MANAGER = atom("CLIPBOARD_MANAGER");
        SAVE_TARGETS = atom("SAVE_TARGETS");
        DELETE = atom("DELETE");
        ATOM_PAIR = atom("ATOM_PAIR");
        INSERT_SELECTION = atom("INSERT_SELECTION");
        INSERT_PROPERTY = atom("INSERT_PROPERTY");
        const std::uint32_t maxRequest = xcb_get_maximum_request_length(c);  // in 4-byte units
        chunk = std::min<std::size_t>(std::size_t(maxRequest) * 4 - 64, 256u << 10);
        if (pipe(wake) != 0) return;
        usable = true;
        worker = std::thread([this] { loop(); });
    }

    ~Impl() {
        if (worker.joinable()) {
            run([this] { handToManager(); }, {});
            stopping = true;
            poke();
            worker.join();
        }
        for (int fd : wake)
            if (fd >= 0) close(fd);
        if (c) xcb_disconnect(c);
    }

    xcb_atom_t atom(const char* name) {
        auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, cookie, nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_NONE;
        std::free(r);
        return a;
    }

    // ---- the caller's side ---------------------------------------------------------------

    void poke() {
        const char b = 1;
        (void)!write(wake[1], &b, 1);
    }

    // Runs `job` on the worker and waits for it, pumping our own windows meanwhile.
    void run(std::function<void()> job, const Pump& pump) {
        bool done = false;
        {
            std::lock_guard<std::mutex> lock(m);
            jobs.push_back([this, job = std::move(job), &done] {
                job();
                std::lock_guard<std::mutex> l(m);
                done = true;
                cv.notify_all();
            });
        }
        poke();
        std::unique_lock<std::mutex> lock(m);
        while (!done && !ended) {
            cv.wait_for(lock, 5ms);
            if (!done && !ended && pump) {
                lock.unlock();
                pump();
                lock.lock();
            }
        }
    }

    // ---- the worker ------------------------------------------------------------------------

    void loop() {
        while (!stopping && !xcb_connection_has_error(c)) {
            std::deque<std::function<void()>> todo;
            {
                std::lock_guard<std::mutex> lock(m);
                todo.swap(jobs);
            }
            for (auto& job : todo) job();
            for (;;) {
                while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
                    handle(e);
                    std::free(e);
                }
                expire();
                xcb_flush(c);
                // Sending may have read events into xcb's queue, where poll() below does
                // not see them: a client's request would wait for our next wake-up.
                xcb_generic_event_t* e = xcb_poll_for_queued_event(c);
                if (!e) break;
                handle(e);
                std::free(e);
            }
            pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {wake[0], POLLIN, 0}};
            const bool waiting = !pending.empty() || !outgoing.empty();
            if (poll(fds, 2, waiting ? 20 : 1000) > 0 && (fds[1].revents & POLLIN)) {
                char buf[64];
                (void)!read(wake[0], buf, sizeof buf);
            }
        }
        // A broken connection: callers must not wait for jobs that will never run.
        std::lock_guard<std::mutex> lock(m);
        usable = false;
        ended = true;
        cv.notify_all();
    }

    void handle(xcb_generic_event_t* e) {
        switch (e->response_type & 0x7f) {
            case XCB_SELECTION_REQUEST:
                answer(*reinterpret_cast<xcb_selection_request_event_t*>(e));
                break;
            case XCB_SELECTION_CLEAR: {
                const auto* ev = reinterpret_cast<xcb_selection_clear_event_t*>(e);
                if (ev->selection != CLIPBOARD) break;
                std::lock_guard<std::mutex> lock(m);
                owning = false;
                serving.clear();
                lostSinceOffer = true;  // someone copied: what they copied stays
                cv.notify_all();
                break;
            }
            case XCB_PROPERTY_NOTIFY:
                propertyChanged(*reinterpret_cast<xcb_property_notify_event_t*>(e));
                break;
            default:
                break;
        }
    }

    void listenTo(xcb_window_t w) {
        const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, mask);
    }

    void notify(const xcb_selection_request_event_t& r, xcb_atom_t property) {
        xcb_selection_notify_event_t n{};
        n.response_type = XCB_SELECTION_NOTIFY;
        n.time = r.time;
        n.requestor = r.requestor;
        n.selection = r.selection;
        n.target = r.target;
        n.property = property;
        xcb_send_event(c, 0, r.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&n));
    }

    void answer(const xcb_selection_request_event_t& r) {
        const xcb_atom_t property = r.property ? r.property : r.target;  // pre-ICCCM clients
        std::unique_lock<std::mutex> lock(m);
        lastRequest = Clock::now();
        // A request stamped before the key was not made by it (a client watching the
        // clipboard reads it with the time of the change).
        const bool afterKey = keySent && (r.time == XCB_CURRENT_TIME || r.time >= keyTime);
        if (afterKey && servingRunText && !withdrawn) {
            engaged = true;
            cv.notify_all();
        }
        const bool refuse = !owning || r.selection != CLIPBOARD ||
                            (servingRunText && withdrawn) || r.target == MULTIPLE;
        if (refuse) {
            lock.unlock();
            notify(r, XCB_NONE);
            return;
        }
        if (r.target == TARGETS) {
            std::vector<xcb_atom_t> list{TARGETS, TIMESTAMP};
            for (const Entry& e : serving) list.push_back(e.target);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, XCB_ATOM_ATOM,
                                32, static_cast<std::uint32_t>(list.size()), list.data());
            lock.unlock();
            notify(r, property);
            return;
        }
        if (r.target == TIMESTAMP) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property,
                                XCB_ATOM_INTEGER, 32, 1, &ownTime);
            lock.unlock();
            notify(r, property);
            return;
        }
        const auto it = std::find_if(serving.begin(), serving.end(),
                                     [&](const Entry& e) { return e.target == r.target; });
        if (it == serving.end()) {
            lock.unlock();
            notify(r, XCB_NONE);
            return;
        }
        // The run's text counts as pasted only when asked for after the paste key.
        const bool runText = servingRunText && it->target != PASSWORD_HINT && afterKey;
        if (runText) handedOut = true;
        const Entry entry = *it;
        lock.unlock();
        // Listen before the client can delete the property, or its deletion is missed.
        if (runText || entry.bytes.size() > chunk) listenTo(r.requestor);
        if (entry.bytes.size() > chunk) {
            const std::uint32_t size = static_cast<std::uint32_t>(entry.bytes.size());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, INCR, 32, 1,
                                &size);
            outgoing.push_back({r.requestor, property, entry, 0, runText, Clock::now() + 5s});
        } else {
            const unsigned unit = entry.format / 8;
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, entry.type,
                                entry.format, static_cast<std::uint32_t>(entry.bytes.size() / unit),
                                entry.bytes.data());
            if (runText)
                pending.push_back({r.requestor, property, Clock::now() + kUnconfirmedRead});
        }
        notify(r, property);
    }

    void countRead() {
        std::lock_guard<std::mutex> lock(m);
        ++reads;
        cv.notify_all();
    }

    void propertyChanged(const xcb_property_notify_event_t& p) {
        if (p.state != XCB_PROPERTY_DELETE) return;
        auto read = std::find_if(pending.begin(), pending.end(), [&](const PendingRead& r) {
            return r.requestor == p.window && r.property == p.atom;
        });
        if (read != pending.end()) {
            pending.erase(read);
            countRead();
            return;
        }
        auto out = std::find_if(outgoing.begin(), outgoing.end(), [&](const Outgoing& o) {
            return o.requestor == p.window && o.property == p.atom;
        });
        if (out == outgoing.end()) return;
        // The client took the last piece: the next one, or the empty piece that ends it.
        const std::size_t unit = out->entry.format / 8u;
        const std::size_t n = std::min(chunk, out->entry.bytes.size() - out->offset);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, out->requestor, out->property,
                            out->entry.type, out->entry.format,
                            static_cast<std::uint32_t>(n / unit),
                            out->entry.bytes.data() + out->offset);
        out->deadline = Clock::now() + 5s;
        if (n == 0) {
            const bool runText = out->runText;
            outgoing.erase(out);
            if (runText) countRead();
        } else {
            out->offset += n;
        }
    }

    void expire() {
        const auto now = Clock::now();
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->deadline > now) {
                ++it;
                continue;
            }
            it = pending.erase(it);
            countRead();
        }
        outgoing.erase(std::remove_if(outgoing.begin(), outgoing.end(),
                                      [&](const Outgoing& o) { return o.deadline <= now; }),
                       outgoing.end());
    }

    // Waits for an event `match` takes, handling every other event meanwhile.
    xcb_generic_event_t* waitFor(const std::function<bool(xcb_generic_event_t*)>& match,
                                 Clock::time_point deadline) {
        for (;;) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
                if (match(e)) return e;
                handle(e);
                std::free(e);
            }
            xcb_flush(c);
            if (xcb_generic_event_t* e = xcb_poll_for_queued_event(c)) {  // read while sending
                if (match(e)) return e;
                handle(e);
                std::free(e);
                continue;
            }
            const auto left = deadline - Clock::now();
            if (left <= 0s || xcb_connection_has_error(c)) return nullptr;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
    }

    // A server time for taking ownership: ICCCM asks for a real one, not CurrentTime.
    xcb_timestamp_t serverTime() {
        xcb_change_property(c, XCB_PROP_MODE_APPEND, win, PROPERTY, XCB_ATOM_STRING, 8, 0, "");
        xcb_generic_event_t* e = waitFor(
            [&](xcb_generic_event_t* ev) {
                if ((ev->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
                const auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
                return p->window == win && p->atom == PROPERTY;
            },
            Clock::now() + 1s);
        const xcb_timestamp_t t =
            e ? reinterpret_cast<xcb_property_notify_event_t*>(e)->time : XCB_CURRENT_TIME;
        std::free(e);
        return t;
    }

    bool takeOwnership() {
        const xcb_timestamp_t t = serverTime();
        xcb_set_selection_owner(c, win, CLIPBOARD, t);
        xcb_get_selection_owner_reply_t* r =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, CLIPBOARD), nullptr);
        const bool ok = r && r->owner == win;
        std::free(r);
        std::lock_guard<std::mutex> lock(m);
        owning = ok;
        ownTime = t;
        return ok;
    }

    // One conversion of the clipboard into our property, pieces (INCR) put together.
    bool convert(xcb_atom_t selection, xcb_atom_t target, Entry& out, Clock::time_point deadline) {
        xcb_delete_property(c, win, PROPERTY);
        xcb_convert_selection(c, win, selection, target, PROPERTY, XCB_CURRENT_TIME);
        xcb_generic_event_t* e = waitFor(
            [&](xcb_generic_event_t* ev) {
                return (ev->response_type & 0x7f) == XCB_SELECTION_NOTIFY &&
                       reinterpret_cast<xcb_selection_notify_event_t*>(ev)->requestor == win;
            },
            deadline);
        if (!e) return false;
        const bool given = reinterpret_cast<xcb_selection_notify_event_t*>(e)->property != XCB_NONE;
        std::free(e);
        if (!given) return false;
        out.target = target;
        if (!takeProperty(out)) return false;
        if (out.type != INCR) return true;
        out.bytes.clear();
        out.type = XCB_NONE;
        for (;;) {
            xcb_generic_event_t* piece = waitFor(
                [&](xcb_generic_event_t* ev) {
                    if ((ev->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
                    const auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
                    return p->window == win && p->atom == PROPERTY &&
                           p->state == XCB_PROPERTY_NEW_VALUE;
                },
                deadline);
            if (!piece) return false;
            std::free(piece);
            Entry part;
            if (!takeProperty(part)) return false;
            if (part.bytes.empty()) return true;
            out.type = part.type;
            out.format = part.format;
            out.bytes += part.bytes;
            if (out.bytes.size() > kSaveCap) return false;
        }
    }

    // Reads and deletes our property.
    bool takeProperty(Entry& out) {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            c, xcb_get_property(c, 1, win, PROPERTY, XCB_GET_PROPERTY_TYPE_ANY, 0, kSaveCap / 4),
            nullptr);
        if (!r) return false;
        out.type = r->type;
        out.format = r->format ? r->format : 8;
        const auto* data = static_cast<const char*>(xcb_get_property_value(r));
        out.bytes.assign(data, data + xcb_get_property_value_length(r) * (out.format / 8));
        std::free(r);
        return true;
    }

    // Keeps a copy of every form the clipboard's owner offers.  False when it has an owner
    // that did not answer: then the clipboard is left alone.
    bool save() {
        xcb_get_selection_owner_reply_t* r =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, CLIPBOARD), nullptr);
        const xcb_window_t owner = r ? r->owner : XCB_NONE;
        std::free(r);
        std::vector<Entry> copy;
        if (owner == win) {
            std::lock_guard<std::mutex> lock(m);
            copy = serving;  // the user's clipboard we were already serving
        } else if (owner != XCB_NONE) {
            const auto deadline = Clock::now() + kSaveLimit;
            Entry list;
            if (!convert(CLIPBOARD, TARGETS, list, std::min(deadline, Clock::now() + kConvertLimit)) ||
                list.format != 32)
                return false;
            std::vector<xcb_atom_t> targets(list.bytes.size() / 4);
            std::memcpy(targets.data(), list.bytes.data(), targets.size() * 4);
            std::size_t total = 0;
            for (xcb_atom_t t : targets) {
                const bool special = t == TARGETS || t == TIMESTAMP || t == MULTIPLE ||
                                     t == SAVE_TARGETS || t == DELETE || t == INSERT_SELECTION ||
                                     t == INSERT_PROPERTY || t == XCB_NONE;
                const bool seen = std::any_of(copy.begin(), copy.end(),
                                              [&](const Entry& e) { return e.target == t; });
                if (special || seen) continue;
                Entry e;
                if (!convert(CLIPBOARD, t, e, std::min(deadline, Clock::now() + kConvertLimit)))
                    continue;
                total += e.bytes.size();
                if (total > kSaveCap) break;
                copy.push_back(std::move(e));
            }
            if (copy.empty() && !targets.empty()) return false;
        }
        std::lock_guard<std::mutex> lock(m);
        savedHadOwner = owner != XCB_NONE;
        savedEntries = std::move(copy);
        saved = true;
        lostSinceOffer = false;
        return true;
    }

    // The run's text in the forms clients ask for.
    std::vector<Entry> textEntries(const std::string& utf8) const {
        std::vector<Entry> list{{UTF8_STRING, UTF8_STRING, 8, utf8},
                                {PLAIN_UTF8, PLAIN_UTF8, 8, utf8},
                                {TEXT, UTF8_STRING, 8, utf8}};
        // STRING is Latin-1: offered only when the text is all Latin-1.
        std::string latin1;
        bool fits = true;
        for (std::size_t pos = 0; pos < utf8.size() && fits;) {
            const char32_t ch = nextCodePoint(utf8, pos);
            fits = ch < 0x100;
            latin1 += static_cast<char>(ch);
        }
        if (fits) list.push_back({STRING, STRING, 8, latin1});
        list.push_back({PASSWORD_HINT, UTF8_STRING, 8, "secret"});
        return list;
    }

    // At exit, a clipboard manager (ICCCM's CLIPBOARD_MANAGER) may keep what we serve.
    void handToManager() {
        if (CLIPBOARD != atom("CLIPBOARD")) return;  // managers keep the clipboard only
        {
            std::lock_guard<std::mutex> lock(m);
            if (!owning || servingRunText || serving.empty()) return;
        }
        xcb_get_selection_owner_reply_t* r =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, MANAGER), nullptr);
        const bool manager = r && r->owner != XCB_NONE;
        std::free(r);
        if (!manager) return;
        Entry ignored;
        convert(MANAGER, SAVE_TARGETS, ignored, Clock::now() + 2s);
    }
};

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
        const auto deadline =
            start + (d_->engaged && limit.count() > 0 ? std::max<Clock::duration>(limit, kEngagedLimit)
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
