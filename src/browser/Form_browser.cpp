// Opening sites in the browser, choosing the browser, the start-up browser check and help.
#include "browser/Form_browser.h"

#include <QFile>
#include <QFileInfo>

#include "browser/core/BrowserRules.h"
#include "mainwindow/TMainForm.h"
#include "platform/BrowserConversation.h"
#include "platform/Dialogs.h"
#include "platform/FileIO.h"
#include "platform/Shell.h"

namespace quorvel {

namespace {

bool hasSiteToOpen(const TMainForm& f) {
    return f.Entries->itemIndex() >= 0 && !f.Url->text().isEmpty();
}

}  // namespace

void gotoButClick(TMainForm& f) {
    if (hasSiteToOpen(f)) f.GotoUrl(f.Url->text(), false);
    f.focusEntries();
}

void TMainForm::GotoButMouseDown(Qt::MouseButton button) {
    // The press alone opens the site: the button's click does not follow it.
    if (hasSiteToOpen(*this)) {
        if (button == Qt::LeftButton) GotoUrl(Url->text(), false);
        else if (button == Qt::RightButton) GotoUrl(Url->text(), true);
    }
    focusEntries();
}

void TMainForm::GotoUrl(const QString& url, bool newWindow) {
    const QString setting = Browser->text();
    if (setting.isEmpty()) {
        // The default handler chooses its own window; its result tells nothing useful.
        if (seams.shell) seams.shell->open(url);
        return;
    }
    if (!seams.browser) return;
    BrowserConversation& browser = *seams.browser;
    const QString service = QString::fromStdString(browserServiceName(setting.toStdString()));
    // A browser that does not answer is started once per topic, then asked again.
    bool cannotStart = false;
    auto connectTo = [&](const char* topic) {
        const QString t = QLatin1String(topic);
        if (browser.Connect(service, t, setting)) return true;
        if (!seams.shell) return false;
        if (!seams.shell->startProgram(setting, true)) {
            cannotStart = true;
            return false;
        }
        return browser.Connect(service, t, setting);
    };
    if (connectTo(kActivateTopic))
        browser.Request(QLatin1String(kActivateItem), kBrowserRequestTimeoutMs);
    browser.Disconnect();
    if (connectTo(kOpenUrlTopic))
        browser.Request(QString::fromStdString(openUrlItem(url.toStdString(), newWindow)),
                        kBrowserRequestTimeoutMs);
    browser.Disconnect();
    // Otherwise a setting that names no program would make Goto do nothing, silently.
    if (cannotStart)
        dialogs.warning(QStringLiteral("The browser program %1 cannot be started. Please check "
                                       "the Browser setting on the Options tab.")
                            .arg(setting));
}

void TMainForm::FindButtonClick() {
    FileDialogRequest choice;
    choice.title = QStringLiteral("Find your Browser");
    // Programs here carry no extension: the filter offers what may be run.
    choice.filter = QStringLiteral("Executables (*)");
    choice.executablesOnly = true;
    choice.mustExist = true;
    const QFileInfo current(Browser->text());
    choice.directory = current.isFile() ? current.absolutePath() : QStringLiteral("/usr/bin");
    const std::optional<QString> chosen = dialogs.openFile(choice);
    if (!chosen) return;
    const QFileInfo file(*chosen);
    // Kept as chosen, not resolved: /usr/bin/firefox tells more than where it links to.
    if (file.isFile() && file.isExecutable()) Browser->setText(file.absoluteFilePath());
}

void TMainForm::BrowserCheck() {
    if (!seams.shell) return;
    const QString testFile = paths.file(QStringLiteral("~~test.html"));
    struct Remove {
        QString path;
        ~Remove() { QFile::remove(path); }
    } removeAfterwards{testFile};
    writeWholeFile(testFile, {});
    if (seams.shell->findHandler(testFile).isEmpty())
        dialogs.info(QStringLiteral(
            "There is no browser configured to handle web pages.\n"
            "The Goto button will not function properly.\n"
            "Please go to the Options tab and select a browser."));
}

void TMainForm::HelpButClick() {
    const QString page = paths.helpPage();
    // xdg-open runs detached, so what can be known is whether the page is there and the
    // opener started.
    if (seams.shell && !(QFileInfo(page).isFile() && seams.shell->open(page)))
        dialogs.error(QStringLiteral("Unable to open the Quorvel help file."));
    focusEntries();
}

}  // namespace quorvel
