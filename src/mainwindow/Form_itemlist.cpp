// The model operations, the due rule, and the item list's display, Update and Next.
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>

#include "mainwindow/TMainForm.h"
#include "model/Errors.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"

namespace quorvel {

int TMainForm::currentYear() const { return clock.currentYear(); }

std::string TMainForm::nowText() const { return dateTimeText(clock.now(), formats); }

void TMainForm::focusEntries() { Entries->setFocus(Qt::OtherFocusReason); }

void TMainForm::repaintEntries() { Entries->viewport()->update(); }

void TMainForm::setLabelCounts(int due) {
    setLabelText(*Label1, QStringLiteral("Items: (%1/%2)").arg(due).arg(Entries->count()));
}

int TMainForm::FindItem(int row) {
    if (row < 0 || row >= Entries->count() || Items.empty()) return 0;
    const std::size_t i = Items.resolve(Entries->text(row).toStdString());
    CurrentItem = Items.ptr(i);
    return static_cast<int>(i);
}

void TMainForm::DeleteItem(int row) {
    const int i = FindItem(row);
    if (Items.empty()) return;
    if (CurrentItem == Items.ptr(static_cast<std::size_t>(i))) CurrentItem = nullptr;
    Items.erase(static_cast<std::size_t>(i));
    Entries->deleteRow(row);
}

void TMainForm::CreateNewItem(const QString& site, const QString& proposedName) {
    const std::optional<QString> answer =
        dialogs.input(QStringLiteral("Add new entry"),
                      QStringLiteral("What would you like to call the new entry?"), proposedName);
    if (!answer) {
        focusEntries();
        return;
    }
    const std::string name = answer->toStdString();
    const std::ptrdiff_t existing = Items.findIgnoringAsciiCase(name);
    if (existing >= 0) {
        CurrentItem = Items.ptr(static_cast<std::size_t>(existing));
        dialogs.warning(QStringLiteral("The ") + *answer + QStringLiteral(" item already exists."));
        focusEntries();
        return;
    }
    auto rec = std::make_unique<Rec>();
    rec->Done = true;
    rec->Name = name;
    rec->Site = site.toStdString();
    rec->LastDone = dateTimeText(clock.now() - 365, formats);
    rec->RepeatDays = 5;
    rec->EntryCount = 0;
    const int g = FindGroup(shownGroupName());
    if (g > 0) rec->Groups = membership::key(Groups.at(g).GroupNumber);
    CurrentItem = &Items.append(std::move(rec));
    const int row = Entries->addItem(*answer);
    SelectOneItem(row);
    focusEntries();
}

int TMainForm::FindGroup(const QString& name) const { return Groups.find(name.toStdString()); }

void TMainForm::CreateNewGroup(const QString& name) {
    const int pos = Groups.addWithFreeNumber(name.toStdString());
    if (pos == 0) return;  // callers refuse a group beyond the table first
    addSorted(*GroupList, name);
    addGroupMenuItem(pos);
}

bool TMainForm::CheckDone(const std::string& lastDone, int repeatDays) const {
    return CheckDone(lastDone, repeatDays, clock.now());
}

bool TMainForm::CheckDone(const std::string& lastDone, int repeatDays, double now) const {
    const double t = toDateTime(lastDone, formats, decodeDayNumber(now).year);
    return now < dayPart(t) + repeatDays;
}

bool TMainForm::CheckDateTime(const std::string& text) const {
    return parseDateTime(text, formats, currentYear()).has_value();
}

void TMainForm::SelectOneItem(int row) {
    try {
        RowPaintEnabled = false;
        Entries->clearSelection();
        RowPaintEnabled = true;
        if (row < 0 || row >= Entries->count()) throw QuorvelError("List index out of bounds");
        Entries->setItemIndex(row);
        Entries->setSelected(row, true);
        EntriesClick();
    } catch (const std::exception&) {
        RowPaintEnabled = true;
    }
    focusEntries();
}

void TMainForm::NextButClick() {
    const int rows = Entries->count();
    if (rows == 0) {
        focusEntries();
        return;
    }
    // With no current row the search covers every row from the first.
    int start = Entries->itemIndex();
    if (start < 0 || start >= rows) start = rows - 1;
    int i = start + 1 >= rows ? 0 : start + 1;
    for (;;) {
        if (!itemAtRow(i).Done) break;
        if (i == start) {
            dialogs.info(QStringLiteral("All items have been completed."));
            break;
        }
        i = i + 1 >= rows ? 0 : i + 1;
    }
    SelectOneItem(i);
}

void TMainForm::MenuUpdateClick() {
    const int g = FindGroup(shownGroupName());
    const std::string key = g > 0 ? membership::key(Groups.at(g).GroupNumber) : std::string();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    DueCount = 0;
    std::size_t i = 0;
    // Pending events run between Items, but no more often than every few milliseconds, so
    // a long list updates quickly and the window still answers.
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    // One moment for the whole list: reading the clock converts to local time, which looks
    // at the time zone file each time.
    const double now = clock.now();
    try {
        for (; i < Items.size(); ++i) {
            Rec& r = Items.at(i);
            CurrentItem = &r;
            r.Done = CheckDone(r.LastDone, r.RepeatDays, now);
            if (!r.Done && (g == 0 || r.Groups.find(key) != std::string::npos)) ++DueCount;
            if (sinceEvents.elapsed() >= 10) {
                QApplication::processEvents();
                sinceEvents.restart();
            }
        }
        QApplication::restoreOverrideCursor();
    } catch (const std::exception&) {
        QApplication::restoreOverrideCursor();
        const QString name = i < Items.size() ? QString::fromStdString(Items.at(i).Name) : QString();
        dialogs.error(QStringLiteral("Error in ") + name);
    }
    setLabelCounts(DueCount);
    repaintEntries();
}

void TMainForm::EntriesDrawItem(int row, QPainter& canvas, const QRect& rect, bool selected) {
    Q_UNUSED(selected);
    if (!RowPaintEnabled) return;
    canvas.fillRect(rect, canvas.brush());
    if (Items.empty() || row >= Entries->count()) return;
    const Rec& r = itemAtRow(row);
    const QIcon& icon = r.Done ? CheckGrnGlyph : CheckedGlyph;
    const QPixmap glyph = icon.pixmap(QSize(16, 16), canvas.device()->devicePixelRatioF());
    const int glyphWidth = 16;
    canvas.drawPixmap(QRect(rect.left() + 2, rect.top(), glyphWidth, 16), glyph);
    const QRect textRect(rect.left() + glyphWidth + 2, rect.top(), rect.width() - glyphWidth - 2,
                         rect.height());
    canvas.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                    QString::fromStdString(r.Name));
}

void TMainForm::Timer1Timer() {
    if (AutoSave->isChecked()) SaveData(true);
    if (AutoCheck->isChecked()) MenuUpdateClick();
    EntriesClick();
}

}  // namespace quorvel
