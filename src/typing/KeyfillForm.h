// The script editor: a small window in which the keys a script is meant to press are
// written into the text as their codes instead of acting on the editor.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <functional>

namespace quorvel {

class TKeyfillForm;

// The script text.  Every key goes to the editor window's rules first.
class KeyfillTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit KeyfillTextEdit(TKeyfillForm* form, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    TKeyfillForm* form_;
};

class TKeyfillForm : public QDialog {
    Q_OBJECT
public:
    // `inVars` tells whether a braced, upper-cased name is a listed variable.
    TKeyfillForm(QWidget* parent, std::function<bool(const QString&)> inVars);

    // Fills VarList and selects its first entry.
    void setVariableNames(const QStringList& names);

    // The script as the user left it (a no-break space stays one).
    QString scriptText() const;
    // Loads a script; the caret goes to its end.
    void setScriptText(const QString& script);

    // Handlers.
    void FormActivate();
    void FormResize();
    // True when the key was taken over by the editor's rules.
    bool KeyfillTextKeyDown(QKeyEvent& e);
    bool KeyfillTextKeyPress(QKeyEvent& e);
    void KeyfillTextChange();
    void VarListClick(int index);
    void DoneButtonClick() { accept(); }

    QLabel* Label1;
    QComboBox* VarList;
    KeyfillTextEdit* KeyfillText;
    QPushButton* DoneButton;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void insertCode(const QString& code);
    bool removeWholeCode();

    std::function<bool(const QString&)> inVars_;
    bool rewriting_ = false;
};

}  // namespace quorvel
