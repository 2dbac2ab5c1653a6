#include "platform/Application.h"

#include "platform/Dialogs.h"

namespace quorvel {

namespace {
Dialogs* gReporter = nullptr;
QString gTitle;
}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

void Application::setTitle(const QString& title) { gTitle = title; }
QString Application::title() { return gTitle; }

void Application::setErrorReporter(Dialogs* dialogs) { gReporter = dialogs; }

void Application::report(const std::exception& e) {
    if (gReporter) gReporter->errorReport(QString::fromStdString(e.what()));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        report(e);
    }
    return false;
}

}  // namespace quorvel
