// A recording stand-in of the desktop's remote-desktop portal for tests on a private
// session bus: answers CreateSession, SelectDevices and Start through Request objects as
// the portal does, and writes every call with its arguments to a log, one line each.
//
// usage: portal_standin <bus address> <log file> [--version N] [--refuse] [--devices N]
//                       [--busy MS]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace {

QString keysymName(int keysym) {
    switch (keysym) {
        case 0xff09: return QStringLiteral("Tab");
        case 0xff0d: return QStringLiteral("Return");
        case 0xffe1: return QStringLiteral("Shift_L");
        case 0xffe3: return QStringLiteral("Control_L");
        case 0xffe9: return QStringLiteral("Alt_L");
        case 0xfe03: return QStringLiteral("ISO_Level3_Shift");
        case 0xff51: return QStringLiteral("Left");
        case 0xff52: return QStringLiteral("Up");
        case 0xff53: return QStringLiteral("Right");
        case 0xff54: return QStringLiteral("Down");
        case 0x20: return QStringLiteral("space");
        default: break;
    }
    if (keysym > 0x20 && keysym < 0x7f) return QString(QChar(keysym));
    return QStringLiteral("0x%1").arg(keysym, 0, 16);
}

struct Settings {
    uint version = 2;
    unsigned long busyMs = 0;
    uint devices = 7;
    bool refuse = false;
};

class Log {
public:
    explicit Log(const QString& path) : file_(path) { file_.open(QIODevice::Append); }
    void line(const QString& text) {
        file_.write(text.toUtf8() + '\n');
        file_.flush();
    }

private:
    QFile file_;
};

class Session : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
public:
    Session(Log& log, QObject* parent) : QObject(parent), log_(log) {}
public slots:
    void Close() { log_.line(QStringLiteral("Session.Close")); }

private:
    Log& log_;
};

class RemoteDesktop : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint version READ version)
    Q_PROPERTY(uint AvailableDeviceTypes READ availableDeviceTypes)
public:
    RemoteDesktop(QDBusConnection bus, Settings s, Log& log) : bus_(bus), s_(s), log_(log) {}
    uint version() const { return s_.version; }
    uint availableDeviceTypes() const { return s_.devices; }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        const QString token = options.value(QStringLiteral("session_handle_token")).toString();
        session_ = objectPath(QStringLiteral("session"),
                              token.isEmpty() ? QStringLiteral("s1") : token);
        bus_.registerObject(session_, new Session(log_, this), QDBusConnection::ExportAllSlots);
        log_.line(QStringLiteral("CreateSession session_handle_token=%1")
                      .arg(token.isEmpty() ? QStringLiteral("missing") : QStringLiteral("given")));
        return respond(options, 0, {{QStringLiteral("session_handle"), session_}});
    }
    QDBusObjectPath SelectDevices(const QDBusObjectPath& session, const QVariantMap& options) {
        QStringList parts{QStringLiteral("SelectDevices")};
        if (session.path() != session_) parts << QStringLiteral("unknown-session");
        for (const QString& key : {QStringLiteral("types"), QStringLiteral("persist_mode"),
                                   QStringLiteral("restore_token")})
            if (options.contains(key)) parts << key + QLatin1Char('=') + options.value(key).toString();
        persist_ = options.contains(QStringLiteral("persist_mode"));
        log_.line(parts.join(QLatin1Char(' ')));
        return respond(options, 0, {});
    }
    QDBusObjectPath Start(const QDBusObjectPath& session, const QString& parent,
                          const QVariantMap& options) {
        log_.line(QStringLiteral("Start%1 parent_window='%2'")
                      .arg(session.path() == session_ ? QString() : QStringLiteral(" unknown-session"),
                           parent));
        if (s_.refuse) return respond(options, 1, {});
        QVariantMap results{{QStringLiteral("devices"), uint(1)}};
        if (persist_ && s_.version >= 2)
            results.insert(QStringLiteral("restore_token"),
                           QStringLiteral("tok-%1").arg(++tokens_));
        started_ = true;
        return respond(options, 0, results);
    }
    void NotifyKeyboardKeysym(const QDBusObjectPath& session, const QVariantMap&, int keysym,
                              uint state) {
        log_.line(QStringLiteral("%1%2 %3")
                      .arg(started_ && session.path() == session_ ? QString()
                                                                  : QStringLiteral("not-started "),
                           state ? QStringLiteral("press") : QStringLiteral("release"),
                           keysymName(keysym)));
    }
    void NotifyKeyboardKeycode(const QDBusObjectPath&, const QVariantMap&, int keycode, uint state) {
        log_.line(QStringLiteral("keycode %1 %2").arg(keycode).arg(state));
    }

private:
    QString objectPath(const QString& kind, const QString& token) const {
        QString sender = message().service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/%1/%2/%3").arg(kind, sender, token);
    }
    // The answer comes later, as a signal on the request object, like the portal's.
    QDBusObjectPath respond(const QVariantMap& options, uint code, const QVariantMap& results) {
        const QString token = options.value(QStringLiteral("handle_token")).toString();
        if (token.isEmpty()) log_.line(QStringLiteral("handle_token missing"));
        const QString path = objectPath(QStringLiteral("request"), token);
        QTimer::singleShot(20, this, [this, path, code, results] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << code << results;
            bus_.send(signal);
        });
        return QDBusObjectPath(path);
    }

    QDBusConnection bus_;
    Settings s_;
    Log& log_;
    QString session_;
    bool persist_ = false;
    bool started_ = false;
    int tokens_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: portal_standin <bus address> <log file> [options]\n");
        return 2;
    }
    Settings s;
    for (int i = 3; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--refuse")) s.refuse = true;
        else if (args[i] == QLatin1String("--version") && i + 1 < args.size()) s.version = args[++i].toUInt();
        else if (args[i] == QLatin1String("--devices") && i + 1 < args.size()) s.devices = args[++i].toUInt();
        else if (args[i] == QLatin1String("--busy") && i + 1 < args.size()) s.busyMs = args[++i].toUInt();
    }
    QDBusConnection bus = QDBusConnection::connectToBus(args[1], QStringLiteral("standin"));
    Log log(args[2]);
    RemoteDesktop portal(bus, s, log);
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        std::fprintf(stderr, "portal_standin: cannot serve on %s\n", qPrintable(args[1]));
        return 1;
    }
    // A portal still starting: every call waits until it is ready.
    if (s.busyMs) QTimer::singleShot(0, [&] { QThread::msleep(s.busyMs); });
    return app.exec();
}

#include "portal_standin.moc"
