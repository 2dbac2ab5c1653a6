// A Shell that writes down every call as a readable line and answers as told.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Shell.h"

namespace quorvel::test {

class RecordingShell : public Shell {
public:
    // "open(<target>)", "findHandler(<path>)", "startProgram(<command line>[, minimised])".
    std::vector<std::string> calls;
    // When set, every call is also written here (to see it among another fake's calls).
    std::vector<std::string>* journal = nullptr;

    bool openAnswer = true;
    // What findHandler answers: a desktop with a browser unless a test says otherwise, so
    // the start-up check stays silent; empty: no handler.
    QString handler = QStringLiteral("web-browser.desktop");
    bool startAnswer = true;
    // Runs inside findHandler, while the file asked about should exist.
    std::function<void(const QString& path)> onFindHandler;

    bool open(const QString& target) override;
    QString findHandler(const QString& filePath) override;
    bool startProgram(const QString& commandLine, bool minimisedNoActivate) override;

private:
    void record(const std::string& call);
};

}  // namespace quorvel::test
