#include "typing/OwnKeysGuard.h"

#include <QCoreApplication>
#include <QEvent>
#include <QInputMethodEvent>
#include <utility>

namespace quorvel {

OwnKeysGuard::OwnKeysGuard(std::function<void()> reached, QObject* parent)
    : QObject(parent), onReached_(std::move(reached)) {}

OwnKeysGuard::~OwnKeysGuard() { disarm(); }

void OwnKeysGuard::arm() {
    reached_ = false;
    if (armed_) return;
    armed_ = true;
    // On the application, so it sees every key before the window, the shortcut map or a
    // widget does.
    QCoreApplication::instance()->installEventFilter(this);
}

void OwnKeysGuard::disarm() {
    if (!armed_) return;
    armed_ = false;
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

bool OwnKeysGuard::eventFilter(QObject*, QEvent* event) {
    bool typed = false;
    switch (event->type()) {
        case QEvent::KeyPress:
            typed = true;
            break;
        case QEvent::InputMethod:
            // An input method turns keys into text: committed text is a key that got through.
            typed = !static_cast<QInputMethodEvent*>(event)->commitString().isEmpty();
            break;
        case QEvent::ShortcutOverride:
            // Accepted, so that the key is not looked up as a shortcut (Ctrl+D, Del, Return
            // would act on the Items); the key event that follows is swallowed below.
            event->accept();
            return true;
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
            return true;
        default:
            return false;
    }
    if (typed && !reached_) {
        reached_ = true;
        if (onReached_) onReached_();
    }
    return true;
}

}  // namespace quorvel
