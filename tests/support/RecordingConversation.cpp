#include "RecordingConversation.h"

namespace quorvel::test {

void RecordingConversation::record(const std::string& call) {
    calls.push_back(call);
    if (journal) journal->push_back(call);
}

bool RecordingConversation::Connect(const QString& service, const QString& topic,
                                    const QString& program) {
    record("Connect(" + service.toStdString() + ", " + topic.toStdString() + ", " +
           program.toStdString() + ")");
    if (connectAnswers.empty()) return connectDefault;
    const bool answer = connectAnswers.front();
    connectAnswers.pop_front();
    return answer;
}

bool RecordingConversation::Request(const QString& item, int timeoutMs) {
    record("Request(" + item.toStdString() + ", " + std::to_string(timeoutMs) + ")");
    return requestAnswer;
}

void RecordingConversation::Disconnect() { record("Disconnect()"); }

}  // namespace quorvel::test
