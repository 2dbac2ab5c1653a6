#include "components/DropTarget.h"

#include <QChildEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QVariant>
#include <QWidget>

#include "components/core/DropData.h"
#include "model/Errors.h"

namespace quorvel {

namespace {

// The window property naming the target that holds a window, so that two targets
// never take the same window.
constexpr const char* kHolderProperty = "_quorvel_dropTarget";

// The drag's formats as the Qt-free rules read them.
class MimeFormats : public DropFormats {
public:
    explicit MimeFormats(const QMimeData& mime) : mime_(mime) {}
    bool has(std::string_view format) const override {
        return mime_.hasFormat(QString::fromUtf8(format.data(), qsizetype(format.size())));
    }
    std::string data(std::string_view format) const override {
        const QByteArray bytes =
            mime_.data(QString::fromUtf8(format.data(), qsizetype(format.size())));
        return std::string(bytes.constData(), std::size_t(bytes.size()));
    }

private:
    const QMimeData& mime_;
};

QObject* holderOf(const QWidget* window) {
    return window->property(kHolderProperty).value<QObject*>();
}

}  // namespace

TDropTarget::TDropTarget(QObject* owner) : QObject(owner) {
    leaveTimer_.setSingleShot(true);
    leaveTimer_.setInterval(0);
    connect(&leaveTimer_, &QTimer::timeout, this, [this] { DragLeave(); });
}

TDropTarget::~TDropTarget() {
    try {
        Unregister();
    } catch (const QuorvelError&) {
        // Going away anyway; the window is already forgotten.
    }
}

void TDropTarget::Register(QWidget* window) {
    const std::string name = window ? window->objectName().toStdString() : std::string();
    if (!window) throw QuorvelError("Failed to Register " + name);
    if (window == window_) return;
    if (window_) Unregister();
    QObject* holder = holderOf(window);
    if (holder && holder != this) throw QuorvelError("Failed to Register " + name);

    window->setProperty(kHolderProperty, QVariant::fromValue<QObject*>(this));
    window_ = window;
    // Child widgets that take no drops of their own hand them up to the window; those
    // that do (edit boxes) are watched, so the drag reaches this target first anyway.
    windowAcceptedDrops_ = window->acceptDrops();
    window->setAcceptDrops(true);
    watch(window);
    for (QWidget* child : window->findChildren<QWidget*>()) watch(child);
}

void TDropTarget::Unregister() {
    for (const QPointer<QWidget>& widget : std::as_const(watched_))
        if (widget) widget->removeEventFilter(this);
    watched_.clear();
    leaveTimer_.stop();
    data_ = nullptr;
    drag_ = nullptr;
    QWidget* window = window_;
    window_ = nullptr;
    if (!window) return;
    window->setAcceptDrops(windowAcceptedDrops_);
    if (holderOf(window) != this)
        throw QuorvelError("Failed to Unregister " + window->objectName().toStdString());
    window->setProperty(kHolderProperty, QVariant());
}

void TDropTarget::watch(QWidget* widget) {
    if (watched_.contains(widget)) return;
    watched_.removeIf([](const QPointer<QWidget>& w) { return w.isNull(); });
    widget->installEventFilter(this);
    watched_.append(widget);
}

bool TDropTarget::belongsToWindow(const QWidget* widget) const {
    // Another top-level window inside the tree (a dialog) is not part of this target.
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (w == window_) return true;
        if (w->isWindow()) return false;
    }
    return false;
}

QPoint TDropTarget::clientPoint(const QWidget* receiver, QPoint pos) const {
    return receiver == window_ ? pos : receiver->mapTo(window_, pos);
}

void TDropTarget::answer(QDropEvent& event, int effect) {
    if (effect == kDropEffectNone) {
        event.setDropAction(Qt::IgnoreAction);
        event.ignore();
    } else {
        event.setDropAction(Qt::DropAction(effect));
        event.accept();
    }
}

bool TDropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ChildAdded) {
        // Widgets created later belong to the window too.  Only the QWidget part of
        // the child exists yet, which is all the watch needs.
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (window_ && child->isWidgetType()) watch(static_cast<QWidget*>(child));
        return false;
    }
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::DragLeave &&
        type != QEvent::Drop)
        return false;
    if (!watched->isWidgetType() || !window_) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!belongsToWindow(widget)) return false;

    if (type == QEvent::DragLeave) {
        if (drag_) leaveTimer_.start();
        return true;
    }
    auto& drop = static_cast<QDropEvent&>(*event);
    const QPoint point = clientPoint(widget, drop.position().toPoint());
    int effect = kDropEffectNone;
    if (type == QEvent::DragEnter) {
        if (leaveTimer_.isActive()) {
            leaveTimer_.stop();
            // Crossing from one child widget into the next: the same drag goes on.
            if (drop.mimeData() == drag_) {
                answer(drop, DragOver(drop, point));
                return true;
            }
            DragLeave();
        }
        effect = DragEnter(drop, point);
    } else if (type == QEvent::DragMove) {
        effect = DragOver(drop, point);
    } else {
        leaveTimer_.stop();
        effect = Drop(drop, point);
    }
    answer(drop, effect);
    return true;
}

int TDropTarget::DragEnter(QDropEvent& event, QPoint point) {
    ClearData();
    data_ = const_cast<QMimeData*>(event.mimeData());
    drag_ = data_;
    lastPoint_ = point;
    if (!HasValidFormats()) {
        data_ = nullptr;
        return kDropEffectNone;
    }
    if (getDataOnEnter_) GetData();
    const Qt::KeyboardModifiers shift = event.modifiers();
    int effect = GetValidDropEffect(shift, point, int(event.possibleActions()));
    if (OnEnter) OnEnter(*this, shift, point, effect);
    return effect;
}

int TDropTarget::DragOver(QDropEvent& event, QPoint point) {
    int effect = kDropEffectNone;
    if (data_) {
        const Qt::KeyboardModifiers shift = event.modifiers();
        effect = GetValidDropEffect(shift, point, int(event.possibleActions()));
        if (OnDragOver) OnDragOver(*this, shift, point, effect);
    }
    lastPoint_ = point;
    return effect;
}

void TDropTarget::DragLeave() {
    ClearData();
    data_ = nullptr;
    drag_ = nullptr;
    if (OnLeave) {
        int effect = kDropEffectNone;
        OnLeave(*this, QGuiApplication::keyboardModifiers(), lastPoint_, effect);
    }
}

int TDropTarget::Drop(QDropEvent& event, QPoint point) {
    drag_ = nullptr;
    if (!data_) return kDropEffectNone;
    const Qt::KeyboardModifiers shift = event.modifiers();
    int effect = GetValidDropEffect(shift, point, int(event.possibleActions()));
    if (effect == kDropEffectNone) {
        // A drop the target refused: the source should not have dropped; treat it
        // as the drag leaving, never as a drop.
        lastPoint_ = point;
        DragLeave();
        return kDropEffectNone;
    }
    if (!getDataOnEnter_ && !GetData())
        effect = kDropEffectNone;
    else if (OnDrop)
        OnDrop(*this, shift, point, effect);
    ClearData();
    data_ = nullptr;
    return effect;
}

int TDropTarget::GetValidDropEffect(Qt::KeyboardModifiers shift, QPoint point, int allowed) {
    int effect = permittedDropEffects(allowed, int(dragtypes_));
    if (OnGetDropEffect) {
        OnGetDropEffect(*this, shift, point, effect);
        return effect;
    }
    return defaultDropEffect(effect, shift.testFlag(Qt::ShiftModifier),
                             shift.testFlag(Qt::ControlModifier));
}

TDropURLTarget::TDropURLTarget(QObject* owner) : TDropTarget(owner) {
    setDragtypes(dtLink);
    setGetDataOnEnter(true);
}

bool TDropURLTarget::GetData() {
    url_.clear();
    title_.clear();
    if (!DataObject()) return false;
    const URLDropData dropped = fetchURLDropData(MimeFormats(*DataObject()));
    url_ = QString::fromStdString(dropped.url);
    title_ = QString::fromStdString(dropped.title);
    return dropped.found;
}

void TDropURLTarget::ClearData() { url_.clear(); }

bool TDropURLTarget::HasValidFormats() {
    return DataObject() && hasURLFormats(MimeFormats(*DataObject()));
}

}  // namespace quorvel
