#include "typing/KeyfillForm.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

#include "typing/core/ScriptEditing.h"
#include "model/Text.h"

namespace quorvel {

namespace {

QString code(std::string_view c) {
    return QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size()));
}

// Byte offset in the UTF-8 form of `text` of the UTF-16 position `pos`, and back.
std::size_t utf8Offset(const QString& text, int pos) {
    return static_cast<std::size_t>(text.left(pos).toUtf8().size());
}
int utf16Position(const std::string& utf8, std::size_t offset) {
    return static_cast<int>(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(offset)).size());
}

}  // namespace

KeyfillTextEdit::KeyfillTextEdit(TKeyfillForm* form, QWidget* parent)
    : QPlainTextEdit(parent), form_(form) {}

void KeyfillTextEdit::keyPressEvent(QKeyEvent* e) {
    if (form_->KeyfillTextKeyDown(*e) || form_->KeyfillTextKeyPress(*e)) {
        e->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

TKeyfillForm::TKeyfillForm(QWidget* parent, std::function<bool(const QString&)> inVars)
    : QDialog(parent), inVars_(std::move(inVars)) {
    setObjectName(QStringLiteral("KeyfillForm"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Keyfill Information"));
    setSizeGripEnabled(false);

    Label1 = new QLabel(QStringLiteral("Insert Variable:"), this);
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(4, 4);
    Label1->adjustSize();
    VarList = new QComboBox(this);
    VarList->setEditable(false);
    VarList->setGeometry(Label1->x() + std::max(Label1->width(), 80) + 6, 0, 200,
                         std::max(21, VarList->sizeHint().height()));

    KeyfillText = new KeyfillTextEdit(this, this);
    KeyfillText->setTabChangesFocus(false);
    KeyfillText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    KeyfillText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont f = KeyfillText->font();
    f.setPixelSize(13);
    KeyfillText->setFont(f);

    DoneButton = new QPushButton(QIcon(QStringLiteral(":/glyphs/done.png")), QStringLiteral("Done"), this);
    // Return belongs to the script; only a click or Space on the button accepts.
    DoneButton->setAutoDefault(false);
    DoneButton->setDefault(false);
    DoneButton->resize(DoneButton->width(), std::max(25, DoneButton->sizeHint().height()));

    connect(KeyfillText, &QPlainTextEdit::textChanged, this, &TKeyfillForm::KeyfillTextChange);
    connect(VarList, &QComboBox::activated, this, &TKeyfillForm::VarListClick);
    connect(DoneButton, &QPushButton::clicked, this, &TKeyfillForm::DoneButtonClick);

    setFocusProxy(KeyfillText);
    move(383, 133);
    resize(397, 234);
    FormResize();
}

void TKeyfillForm::setVariableNames(const QStringList& names) {
    VarList->clear();
    VarList->addItems(names);
    VarList->setCurrentIndex(names.isEmpty() ? -1 : 0);
}

QString TKeyfillForm::scriptText() const {
    // The raw text, not toPlainText(), which would turn no-break spaces into spaces.
    QString s = KeyfillText->document()->toRawText();
    s.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    s.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return s;
}

void TKeyfillForm::setScriptText(const QString& script) {
    KeyfillText->setPlainText(script);
    KeyfillText->moveCursor(QTextCursor::End);
}

void TKeyfillForm::FormActivate() { KeyfillText->setFocus(Qt::ActiveWindowFocusReason); }

void TKeyfillForm::FormResize() {
    const int w = width();
    const int h = height();
    VarList->setGeometry(VarList->x(), VarList->y(), std::max(0, w - VarList->x()), VarList->height());
    const int top = VarList->height() + 1;
    KeyfillText->setGeometry(0, top, w, std::max(0, h - DoneButton->height() - VarList->height() - 2));
    DoneButton->setGeometry(0, KeyfillText->y() + KeyfillText->height() + 1, w, DoneButton->height());
}

bool TKeyfillForm::KeyfillTextKeyDown(QKeyEvent& e) {
    // The arrows are script keys whatever modifiers are held; the caret moves with the
    // mouse, Home, End and the other keys.
    switch (e.key()) {
    case Qt::Key_Left: insertCode(code(kLeftCode)); return true;
    case Qt::Key_Up: insertCode(code(kUpCode)); return true;
    case Qt::Key_Right: insertCode(code(kRightCode)); return true;
    case Qt::Key_Down: insertCode(code(kDownCode)); return true;
    default: return false;
    }
}

bool TKeyfillForm::KeyfillTextKeyPress(QKeyEvent& e) {
    switch (e.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        insertCode(code(kTabCode));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // With Shift the plain editor would insert a soft line break; the script has none.
        insertCode(code(kEnterCode));
        return true;
    case Qt::Key_Backspace:
        if (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
        return removeWholeCode();
    default:
        return false;
    }
}

void TKeyfillForm::insertCode(const QString& text) {
    QTextCursor c = KeyfillText->textCursor();
    c.insertText(text);  // replaces the selection, caret after the insertion
    KeyfillText->setTextCursor(c);
}

bool TKeyfillForm::removeWholeCode() {
    QTextCursor c = KeyfillText->textCursor();
    if (c.hasSelection()) return false;
    const QString text = scriptText();
    const std::string bytes = text.toStdString();
    const std::size_t caret = utf8Offset(text, c.position());
    const auto start = codeCandidateStart(bytes, caret);
    if (!start) return false;
    const std::string candidate = upperAscii(std::string_view(bytes).substr(*start, caret - *start));
    if (!isKeyCode(candidate) && !(inVars_ && inVars_(QString::fromStdString(candidate))))
        return false;
    c.setPosition(utf16Position(bytes, *start));
    c.setPosition(utf16Position(bytes, caret), QTextCursor::KeepAnchor);
    c.removeSelectedText();
    KeyfillText->setTextCursor(c);
    return true;
}

void TKeyfillForm::KeyfillTextChange() {
    if (rewriting_) return;
    const QString text = scriptText();
    const std::string bytes = text.toStdString();
    std::size_t caret = utf8Offset(text, KeyfillText->textCursor().position());
    const std::string converted = codesForBreaksAndTabs(bytes, &caret);
    if (converted == bytes) return;
    rewriting_ = true;
    KeyfillText->setPlainText(QString::fromStdString(converted));
    QTextCursor c = KeyfillText->textCursor();
    c.setPosition(utf16Position(converted, caret));
    KeyfillText->setTextCursor(c);
    rewriting_ = false;
}

void TKeyfillForm::VarListClick(int index) {
    if (index < 0) return;
    insertCode(VarList->itemText(index));
    KeyfillText->setFocus(Qt::OtherFocusReason);
}

void TKeyfillForm::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    FormResize();
}

void TKeyfillForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormActivate();
}

void TKeyfillForm::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

}  // namespace quorvel
