// Wayland tests drive real programs on a headless sway of their own; this process keeps
// its own widgets offscreen (it builds the main window only to read where a control lies).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    Q_INIT_RESOURCE(resources);
    // Always offscreen: the suite may run inside a Wayland session of a person.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
