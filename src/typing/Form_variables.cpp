// The Variables tab: the variable table, its file and the list of names beside it.
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "mainwindow/TMainForm.h"
#include "model/Errors.h"
#include "platform/Dialogs.h"
#include "platform/FileIO.h"
#include "typing/KeyfillForm.h"
#include "typing/core/VariableTable.h"

namespace quorvel {

namespace {

// The same comparison the sorted Variables list uses (Unicode case folding), so a
// name the list holds is also found in the table, whatever its letters.
bool sameNoCase(std::string_view a, std::string_view b) {
    return QString::compare(QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())),
                            QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                            Qt::CaseInsensitive) == 0;
}

std::string utf8(const QString& s) { return s.toStdString(); }
QString qs(const std::string& s) { return QString::fromStdString(s); }

// Set when the variables file existed but could not be read: the table in memory then
// holds only the defaults, and writing it at exit would destroy the user's file.
constexpr const char* kFileUnread = "quorvelVariablesFileUnread";

QString variablesFile(const ProgramPaths& paths) {
    return paths.withExtension(QStringLiteral(".var"));
}

}  // namespace

bool TMainForm::InVars(const QString& bracedName) const {
    return Variables->indexOfText(bracedName) >= 0;
}

QString TMainForm::variableValue(const QString& bracedName) const {
    return qs(lookupVariable(VarTable, utf8(bracedName), sameNoCase));
}

void TMainForm::LoadVariables() {
    VarTable.clear();
    setProperty(kFileUnread, false);
    const QString path = variablesFile(paths);
    QString failure;
    bool loaded = false;
    if (fileExists(path)) {
        try {
            VarTable = parseVariablesFile(readWholeFile(path));
            loaded = true;
        } catch (const InOutError& e) {
            setProperty(kFileUnread, true);
            failure = QString::fromStdString(e.what());
        }
    }
    if (loaded) {
        std::vector<QString> names;
        names.reserve(VarTable.size());
        for (const std::string& line : VarTable)
            names.push_back(qs(std::string(variableName(line).value_or(std::string_view()))));
        Variables->setItems(std::move(names));
    } else {
        std::vector<QString> names;
        for (const std::string& n : defaultVariableNames()) names.push_back(qs(n));
        Variables->setItems(std::move(names));
        for (int i = 0; i < Variables->count(); ++i)
            VarTable.push_back(utf8(Variables->text(i)) + "=" + std::string(kUndefinedValue));
    }
    if (Variables->count() > 0) Variables->setItemIndex(0);
    VariablesClick();
    if (!failure.isEmpty()) dialogs.errorReport(failure);
}

void TMainForm::SaveVariables() {
    if (property(kFileUnread).toBool()) return;
    writeWholeFile(variablesFile(paths), writeVariablesFile(VarTable));
}

void TMainForm::VariablesClick() {
    const int row = Variables->itemIndex();
    if (row < 0) {
        VarName->clear();
        VarValue->clear();
        return;
    }
    const QString name = Variables->text(row);
    VarName->setText(name);
    VarValue->setText(variableValue(name));
}

void TMainForm::VarNameChange() {
    const int row = Variables->itemIndex();
    if (row < 0) return;
    const QString oldName = Variables->text(row);
    const QString newName = VarName->text();
    if (oldName == newName) return;
    // A "=" would end the name early in the stored line and the value would gain the
    // rest; such a name reaches the list only, and the line keeps its last sound name.
    if (!newName.contains(QLatin1Char('=')))
        renameVariable(VarTable, utf8(oldName), utf8(newName), sameNoCase);
    Variables->setTextInPlace(row, newName);
    Variables->setItemIndex(row);
}

void TMainForm::VarValueChange() {
    const int row = Variables->itemIndex();
    if (row < 0) return;
    setVariable(VarTable, utf8(Variables->text(row)), utf8(VarValue->text()), sameNoCase);
}

void TMainForm::VarNewButtonClick() {
    const std::optional<QString> answer = dialogs.input(
        QStringLiteral("New Variable"), QStringLiteral("Name of new variable: (No {})"), QString());
    if (answer) {
        const QString& name = *answer;
        const QString braced = QLatin1Char('{') + name + QLatin1Char('}');
        if (name.contains(QLatin1Char('{')) || name.contains(QLatin1Char('}'))) {
            dialogs.error(name + QStringLiteral("is not a valid variable name.\nPlease do not "
                                                "include {} characters."));
        } else if (name.contains(QLatin1Char('='))) {
            // The stored line could not tell such a name from its value.
            dialogs.error(name + QStringLiteral("is not a valid variable name.\nPlease do not "
                                                "include = characters."));
        } else if (InVars(braced)) {
            dialogs.error(name + QStringLiteral(" already exists."));
        } else {
            VarTable.push_back(utf8(braced) + "=" + std::string(kUndefinedValue));
            Variables->setItemIndex(Variables->addItem(braced));
            VariablesClick();
        }
    }
    refillEditorVariables();
    Variables->setFocus();
}

void TMainForm::VarDelButtonClick() {
    const int row = Variables->itemIndex();
    if (row >= 0) {
        const QString name = Variables->text(row);
        if (dialogs.confirm(MsgKind::Confirm, QStringLiteral("Are you sure you want to delete the ") +
                                                  name + QStringLiteral(" variable?"))) {
            removeVariableLine(VarTable, utf8(name + QLatin1Char('=') + variableValue(name)),
                               sameNoCase);
            Variables->deleteRow(row);
            Variables->setItemIndex(Variables->count() > 0 ? 0 : -1);
            VariablesClick();
        }
    }
    refillEditorVariables();
    Variables->setFocus();
}

void TMainForm::refillEditorVariables() {
    if (!KeyfillForm) return;
    QStringList names;
    names.reserve(Variables->count());
    for (int i = 0; i < Variables->count(); ++i) names << Variables->text(i);
    KeyfillForm->setVariableNames(names);
}

}  // namespace quorvel
