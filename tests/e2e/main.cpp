// End-to-end tests start their own X server and programs.  The main window under test
// runs headless in this process; only what it types goes through the X server.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/Application.h"

int main(int argc, char** argv) {
    Q_INIT_RESOURCE(resources);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quorvel::Application::setTitle(QStringLiteral("Quorvell"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
