// The commands on Items and the direct editing of the current Item's fields.
#include "browser/Form_browser.h"
#include "mainwindow/TMainForm.h"
#include "model/Numbers.h"
#include "model/Text.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"

namespace quorvel {

namespace {

// The memo shows line feeds; Items keep CR LF between lines as the data file does.
QString toMemo(const std::string& s) {
    return QString::fromStdString(s).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
std::string fromMemo(const QString& s) {
    QString t = s;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t.replace(QLatin1Char('\n'), QStringLiteral("\r\n")).toStdString();
}

}  // namespace

void TMainForm::EntriesClick() {
    const int row = Entries->itemIndex();
    if (row < 0 || Items.empty()) {
        Loading = true;
        Url->clear();
        Last->clear();
        NumEntries->clear();
        Comments->clear();
        Freq->setValue(5);
        Loading = false;
        return;
    }
    const Rec& r = itemAtRow(row);
    Loading = true;
    Url->setText(QString::fromStdString(r.Site));
    Last->setText(QString::fromStdString(r.LastDone));
    Freq->setValue(r.RepeatDays);
    NumEntries->setText(QString::number(r.EntryCount));
    Comments->setPlainText(toMemo(r.Comments));
    Keyfill->setIcon(r.Keys.empty() ? KeyboardGlyph : KeyGrnGlyph);
    Loading = false;
}

void TMainForm::UrlChange() {
    if (Loading || Entries->itemIndex() < 0) return;
    itemAtRow(Entries->itemIndex()).Site = Url->text().toStdString();
}

void TMainForm::CommentsChange() {
    if (Loading || Entries->itemIndex() < 0) return;
    itemAtRow(Entries->itemIndex()).Comments = fromMemo(Comments->toPlainText());
}

void TMainForm::LastChange() {
    if (Loading || Entries->itemIndex() < 0) return;
    const QString text = Last->text();
    if (text.isEmpty()) return;
    Rec& r = itemAtRow(Entries->itemIndex());
    if (CheckDateTime(text.toStdString())) {
        r.LastDone = text.toStdString();
        r.Done = CheckDone(r.LastDone, r.RepeatDays);
        repaintEntries();
        return;
    }
    dialogs.error(QStringLiteral("Invalid Date or Time"));
    Loading = true;
    Last->setText(QString::fromStdString(r.LastDone));
    Loading = false;
}

void TMainForm::FreqChange() {
    if (Loading || Entries->itemIndex() < 0) return;
    Rec& r = itemAtRow(Entries->itemIndex());
    r.RepeatDays = Freq->value();
    r.Done = CheckDone(r.LastDone, r.RepeatDays);
    repaintEntries();
}

void TMainForm::NumEntriesChange() {
    if (Loading || Entries->itemIndex() < 0) return;
    Rec& r = itemAtRow(Entries->itemIndex());
    const IntegerRead read = readInteger(NumEntries->text().toStdString());
    r.EntryCount = read.value;
    if (read.ok) return;
    dialogs.error(QStringLiteral("Invalid value for\n\"Number of entries\""));
    // Not guarded: the handler runs once more, now on a valid text.
    NumEntries->setText(QString::number(r.EntryCount));
}

void TMainForm::NewButClick() { CreateNewItem(QString(), QString()); }

void TMainForm::DelButClick() {
    if (Entries->selCount() == 0) {
        focusEntries();
        return;
    }
    const int saved = Entries->itemIndex();
    for (int i = 0; i < Entries->count();) {
        if (!Entries->isSelected(i)) {
            ++i;
            continue;
        }
        const QString question = QStringLiteral("Are you sure you want to delete the \"") +
                                 Entries->text(i) + QStringLiteral("\" entry?") +
                                 QStringLiteral("\n\nNote: This will DELETE the item completely!");
        if (dialogs.confirm(MsgKind::Information, question))
            DeleteItem(i);
        else
            ++i;
    }
    const int rows = Entries->count();
    if (rows > 0) {
        SelectOneItem(saved >= 0 && saved < rows ? saved : rows - 1);
    } else {
        // Nothing left to show: no row current and the fields cleared.
        Entries->setItemIndex(-1);
        EntriesClick();
    }
    focusEntries();
}

void TMainForm::DoneButClick() {
    for (int i = 0; i < Entries->count(); ++i) {
        if (!Entries->isSelected(i)) continue;
        Rec& r = itemAtRow(i);
        r.Done = true;
        r.EntryCount = r.EntryCount + 1;
        r.LastDone = nowText();
    }
    EntriesClick();
    repaintEntries();
    focusEntries();
}

void TMainForm::DoneButMouseDown(Qt::MouseButton button) {
    if (button == Qt::RightButton) MenuMarkUnDoneClick();
}

void TMainForm::MenuMarkUnDoneClick() {
    const double now = clock.now();
    for (int i = 0; i < Entries->count(); ++i) {
        if (!Entries->isSelected(i)) continue;
        Rec& r = itemAtRow(i);
        r.Done = false;
        if (r.EntryCount > 0) r.EntryCount = r.EntryCount - 1;
        // The same time of day, RepeatDays days back: due by the rule.
        r.LastDone = formatDateTime(formats.shortDateFormat, now - r.RepeatDays, formats) + " " +
                     formatDateTime(formats.shortTimeFormat, now, formats);
    }
    EntriesClick();
    repaintEntries();
    focusEntries();
}

void TMainForm::MenuRenameItemClick() {
    const int row = Entries->itemIndex();
    if (row < 0) return;
    const QString old = Entries->text(row);
    const QString answer = dialogs.inputBox(
        QStringLiteral("Rename entry"), QStringLiteral("What would you like to rename this entry to?"),
        old);
    if (answer.isEmpty() || answer == old) return;
    const int i = FindItem(row);
    Items.rename(static_cast<std::size_t>(i), answer.toStdString());
    Entries->deleteRow(row);
    Entries->setItemIndex(Entries->addItem(answer));
}

void TMainForm::MenuFindItemClick() {
    const QString answer = dialogs.inputBox(
        QStringLiteral("Find Item"), QStringLiteral("What would you like search for?"), LastSearch);
    if (answer.isEmpty()) return;
    const int rows = Entries->count();
    int start = answer == LastSearch ? Entries->itemIndex() : 0;
    LastSearch = answer;
    if (rows == 0) {
        focusEntries();
        return;
    }
    // With no current row a repeated search covers every row from the first.
    if (start < 0 || start >= rows) start = rows - 1;
    const std::string needle = upperAscii(answer.toStdString());
    int i = start + 1 >= rows ? 0 : start + 1;
    for (;;) {
        const Rec& r = itemAtRow(i);
        if (upperAscii(r.Name).find(needle) != std::string::npos ||
            upperAscii(r.Comments).find(needle) != std::string::npos)
            break;
        if (i == start) {
            dialogs.info(QStringLiteral("All items have been searched."));
            break;
        }
        i = i + 1 >= rows ? 0 : i + 1;
    }
    SelectOneItem(i);
}

void TMainForm::GotoButClick() { gotoButClick(*this); }

}  // namespace quorvel
