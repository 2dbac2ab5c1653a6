// The browser conversation on Linux.  No DDE exists here: a service answers when a
// process of the named browser program runs for this user, and a request on
// "WWW_OpenURL" starts the program with the address, which a running browser passes on
// to its open copy (in a new window when asked, with that browser's option for it).  The
// request returns at once: the address goes over as soon as the browser can take it (see
// BrowserHandOver.h), so the window goes on answering while a browser starts.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "browser/core/BrowserRules.h"
#include "platform/BrowserConversation.h"

namespace quorvel {

class BrowserHandOver;

class ProcessBrowserConversation : public BrowserConversation {
public:
    // A browser whose remote service cannot be watched is given `settleMs` from its start
    // before it is handed an address.  (Firefox ESR starting on a new profile, with the
    // desktop portal answering slowly, dropped an address handed over after 2 s in 3 of
    // 4 tries; after 6 s in none.)
    explicit ProcessBrowserConversation(int settleMs = 6000);
    ~ProcessBrowserConversation() override;

    // `service` is the file name cut before its first "."; when it is empty the program is
    // known by its whole file name.
    bool Connect(const QString& service, const QString& topic, const QString& program) override;
    bool Request(const QString& item, int timeoutMs) override;
    void Disconnect() override;

    // Blocks until every address asked for has been handed over (tests).
    void waitForHandOvers();

    // The running processes of this user that belong to `program`.
    static QList<qint64> processesOf(const QString& service, const QString& program);
    // The fields of /proc/<pid>/stat from the third, the state, on; empty when it is gone.
    static QList<QByteArray> statFields(qint64 pid);
    static qint64 runningForMs(qint64 pid);
    // By the program's name, or by the program a generic name (x-www-browser) leads to.
    static BrowserFamily familyOf(const QString& program);

private:
    bool connected_ = false;
    QString topic_;
    QString service_;
    QString program_;
    std::unique_ptr<BrowserHandOver> handOver_;
};

}  // namespace quorvel
