#include "platform/TypingBackends.h"

#include <QGuiApplication>

#include "platform/portal/PortalBackends.h"
#include "platform/wayland/ForeignToplevelWindow.h"
#include "platform/wayland/WaylandClipboard.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/XTestKeyboard.h"

namespace quorvel {

namespace {

// The app id the compositor shows for our windows: Qt takes it from the desktop file name.
QString ownAppId() {
    QString id = QGuiApplication::desktopFileName();
    if (id.endsWith(QLatin1String(".desktop"))) id.chop(8);
    return id;
}

// wlroots compositors (sway, Hyprland, river, labwc, Wayfire) let a client type through a
// virtual keyboard and see and activate the other clients' windows.  False, with what is
// missing said in `b`, when this compositor offers either to no one.
bool makeWlrootsBackends(TypingBackends& b) {
    auto connection = WaylandConnection::open();
    if (!connection) {
        b.missing = QStringLiteral(
            "Quorvel could not open a second connection to this Wayland desktop, which typing "
            "into other windows needs.");
        return false;
    }
    const bool keyboard = connection->offers("zwp_virtual_keyboard_manager_v1");
    const bool toplevels = connection->offers("zwlr_foreign_toplevel_manager_v1");
    if (!keyboard || !toplevels) {
        QStringList lacks;
        if (!keyboard) lacks << QStringLiteral("no virtual keyboard");
        if (!toplevels) lacks << QStringLiteral("no list of the open windows");
        b.missing = QStringLiteral(
                        "This Wayland desktop offers %1 to other programs, and no remote "
                        "desktop portal, which typing into other windows needs.\nUse a desktop "
                        "that offers them (sway, Hyprland, river, labwc, Wayfire, GNOME, KDE "
                        "Plasma), or start Quorvel through XWayland (QT_QPA_PLATFORM=xcb) to "
                        "type into X11 windows.")
                        .arg(lacks.join(QStringLiteral(" and ")));
        return false;
    }
    // Text beyond the keymap is pasted where the compositor lets us set the clipboard.
    std::unique_ptr<PasteClipboard> clipboard;
    if (pasteWanted())
        clipboard = std::make_unique<BothClipboards>(
            std::make_unique<WaylandClipboard>(nullptr, false),
            std::make_unique<WaylandClipboard>(nullptr, true));
    if (clipboard && !clipboard->usable()) clipboard.reset();
    b.keyboard = std::make_unique<WaylandKeyboard>(connection, std::move(clipboard));
    b.activeWindow = std::make_unique<ForeignToplevelWindow>(connection, ownAppId().toStdString());
    if (!b.keyboard->available() || !b.activeWindow->available()) {
        b.keyboard.reset();
        b.activeWindow.reset();
        b.missing = QStringLiteral(
            "This Wayland desktop refused Quorvel its virtual keyboard or its list of the open "
            "windows, which typing into other windows needs.");
        return false;
    }
    return true;
}

}  // namespace

TypingBackends makeTypingBackends(const QString& dataFolder) {
    TypingBackends b;
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        if (makeWlrootsBackends(b)) return b;
        // GNOME and KDE: no protocol of theirs lets a client type, the desktop portal does.
        if (auto portal = makePortalBackends(dataFolder)) return std::move(*portal);
        return b;
    }
    // Typing reaches other windows through the X server, on connections of its own.
    b.keyboard = std::make_unique<XTestKeyboard>();
    b.activeWindow = std::make_unique<X11ActiveWindow>();
    if (!b.keyboard->available() || !b.activeWindow->available())
        b.missing = QStringLiteral(
            "Typing into other windows needs an X11 display.\nStart Quorvel in an X11 session, "
            "or through XWayland under Wayland, to use the Type function.");
    return b;
}

}  // namespace quorvel
