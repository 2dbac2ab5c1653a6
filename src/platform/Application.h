// The application object: failures that a command does not handle end that command and
// reach the general error report here, where Qt dispatches events.
#pragma once

#include <QApplication>

namespace quorvel {

class Dialogs;

class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    static void setErrorReporter(Dialogs* dialogs);
    static void report(const std::exception& e);
    // The application title: the caption of the plain message boxes and the error report.
    // Not Qt's display name, which the X11 platform would append to every window's caption.
    static void setTitle(const QString& title);
    static QString title();
};

}  // namespace quorvel
