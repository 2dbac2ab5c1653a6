// Small controls the window needs beyond Qt's own.
#pragma once

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace quorvel {

// A spin edit that, like the one users know, takes any text while it is typed: its value
// is the text read as an integer (the minimum when the text is none) and is bounded only
// when the field loses the focus or the arrows are used.
class SpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    SpinEdit(int minValue, int maxValue, QWidget* parent = nullptr);
    int value() const;
    void setValue(int v);  // bounded, as setting the value always is
    QString text() const;
    void setText(const QString& s);
    void stepBy(int steps) override;
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }

signals:
    void textChanged(const QString& text);

protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
    void focusOutEvent(QFocusEvent* e) override;

private:
    int bounded(int v) const { return v < min_ ? min_ : v > max_ ? max_ : v; }
    int min_, max_;
};

// A button that reports every mouse press with its button.  With `pressOnly` set a mouse
// press is all the button does: its click does not follow the press, so one press acts
// once (keyboard activation still clicks).
class PressButton : public QPushButton {
    Q_OBJECT
public:
    explicit PressButton(const QString& text, QWidget* parent = nullptr, bool pressOnly = false)
        : QPushButton(text, parent), pressOnly_(pressOnly) {}

signals:
    void mouseDown(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    bool pressOnly_;
};

// Inserts into a combo box kept sorted without regard to case; returns the index.
int addSorted(QComboBox& box, const QString& text);

// Sets a label's text and fits the label to it: a label placed by hand keeps the size of
// its first text, and a longer one would be cut off.
void setLabelText(QLabel& label, const QString& text);

}  // namespace quorvel
