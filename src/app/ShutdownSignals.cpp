#include "app/ShutdownSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "platform/Dialogs.h"

namespace quorvel {

namespace {
int gPipe[2] = {-1, -1};

void handler(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &c, 1);
}
}  // namespace

ShutdownSignals::ShutdownSignals(QWidget* mainWindow) : mainWindow_(mainWindow) {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ShutdownSignals::onSignal);
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

ShutdownSignals::~ShutdownSignals() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

void ShutdownSignals::onSignal() {
    char buf[16];
    while (::read(gPipe[0], buf, sizeof buf) > 0) {
    }
    // Every box from now on answers at once; open ones are closed so their handlers return.
    QtDialogs::setClosing(true);
    while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        if (QApplication::activeModalWidget() == modal) modal->hide();
        QApplication::processEvents();
        if (QApplication::activeModalWidget() == modal) break;
    }
    if (!mainWindow_) {
        pending_ = true;
        return;
    }
    QTimer::singleShot(0, mainWindow_, [w = mainWindow_] { w->close(); });
}

void ShutdownSignals::setMainWindow(QWidget* mainWindow) {
    mainWindow_ = mainWindow;
    if (pending_) QTimer::singleShot(0, mainWindow_, [w = mainWindow_] { w->close(); });
}

}  // namespace quorvel
