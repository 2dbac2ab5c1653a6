#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QMessageBox>
#include <QSortFilterProxyModel>

#include "platform/Application.h"
#include "platform/Dialogs.h"

namespace quorvel {

namespace {
bool gClosing = false;

QString appTitle() { return Application::title(); }
}  // namespace

QString captionFor(MsgKind kind) {
    switch (kind) {
        case MsgKind::Warning: return QStringLiteral("Warning");
        case MsgKind::Error: return QStringLiteral("Error");
        case MsgKind::Information: return QStringLiteral("Information");
        case MsgKind::Confirm: return QStringLiteral("Confirm");
    }
    return {};
}

QString withFullStop(const QString& text) {
    if (!text.isEmpty() && text.back() > QLatin1Char('.')) return text + QLatin1Char('.');
    return text;
}

void QtDialogs::setClosing(bool closing) { gClosing = closing; }
bool QtDialogs::closing() { return gClosing; }

MsgAnswer QtDialogs::message(MsgKind kind, const QString& text, MsgButtons buttons) {
    if (gClosing) return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
    QMessageBox::Icon icon = QMessageBox::Information;
    switch (kind) {
        case MsgKind::Warning: icon = QMessageBox::Warning; break;
        case MsgKind::Error: icon = QMessageBox::Critical; break;
        case MsgKind::Information: icon = QMessageBox::Information; break;
        case MsgKind::Confirm: icon = QMessageBox::Question; break;
    }
    QMessageBox box(icon, captionFor(kind), text,
                    buttons == MsgButtons::Ok ? QMessageBox::Ok
                                              : (QMessageBox::Yes | QMessageBox::No),
                    QApplication::activeWindow());
    const int r = box.exec();
    if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
    return r == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

void QtDialogs::showMessage(const QString& text) {
    if (gClosing) return;
    QMessageBox box(QMessageBox::NoIcon, appTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

std::optional<QString> QtDialogs::input(const QString& caption, const QString& prompt,
                                        const QString& value) {
    if (gClosing) return std::nullopt;
    QInputDialog dlg(QApplication::activeWindow());
    dlg.setWindowTitle(caption);
    dlg.setLabelText(prompt);
    dlg.setTextValue(value);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.textValue();
}

void QtDialogs::errorReport(const QString& text) {
    if (gClosing) return;
    QMessageBox box(QMessageBox::Critical, appTitle(), withFullStop(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void QtDialogs::assertion(const QString& text) {
    if (gClosing) return;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Assertion Failed"), text,
                    QMessageBox::Ok);
    box.exec();
}

namespace {

// Folders to move through and the programs in them.  (A QDir::Executable filter on the
// dialog's file system model hides everything, folders and programs alike.)
class ProgramsOnly : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files) return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }
};

QFileDialog* makeFileDialog(const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
    auto* dlg = new QFileDialog(QApplication::activeWindow(), request.title, request.directory);
    dlg->setAcceptMode(mode);
    dlg->setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.filter.isEmpty()) dlg->setNameFilter(request.filter);
    if (!request.defaultSuffix.isEmpty()) dlg->setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty()) dlg->selectFile(request.fileName);
    if (request.executablesOnly) {
        // A filtering model needs Qt's own dialog, not a desktop's native one.
        dlg->setOption(QFileDialog::DontUseNativeDialog, true);
        dlg->setProxyModel(new ProgramsOnly(dlg));
    }
    dlg->setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    return dlg;
}

std::optional<QString> runFileDialog(const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
    if (gClosing) return std::nullopt;
    std::unique_ptr<QFileDialog> dlg(makeFileDialog(request, mode));
    for (;;) {
        if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty())
            return std::nullopt;
        const QString path = dlg->selectedFiles().first();
        if (request.executablesOnly && !QFileInfo(path).isExecutable()) {
            QMessageBox::warning(dlg.get(), request.title,
                                 QStringLiteral("%1 is not a program.").arg(path));
            continue;
        }
        return path;
    }
}

}  // namespace

std::optional<QString> QtDialogs::openFile(const FileDialogRequest& request) {
    return runFileDialog(request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtDialogs::saveFile(const FileDialogRequest& request) {
    return runFileDialog(request, QFileDialog::AcceptSave);
}

int QtDialogs::execModal(QDialog& dialog) {
    if (gClosing) return QDialog::Rejected;
    return dialog.exec();
}

}  // namespace quorvel
