// The script editor window, driven with key events.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QSet>
#include <QTest>

#include "typing/KeyfillForm.h"

using namespace quorvel;

namespace {

struct EditorFixture : ::testing::Test {
    QStringList askedFor;  // what the editor asked the variable list about
    TKeyfillForm form{nullptr, [this](const QString& name) {
                          askedFor << name;
                          return name.compare(QStringLiteral("{email}"), Qt::CaseInsensitive) == 0 ||
                                 name.compare(QStringLiteral("{first name}"), Qt::CaseInsensitive) == 0;
                      }};
    QPlainTextEdit& edit() { return *form.KeyfillText; }
    std::string text() { return form.scriptText().toStdString(); }
    int caret() { return edit().textCursor().position(); }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(&edit(), k, m); }
    void type(const char* s) { QTest::keyClicks(&edit(), QString::fromUtf8(s)); }
    void load(const char* s) { form.setScriptText(QString::fromUtf8(s)); }
    void select(int from, int to) {
        QTextCursor c = edit().textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        edit().setTextCursor(c);
    }
};

}  // namespace

TEST_F(EditorFixture, ScriptKeysBecomeLowerCaseCodesInOrder) {
    key(Qt::Key_Tab);
    key(Qt::Key_Return);
    key(Qt::Key_Left);
    key(Qt::Key_Up);
    key(Qt::Key_Right);
    key(Qt::Key_Down);
    EXPECT_EQ(text(), "{tab}{enter}{left}{up}{right}{down}");
    EXPECT_EQ(caret(), static_cast<int>(text().size()));
}

TEST_F(EditorFixture, ModifiersNeverLetTheKeysActOnTheEditor) {
    type("ab");
    key(Qt::Key_Left, Qt::ShiftModifier);
    key(Qt::Key_Right, Qt::ControlModifier);
    key(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_Down, Qt::AltModifier);
    key(Qt::Key_Left, Qt::KeypadModifier);
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    key(Qt::Key_Return, Qt::ShiftModifier);  // would be a soft line break
    key(Qt::Key_Enter, Qt::KeypadModifier);
    key(Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(text(), "ab{left}{right}{up}{down}{left}{tab}{enter}{enter}{enter}");
    EXPECT_FALSE(edit().textCursor().hasSelection());
    EXPECT_EQ(edit().document()->blockCount(), 1);
}

TEST_F(EditorFixture, ACodeReplacesTheSelection) {
    type("hello world!");
    select(6, 11);
    key(Qt::Key_Return);
    EXPECT_EQ(text(), "hello {enter}!");
    EXPECT_EQ(caret(), 13);
    select(0, 5);
    key(Qt::Key_Down);
    EXPECT_EQ(text(), "{down} {enter}!");
    EXPECT_EQ(caret(), 6);
}

TEST_F(EditorFixture, BackspaceRemovesAWholeKeyCodeOrListedVariable) {
    load("x{Tab}");
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), "x");
    load("a {email}");
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), "a ");
    EXPECT_EQ(caret(), 2);
    EXPECT_TRUE(askedFor.contains(QStringLiteral("{EMAIL}")));  // upper-cased, braces kept
    load("{First Name}");
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), "");
    load("{nothing}");
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), "{nothing");
    // No "{" before the "}": the candidate runs from the text's start.
    load("TAB}");
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), "TAB");
}

TEST_F(EditorFixture, BackspaceInTheMiddleLeavesTheCaretWhereTheCodeBegan) {
    load("a{enter}b{up}c");
    select(8, 8);
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), "ab{up}c");
    EXPECT_EQ(caret(), 1);
    // With a selection, or with Ctrl, Backspace is the editor's own.
    select(2, 6);
    key(Qt::Key_Backspace);
    EXPECT_EQ(text(), "abc");
    load("x {tab}");
    key(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_NE(text(), "x ");
}

TEST_F(EditorFixture, PastedLinesBecomeOneLineWithEnterCodes) {
    type("<>");
    select(1, 1);
    QGuiApplication::clipboard()->setText(QStringLiteral("first line\r\nsecond\tline\nthird"));
    edit().paste();
    EXPECT_EQ(text(), "<first line{enter}second{tab}line{enter}third>");
    EXPECT_EQ(caret(), static_cast<int>(text().size()) - 1);  // right after the pasted text
    EXPECT_EQ(edit().document()->blockCount(), 1);
    // A script that already holds a line break is converted when it is loaded.
    load("a\nb");
    EXPECT_EQ(text(), "a{enter}b");
    // No-break spaces and other characters are kept as they are.
    load("\xC2\xA0\xC3\xBC\xE2\x82\xAC");
    EXPECT_EQ(text(), "\xC2\xA0\xC3\xBC\xE2\x82\xAC");
}

TEST_F(EditorFixture, ChoosingAVariableInsertsItAtTheCaret) {
    form.setVariableNames({QStringLiteral("{age}"), QStringLiteral("{email}")});
    EXPECT_EQ(form.VarList->currentIndex(), 0);
    EXPECT_EQ(form.VarList->count(), 2);
    form.show();
    type("to: ");
    select(0, 2);
    QTest::keyClick(form.VarList, Qt::Key_Down);  // the user picks the second entry
    EXPECT_EQ(text(), "{email}: ");
    EXPECT_EQ(caret(), 7);
    EXPECT_EQ(form.focusWidget(), &edit());
    form.setVariableNames({});
    EXPECT_EQ(form.VarList->count(), 0);
}

TEST_F(EditorFixture, DoneAcceptsTheCloseBoxRejects) {
    EXPECT_EQ(form.windowTitle().toStdString(), "Keyfill Information");
    form.show();
    EXPECT_EQ(form.focusWidget(), &edit());
    form.DoneButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
    form.show();
    form.close();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    // Return in the variable box must not press "Done".
    form.show();
    form.setResult(-1);
    QTest::keyClick(form.VarList, Qt::Key_Return);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.result(), -1);
    form.close();
}

TEST_F(EditorFixture, TheControlsFillTheWindowAtAnySize) {
    EXPECT_EQ(form.size(), QSize(397, 234));
    form.show();
    form.resize(500, 300);
    const QRect list = form.VarList->geometry();
    const QRect text = edit().geometry();
    const QRect done = form.DoneButton->geometry();
    EXPECT_EQ(list.right() + 1, 500);
    EXPECT_EQ(text.top(), list.height() + 1);
    EXPECT_EQ(text.width(), 500);
    EXPECT_EQ(done.top(), text.bottom() + 2);
    EXPECT_EQ(done.bottom() + 1, 300);
    EXPECT_EQ(done.width(), 500);
    form.resize(50, 20);  // smaller than the controls: nothing goes negative
    EXPECT_GE(edit().height(), 0);
    form.close();
}
