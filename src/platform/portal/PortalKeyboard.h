// The keyboard layer on GNOME and KDE Wayland desktops: key events as keysyms through the
// remote-desktop portal, characters limited to what the compositor's keymap can type.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/portal/PortalSession.h"
#include "platform/portal/XkbKeymap.h"
#include "typing/core/Keyboard.h"

namespace quorvel::portal {

class PortalKeyboard : public Keyboard {
public:
    // Hands out the compositor's keymap in XKB text form.
    using KeymapSource = std::function<std::string()>;

    // `dataFolder` keeps the portal's consent between program starts.
    PortalKeyboard(QDBusConnection bus, const QString& dataFolder,
                   KeymapSource keymap = compositorKeymap);

    bool available() const override;
    std::string open() override;
    void beginRun() override;
    void endRun() override {}
    KeyScan scan(char32_t ch) override;
    void keyDown(int key) override;
    void keyUp(int key) override;

    // How long the user has to answer the desktop's consent dialog.
    void setConsentLimit(std::chrono::milliseconds limit) { consentLimit_ = limit; }
    static QString tokenFileName() { return QStringLiteral("remote-desktop.token"); }

private:
    void send(int key, bool pressed);
    void awaitKeyboard() const;

    PortalSession session_;
    KeymapSource keymapSource_;
    std::unique_ptr<XkbKeymap> keymap_;
    std::chrono::milliseconds consentLimit_{std::chrono::minutes(2)};
};

}  // namespace quorvel::portal
