// Drop targets: a whole window accepts drags as one target, with the enter, over, leave
// and drop steps and the choice of drop effect; the URL target fetches a dropped web
// link's address and title.
#pragma once

#include <QList>
#include <QMimeData>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

class QDropEvent;
class QWidget;

namespace quorvel {

// Kinds of drop a target takes; the values are the drop effects (Qt's drop actions).
enum TDragType { dtCopy = 0x1, dtMove = 0x2, dtLink = 0x4 };
Q_DECLARE_FLAGS(TDragTypes, TDragType)

class TDropTarget;
// (sender, modifier keys, point in the registered window's client coordinates, effect)
using TDropTargetEvent =
    std::function<void(TDropTarget& sender, Qt::KeyboardModifiers shift, QPoint point, int& effect)>;

class TDropTarget : public QObject {
    Q_OBJECT
public:
    explicit TDropTarget(QObject* owner = nullptr);
    ~TDropTarget() override;

    // Makes the whole window (every child widget included) this target.  Raises
    // QuorvelError "Failed to Register <name>" when there is no window or another
    // target holds it.
    void Register(QWidget* window);
    // Raises QuorvelError "Failed to Unregister <name>" when the window's registration
    // was not this target's any more; the window is forgotten either way.
    void Unregister();
    QWidget* RegisteredWindow() const { return window_; }

    TDragTypes Dragtypes() const { return dragtypes_; }
    void setDragtypes(TDragTypes types) { dragtypes_ = types; }
    bool GetDataOnEnter() const { return getDataOnEnter_; }
    void setGetDataOnEnter(bool on) { getDataOnEnter_ = on; }
    // On Windows this paints the source's drag image over the target.  X11 and Wayland
    // sources draw their own drag pixmap, so a target has nothing to show; the setting
    // is kept for the component's users.
    bool ShowImage() const { return showImage_; }
    void setShowImage(bool on) { showImage_ = on; }

    TDropTargetEvent OnEnter;
    TDropTargetEvent OnDragOver;
    TDropTargetEvent OnLeave;
    TDropTargetEvent OnDrop;
    TDropTargetEvent OnGetDropEffect;

    // The drag now held (from enter to leave or drop), or none.
    const QMimeData* DataObject() const { return data_; }

    // Fetches the drop data from DataObject(); true when it found some.
    virtual bool GetData() = 0;
    virtual void ClearData() = 0;
    virtual bool HasValidFormats() = 0;
    // The effect for this moment of the drag: the allowed effects of the kinds in
    // Dragtypes, then OnGetDropEffect or the usual modifier rule.
    virtual int GetValidDropEffect(Qt::KeyboardModifiers shift, QPoint point, int allowed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool belongsToWindow(const QWidget* widget) const;
    void watch(QWidget* widget);
    QPoint clientPoint(const QWidget* receiver, QPoint pos) const;
    void answer(QDropEvent& event, int effect);

    int DragEnter(QDropEvent& event, QPoint point);
    int DragOver(QDropEvent& event, QPoint point);
    void DragLeave();
    int Drop(QDropEvent& event, QPoint point);
    void releaseData();

    TDragTypes dragtypes_;
    bool getDataOnEnter_ = false;
    bool showImage_ = true;

    QPointer<QWidget> window_;
    bool windowAcceptedDrops_ = false;
    QList<QPointer<QWidget>> watched_;
    QPointer<QMimeData> data_;
    // The drag between its enter and its leave or drop, even when its data was refused.
    QPointer<QMimeData> drag_;
    QPoint lastPoint_;
    // Qt tells each child widget of its own when a drag crosses into it; a leave is
    // held back for a moment so that crossing into a sibling does not end the drag.
    QTimer leaveTimer_;
};

// A web link dropped from a browser, or an Internet shortcut file from a file manager.
class TDropURLTarget : public TDropTarget {
    Q_OBJECT
public:
    explicit TDropURLTarget(QObject* owner = nullptr);

    QString URL() const { return url_; }
    QString Title() const { return title_; }

    bool GetData() override;
    void ClearData() override;
    bool HasValidFormats() override;

private:
    QString url_;
    QString title_;
};

}  // namespace quorvel

Q_DECLARE_OPERATORS_FOR_FLAGS(quorvel::TDragTypes)
