// While a typing run is on, no key reaches Quorvel's own windows: one that does (the desktop
// gave us the keyboard at the wrong moment) is swallowed before any widget sees it, and the
// run is told to stop.  This holds whatever the focus checks before each key concluded.
#pragma once

#include <QObject>
#include <functional>

namespace quorvel {

class OwnKeysGuard : public QObject {
public:
    // `reached` runs at the first key of the run that reached one of our windows.
    explicit OwnKeysGuard(std::function<void()> reached, QObject* parent = nullptr);
    ~OwnKeysGuard() override;

    void arm();     // from the run's first key ...
    void disarm();  // ... until its last key event has been through our event handling
    bool armed() const { return armed_; }
    // Whether a key reached us since arm().
    bool reached() const { return reached_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> onReached_;
    bool armed_ = false;
    bool reached_ = false;
};

}  // namespace quorvel
