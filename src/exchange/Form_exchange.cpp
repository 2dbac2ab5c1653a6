// Group data files: saving the shown group and importing a file into a group.
#include <QFileInfo>

#include "exchange/core/GroupDataFile.h"
#include "mainwindow/TMainForm.h"
#include "model/Errors.h"
#include "platform/Dialogs.h"
#include "platform/FileIO.h"

namespace quorvel {

namespace {

const QString kAllItems = QStringLiteral("All Items");

FileDialogRequest groupFileDialog(const QString& title, const QString& folder) {
    FileDialogRequest request;
    request.title = title;
    request.filter = QStringLiteral("Quorvel Data File (*.qdf)");
    // With "qdf" a file saved as "cars" is found by the load dialog and the download list.
    request.defaultSuffix = QStringLiteral("qdf");
    request.directory = folder;
    return request;
}

// A script arrives with its line breaks; the main data file holds it on one line, so each
// break becomes the Return key it stands for.
std::string scriptOnOneLine(const std::string& keys) {
    std::string out;
    out.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const char c = keys[i];
        if (c == '\r' || c == '\n') {
            out += "{enter}";
            if (c == '\r' && i + 1 < keys.size() && keys[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

bool TMainForm::Duplicate(const std::string& name) {
    if (!Items.contains(name)) {
        if (!Items.empty()) CurrentItem = Items.ptr(Items.size() - 1);
        return false;
    }
    CurrentItem = Items.ptr(Items.resolve(name));
    return true;
}

void TMainForm::MenuSaveGroupClick() {
    FileDialogRequest request = groupFileDialog(QStringLiteral("Save Roder Data File"), paths.folder);
    request.fileName = shownGroupName();
    const std::optional<QString> path = dialogs.saveFile(request);
    if (!path) return;
    const bool withScripts = dialogs.confirm(
        MsgKind::Confirm, QStringLiteral("Do you want to include Type and Comment sections?\n\n"
                                         "Note: Type and Comment strings could include personal "
                                         "information."));
    try {
        std::vector<const Rec*> items;
        items.reserve(static_cast<std::size_t>(Entries->count()));
        for (int row = 0; row < Entries->count(); ++row)
            if (!Items.empty()) items.push_back(&itemAtRow(row));
        // The whole file or nothing: a bad date stops the save before anything is written.
        writeWholeFile(*path, writeGroupFile(shownGroupName().toStdString(), items, withScripts,
                                             formats, currentYear()));
    } catch (const QuorvelError& e) {
        dialogs.errorReport(QString::fromStdString(e.what()));
    }
}

void TMainForm::MenuLoadGroupClick() {
    const std::optional<QString> path =
        dialogs.openFile(groupFileDialog(QStringLiteral("Open Roder Data File"), paths.folder));
    if (path) LoadDataFile(*path);
}

void TMainForm::LoadDataFile(const QString& path) {
    const QString fileName = QFileInfo(path).fileName();
    try {
        GroupFileReader reader(readWholeFile(path));
        if (!reader.headerValid()) {
            dialogs.error(fileName + QStringLiteral(" is not a valid Quorvel data file."));
            return;
        }
        const QString proposed = QString::fromStdString(reader.proposedGroupName());
        const std::int64_t blocks = std::int64_t{reader.announcedBlocksMinusOne()} + 1;
        const std::optional<QString> target = dialogs.input(
            QStringLiteral("Load Data File"),
            QStringLiteral("Add %1 new items to this Group:").arg(blocks), proposed);
        if (!target) return;
        if (FindGroup(*target) == 0 && *target != kAllItems) {
            if (Groups.full()) {
                dialogs.error(QStringLiteral("Quorvel can keep at most %1 groups, so the group "
                                             "\"%2\" cannot be created.\nPlease delete a group "
                                             "and load the file again.")
                                  .arg(GroupTable::kCapacity)
                                  .arg(*target));
                return;
            }
            CreateNewGroup(*target);
        }
        const int g = FindGroup(*target);
        const std::string groups = g > 0 ? membership::key(Groups.at(g).GroupNumber) : std::string();
        for (std::int64_t pass = 0; pass < blocks; ++pass) {
            std::string name = reader.blockName();
            bool skip = false;
            while (Duplicate(name)) {
                const QString current = QString::fromStdString(name);
                const std::optional<QString> renamed =
                    dialogs.input(QStringLiteral("Duplicate Name"),
                                  current + QStringLiteral(" already exists. Rename to:"), current);
                if (!renamed) {
                    skip = true;
                    break;
                }
                name = renamed->toStdString();
            }
            if (skip) {
                reader.skipBlock();
                continue;
            }
            auto rec = std::make_unique<Rec>(reader.readBlockRest(formats));
            rec->Name = name;
            rec->Groups = groups;
            rec->Keys = scriptOnOneLine(rec->Keys);
            CurrentItem = &Items.append(std::move(rec));
        }
        const int shown = [&] {
            for (int i = 0; i < GroupList->count(); ++i)
                if (QString::compare(GroupList->itemText(i), *target, Qt::CaseInsensitive) == 0)
                    return i;
            return 0;
        }();
        GroupList->setCurrentIndex(shown);
        GroupListChange();
        MenuUpdateClick();
        dialogs.info(fileName + QStringLiteral(" successfully imported."));
    } catch (const QuorvelError& e) {
        // Items read before the error stay; the display catches up at the next filter or Update.
        dialogs.errorReport(QString::fromStdString(e.what()));
    }
}

}  // namespace quorvel
