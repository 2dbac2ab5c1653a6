// The advertising banner.  It neither fetches nor chooses ads: the library advert.so,
// loaded from the program folder, does that.  The banner gives the library a pixel
// buffer to paint, forwards clicks, passes on its settings and turns the library's
// callbacks into a repaint and two signals.
#pragma once

#include <QImage>
#include <QLibrary>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "components/core/AdSize.h"
#include "components/core/AdvertInterface.h"

namespace quorvel {

class Dialogs;

class TAdImage : public QWidget {
    Q_OBJECT

public:
    // The library's entry points, in the order they are looked up.
    enum class Entry {
        Startup, Paint, OnClick, SetCallback, SetNetworkCallback, SetAdRecordedCallback,
        SetBandwidthThrottle, SetMinimumAdDisplayTime, IsConnectOkay, RetryConnect,
        SetNetworkState, SetProxy, GetStatus, UseDefaultAd, Shutdown, debugTriggerEvent,
    };
    static constexpr int kEntryCount = 16;
    static const char* entryName(Entry e);

    // Loads the library at `libraryPath` (made absolute, so no search path is consulted)
    // and looks up its entry points; every failure shows its assertion box.
    TAdImage(QWidget* parent, Dialogs& dialogs, QString libraryPath);
    ~TAdImage() override;

    // "Stored properties applied": starts the library when AutoLoad is set.  Only the
    // first call counts; nothing starts the banner later.
    void loaded();

    bool autoLoad() const { return autoLoad_; }
    void setAutoLoad(bool on) { autoLoad_ = on; }
    TAdOptions options() const { return adOptionsFromFlags(optionFlags_); }
    void setOptions(TAdOptions options) { optionFlags_ = adOptionFlags(options); }
    std::int32_t programID() const { return programID_; }
    void setProgramID(std::int32_t id) { programID_ = id; }
    // Stored; reach the library at start and on every assignment after it.
    std::int32_t bandwidthThrottle() const { return bandwidthThrottle_; }
    void setBandwidthThrottle(std::int32_t value);
    std::int32_t minimumAdDisplayTime() const { return minimumAdDisplayTime_; }
    void setMinimumAdDisplayTime(std::int32_t value);
    // Asks the library after start; false before.  Writing before start is dropped.
    bool networkIsUp() const;
    void setNetworkIsUp(bool up);
    // `Size`: one of the standard sizes; setting it resizes and keeps the position.
    TAdImageSize adSize() const { return size_; }
    void setAdSize(TAdImageSize size);
    // Asked of the library on every read.
    TAdStatusSet status() const;

    // Moves and sizes at once, snapping to a standard size even while hidden (a hidden
    // widget gets its resize event only when shown; resize() snaps then).
    void setBounds(int left, int top, int width, int height);

    bool isStarted() const { return started_; }
    bool isLibraryLoaded() const { return lib_.isLoaded(); }

    // The library can act only inside a paint, so a started banner is repainted this
    // often to let it change its ad on time.  0 turns it off.
    void setRefreshInterval(int ms);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void clicked();
    void networkRequest();
    void adCounted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    enum class Callback { Repaint, Network, AdRecorded };

    template <typename Fn>
    Fn entry(Entry e) const {
        return reinterpret_cast<Fn>(entries_[static_cast<std::size_t>(e)]);
    }
    intptr_t blockArg() const { return reinterpret_cast<intptr_t>(&block_); }
    intptr_t selfArg() const { return reinterpret_cast<intptr_t>(this); }
    void loadLibrary(const QString& path);
    void start();
    bool registerWithLibrary();
    void snapTo(TAdImageSize size);

    static void repaintCallback(intptr_t banner);
    static void networkCallback(intptr_t banner);
    static void adRecordedCallback(intptr_t banner);
    static void dispatch(intptr_t banner, Callback kind);
    void handleCallback(Callback kind);

    Dialogs& dialogs_;
    QLibrary lib_;
    intptr_t module_ = 0;
    std::array<QFunctionPointer, kEntryCount> entries_{};
    // The library may keep its per-banner state in word_; the banner never looks at it.
    intptr_t word_ = 0;
    AdContextBlock block_{&word_, 0};
    QImage bitmap_;
    QTimer refresh_;

    bool autoLoad_ = true;
    std::uint32_t optionFlags_ = 0;
    std::int32_t programID_ = 0;
    std::int32_t bandwidthThrottle_ = 2147483647;
    std::int32_t minimumAdDisplayTime_ = 0;
    TAdImageSize size_ = TAdImageSize::ADS468x60;

    bool loadedDone_ = false;
    bool started_ = false;
    bool pressed_ = false;
};

}  // namespace quorvel
