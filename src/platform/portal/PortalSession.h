// A keyboard session with the desktop's remote-desktop portal (GNOME, KDE): asks for it,
// keeps it for the program's life, and sends key events through it.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <optional>

namespace quorvel::portal {

class PortalSession : public QObject {
    Q_OBJECT
public:
    // `tokenFile` keeps the portal's restore token between program starts.
    PortalSession(QDBusConnection bus, QString tokenFile);
    ~PortalSession() override;

    // Whether the portal runs and offers a keyboard device.
    bool offered() const;
    // False while the portal has not answered what it offers: it was still starting when we
    // asked (it is asked again at open()).
    bool answered() const { return answered_; }
    // The portal's interface version (2 and later keep the consent between sessions).
    unsigned version() const { return version_; }

    // Opens the session unless it is open: at most `consentLimit` for the user's answer.
    // Empty on success; otherwise what to tell the user.
    QString open(std::chrono::milliseconds consentLimit);
    bool isOpen() const { return !session_.isEmpty(); }

    // One key event; false when the portal refused it or the session is gone.
    bool keysym(int keysym, bool pressed);

    // How long a request the user is not asked about may take.
    static constexpr std::chrono::milliseconds kRequestLimit{10000};

private slots:
    void onResponse(uint code, const QVariantMap& results);
    void onClosed(const QVariantMap& details);

private:
    struct Answer {
        uint code = 2;
        QVariantMap results;
    };
    // Calls `method` with `args` and the options (a handle token added), and waits at most
    // `limit` for the answer on its request object.  Nothing when none came.
    std::optional<Answer> request(const QString& method, QVariantList args, QVariantMap options,
                                  std::chrono::milliseconds limit);
    void askWhatIsOffered();
    QString senderPart() const;
    QString newToken();
    QString storedToken() const;
    void storeToken(const QString& token) const;

    QDBusConnection bus_;
    QString tokenFile_;
    unsigned version_ = 0;
    unsigned deviceTypes_ = 0;
    bool answered_ = true;
    QString session_;  // object path of the open session
    bool opening_ = false;
    int tokens_ = 0;
    std::optional<Answer> answer_;
    QObject* waiter_ = nullptr;  // the local loop waiting for answer_
};

}  // namespace quorvel::portal
