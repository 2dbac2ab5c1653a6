// Groups: the filter, the group commands and the "Groups" submenu.
#include <QAction>

#include "mainwindow/TMainForm.h"
#include "model/Text.h"
#include "platform/Dialogs.h"

namespace quorvel {

namespace {

const QString kAllItems = QStringLiteral("All Items");

// Menu captions treat "&" as a mnemonic; a group's name is shown as it stands.
QString menuCaption(const QString& name) {
    return QString(name).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString tableFullText() {
    return QStringLiteral("Quorvel can keep at most %1 groups.\nPlease delete a group before "
                          "adding another one.")
        .arg(GroupTable::kCapacity);
}

}  // namespace

void TMainForm::buildGroupMenu() {
    PopupMenu2 = new QMenu(this);
    MenuAddNewGroup = PopupMenu2->addAction(QStringLiteral("Add New Group"));
    MenuRenameGroup = PopupMenu2->addAction(QStringLiteral("Rename Group"));
    MenuDeleteGroup = PopupMenu2->addAction(QStringLiteral("Delete Group"));
    PopupMenu2->addSeparator();
    MenuSaveGroup = PopupMenu2->addAction(QStringLiteral("Save Group to File"));
    MenuLoadGroup = PopupMenu2->addAction(QStringLiteral("Load Group from File"));
    PopupMenu2->addSeparator();
    MenuGroupCancel = PopupMenu2->addAction(QStringLiteral("Cancel"));
    connect(MenuAddNewGroup, &QAction::triggered, this, &TMainForm::MenuAddNewGroupClick);
    connect(MenuRenameGroup, &QAction::triggered, this, &TMainForm::MenuRenameGroupClick);
    connect(MenuDeleteGroup, &QAction::triggered, this, &TMainForm::MenuDeleteGroupClick);
    connect(MenuSaveGroup, &QAction::triggered, this, &TMainForm::MenuSaveGroupClick);
    connect(MenuLoadGroup, &QAction::triggered, this, &TMainForm::MenuLoadGroupClick);
    GroupList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(GroupList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu2->popup(GroupList->mapToGlobal(p)); });
    connect(GroupList, &QComboBox::activated, this, [this](int) { GroupListChange(); });
    MenuGroupSelect->setData(QStringLiteral("Remove"));
    connect(MenuGroups, &QMenu::triggered, this, &TMainForm::MenuGroupSelectClick);
}

void TMainForm::addGroupMenuItem(int position) {
    const QString name = QString::fromStdString(Groups.at(position).GroupName);
    QAction* a = MenuGroups->addAction(menuCaption(name));
    a->setData(name);
    GroupMenuItems[static_cast<std::size_t>(position - 1)] = a;
}

void TMainForm::GroupListChange() {
    const int g = FindGroup(shownGroupName());
    const std::string key = g > 0 ? membership::key(Groups.at(g).GroupNumber) : std::string();
    std::vector<QString> rows;
    int due = 0;
    for (std::size_t i = 0; i < Items.size(); ++i) {
        Rec& r = Items.at(i);
        CurrentItem = &r;
        if (g > 0 && r.Groups.find(key) == std::string::npos) continue;
        rows.push_back(QString::fromStdString(r.Name));
        if (!r.Done) ++due;
    }
    Entries->setItems(std::move(rows));
    setLabelCounts(due);
    if (Entries->count() > 0) {
        Entries->setItemIndex(0);
        Entries->setSelected(0, true);
    } else {
        Entries->setItemIndex(-1);
    }
    EntriesClick();
}

void TMainForm::MenuAddNewGroupClick() {
    const QString name =
        dialogs.inputBox(QStringLiteral("Add New Group"),
                         QStringLiteral("What would you like to call the new Group?"), QString());
    if (name.isEmpty()) return;
    // "All Items" names the whole list; a group of that name could never be told apart.
    if (FindGroup(name) > 0 || QString::compare(name, kAllItems, Qt::CaseInsensitive) == 0) {
        dialogs.error(QStringLiteral("The ") + name + QStringLiteral(" group already exists."));
        return;
    }
    if (Groups.full()) {
        dialogs.error(tableFullText());
        return;
    }
    CreateNewGroup(name);
}

void TMainForm::MenuRenameGroupClick() {
    const QString name = shownGroupName();
    if (name == kAllItems) {
        dialogs.error(QStringLiteral("You can not rename the All Items group."));
        return;
    }
    const QString answer = dialogs.inputBox(
        QStringLiteral("Rename Group"),
        QStringLiteral("What would you like to rename \"") + name + QStringLiteral("\" to?"), name);
    if (answer.isEmpty() || answer == name) return;
    if (FindGroup(answer) > 0 || QString::compare(answer, kAllItems, Qt::CaseInsensitive) == 0) {
        dialogs.error(QStringLiteral("The ") + answer + QStringLiteral(" group already exists."));
        return;
    }
    const int g = FindGroup(name);
    if (g == 0) return;
    Groups.at(g).GroupName = answer.toStdString();
    GroupList->removeItem(GroupList->currentIndex());
    GroupList->setCurrentIndex(addSorted(*GroupList, answer));
    QAction* entry = GroupMenuItems[static_cast<std::size_t>(g - 1)];
    entry->setText(menuCaption(answer));
    entry->setData(answer);
}

void TMainForm::MenuDeleteGroupClick() {
    const QString name = shownGroupName();
    if (name == kAllItems) {
        dialogs.error(QStringLiteral("You can not delete the All Items group."));
        return;
    }
    if (!dialogs.confirm(MsgKind::Confirm, QStringLiteral("Are you sure you want to delete the \"") +
                                               name + QStringLiteral("\" group?")))
        return;
    const int g = FindGroup(name);
    if (g > 0) {
        const std::int32_t number = Groups.at(g).GroupNumber;
        for (std::size_t i = 0; i < Items.size(); ++i) {
            CurrentItem = Items.ptr(i);
            membership::leave(Items.at(i).Groups, number);
        }
        GroupList->removeItem(GroupList->currentIndex());
        delete GroupMenuItems[static_cast<std::size_t>(g - 1)];
        for (int k = g; k < Groups.count(); ++k)
            GroupMenuItems[static_cast<std::size_t>(k - 1)] = GroupMenuItems[static_cast<std::size_t>(k)];
        GroupMenuItems[static_cast<std::size_t>(Groups.count() - 1)] = nullptr;
        Groups.remove(g);
    }
    GroupList->setCurrentIndex(0);
    GroupListChange();
}

void TMainForm::MenuGroupSelectClick(QAction* entry) {
    if (!entry || Entries->selCount() == 0) return;
    const QString caption = entry->data().toString();
    if (upperAscii(caption.toStdString()) == "REMOVE") {
        const int g = FindGroup(shownGroupName());
        if (g > 0) {
            const std::int32_t number = Groups.at(g).GroupNumber;
            for (int i = 0; i < Entries->count();) {
                Rec& r = itemAtRow(i);
                if (Entries->isSelected(i) && membership::isMember(r.Groups, number)) {
                    membership::leave(r.Groups, number);
                    Entries->deleteRow(i);
                } else {
                    ++i;
                }
            }
        }
        EntriesClick();
        return;
    }
    const int g = FindGroup(caption);
    if (g == 0) return;
    const std::int32_t number = Groups.at(g).GroupNumber;
    for (int i = 0; i < Entries->count(); ++i) {
        if (!Entries->isSelected(i)) continue;
        Rec& r = itemAtRow(i);
        if (membership::isMember(r.Groups, number))
            dialogs.info(Entries->text(i) + QStringLiteral(" is already in the ") + caption +
                         QStringLiteral(" group."));
        else
            membership::join(r.Groups, number);
    }
}

}  // namespace quorvel
