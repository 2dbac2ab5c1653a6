// The browser conversation on Linux.  No DDE exists here: a service answers when a
// process of the named browser program runs for this user, and a request on
// "WWW_OpenURL" starts the program with the address, which a running browser passes on
// to its open copy (in a new window when asked, with that browser's option for it).
#pragma once

#include <QString>
#include <QStringList>

#include "platform/BrowserConversation.h"

namespace quorvel {

class ProcessBrowserConversation : public BrowserConversation {
public:
    // A browser that has been running for less than `settleMs` is given until then to set
    // up the hand-over of addresses to its open copy (one started by the fallback has
    // only just begun).  Firefox ESR starting on a new profile, with the desktop portal
    // answering slowly, dropped an address handed over after 2 s in 3 of 4 tries; after
    // 6 s in none.
    explicit ProcessBrowserConversation(int settleMs = 6000) : settleMs_(settleMs) {}

    // `service` is the file name cut before its first "."; when it is empty the program is
    // known by its whole file name.
    bool Connect(const QString& service, const QString& topic, const QString& program) override;
    bool Request(const QString& item, int timeoutMs) override;
    void Disconnect() override;

    // The running processes of this user that belong to `program` (tests and Connect).
    static QList<qint64> processesOf(const QString& service, const QString& program);

private:
    int settleMs_;
    bool connected_ = false;
    QString topic_;
    QString program_;
    qint64 runningForMs_ = 0;  // of the longest-running matching process
};

}  // namespace quorvel
