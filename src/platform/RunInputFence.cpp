#include "platform/RunInputFence.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <cstring>

namespace quorvel {

namespace {

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

std::uint32_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const std::uint32_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

// Off X there is no event we can send ourselves behind the compositor's key events: what is
// on its way is read within this.
constexpr auto kUnorderedGrace = std::chrono::milliseconds(60);

}  // namespace

RunInputFence::RunInputFence() = default;

RunInputFence::~RunInputFence() {
    if (installed_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool RunInputFence::onX11() const { return installed_ && markerAtom_ != 0; }

void RunInputFence::begin() {
    running_ = true;
    xcb_connection_t* c = qtConnection();
    if (!c || installed_) return;
    // At the first run rather than at start-up: three round trips nobody else needs.
    markerAtom_ = atom(c, "_QUORVEL_RUN_FENCE");
    protocolsAtom_ = atom(c, "WM_PROTOCOLS");
    takeFocusAtom_ = atom(c, "WM_TAKE_FOCUS");
    QCoreApplication::instance()->installNativeEventFilter(this);
    installed_ = true;
}

void RunInputFence::end() { running_ = false; }

void RunInputFence::drain(QWindow* own, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    const auto left = [&] { return limit.count() - clock.elapsed(); };
    if (!onX11() || !own || !own->handle()) {
        QGuiApplication::sync();
        while (left() > 0 && clock.elapsed() < kUnorderedGrace.count())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return;
    }
    // The run's keys have all been taken by the server (each was sent with a round trip),
    // so any that went to one of our windows is queued for us before this message.
    xcb_connection_t* c = qtConnection();
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = static_cast<xcb_window_t>(own->winId());
    ev.type = markerAtom_;
    ev.data.data32[0] = ++sent_;
    xcb_send_event(c, 0, ev.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
    QTimer wake;
    wake.setSingleShot(true);
    while (seen_ != sent_ && left() > 0) {
        wake.start(static_cast<int>(left()));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool RunInputFence::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t") return false;
    const auto* ev = static_cast<const xcb_generic_event_t*>(message);
    if ((ev->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const auto* cm = static_cast<const xcb_client_message_event_t*>(message);
    if (cm->type == markerAtom_ && cm->format == 32) {
        seen_ = cm->data.data32[0];
        return true;
    }
    return running_ && cm->type == protocolsAtom_ && cm->data.data32[0] == takeFocusAtom_;
}

}  // namespace quorvel
