#include "components/AdImage.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <mutex>
#include <unordered_set>

#include "platform/Dialogs.h"

namespace quorvel {

namespace {

constexpr std::array<const char*, TAdImage::kEntryCount> kEntryNames = {
    "_Startup",        "_Paint",         "_OnClick",
    "_SetCallback",    "_SetNetworkCallback",
    "_SetAdRecordedCallback",            "_SetBandwidthThrottle",
    "_SetMinimumAdDisplayTime",          "_IsConnectOkay",
    "_RetryConnect",   "_SetNetworkState", "_SetProxy",
    "_GetStatus",      "_UseDefaultAd",  "_Shutdown",
    "_debugTriggerEvent",
};

// The library hands our address back to us as a plain number.  Only banners still
// alive are acted on, so a late or stray callback cannot reach a destroyed one.
std::mutex gLiveMutex;
std::unordered_set<intptr_t> gLive;

bool isLive(intptr_t banner) {
    std::lock_guard lock(gLiveMutex);
    return gLive.count(banner) != 0;
}

bool succeeded(intptr_t result) { return (result & 0xFFFF) != 0; }

// 32-bit words travel in the low half of a slot.
intptr_t word32(std::uint32_t value) { return static_cast<intptr_t>(value); }

}  // namespace

const char* TAdImage::entryName(Entry e) { return kEntryNames[static_cast<std::size_t>(e)]; }

TAdImage::TAdImage(QWidget* parent, Dialogs& dialogs, QString libraryPath)
    : QWidget(parent), dialogs_(dialogs) {
    {
        std::lock_guard lock(gLiveMutex);
        gLive.insert(selfArg());
    }
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Please click to visit our sponsor"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const AdDimensions d = adDimensions(size_);
    resize(d.width, d.height);

    refresh_.setInterval(1000);
    connect(&refresh_, &QTimer::timeout, this, qOverload<>(&QWidget::update));

    loadLibrary(QFileInfo(libraryPath).absoluteFilePath());
}

void TAdImage::loadLibrary(const QString& path) {
    lib_.setFileName(path);
    const bool loadedOk = lib_.load();
    if (!loadedOk) {
        dialogs_.assertion(QStringLiteral("Couldn't load advert.so"));
    } else if (void* handle = dlopen(QFile::encodeName(lib_.fileName()).constData(),
                                     RTLD_LAZY | RTLD_NOLOAD)) {
        // The same handle the loader gave QLibrary; drop the extra reference at once.
        module_ = reinterpret_cast<intptr_t>(handle);
        dlclose(handle);
    }
    for (int i = 0; i < kEntryCount; ++i) {
        // resolve() would retry loading a library that failed to load.
        QFunctionPointer fn = loadedOk ? lib_.resolve(kEntryNames[i]) : nullptr;
        entries_[i] = fn;
        if (!fn)
            dialogs_.assertion(QStringLiteral("Couldn't find address of ") +
                               QLatin1String(kEntryNames[i]));
    }
}

TAdImage::~TAdImage() {
    refresh_.stop();
    {
        std::lock_guard lock(gLiveMutex);
        gLive.erase(selfArg());
    }
    if (started_)
        if (auto shutdown = entry<AdBlockFn>(Entry::Shutdown)) shutdown(blockArg());
    if (lib_.isLoaded()) lib_.unload();
}

void TAdImage::loaded() {
    if (loadedDone_) return;
    loadedDone_ = true;
    if (autoLoad_) start();
}

void TAdImage::start() {
    auto startup = entry<AdStartupFn>(Entry::Startup);
    if (!startup) return;
    const intptr_t result = startup(blockArg(), module_, 0, programID_,
                                    static_cast<intptr_t>(size_), word32(optionFlags_));
    if (!succeeded(result)) return;
    started_ = true;
    registerWithLibrary();
    update();
    if (refresh_.interval() > 0) refresh_.start();
}

// Stops at the first registration that fails or is missing; the banner stays started.
bool TAdImage::registerWithLibrary() {
    const struct {
        Entry entry;
        AdCallback callback;
    } registrations[] = {
        {Entry::SetCallback, &TAdImage::repaintCallback},
        {Entry::SetNetworkCallback, &TAdImage::networkCallback},
        {Entry::SetAdRecordedCallback, &TAdImage::adRecordedCallback},
    };
    for (const auto& r : registrations) {
        auto set = entry<AdSetCallbackFn>(r.entry);
        if (!set || !succeeded(set(blockArg(), reinterpret_cast<intptr_t>(r.callback), selfArg())))
            return false;
    }
    auto throttle = entry<AdSetValueFn>(Entry::SetBandwidthThrottle);
    if (!throttle || !succeeded(throttle(blockArg(), bandwidthThrottle_))) return false;
    auto minimum = entry<AdSetValueFn>(Entry::SetMinimumAdDisplayTime);
    if (!minimum || !succeeded(minimum(blockArg(), minimumAdDisplayTime_))) return false;
    return true;
}

void TAdImage::setBandwidthThrottle(std::int32_t value) {
    bandwidthThrottle_ = value;
    if (!started_) return;
    if (auto set = entry<AdSetValueFn>(Entry::SetBandwidthThrottle)) set(blockArg(), value);
}

void TAdImage::setMinimumAdDisplayTime(std::int32_t value) {
    minimumAdDisplayTime_ = value;
    if (!started_) return;
    if (auto set = entry<AdSetValueFn>(Entry::SetMinimumAdDisplayTime)) set(blockArg(), value);
}

bool TAdImage::networkIsUp() const {
    if (!started_) return false;
    auto isConnectOkay = entry<AdIsConnectOkayFn>(Entry::IsConnectOkay);
    if (!isConnectOkay) return false;
    std::int32_t state = 0;
    return succeeded(isConnectOkay(blockArg(), reinterpret_cast<intptr_t>(&state))) && state != 0;
}

void TAdImage::setNetworkIsUp(bool up) {
    if (!started_) return;
    if (auto set = entry<AdSetValueFn>(Entry::SetNetworkState)) set(blockArg(), up ? -1 : 0);
}

TAdStatusSet TAdImage::status() const {
    auto getStatus = entry<AdGetStatusFn>(Entry::GetStatus);
    if (!getStatus) return {};
    std::int32_t word = 0;
    getStatus(blockArg(), reinterpret_cast<intptr_t>(&word), 0);
    return adStatusFromWord(static_cast<std::uint32_t>(word));
}

void TAdImage::setRefreshInterval(int ms) {
    refresh_.setInterval(ms);
    if (ms <= 0)
        refresh_.stop();
    else if (started_)
        refresh_.start();
}

// ---- size ----

void TAdImage::setAdSize(TAdImageSize size) {
    size_ = size;
    const AdDimensions d = adDimensions(size);
    resize(d.width, d.height);
}

void TAdImage::setBounds(int left, int top, int width, int height) {
    size_ = snapAdSize(width, height);
    const AdDimensions d = adDimensions(size_);
    setGeometry(left, top, d.width, d.height);
}

void TAdImage::snapTo(TAdImageSize size) {
    size_ = size;
    const AdDimensions d = adDimensions(size);
    if (width() != d.width || height() != d.height) resize(d.width, d.height);
}

void TAdImage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    snapTo(snapAdSize(width(), height()));
}

QSize TAdImage::sizeHint() const {
    const AdDimensions d = adDimensions(size_);
    return {d.width, d.height};
}

// ---- paint ----

void TAdImage::paintEvent(QPaintEvent*) {
    if (bitmap_.size() != QWidget::size()) bitmap_ = QImage(QWidget::size(), QImage::Format_RGB32);
    if (bitmap_.isNull()) return;
    bitmap_.fill(palette().color(QPalette::Window));
    if (auto paint = entry<AdPaintFn>(Entry::Paint)) {
        AdPixelBuffer buffer{bitmap_.width(), bitmap_.height(),
                             static_cast<std::int32_t>(bitmap_.bytesPerLine()),
                             reinterpret_cast<std::uint32_t*>(bitmap_.bits())};
        paint(blockArg(), reinterpret_cast<intptr_t>(&buffer), 0, 0);
    } else {
        // Without a library there is nothing to show but the banner's place.
        QPainter empty(&bitmap_);
        empty.setPen(palette().color(QPalette::Mid));
        empty.drawRect(bitmap_.rect().adjusted(0, 0, -1, -1));
    }
    QPainter painter(this);
    painter.drawImage(0, 0, bitmap_);
}

// ---- clicks ----

void TAdImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = true;
    event->accept();
}

// No double clicks: the second press of one counts as a press of its own, so a double
// click makes two clicks.
void TAdImage::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TAdImage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const bool click = pressed_ && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (!click) return;
    QPointer<TAdImage> self(this);
    emit clicked();
    if (!self) return;
    if (auto onClick = entry<AdBlockFn>(Entry::OnClick)) onClick(blockArg());
}

// ---- callbacks ----

void TAdImage::repaintCallback(intptr_t banner) { dispatch(banner, Callback::Repaint); }
void TAdImage::networkCallback(intptr_t banner) { dispatch(banner, Callback::Network); }
void TAdImage::adRecordedCallback(intptr_t banner) { dispatch(banner, Callback::AdRecorded); }

void TAdImage::dispatch(intptr_t banner, Callback kind) {
    if (!isLive(banner)) return;
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        // A library that breaks the window-thread rule is carried over to it, and the
        // banner is looked up again there.
        QMetaObject::invokeMethod(app, [banner, kind] {
            if (isLive(banner)) reinterpret_cast<TAdImage*>(banner)->handleCallback(kind);
        }, Qt::QueuedConnection);
        return;
    }
    reinterpret_cast<TAdImage*>(banner)->handleCallback(kind);
}

void TAdImage::handleCallback(Callback kind) {
    switch (kind) {
    case Callback::Repaint: update(); break;
    case Callback::Network: emit networkRequest(); break;
    case Callback::AdRecorded: emit adCounted(); break;
    }
}

}  // namespace quorvel
