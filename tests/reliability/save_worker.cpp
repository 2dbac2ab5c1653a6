// A program that saves, to be killed or starved by the reliability tests.
//
//   save_worker loop <folder> <journal folder> <first generation>
//       Starts the window over <folder>, prints "started <temporary files left>", then
//       for N = first, first+1, ...: fills the window with generation N, records in the
//       journal the bytes each file will get, and saves the data file with backup, the
//       variables and the settings.  Runs until killed.
//   save_worker once <folder> <savenow|save|shutdown> <yes|no>
//       Starts the window, runs the one command, answering questions with yes or no,
//       and prints "result <true|false>" for save.
//
// Every box the window shows is printed as "box <kind> <text>" with line breaks as "\n".
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/FileIO.h"
#include "support/MainFormHarness.h"
#include "typing/core/VariableTable.h"

using namespace quorvel;

namespace {

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string oneLine(QString text) { return text.replace("\n", "\\n").toStdString(); }

class PrintingDialogs : public Dialogs {
public:
    MsgAnswer answer = MsgAnswer::No;
    MsgAnswer message(MsgKind kind, const QString& text, MsgButtons buttons) override {
        static const char* const kNames[] = {"Warning", "Error", "Information", "Confirm"};
        say(std::string("box ") + kNames[static_cast<int>(kind)] + " " + oneLine(text));
        return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
    }
    void showMessage(const QString& text) override { say("box Plain " + oneLine(text)); }
    std::optional<QString> input(const QString&, const QString& prompt, const QString&) override {
        say("box Input " + oneLine(prompt));
        return std::nullopt;
    }
    void errorReport(const QString& text) override { say("box Report " + oneLine(text)); }
    void assertion(const QString& text) override { say("box Assertion " + oneLine(text)); }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
    int execModal(QDialog&) override { return 0; }
};

// Generation n differs from its neighbours in size and in every Item.
void fill(TMainForm& f, long n) {
    f.Items.clear();
    std::vector<QString> rows;
    const long count = 300 + (n * 7919) % 1700;
    for (long i = 0; i < count; ++i) {
        auto rec = std::make_unique<Rec>();
        rec->Name = "gen " + std::to_string(n) + " item " + std::to_string(i);
        rec->Site = "http://site-" + std::to_string(i) + ".example/" + std::to_string(n);
        rec->Keys = "{email}{tab}name " + std::to_string(n) + "{enter}";
        rec->LastDone = "10/03/2001 12:00";
        rec->RepeatDays = static_cast<int>(1 + i % 30);
        rec->EntryCount = static_cast<int>(n % 100000);
        rec->Comments = "first line\r\nsecond line of " + std::to_string(n);
        rows.push_back(QString::fromStdString(rec->Name));
        f.Items.append(std::move(rec));
    }
    f.Entries->setItems(std::move(rows));
    f.CurrentItem = nullptr;
    f.VarTable = {"{email}=gen" + std::to_string(n) + "@example.org", "{gen}=" + std::to_string(n)};
    f.AdCount = static_cast<int>(n);
    f.Browser->setText(QStringLiteral("/usr/bin/browser-%1").arg(n));
}

// The journal entry is complete once it has its name, so a kill while it is written
// leaves the previous generation as the last one.
void journal(const QString& folder, long n, const std::string& dat, const std::string& var,
             const std::string& ini) {
    std::string entry;
    for (const std::string* part : {&dat, &var, &ini})
        entry += std::to_string(part->size()) + "\n" + *part;
    const QByteArray tmp = QFile::encodeName(folder + "/entry.tmp");
    const QByteArray name = QFile::encodeName(folder + QStringLiteral("/%1.journal").arg(n));
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, entry.data(), entry.size()) != static_cast<ssize_t>(entry.size()) ||
        ::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(tmp.constData(), name.constData()) != 0) {
        say("journal failed");
        std::_Exit(3);
    }
    // Only the last two generations are ever compared.
    QFile::remove(folder + QStringLiteral("/%1.journal").arg(n - 3));
}

int staleFiles(const QString& folder) {
    int count = 0;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (isSaveTempName(name)) ++count;
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    // A worker whose test has gone would save, and journal, until the disk is full.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) return 3;
    // Only what the tests read goes out; Qt's chatter about the headless screen does not.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::fputs((text + "\n").toLocal8Bit(), stderr);
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 5) {
        say("usage: save_worker loop|once <folder> ...");
        return 2;
    }
    const std::string mode = argv[1];
    const QString folder = QString::fromLocal8Bit(argv[2]);

    PrintingDialogs dialogs;
    Application::setErrorReporter(&dialogs);
    test::FixedClock clock;
    clock.value = test::dayNumber(2001, 3, 10, 12, 0);
    FormatSettings formats = test::testFormats();
    const MainFormSeams seams = test::testSeams(dialogs, clock, formats, folder);

    if (mode == "loop") {
        const QString journalFolder = QString::fromLocal8Bit(argv[3]);
        long n = std::stol(argv[4]);
        auto form = std::make_unique<TMainForm>(seams);
        say("started " + std::to_string(staleFiles(folder)));
        for (;; ++n) {
            fill(*form, n);
            journal(journalFolder, n, form->mainDataFileBytes(), writeVariablesFile(form->VarTable),
                    form->settingsFileBytes());
            if (!form->SaveData(true)) say("save failed");
            form->SaveVariables();
            form->writeSettings();
        }
    }
    if (mode == "once") {
        const std::string action = argv[3];
        dialogs.answer = std::string(argv[4]) == "yes" ? MsgAnswer::Yes : MsgAnswer::No;
        auto form = std::make_unique<TMainForm>(seams);
        say("started " + std::to_string(staleFiles(folder)));
        form->Items.at(0).EntryCount += 1;  // so the new file differs from the old
        if (action == "savenow") form->MenuSaveDataClick();
        if (action == "save") say(std::string("result ") + (form->SaveData(true) ? "true" : "false"));
        if (action == "shutdown") form->VarTable.push_back("{changed}=yes");
        form->FormDestroy();
        say("stale " + std::to_string(staleFiles(folder)));
        return 0;
    }
    return 2;
}
