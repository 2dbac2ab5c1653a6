// SIGTERM, SIGINT and SIGHUP close the main window the normal way, also while a modal
// box is open, so that the shutdown saves run (a desktop logout must lose nothing).
#pragma once

#include <QObject>

class QWidget;

namespace quorvel {

class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QWidget* mainWindow = nullptr);
    // A signal that came before the window existed closes it as soon as it is set.
    void setMainWindow(QWidget* mainWindow);
    ~ShutdownSignals() override;

private:
    void onSignal();
    QWidget* mainWindow_;
    bool pending_ = false;
};

}  // namespace quorvel
