// A Dialogs that answers from a script and fails the test on any box it was not told of.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace quorvel::test {

class ScriptedDialogs : public Dialogs {
public:
    struct Expected {
        std::string what;  // "Warning", "Error", "Information", "Confirm", "Input", "Plain",
                           // "Report", "Assertion", "Open", "Save"
        QString caption;   // checked when not empty
        QString text;      // the message, or the prompt of an input box
        QString proposed;  // input boxes: the proposed text
        MsgAnswer answer = MsgAnswer::Ok;
        std::optional<QString> reply;  // input boxes and file dialogs
        std::function<void()> during;  // runs while the box is "open"
    };
    struct Call {
        std::string what;
        QString caption;
        QString text;
    };

    ~ScriptedDialogs() override;

    ScriptedDialogs& expectMessage(MsgKind kind, const QString& text,
                                   MsgAnswer answer = MsgAnswer::Ok);
    ScriptedDialogs& expectInput(const QString& caption, const QString& prompt,
                                 const QString& proposed, std::optional<QString> reply);
    ScriptedDialogs& expectReport(const QString& text);
    ScriptedDialogs& expectPlain(const QString& text);
    ScriptedDialogs& expectAssertion(const QString& text);
    ScriptedDialogs& expectOpenFile(std::optional<QString> path, const QString& title = {});
    ScriptedDialogs& expectSaveFile(std::optional<QString> path, const QString& title = {});
    // Runs `f` while the last expected box is open (a timer tick during a box, say).
    ScriptedDialogs& during(std::function<void()> f);

    bool done() const { return expected_.empty(); }
    void clear() { expected_.clear(); }
    const std::vector<Call>& calls() const { return calls_; }
    std::vector<FileDialogRequest> fileDialogs;
    // Modal windows: called with the dialog; its result is what exec would return.
    std::function<int(QDialog&)> onModal;

    MsgAnswer message(MsgKind kind, const QString& text, MsgButtons buttons) override;
    void showMessage(const QString& text) override;
    std::optional<QString> input(const QString& caption, const QString& prompt,
                                 const QString& value) override;
    void errorReport(const QString& text) override;
    void assertion(const QString& text) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    int execModal(QDialog& dialog) override;

private:
    std::optional<Expected> take(const std::string& what, const QString& caption,
                                 const QString& text);
    std::deque<Expected> expected_;
    std::vector<Call> calls_;
};

}  // namespace quorvel::test
