// Groups: the filter, the group commands and the "Groups" submenu.
#include "mainwindow/TMainForm.h"

namespace quorvel {

void TMainForm::addGroupMenuItem(int position) {
    QAction* a = MenuGroups->addAction(QString::fromStdString(Groups.at(position).GroupName));
    GroupMenuItems[static_cast<std::size_t>(position - 1)] = a;
}

}  // namespace quorvel
