#include "support/PortalStandIn.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QUuid>

namespace quorvel::test {

PortalStandIn::PortalStandIn(const QStringList& options) {
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1"),
                          QStringLiteral("--address=unix:dir=") + dir_.path()});
    daemon_.start();
    if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000)) {
        problem_ = QStringLiteral("dbus-daemon did not start: ") + daemon_.errorString();
        return;
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    connection_ = QStringLiteral("portal-test-") + QUuid::createUuid().toString(QUuid::Id128);
    QDBusConnection bus = QDBusConnection::connectToBus(address_, connection_);
    if (!bus.isConnected()) {
        problem_ = QStringLiteral("cannot connect to the private bus ") + address_;
        return;
    }
    standIn_.setProgram(QStringLiteral(QUORVEL_BINARY_DIR "/tests/portal_standin"));
    standIn_.setArguments(QStringList{address_, dir_.filePath(QStringLiteral("calls.log"))} + options);
    standIn_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    standIn_.start();
    const QDeadlineTimer deadline(5000);
    while (!bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        if (deadline.hasExpired() || standIn_.state() == QProcess::NotRunning) {
            problem_ = QStringLiteral("the portal stand-in did not come up");
            return;
        }
        QThread::msleep(20);
    }
}

PortalStandIn::~PortalStandIn() {
    if (!connection_.isEmpty()) QDBusConnection::disconnectFromBus(connection_);
    for (QProcess* p : {&standIn_, &daemon_}) {
        if (p->state() == QProcess::NotRunning) continue;
        p->terminate();
        if (!p->waitForFinished(3000)) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
}

std::vector<std::string> PortalStandIn::calls() const {
    QFile f(dir_.filePath(QStringLiteral("calls.log")));
    if (!f.open(QIODevice::ReadOnly)) return {};
    std::vector<std::string> out;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.isEmpty()) out.push_back(line.toStdString());
    return out;
}

std::vector<std::string> PortalStandIn::keyEvents() const {
    std::vector<std::string> out;
    for (const std::string& line : calls())
        if (line.find("press ") != std::string::npos || line.find("release ") != std::string::npos)
            out.push_back(line);
    return out;
}

}  // namespace quorvel::test
