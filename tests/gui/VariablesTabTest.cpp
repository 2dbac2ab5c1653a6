// The Variables tab and the variables file, through the real window.
#include <gtest/gtest.h>

#include <QFile>
#include <QSignalBlocker>
#include <unistd.h>

#include "support/AsUser.h"
#include "support/MainFormHarness.h"
#include "typing/KeyfillForm.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

const char* const kDefaultsFile =
    "{address}=Undefined\r\n{age}=Undefined\r\n{city}=Undefined\r\n{country}=Undefined\r\n"
    "{email}=Undefined\r\n{first name}=Undefined\r\n{full name}=Undefined\r\n"
    "{last name}=Undefined\r\n{phone}=Undefined\r\n{state}=Undefined\r\n{url}=Undefined\r\n"
    "{zip}=Undefined\r\n";

struct VarsFixture : ::testing::Test {
    MainFormHarness h;
    TMainForm* f = nullptr;

    // Start-up with the variables file as given (none when empty).
    void startWith(const std::string& varFile = {}) {
        if (!varFile.empty()) h.writeFile("quorvel.var", varFile);
        f = &h.start();
        f->LoadVariables();
        if (!f->KeyfillForm)
            f->KeyfillForm = new TKeyfillForm(f, [this](const QString& n) { return f->InVars(n); });
        f->refillEditorVariables();
    }
    // Shutdown; answers what the file then holds.
    std::string exitAndRead() {
        f->SaveVariables();
        h.stop();
        return h.readFile("quorvel.var");
    }
    QStringList listed() const {
        QStringList names;
        for (int i = 0; i < f->Variables->count(); ++i) names << f->Variables->text(i);
        return names;
    }
    QStringList offeredByEditor() const {
        QStringList names;
        for (int i = 0; i < f->KeyfillForm->VarList->count(); ++i)
            names << f->KeyfillForm->VarList->itemText(i);
        return names;
    }
    void click(int row) {
        f->Variables->setItemIndex(row);
        f->VariablesClick();
    }
    // The user edits the name or the value: the edit changes, then its handler runs.
    void typeName(const QString& s) {
        {
            const QSignalBlocker b(f->VarName);
            f->VarName->setText(s);
        }
        f->VarNameChange();
    }
    void typeValue(const QString& s) {
        {
            const QSignalBlocker b(f->VarValue);
            f->VarValue->setText(s);
        }
        f->VarValueChange();
    }
    std::string shownName() const { return f->VarName->text().toStdString(); }
    std::string shownValue() const { return f->VarValue->text().toStdString(); }
};

}  // namespace

TEST_F(VarsFixture, FirstStartOffersTheTwelveDefaultsAndWritesThemInOrder) {
    startWith();
    ASSERT_EQ(f->Variables->count(), 12);
    EXPECT_EQ(f->Variables->itemIndex(), 0);
    EXPECT_EQ(shownName(), "{address}");
    EXPECT_EQ(shownValue(), "Undefined");
    EXPECT_EQ(offeredByEditor(), listed());
    EXPECT_EQ(f->KeyfillForm->VarList->currentIndex(), 0);
    EXPECT_EQ(exitAndRead(), kDefaultsFile);
}

TEST_F(VarsFixture, AFileInAnyOrderIsListedSortedAndWrittenBackInFileOrder) {
    const std::string file = "{zip}=12345\r\n{Age}=40\n{city}=Z\xFCrich\rjunk\r\n{a}=x=y{tab}";
    startWith(file);
    EXPECT_EQ(listed(), (QStringList{"", "{Age}", "{a}", "{city}", "{zip}"}));
    EXPECT_EQ(shownName(), "");  // the line without "=" gives an empty name
    click(3);
    EXPECT_EQ(shownValue(), "Z\xC3\xBCrich");
    click(2);
    EXPECT_EQ(shownValue(), "x=y{tab}");
    EXPECT_EQ(exitAndRead(),
              "{zip}=12345\r\n{Age}=40\r\n{city}=Z\xC3\xBCrich\r\njunk\r\n{a}=x=y{tab}\r\n");
}

TEST_F(VarsFixture, NamesAreFoundWithoutRegardToCaseBeyondAscii) {
    startWith("{\xC3\x96lfeld}=oil\r\n{First Name}=Ann\r\n");
    // The typing engine asks with the code upper-cased in a-z only.
    EXPECT_TRUE(f->InVars("{FIRST NAME}"));
    EXPECT_EQ(f->variableValue("{FIRST NAME}").toStdString(), "Ann");
    EXPECT_TRUE(f->InVars("{\xC3\xB6LFELD}"));
    EXPECT_EQ(f->variableValue("{\xC3\xB6LFELD}").toStdString(), "oil");
    EXPECT_FALSE(f->InVars("{first  name}"));
    EXPECT_EQ(f->variableValue("{nosuchvar}").toStdString(), "");
}

TEST_F(VarsFixture, NewRejectsBracesAndDuplicatesAndAddsSortedWithUndefined) {
    startWith("{zip}=1\r\n{Email}=me@example.org\r\n");
    h.dialogs.expectInput("New Variable", "Name of new variable: (No {})", "", QStringLiteral("email"))
        .expectMessage(MsgKind::Error, "email already exists.");
    f->VarNewButtonClick();
    h.dialogs.expectInput("New Variable", "Name of new variable: (No {})", "", QStringLiteral("{x}"))
        .expectMessage(MsgKind::Error,
                       "{x}is not a valid variable name.\nPlease do not include {} characters.");
    f->VarNewButtonClick();
    h.dialogs.expectInput("New Variable", "Name of new variable: (No {})", "", std::nullopt);
    f->VarNewButtonClick();
    EXPECT_EQ(listed(), (QStringList{"{Email}", "{zip}"}));

    h.dialogs.expectInput("New Variable", "Name of new variable: (No {})", "", QStringLiteral("home page"));
    f->VarNewButtonClick();
    EXPECT_EQ(listed(), (QStringList{"{Email}", "{home page}", "{zip}"}));
    EXPECT_EQ(f->Variables->itemIndex(), 1);
    EXPECT_EQ(shownName(), "{home page}");
    EXPECT_EQ(shownValue(), "Undefined");
    EXPECT_EQ(offeredByEditor(), listed());
    EXPECT_EQ(f->KeyfillForm->VarList->currentIndex(), 0);
    EXPECT_EQ(exitAndRead(), "{zip}=1\r\n{Email}=me@example.org\r\n{home page}=Undefined\r\n");
}

TEST_F(VarsFixture, NewRefusesANameTheFileCouldNotTellFromItsValue) {
    startWith("{zip}=1\r\n");
    h.dialogs.expectInput("New Variable", "Name of new variable: (No {})", "", QStringLiteral("a=b"))
        .expectMessage(MsgKind::Error,
                       "a=bis not a valid variable name.\nPlease do not include = characters.");
    f->VarNewButtonClick();
    EXPECT_EQ(listed(), QStringList{"{zip}"});
    // An empty name is a name: it makes the variable "{}".
    h.dialogs.expectInput("New Variable", "Name of new variable: (No {})", "", QString());
    f->VarNewButtonClick();
    EXPECT_TRUE(f->InVars("{}"));
    EXPECT_EQ(exitAndRead(), "{zip}=1\r\n{}=Undefined\r\n");
}

TEST_F(VarsFixture, EmptyingAValueRemovesTheLineAndTypingAgainAppendsIt) {
    startWith();
    click(4);
    ASSERT_EQ(shownName(), "{email}");
    typeValue("");
    EXPECT_TRUE(f->InVars("{EMAIL}"));  // still listed for this run
    EXPECT_EQ(f->variableValue("{email}").toStdString(), "");
    EXPECT_EQ(f->VarTable.size(), 11u);
    click(0);
    click(4);
    EXPECT_EQ(shownValue(), "");
    typeValue("m");
    typeValue("me@x");
    EXPECT_EQ(f->VarTable.back(), "{email}=me@x");
    EXPECT_EQ(f->VarTable.size(), 12u);
    click(0);
    typeValue("");
    std::string expected = kDefaultsFile;
    expected.erase(0, expected.find("{age}"));
    expected.replace(expected.find("{email}=Undefined\r\n"), 19, "");
    EXPECT_EQ(exitAndRead(), expected + "{email}=me@x\r\n");
    // At the next start the emptied ones are gone from the list too.
    startWith(h.readFile("quorvel.var"));
    EXPECT_EQ(f->Variables->indexOfText("{address}"), -1);
    EXPECT_EQ(f->Variables->indexOfText("{email}"), 3);
}

TEST_F(VarsFixture, RenameKeepsThePlaceInListAndTable) {
    startWith();
    click(4);
    typeValue("me@x");
    typeName("{emai}");
    typeName("{mail}");
    EXPECT_EQ(f->Variables->text(4).toStdString(), "{mail}");  // not re-sorted
    EXPECT_EQ(f->Variables->itemIndex(), 4);
    EXPECT_EQ(f->VarTable[4], "{mail}=me@x");
    EXPECT_FALSE(f->InVars("{email}"));
    EXPECT_EQ(f->variableValue("{MAIL}").toStdString(), "me@x");
    // The editor keeps the former name until the next New or Delete.
    EXPECT_TRUE(offeredByEditor().contains("{email}"));
    EXPECT_FALSE(offeredByEditor().contains("{mail}"));
}

TEST_F(VarsFixture, RenameThroughANameWithEqualsSignKeepsTheValueWhole) {
    startWith("{a}=v\r\n{b}=w\r\n");
    typeName("{a=");
    typeName("{a=b}");
    EXPECT_EQ(f->Variables->text(0).toStdString(), "{a=b}");
    EXPECT_EQ(f->VarTable, (std::vector<std::string>{"{a}=v", "{b}=w"}));
    typeName("{ab}");
    EXPECT_EQ(exitAndRead(), "{a}=v\r\n{b}=w\r\n");
}

TEST_F(VarsFixture, DeleteAsksAndRemovesListEntryAndLine) {
    startWith("{zip}=1\r\n{city}=Paris\r\n{age}=3\r\n");
    click(1);  // {city}
    h.dialogs.expectMessage(MsgKind::Confirm, "Are you sure you want to delete the {city} variable?",
                            MsgAnswer::No);
    f->VarDelButtonClick();
    EXPECT_EQ(listed().size(), 3);
    EXPECT_EQ(f->VarTable.size(), 3u);

    h.dialogs.expectMessage(MsgKind::Confirm, "Are you sure you want to delete the {city} variable?",
                            MsgAnswer::Yes);
    f->VarDelButtonClick();
    EXPECT_EQ(listed(), (QStringList{"{age}", "{zip}"}));
    EXPECT_EQ(f->VarTable, (std::vector<std::string>{"{zip}=1", "{age}=3"}));
    EXPECT_EQ(f->Variables->itemIndex(), 0);
    EXPECT_EQ(shownName(), "{age}");
    EXPECT_EQ(offeredByEditor(), listed());

    // A variable whose value was emptied has no line: only its entry goes.
    typeValue("");
    h.dialogs.expectMessage(MsgKind::Confirm, "Are you sure you want to delete the {age} variable?",
                            MsgAnswer::Yes);
    f->VarDelButtonClick();
    EXPECT_EQ(f->VarTable, std::vector<std::string>{"{zip}=1"});
    h.dialogs.expectMessage(MsgKind::Confirm, "Are you sure you want to delete the {zip} variable?",
                            MsgAnswer::Yes);
    f->VarDelButtonClick();
    EXPECT_EQ(f->Variables->count(), 0);
    EXPECT_EQ(shownName(), "");
    EXPECT_EQ(shownValue(), "");
    // With nothing left there is nothing to ask about or to change.
    f->VarDelButtonClick();
    typeName("{x}");
    typeValue("y");
    EXPECT_TRUE(f->VarTable.empty());
    EXPECT_EQ(exitAndRead(), "");
}

TEST_F(VarsFixture, AFileThatCannotBeReadIsNotOverwritten) {
    if (rerunAsUnprivilegedUser()) return;  // root reads and writes everything
    h.writeFile("quorvel.var", "{mine}=precious\r\n");
    QFile::setPermissions(h.path("quorvel.var"), QFileDevice::WriteOwner);
    // Once at start-up, once more for the fixture's own load.
    h.dialogs.expectReport("I/O error 13.");
    h.dialogs.expectReport("I/O error 13.");
    startWith();
    EXPECT_EQ(f->Variables->count(), 12);  // the defaults, so typing still works
    f->SaveVariables();
    h.stop();
    QFile::setPermissions(h.path("quorvel.var"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(h.readFile("quorvel.var"), "{mine}=precious\r\n");
}
