// Start-up and shutdown, the settings and co-branding files, and the main data file.
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QScreen>

#include "BuildConfig.h"
#include "app/core/IniFile.h"
#include "typing/core/KeyfillEngine.h"
#include "components/AdImage.h"
#include "components/DropTarget.h"
#include "components/TipOfTheDay.h"
#include "mainwindow/TMainForm.h"
#include "model/Errors.h"
#include "model/MainDataFile.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileIO.h"
#include "platform/RunInputFence.h"

namespace quorvel {

namespace {

const char* const kVarHelpText =
    "Variables can help you simplify the Type function. Just click on a Variable in the list "
    "on the left, and change the value. For example, click on {email} and change the value to "
    "your email address. The next time you want to use your email address in the Type "
    "function, just type {email} and Quorvel will automatically insert your email address. "
    "This function is especially handy when you want to exchange Quorvel Data Files with other "
    "people. If you use variables, you will never give away any personal information.";

IniFile readIni(const QString& path) {
    try {
        return IniFile(readWholeFile(path));
    } catch (const InOutError&) {
        return IniFile();  // a missing or unreadable file gives the defaults
    }
}

}  // namespace

void TMainForm::FormCreate() {
    // Each step reports its own failure and the rest still run, so the variable table
    // and the download list always exist.
    auto step = [this](auto&& body) {
        try {
            body();
        } catch (const std::exception& e) {
            dialogs.errorReport(QString::fromStdString(e.what()));
        }
    };
    // Left by a save that was cut short; the files they were for are whole.
    step([&] { removeStaleSaveFiles(paths.folder); });
    step([&] { formats.applyStartupRules(); });
    step([&] {
        const IniFile brand = readIni(paths.brandFile());
        const std::string title = brand.readString("CoBrand", "Title", "by Orrin Halvik");
        setWindowTitle(QStringLiteral("Quorvel! V1.0 ") + QString::fromStdString(title));
    });
    step([&] { Ad->setAdSize(TAdImageSize::ADS468x60); });
    Loading = true;
    step([&] { readSettings(readIni(paths.file(QStringLiteral("Quorvel.ini")))); });
    Items.clear();
    Loading = false;
    RowPaintEnabled = true;
    LastSearch.clear();
    step([&] { formats.twoDigitYearCenturyWindow = 50; });
    GroupList->setCurrentIndex(0);
    step([&] {
        if (fileExists(paths.file(QStringLiteral("Quorvel.dat")))) LoadMainData();
    });
    step([&] { LoadVariables(); });
    step([&] { BrowserCheck(); });
    step([&] {
        if (!hasDownloadServer()) showNoDownloadServer();
        else if (CheckForFiles->isChecked()) CheckButtonClick();
    });
    step([&] { VarHelp->setPlainText(QString::fromUtf8(kVarHelpText)); });
    step([&] {
        DownloadHelp->setPlainText(
            QStringLiteral(
                "You can download new entries from the Quorvel web site! Just click on the Check "
                "button to see what files are available. Click on a file in the list to see the "
                "decription. If you like it, click the Download File button to download the file "
                "and add the items to your Quorvel! * If you have a Quorvel data file you want to "
                "share with everybody, email it to ") +
            QString::fromUtf8(build::kSubmitEmail) +
            QStringLiteral(" and we will add it to the files that people can download."));
    });
    step([&] { DropURLTarget->Register(this); });
}

void TMainForm::readSettings(const IniFile& ini) {
    TipOfTheDay->setChecked(ini.readBool("Options", "TipOfTheDay", true));
    if (TipOfTheDay1) TipOfTheDay1->setShowTipsAtStartup(TipOfTheDay->isChecked());
    const int frameExtra = frameGeometry().height() - height();
    const int h = ini.readInteger("Window", "Height", 350);
    resize(width(), std::max(1, h - frameExtra));
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->geometry()
                             : QRect(0, 0, 1024, 768);
    const int outerHeight = frameGeometry().height() > 0 ? frameGeometry().height() : h;
    const int top = ini.readInteger("Window", "Top", (screen.height() - outerHeight) / 2);
    const int outerWidth = 470 + (frameGeometry().width() - width());
    const int left = ini.readInteger("Window", "Left", (screen.width() - outerWidth) / 2);
    move(left, top);
    savedOuter_ = QRect(left, top, outerWidth, h);
    AdCount = ini.readInteger("Options", "AdCount", 0);
    AutoSave->setChecked(ini.readBool("Options", "AutoSave", true));
    AutoCheck->setChecked(ini.readBool("Options", "AutoCheck", true));
    SlowDownType->setChecked(ini.readBool("Options", "SlowDownType", false));
    NewOnly->setChecked(ini.readBool("Options", "NewOnly", false));
    CheckForFiles->setChecked(ini.readBool("Options", "CheckForFiles", false));
    AlwaysOnTop->setChecked(ini.readBool("Options", "AlwaysOnTop", false));
    // Before the window first shows (loading Items shows it): set on a shown window, the
    // flag makes Qt hide it and show it again as a new native window.
    if (AlwaysOnTop->isChecked()) setWindowFlag(Qt::WindowStaysOnTopHint, true);
    Browser->setText(QString::fromStdString(ini.readString("Options", "Browser", "")));
}

void TMainForm::writeSettings() {
    writeWholeFile(paths.file(QStringLiteral("Quorvel.ini")), settingsFileBytes());
}

std::string TMainForm::settingsFileBytes() const {
    // Keeps the file's other sections, keys and comments.
    IniFile ini = readIni(paths.file(QStringLiteral("Quorvel.ini")));
    const QRect outer = frameGeometry();
    ini.writeInteger("Window", "Height", outer.height());
    ini.writeInteger("Window", "Top", outer.top());
    ini.writeInteger("Window", "Left", outer.left());
    ini.writeBool("Options", "TipOfTheDay", TipOfTheDay->isChecked());
    ini.writeInteger("Options", "AdCount", AdCount);
    ini.writeBool("Options", "AutoSave", AutoSave->isChecked());
    ini.writeBool("Options", "AutoCheck", AutoCheck->isChecked());
    ini.writeBool("Options", "SlowDownType", SlowDownType->isChecked());
    ini.writeBool("Options", "NewOnly", NewOnly->isChecked());
    ini.writeBool("Options", "CheckForFiles", CheckForFiles->isChecked());
    ini.writeBool("Options", "AlwaysOnTop", AlwaysOnTop->isChecked());
    ini.writeString("Options", "Browser", Browser->text().toStdString());
    return ini.bytes();
}

void TMainForm::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    auto step = [this](auto&& body) {
        try {
            body();
        } catch (const std::exception& e) {
            dialogs.errorReport(QString::fromStdString(e.what()));
        }
    };
    step([&] { SaveData(false); });
    step([&] { SaveVariables(); });
    step([&] { writeSettings(); });
    Items.clear();
    CurrentItem = nullptr;
    step([&] { DropURLTarget->Unregister(); });
}

TMainForm::~TMainForm() { FormDestroy(); }

void TMainForm::closeEvent(QCloseEvent* e) { e->accept(); }

void TMainForm::AlwaysOnTopClick() {
    if (Loading) return;
    dialogs.info(QStringLiteral("Please exit and restart Quorvel to\nactivate your Always On Top selection."));
}

// ---- main data file

void TMainForm::LoadMainData() {
    const QString path = paths.file(QStringLiteral("Quorvel.dat"));
    std::string bytes;
    try {
        bytes = readWholeFile(path);
    } catch (const InOutError& e) {
        dataFileDamaged_ = true;
        dialogs.error(QStringLiteral("Quorvel.dat could not be read (%1).\nQuorvel starts without "
                                     "its items; the file is kept as it is.")
                          .arg(QString::fromStdString(e.what())));
        return;
    }
    MainDataReadContext ctx;
    ctx.fs = &formats;
    ctx.currentYear = currentYear();
    ctx.now = clock.now();
    ctx.onBadItem = [this](const std::string& name) {
        dialogs.error(QStringLiteral("Error loading entry. Entry will be ignored.\nPossible name: ") +
                      QString::fromStdString(name));
    };
    MainDataLoad load = readMainData(std::move(bytes), ctx);

    Groups.clear();
    for (const GroupData& g : load.groups) {
        const int pos = Groups.add(g.GroupName, g.GroupNumber);
        addSorted(*GroupList, QString::fromStdString(g.GroupName));
        addGroupMenuItem(pos);
    }
    std::vector<QString> rows;
    rows.reserve(load.items.size());
    Items.reserve(Items.size() + load.items.size());
    for (auto& rec : load.items) {
        rows.push_back(QString::fromStdString(rec->Name));
        CurrentItem = &Items.append(std::move(rec));
    }
    Entries->setItems(std::move(rows));

    if (!load.clean()) {
        dataFileDamaged_ = true;
        keepDamagedDataFile();
    }
    if (!load.groupsNotLoaded.empty()) {
        QStringList names;
        for (const auto& n : load.groupsNotLoaded) names << QString::fromStdString(n);
        dialogs.warning(QStringLiteral("Quorvel.dat holds more groups than the %1 Quorvel can keep.\n"
                                       "These groups were not loaded: %2\n"
                                       "Their items were loaded without them.")
                            .arg(GroupTable::kCapacity)
                            .arg(names.join(QStringLiteral(", "))));
    }
    if (Entries->count() > 0) {
        show();
        Entries->setItemIndex(0);
        MenuUpdateClick();
        NextButClick();
    }
}

// A data file that did not load cleanly is kept as it was, once per run, before any
// save can replace it.
void TMainForm::keepDamagedDataFile() {
    if (damagedFileKept_) return;
    const QString dat = paths.file(QStringLiteral("Quorvel.dat"));
    QString kept = paths.file(QStringLiteral("Quorvel.damaged"));
    for (int n = 2; QFile::exists(kept); ++n)
        kept = paths.file(QStringLiteral("Quorvel.damaged.%1").arg(n));
    const bool ok = copyFileReplacing(dat, kept) || QFile::rename(dat, kept);
    if (!ok) return;  // tried again before the next save
    damagedFileKept_ = true;
    damagedDataNote_ = kept;
    dialogs.warning(QStringLiteral("Quorvel.dat did not load completely.\nThe file as it was has "
                                   "been kept as %1\nso that nothing in it is lost.")
                        .arg(QFileInfo(kept).fileName()));
}

std::string TMainForm::mainDataFileBytes() const {
    return writeMainData(Groups, Items, formats, currentYear());
}

bool TMainForm::SaveData(bool backup) {
    const QString dat = paths.file(QStringLiteral("Quorvel.dat"));
    std::string bytes;
    try {
        bytes = mainDataFileBytes();
        if (!Items.empty()) CurrentItem = Items.ptr(Items.size() - 1);
        if (dataFileDamaged_ && !damagedFileKept_ && fileExists(dat)) keepDamagedDataFile();
        writeWholeFile(dat, bytes);
    } catch (const QuorvelError&) {
        restoreBackupAfterFailedSave();
        return false;
    }
    if (!backup) return true;
    // The backup is the file just written, so it comes from the same bytes.
    try {
        writeWholeFile(paths.file(QStringLiteral("Quorvel.bak")), bytes);
    } catch (const InOutError& e) {
        dialogs.error(QStringLiteral("Your items are saved in Quorvel.dat, but the backup "
                                     "Quorvel.bak could not be written (%1).\nThe previous "
                                     "backup is kept as it was.")
                          .arg(QString::fromStdString(e.what())));
        return false;
    }
    return true;
}

void TMainForm::restoreBackupAfterFailedSave() {
    if (!dialogs.confirm(MsgKind::Confirm,
                         QStringLiteral("There was a problem saving your entries.\nWould you like "
                                        "to restore your backup?")))
        return;
    const QString dat = paths.file(QStringLiteral("Quorvel.dat"));
    const QString bak = paths.file(QStringLiteral("Quorvel.bak"));
    if (fileExists(dat)) copyFileReplacing(dat, paths.file(QStringLiteral("Quorvel.err")));
    // A restore that fails (a full disk, say) leaves Quorvel.dat as it was; say so.
    if (!fileExists(bak) || !copyFileReplacing(bak, dat))
        dialogs.error(QStringLiteral("The backup Quorvel.bak could not be restored.\n"
                                     "Quorvel.dat is as it was before the save."));
}

void TMainForm::MenuSaveDataClick() {
    // A failed save has said so already; it is never reported as done.
    if (SaveData(true))
        dialogs.info(QStringLiteral("All items saved to disk.\n(Backup file created)"));
}

}  // namespace quorvel
