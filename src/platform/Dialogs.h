// Every message box, input box, file dialog and modal window goes through here, so that
// tests can script the user's answers.
#pragma once

#include <QString>
#include <optional>

class QDialog;

namespace quorvel {

enum class MsgKind { Warning, Error, Information, Confirm };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No, Cancel };

struct FileDialogRequest {
    QString title;
    QString filter;         // Qt form, such as "Quorvel Data File (*.qdf)"
    QString defaultSuffix;  // without the dot
    QString directory;
    QString fileName;
    bool mustExist = false;
    bool executablesOnly = false;
};

QString captionFor(MsgKind kind);
// The general error report's rule: a full stop is added when the last character sorts
// after "." (letters and digits do).
QString withFullStop(const QString& text);

class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual MsgAnswer message(MsgKind kind, const QString& text, MsgButtons buttons) = 0;
    // The plain box with the application title as caption and OK.
    virtual void showMessage(const QString& text) = 0;
    // An input box; nothing on Cancel.
    virtual std::optional<QString> input(const QString& caption, const QString& prompt,
                                         const QString& value) = 0;
    // The general error report (application title, error icon, OK); `text` as raised.
    virtual void errorReport(const QString& text) = 0;
    // Programming-error boxes of the components: caption "Assertion Failed".
    virtual void assertion(const QString& text) = 0;
    virtual std::optional<QString> openFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileDialogRequest& request) = 0;
    // Shows a window modally and returns its result code.
    virtual int execModal(QDialog& dialog) = 0;

    // The input box whose Cancel returns the proposed text.
    QString inputBox(const QString& caption, const QString& prompt, const QString& value) {
        return input(caption, prompt, value).value_or(value);
    }
    void info(const QString& text) { message(MsgKind::Information, text, MsgButtons::Ok); }
    void error(const QString& text) { message(MsgKind::Error, text, MsgButtons::Ok); }
    void warning(const QString& text) { message(MsgKind::Warning, text, MsgButtons::Ok); }
    bool confirm(MsgKind kind, const QString& text) {
        return message(kind, text, MsgButtons::YesNo) == MsgAnswer::Yes;
    }
};

// The real boxes.  While the program is being closed by a signal, every box answers
// No or Cancel at once so that the shutdown is not held up.
class QtDialogs : public Dialogs {
public:
    MsgAnswer message(MsgKind kind, const QString& text, MsgButtons buttons) override;
    void showMessage(const QString& text) override;
    std::optional<QString> input(const QString& caption, const QString& prompt,
                                 const QString& value) override;
    void errorReport(const QString& text) override;
    void assertion(const QString& text) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    int execModal(QDialog& dialog) override;

    static void setClosing(bool closing);
    static bool closing();
};

}  // namespace quorvel
