#include "platform/portal/PortalActiveWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

namespace quorvel::portal {

namespace {

// Every window of this process is ours, popups without an id of their own included.
bool ownsFocus() {
    return QGuiApplication::applicationState() == Qt::ApplicationActive &&
           QGuiApplication::focusWindow() != nullptr;
}

}  // namespace

WindowId PortalActiveWindow::foreground() {
    return QGuiApplication::applicationState() == Qt::ApplicationActive ? 0 : kWindowBefore;
}

bool PortalActiveWindow::activate(WindowId w, const std::vector<WindowId>&,
                                  std::chrono::milliseconds limit) {
    if (w != kWindowBefore) return false;
    aside_.clear();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || top->isMinimized() || top->windowType() == Qt::ToolTip) continue;
        aside_.push_back({top, top->windowState()});
        top->showMinimized();
    }
    // The compositor moves the focus in its own time: serve events while it does.
    QElapsedTimer elapsed;
    elapsed.start();
    while (ownsFocus() && elapsed.elapsed() < limit.count()) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return !ownsFocus();
}

bool PortalActiveWindow::focusIn(const std::vector<WindowId>&) { return ownsFocus(); }

void PortalActiveWindow::runEnded() {
    for (const SteppedAside& s : aside_) {
        if (!s.widget) continue;
        // Wayland lets a client minimise its window but not restore it: map it anew.  Always:
        // the compositor does not say whether the window is still minimised, and Qt's own
        // state forgets it at the next configure (KWin left it minimised otherwise).
        s.widget->hide();
        s.widget->setWindowState(s.state & ~Qt::WindowMinimized);
        s.widget->show();
        s.widget->raise();
        s.widget->activateWindow();
    }
    aside_.clear();
}

}  // namespace quorvel::portal
