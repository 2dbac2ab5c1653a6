#include "platform/TypingBackends.h"

#include <QGuiApplication>

#include "platform/portal/PortalBackends.h"
#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/XTestKeyboard.h"

namespace quorvel {

TypingBackends makeTypingBackends(const QString& dataFolder) {
    // GNOME and KDE on Wayland: no X server reaches their native windows.
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        if (auto portal = makePortalBackends(dataFolder)) return std::move(*portal);
    TypingBackends b;
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
