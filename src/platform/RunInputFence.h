// The window system's side of keeping a typing run's keys out of our own windows.
//
// While a run is on, the window manager's "take the focus" requests to our windows are
// dropped (Qt answers one by activating a modal window of ours).  After the run, drain()
// returns once every input event the window system made for our windows before the call has
// been through Qt's event handling, so that a key of the run that reached us anyway meets
// the run's guard and never a widget.
#pragma once

#include <QAbstractNativeEventFilter>
#include <chrono>
#include <cstdint>

class QWindow;

namespace quorvel {

class RunInputFence : public QAbstractNativeEventFilter {
public:
    RunInputFence();
    ~RunInputFence() override;
    RunInputFence(const RunInputFence&) = delete;
    RunInputFence& operator=(const RunInputFence&) = delete;

    void begin();
    // `own` is any of our shown windows; at most `limit` is spent.
    void drain(QWindow* own, std::chrono::milliseconds limit);
    void end();

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

private:
    bool onX11() const;

    bool running_ = false;
    bool installed_ = false;
    std::uint32_t markerAtom_ = 0, protocolsAtom_ = 0, takeFocusAtom_ = 0;
    std::uint32_t sent_ = 0, seen_ = 0;
};

}  // namespace quorvel
