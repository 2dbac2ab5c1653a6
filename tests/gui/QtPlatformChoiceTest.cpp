// Which Qt platform the program asks for, from the session's variables: native Wayland
// under Wayland, X11 where only an X display is, unchanged when the user chose.
#include <gtest/gtest.h>

#include <QDir>
#include <QLibraryInfo>
#include <QtGlobal>
#include <map>
#include <optional>

#include "platform/QtPlatformChoice.h"

using namespace quorvel;

namespace {

// Sets the session variables for one case and puts the test process's own back after.
class Session {
public:
    Session(std::optional<const char*> wayland, std::optional<const char*> x11,
            std::optional<const char*> chosen = std::nullopt) {
        set("WAYLAND_DISPLAY", wayland);
        set("DISPLAY", x11);
        set("QT_QPA_PLATFORM", chosen);
    }
    ~Session() {
        for (const auto& [name, value] : saved_) {
            if (value)
                qputenv(name.c_str(), *value);
            else
                qunsetenv(name.c_str());
        }
    }
    static QByteArray platform() {
        chooseQtPlatform();
        return qgetenv("QT_QPA_PLATFORM");
    }

private:
    void set(const char* name, std::optional<const char*> value) {
        saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    std::map<std::string, std::optional<QByteArray>> saved_;
};

bool waylandPluginHere() {
    return !QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"))
                .entryList({QStringLiteral("libqwayland-*.so")})
                .isEmpty();
}

TEST(QtPlatformChoice, X11SessionsAndTheUsersOwnChoiceAreKept) {
    {
        Session s(std::nullopt, ":1");
        EXPECT_EQ(Session::platform(), "xcb");
    }
    {
        Session s("wayland-0", ":1", "xcb");
        EXPECT_EQ(Session::platform(), "xcb");
    }
    {
        Session s(std::nullopt, std::nullopt);
        EXPECT_EQ(Session::platform(), "offscreen");
    }
}

TEST(QtPlatformChoice, AWaylandSessionRunsUsNativelyWithX11AsTheFallback) {
    if (!waylandPluginHere()) GTEST_SKIP() << "Qt's Wayland plugin (qt6-wayland) is not installed";
    {
        Session s("wayland-1", ":0");
        EXPECT_EQ(Session::platform(), "wayland;xcb");
    }
    {
        Session s("wayland-1", std::nullopt);
        EXPECT_EQ(Session::platform(), "wayland");
    }
}

}  // namespace
