#include "RecordingShell.h"

namespace quorvel::test {

void RecordingShell::record(const std::string& call) {
    calls.push_back(call);
    if (journal) journal->push_back(call);
}

bool RecordingShell::open(const QString& target) {
    record("open(" + target.toStdString() + ")");
    return openAnswer;
}

QString RecordingShell::findHandler(const QString& filePath) {
    record("findHandler(" + filePath.toStdString() + ")");
    if (onFindHandler) onFindHandler(filePath);
    return handler;
}

bool RecordingShell::startProgram(const QString& commandLine, bool minimisedNoActivate) {
    record("startProgram(" + commandLine.toStdString() +
           (minimisedNoActivate ? ", minimised)" : ")"));
    return startAnswer;
}

}  // namespace quorvel::test
