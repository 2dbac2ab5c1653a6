// What the clipboard owner keeps and serves: a copy of every form the user's clipboard
// offers, the run's text in the forms clients ask for, and the hand-over to a clipboard
// manager at exit.
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "model/Text.h"
#include "platform/x11/X11ClipboardImpl.h"

namespace quorvel {

bool X11Clipboard::Impl::convert(xcb_atom_t selection, xcb_atom_t target, Entry& out,
                                 Clock::time_point deadline) {
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

bool X11Clipboard::Impl::takeProperty(Entry& out) {
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

bool X11Clipboard::Impl::save() {
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

std::vector<Entry> X11Clipboard::Impl::textEntries(const std::string& utf8) const {
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

void X11Clipboard::Impl::handToManager() {
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

}  // namespace quorvel
