// The clipboard owner's worker: its connection and thread, the requests it answers, and
// how it learns that a client has read the run's text.
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/x11/X11ClipboardImpl.h"

namespace quorvel {

X11Clipboard::Impl::Impl(const std::string& name, const std::string& selection) {
    c = xcb_connect(name.empty() ? nullptr : name.c_str(), nullptr);
    if (!c || xcb_connection_has_error(c)) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    win = xcb_generate_id(c);
    const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, screen->root_visual, XCB_CW_EVENT_MASK, mask);
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

X11Clipboard::Impl::~Impl() {
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

xcb_atom_t X11Clipboard::Impl::atom(const char* name) {
    auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
}

void X11Clipboard::Impl::poke() {
    const char b = 1;
    (void)!write(wake[1], &b, 1);
}

void X11Clipboard::Impl::run(std::function<void()> job, const Pump& pump) {
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

void X11Clipboard::Impl::loop() {
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

void X11Clipboard::Impl::handle(xcb_generic_event_t* e) {
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

void X11Clipboard::Impl::listenTo(xcb_window_t w) {
    const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, mask);
}

void X11Clipboard::Impl::notify(const xcb_selection_request_event_t& r, xcb_atom_t property) {
    xcb_selection_notify_event_t n{};
    n.response_type = XCB_SELECTION_NOTIFY;
    n.time = r.time;
    n.requestor = r.requestor;
    n.selection = r.selection;
    n.target = r.target;
    n.property = property;
    xcb_send_event(c, 0, r.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&n));
}

void X11Clipboard::Impl::answer(const xcb_selection_request_event_t& r) {
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
    const bool refuse = !owning || r.selection != CLIPBOARD || (servingRunText && withdrawn) ||
                        r.target == MULTIPLE;
    if (refuse) {
        lock.unlock();
        notify(r, XCB_NONE);
        return;
    }
    if (r.target == TARGETS) {
        std::vector<xcb_atom_t> list{TARGETS, TIMESTAMP};
        for (const Entry& e : serving) list.push_back(e.target);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(list.size()), list.data());
        lock.unlock();
        notify(r, property);
        return;
    }
    if (r.target == TIMESTAMP) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, XCB_ATOM_INTEGER, 32,
                            1, &ownTime);
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
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, INCR, 32, 1, &size);
        outgoing.push_back({r.requestor, property, entry, 0, runText, Clock::now() + 5s});
    } else {
        const unsigned unit = entry.format / 8;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, entry.type,
                            entry.format, static_cast<std::uint32_t>(entry.bytes.size() / unit),
                            entry.bytes.data());
        if (runText) pending.push_back({r.requestor, property, Clock::now() + kUnconfirmedRead});
    }
    notify(r, property);
}

void X11Clipboard::Impl::countRead() {
    std::lock_guard<std::mutex> lock(m);
    ++reads;
    cv.notify_all();
}

void X11Clipboard::Impl::propertyChanged(const xcb_property_notify_event_t& p) {
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
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, out->requestor, out->property, out->entry.type,
                        out->entry.format, static_cast<std::uint32_t>(n / unit),
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

void X11Clipboard::Impl::expire() {
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

xcb_generic_event_t* X11Clipboard::Impl::waitFor(
    const std::function<bool(xcb_generic_event_t*)>& match, Clock::time_point deadline) {
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

xcb_timestamp_t X11Clipboard::Impl::serverTime() {
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

bool X11Clipboard::Impl::takeOwnership() {
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

}  // namespace quorvel
