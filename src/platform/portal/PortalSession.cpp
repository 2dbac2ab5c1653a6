#include "platform/portal/PortalSession.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <utility>

#include "model/Errors.h"
#include "platform/FileIO.h"

namespace quorvel::portal {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint kKeyboardDevice = 1;
constexpr int kShiftL = 0xffe1;
// Keep the consent until the user revokes it in the desktop's settings.
constexpr uint kPersistUntilRevoked = 2;

// The property's value; nothing, with `late` set, when the portal did not answer in time.
QVariant portalProperty(const QDBusConnection& bus, const QString& name, bool& late) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    m.setArguments({kInterface, name});
    // The first call may start the portal.
    const QDBusMessage reply = bus.call(m, QDBus::Block, 5000);
    const QString error = reply.errorName();
    late = reply.type() == QDBusMessage::ErrorMessage &&
           (error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            error == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
            error == QLatin1String("org.freedesktop.DBus.Error.TimedOut"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

QString pathText(const QVariant& v) {
    if (v.canConvert<QDBusObjectPath>() && v.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return v.value<QDBusObjectPath>().path();
    return v.toString();
}

const QString kNothingTyped = QStringLiteral(" Nothing was typed.");

}  // namespace

PortalSession::PortalSession(QDBusConnection bus, QString tokenFile)
    : bus_(std::move(bus)), tokenFile_(std::move(tokenFile)) {
    askWhatIsOffered();
}

void PortalSession::askWhatIsOffered() {
    if (!bus_.isConnected()) return;
    bool late = false;
    version_ = portalProperty(bus_, QStringLiteral("version"), late).toUInt();
    if (!late) deviceTypes_ = portalProperty(bus_, QStringLiteral("AvailableDeviceTypes"), late).toUInt();
    answered_ = !late;
}

PortalSession::~PortalSession() {
    if (isOpen())
        bus_.call(QDBusMessage::createMethodCall(kService, session_, kSession,
                                                 QStringLiteral("Close")),
                  QDBus::NoBlock);
}

bool PortalSession::offered() const { return version_ > 0 && (deviceTypes_ & kKeyboardDevice); }

QString PortalSession::senderPart() const {
    QString name = bus_.baseService();
    if (name.startsWith(QLatin1Char(':'))) name.remove(0, 1);
    return name.replace(QLatin1Char('.'), QLatin1Char('_'));
}

QString PortalSession::newToken() {
    return QStringLiteral("quorvel%1_%2").arg(++tokens_).arg(QRandomGenerator::global()->generate());
}

QString PortalSession::storedToken() const {
    try {
        return QString::fromUtf8(readWholeFile(tokenFile_)).trimmed();
    } catch (const QuorvelError&) {
        return {};
    }
}

void PortalSession::storeToken(const QString& token) const {
    // Without it the user is asked again at the next start: worth no message of its own.
    try {
        writeWholeFile(tokenFile_, token.toStdString() + "\n");
    } catch (const QuorvelError&) {
    }
}

std::optional<PortalSession::Answer> PortalSession::request(const QString& method,
                                                            QVariantList args,
                                                            QVariantMap options,
                                                            std::chrono::milliseconds limit) {
    // Subscribe before calling, on the path the portal will use, so that an answer sent
    // at once is not missed.
    const QString token = newToken();
    const QString expected =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(senderPart(), token);
    const char* slot = SLOT(onResponse(uint, QVariantMap));
    bus_.connect(kService, expected, kRequest, QStringLiteral("Response"), this, slot);
    options.insert(QStringLiteral("handle_token"), token);
    args << options;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(args);
    answer_.reset();
    const QDBusMessage reply =
        bus_.call(call, QDBus::Block, static_cast<int>(kRequestLimit.count()));
    QString handle = expected;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        handle = pathText(reply.arguments().constFirst());
    // Older portals choose the request path themselves.
    if (handle != expected)
        bus_.connect(kService, handle, kRequest, QStringLiteral("Response"), this, slot);
    if (reply.type() == QDBusMessage::ReplyMessage && !answer_) {
        QEventLoop loop;
        QTimer::singleShot(limit, &loop, &QEventLoop::quit);
        waiter_ = &loop;
        loop.exec();
        waiter_ = nullptr;
    }
    bus_.disconnect(kService, expected, kRequest, QStringLiteral("Response"), this, slot);
    if (handle != expected)
        bus_.disconnect(kService, handle, kRequest, QStringLiteral("Response"), this, slot);
    if (reply.type() == QDBusMessage::ReplyMessage && !answer_)
        bus_.call(QDBusMessage::createMethodCall(kService, handle, kRequest, QStringLiteral("Close")),
                  QDBus::NoBlock);
    return std::exchange(answer_, std::nullopt);
}

void PortalSession::onResponse(uint code, const QVariantMap& results) {
    answer_ = Answer{code, results};
    if (auto* loop = qobject_cast<QEventLoop*>(waiter_)) loop->quit();
}

void PortalSession::onClosed(const QVariantMap&) {
    bus_.disconnect(kService, session_, kSession, QStringLiteral("Closed"), this,
                    SLOT(onClosed(QVariantMap)));
    session_.clear();
}

QString PortalSession::open(std::chrono::milliseconds consentLimit) {
    if (isOpen()) return {};
    if (opening_)
        return QStringLiteral("Quorvel is still waiting for the desktop to allow typing.");
    // A portal still starting when we did (a busy login, say) is asked again now.
    if (!answered_) askWhatIsOffered();
    if (!answered_)
        return QStringLiteral("The desktop's remote-desktop portal did not answer in time, so "
                              "Quorvel cannot type into other windows yet.") +
               kNothingTyped + QStringLiteral(" Click Type again in a moment.");
    if (!offered())
        return QStringLiteral("The desktop's remote-desktop portal does not offer a keyboard, "
                              "so Quorvel cannot type into other windows.") +
               kNothingTyped;
    opening_ = true;
    struct Guard {
        bool& b;
        ~Guard() { b = false; }
    } guard{opening_};
    const QString failed =
        QStringLiteral("The desktop could not give Quorvel a keyboard to type with.") + kNothingTyped;

    const auto created = request(QStringLiteral("CreateSession"), {},
                                 {{QStringLiteral("session_handle_token"), newToken()}}, kRequestLimit);
    if (!created || created->code != 0) return failed;
    const QString session = pathText(created->results.value(QStringLiteral("session_handle")));
    if (session.isEmpty()) return failed;
    // Waited for, briefly: the portal must not keep a session that is no use to anyone.
    const auto closeSession = [&] {
        bus_.call(QDBusMessage::createMethodCall(kService, session, kSession, QStringLiteral("Close")),
                  QDBus::Block, 2000);
    };

    QVariantMap select{{QStringLiteral("types"), kKeyboardDevice}};
    // Version 1 portals cannot keep the consent: the user then sees the desktop's consent
    // dialog at the first Type of every program start, and the session lasts until the
    // program ends.
    if (version_ >= 2) {
        select.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const QString token = storedToken();
        if (!token.isEmpty()) select.insert(QStringLiteral("restore_token"), token);
    }
    const auto selected = request(QStringLiteral("SelectDevices"),
                                  {QVariant::fromValue(QDBusObjectPath(session))}, select,
                                  kRequestLimit);
    if (!selected || selected->code != 0) {
        closeSession();
        return failed;
    }

    const auto started = request(QStringLiteral("Start"),
                                 {QVariant::fromValue(QDBusObjectPath(session)), QString()}, {},
                                 consentLimit);
    if (!started || started->code != 0) {
        closeSession();
        if (!started)
            return QStringLiteral("The desktop did not answer Quorvel's request to control the "
                                  "keyboard in time.") +
                   kNothingTyped;
        if (started->code == 1)
            return QStringLiteral("Quorvel was not allowed to control the keyboard, so it cannot "
                                  "type into other windows.") +
                   kNothingTyped + QStringLiteral(" Click Type again to be asked once more.");
        return failed;
    }
    const QVariant devices = started->results.value(QStringLiteral("devices"));
    if (devices.isValid() && !(devices.toUInt() & kKeyboardDevice)) {
        closeSession();
        return QStringLiteral("The desktop allowed Quorvel no keyboard, so it cannot type into "
                              "other windows.") +
               kNothingTyped;
    }
    // A restore token serves once: every start hands out the one for the next.
    const QString token = started->results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty()) storeToken(token);
    session_ = session;
    bus_.connect(kService, session_, kSession, QStringLiteral("Closed"), this,
                 SLOT(onClosed(QVariantMap)));
    // GNOME makes the session's virtual keyboard at its first key event and loses that
    // event; only then does the seat offer the keymap, too.  A Shift press and release,
    // which types nothing, brings it up before the script's first key.
    keysym(kShiftL, true);
    keysym(kShiftL, false);
    return {};
}

bool PortalSession::keysym(int keysym, bool pressed) {
    if (!isOpen()) return false;
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                    QStringLiteral("NotifyKeyboardKeysym"));
    m.setArguments({QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap(), keysym,
                    uint(pressed ? 1 : 0)});
    // Waiting for each reply keeps the events in order and tells at once when the desktop
    // has ended the session.
    const QDBusMessage reply = bus_.call(m, QDBus::Block, static_cast<int>(kRequestLimit.count()));
    return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace quorvel::portal
