// Desktop tests drive real programs on a display of their own; this process keeps its
// own widgets offscreen (it builds the main window only to read where a control lies).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    Q_INIT_RESOURCE(resources);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
