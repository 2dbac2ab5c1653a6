// What a starting browser shows of itself on Linux, X11 and Wayland alike: its processes
// in /proc, and the remote service a second `browser URL` talks to.  Firefox offers that
// service as a name on the session bus (org.mozilla.<app>.<profile>), owned only once its
// remote server has started; Chromium as the listening socket SingletonSocket, whose
// messages it keeps until it is ready for them.
#include <signal.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <algorithm>

#include "platform/linux/BrowserHandOver.h"
#include "platform/linux/ProcessBrowserConversation.h"

namespace quorvel {

namespace {

// Bus calls here are answered by the bus itself, at once; a bus that hangs must not hold
// the hand-over past its time limit.
constexpr int kBusCallMs = 1000;

QDBusMessage busCall(const QString& method, const QVariantList& args = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(args);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kBusCallMs);
}

// A Firefox remote name owned by one of `pids`.
bool mozillaNameOwned(const QSet<qint64>& pids) {
    const QDBusMessage names = busCall(QStringLiteral("ListNames"));
    if (names.type() != QDBusMessage::ReplyMessage || names.arguments().isEmpty()) return false;
    for (const QString& name : names.arguments().first().toStringList()) {
        // The GNOME search provider shares the prefix and is no remote service.
        if (!name.startsWith(QLatin1String("org.mozilla.")) ||
            name.endsWith(QLatin1String(".SearchProvider")))
            continue;
        const QDBusMessage pid = busCall(QStringLiteral("GetConnectionUnixProcessID"), {name});
        if (pid.type() == QDBusMessage::ReplyMessage && !pid.arguments().isEmpty() &&
            pids.contains(pid.arguments().first().toLongLong()))
            return true;
    }
    return false;
}

// Inodes of the listening Unix sockets named SingletonSocket.
QSet<QString> listeningSingletonSockets() {
    QSet<QString> inodes;
    QFile table(QStringLiteral("/proc/net/unix"));
    if (!table.open(QIODevice::ReadOnly)) return inodes;
    table.readLine();  // the heading
    constexpr quint32 kListening = 0x10000;  // __SO_ACCEPTCON
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        // Num RefCount Protocol Flags Type St Inode Path
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 8 || !f[7].endsWith("/SingletonSocket")) continue;
        if (f[3].toUInt(nullptr, 16) & kListening) inodes.insert(QString::fromLatin1(f[6]));
    }
    return inodes;
}

bool holdsSocket(qint64 pid, const QSet<QString>& inodes) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        // "socket:[12345]"; symLinkTarget makes it absolute.
        const int open = target.lastIndexOf(QLatin1String("socket:["));
        if (open >= 0 && inodes.contains(target.mid(open + 8).chopped(1))) return true;
    }
    return false;
}

bool singletonSocketHeld(const QList<qint64>& pids) {
    const QSet<QString> inodes = listeningSingletonSockets();
    if (inodes.isEmpty()) return false;
    return std::any_of(pids.begin(), pids.end(), [&](qint64 pid) { return holdsSocket(pid, inodes); });
}

class LinuxHandOverSystem : public HandOverSystem {
public:
    LinuxHandOverSystem() { clock_.start(); }

    BrowserState probe(const HandOverJob& job) override {
        BrowserState s;
        const QList<qint64> pids = ProcessBrowserConversation::processesOf(job.service, job.program);
        s.running = !pids.isEmpty();
        if (!s.running) return s;
        for (qint64 pid : pids)
            s.runningForMs = std::max(s.runningForMs, ProcessBrowserConversation::runningForMs(pid));
        const bool firefox = job.family != BrowserFamily::Chromium;
        const bool chromium = job.family != BrowserFamily::Firefox;
        const bool bus = firefox && QDBusConnection::sessionBus().isConnected();
        s.remoteWatchable = (job.family == BrowserFamily::Firefox && bus) ||
                            job.family == BrowserFamily::Chromium;
        s.remoteAnswers = (chromium && singletonSocketHeld(pids)) ||
                          (bus && mozillaNameOwned(QSet<qint64>(pids.begin(), pids.end())));
        return s;
    }

    qint64 launch(const QStringList& command) override {
        if (command.isEmpty()) return 0;
        qint64 pid = 0;
        if (!QProcess::startDetached(command.first(), command.mid(1), QString(), &pid)) return 0;
        return pid;
    }

    // Detached, the hand-over is no child of ours: it is gone once it no longer exists or
    // has ended and waits for its new parent to collect it.
    bool stillRunning(qint64 pid) override {
        if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0) return false;
        const QList<QByteArray> fields = ProcessBrowserConversation::statFields(pid);
        return !fields.isEmpty() && !fields.first().startsWith('Z');
    }

    qint64 nowMs() override { return clock_.elapsed(); }

private:
    QElapsedTimer clock_;
};

}  // namespace

std::unique_ptr<HandOverSystem> makeLinuxHandOverSystem() {
    return std::make_unique<LinuxHandOverSystem>();
}

}  // namespace quorvel
