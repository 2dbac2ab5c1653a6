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
};

}  // namespace quorvel
