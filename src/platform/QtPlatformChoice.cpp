#include "platform/QtPlatformChoice.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <QtGlobal>

namespace quorvel {

namespace {

bool waylandPluginInstalled() {
    QStringList folders = {QLibraryInfo::path(QLibraryInfo::PluginsPath)};
    folders += qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& folder : folders)
        if (!QDir(folder + QStringLiteral("/platforms"))
                 .entryList({QStringLiteral("libqwayland-*.so")}, QDir::Files)
                 .isEmpty())
            return true;
    return false;
}

}  // namespace

void chooseQtPlatform() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (wayland && waylandPluginInstalled())
        // Should the compositor not answer, Qt goes on to the X display.
        qputenv("QT_QPA_PLATFORM", x11 ? "wayland;xcb" : "wayland");
    else if (x11)
        qputenv("QT_QPA_PLATFORM", "xcb");
    else if (!wayland)
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

}  // namespace quorvel
