// The typing layers of GNOME and KDE Wayland desktops, through the remote-desktop portal.
#pragma once

#include <QString>
#include <optional>

#include "platform/TypingBackends.h"

namespace quorvel {

// Nothing when the session bus has no portal that offers a remote-desktop keyboard.
std::optional<TypingBackends> makePortalBackends(const QString& dataFolder);

}  // namespace quorvel
