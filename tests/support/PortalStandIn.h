// A private session bus (a dbus-daemon of its own) with the recording stand-in of the
// remote-desktop portal on it, for tests that need neither a display nor a desktop.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <string>
#include <vector>

namespace quorvel::test {

class PortalStandIn {
public:
    // `options` go to the stand-in: --version N, --refuse, --devices N.
    explicit PortalStandIn(const QStringList& options = {});
    ~PortalStandIn();
    PortalStandIn(const PortalStandIn&) = delete;
    PortalStandIn& operator=(const PortalStandIn&) = delete;

    // Empty when the bus and the stand-in run; otherwise what went wrong.
    const QString& problem() const { return problem_; }
    QDBusConnection bus() const { return QDBusConnection(connection_); }
    // Every call the stand-in received so far, one line each, in order.
    std::vector<std::string> calls() const;
    // The calls that carried key events.
    std::vector<std::string> keyEvents() const;

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess standIn_;
    QString address_;
    QString connection_;
    QString problem_;
};

}  // namespace quorvel::test
