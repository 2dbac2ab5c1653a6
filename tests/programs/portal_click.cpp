// Clicks where the tests say, as a user's pointer would, through a remote-desktop portal
// session of its own (KDE's portal asks a program that is not sandboxed nothing, and
// KWin offers a client no other way to move the pointer).
//
// usage: portal_click <x>,<y> [<pause ms>] [<x>,<y> ...]
// Each point is clicked with the left button held 100 ms; a number pauses that long.
// Exits 0 once every click was sent, 1 when the portal gave no pointer.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>
#include <optional>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemote = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint kPointer = 2;
constexpr int kLeftButton = 0x110;  // BTN_LEFT

class Requests : public QObject {
    Q_OBJECT
public:
    // Calls `method` and waits for its Response; the results, or nothing on failure.
    std::optional<QVariantMap> call(const QString& method, QVariantList args, QVariantMap options) {
        const QString token =
            QStringLiteral("click%1").arg(QRandomGenerator::global()->generate());
        QString sender = QDBusConnection::sessionBus().baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString handle =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        QDBusConnection::sessionBus().connect(kService, handle,
                                              QStringLiteral("org.freedesktop.portal.Request"),
                                              QStringLiteral("Response"), this,
                                              SLOT(onResponse(uint, QVariantMap)));
        options.insert(QStringLiteral("handle_token"), token);
        args << options;
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kRemote, method);
        m.setArguments(args);
        code_ = 2;
        done_ = false;
        if (QDBusConnection::sessionBus().call(m, QDBus::Block, 20000).type() !=
            QDBusMessage::ReplyMessage)
            return std::nullopt;
        QEventLoop loop;
        loop_ = &loop;
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        if (!done_) loop.exec();
        loop_ = nullptr;
        if (!done_ || code_ != 0) return std::nullopt;
        return results_;
    }

private slots:
    void onResponse(uint code, const QVariantMap& results) {
        code_ = code;
        results_ = results;
        done_ = true;
        if (loop_) loop_->quit();
    }

private:
    uint code_ = 2;
    QVariantMap results_;
    bool done_ = false;
    QEventLoop* loop_ = nullptr;
};

bool notify(const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kRemote, method);
    m.setArguments(args);
    return QDBusConnection::sessionBus().call(m, QDBus::Block, 10000).type() ==
           QDBusMessage::ReplyMessage;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Requests r;
    const auto created = r.call(QStringLiteral("CreateSession"), {},
                                {{QStringLiteral("session_handle_token"), QStringLiteral("click")}});
    if (!created) return std::fprintf(stderr, "no session\n"), 1;
    const QDBusObjectPath session(
        created->value(QStringLiteral("session_handle")).toString());
    const QVariant s = QVariant::fromValue(session);
    if (!r.call(QStringLiteral("SelectDevices"), {s}, {{QStringLiteral("types"), kPointer}}) ||
        !r.call(QStringLiteral("Start"), {s, QString()}, {}))
        return std::fprintf(stderr, "no pointer\n"), 1;
    for (int i = 1; i < argc; ++i) {
        const QStringList xy = QString::fromLocal8Bit(argv[i]).split(QLatin1Char(','));
        if (xy.size() != 2) {
            QThread::msleep(QString::fromLocal8Bit(argv[i]).toULong());
            continue;
        }
        // Relative motion only (absolute needs a screen-cast stream): into the top left
        // corner first, where the pointer stops, then to the point.
        const bool sent =
            notify(QStringLiteral("NotifyPointerMotion"), {s, QVariantMap(), -5000.0, -5000.0}) &&
            notify(QStringLiteral("NotifyPointerMotion"),
                   {s, QVariantMap(), xy[0].toDouble(), xy[1].toDouble()}) &&
            notify(QStringLiteral("NotifyPointerButton"), {s, QVariantMap(), kLeftButton, 1u});
        QThread::msleep(100);
        if (!sent ||
            !notify(QStringLiteral("NotifyPointerButton"), {s, QVariantMap(), kLeftButton, 0u}))
            return std::fprintf(stderr, "click %s not sent\n", argv[i]), 1;
    }
    return 0;
}

#include "portal_click.moc"
