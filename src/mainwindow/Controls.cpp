#include "mainwindow/Controls.h"

#include <QLineEdit>
#include <QMouseEvent>

#include "model/Numbers.h"

namespace quorvel {

SpinEdit::SpinEdit(int minValue, int maxValue, QWidget* parent)
    : QAbstractSpinBox(parent), min_(minValue), max_(maxValue) {
    setKeyboardTracking(true);
    connect(lineEdit(), &QLineEdit::textChanged, this, &SpinEdit::textChanged);
}

int SpinEdit::value() const {
    const IntegerRead r = readInteger(text().toStdString());
    return r.ok ? r.value : min_;
}

void SpinEdit::setValue(int v) { lineEdit()->setText(QString::number(bounded(v))); }

QString SpinEdit::text() const { return lineEdit()->text(); }

void SpinEdit::setText(const QString& s) { lineEdit()->setText(s); }

void SpinEdit::stepBy(int steps) { setValue(value() + steps); }

void SpinEdit::focusOutEvent(QFocusEvent* e) {
    // Only a value outside the bounds changes the text, as users of the field expect.
    const IntegerRead r = readInteger(text().toStdString());
    if (r.ok && r.value != bounded(r.value)) setValue(r.value);
    QAbstractSpinBox::focusOutEvent(e);
}

void PressButton::mousePressEvent(QMouseEvent* e) {
    emit mouseDown(e->button());
    if (pressOnly_) {
        e->accept();
        return;
    }
    QPushButton::mousePressEvent(e);
}

void setLabelText(QLabel& label, const QString& text) {
    label.setText(text);
    label.adjustSize();
}

int addSorted(QComboBox& box, const QString& text) {
    int i = 0;
    // After equal entries, like the list boxes.
    while (i < box.count() && QString::compare(box.itemText(i), text, Qt::CaseInsensitive) <= 0)
        ++i;
    box.insertItem(i, text);
    return i;
}

}  // namespace quorvel
