#include "platform/portal/PortalBackends.h"

#include "platform/portal/PortalActiveWindow.h"
#include "platform/portal/PortalKeyboard.h"

namespace quorvel {

std::optional<TypingBackends> makePortalBackends(const QString& dataFolder) {
    auto keyboard = std::make_unique<portal::PortalKeyboard>(QDBusConnection::sessionBus(), dataFolder);
    if (!keyboard->available()) return std::nullopt;
    TypingBackends b;
    b.keyboard = std::move(keyboard);
    b.activeWindow = std::make_unique<portal::PortalActiveWindow>();
    return b;
}

}  // namespace quorvel
