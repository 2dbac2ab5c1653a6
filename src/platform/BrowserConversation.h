// A conversation with a named web browser, in the steps browsers on other systems have
// long been driven by: connect to a service on a topic, request an item, disconnect.  Here
// a service answers when a process of that browser runs for this user, and a request on
// "WWW_OpenURL" hands the address to that browser.
#pragma once

#include <QString>

namespace quorvel {

class BrowserConversation {
public:
    virtual ~BrowserConversation() = default;
    // `program` is the Browser setting in full: the program the service belongs to.
    virtual bool Connect(const QString& service, const QString& topic, const QString& program) = 0;
    // Sends a request for `item` on the connected topic, waiting at most `timeoutMs`.
    virtual bool Request(const QString& item, int timeoutMs) = 0;
    virtual void Disconnect() = 0;
};

}  // namespace quorvel
