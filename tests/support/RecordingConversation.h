// A BrowserConversation that writes down every call as a readable line and answers the
// connection attempts from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/BrowserConversation.h"

namespace quorvel::test {

class RecordingConversation : public BrowserConversation {
public:
    // "Connect(<service>, <topic>, <program>)", "Request(<item>, <timeout>)", "Disconnect()".
    std::vector<std::string> calls;
    std::vector<std::string>* journal = nullptr;

    // One answer per Connect, in order; once used up, `connectDefault`.
    std::deque<bool> connectAnswers;
    bool connectDefault = true;
    bool requestAnswer = true;

    bool Connect(const QString& service, const QString& topic, const QString& program) override;
    bool Request(const QString& item, int timeoutMs) override;
    void Disconnect() override;

private:
    void record(const std::string& call);
};

}  // namespace quorvel::test
