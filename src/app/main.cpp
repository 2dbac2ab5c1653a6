// Program entry: one copy per user, the application title, the main window, the message
// loop; the shutdown saves run when the main window is destroyed.
#include <QIcon>
#include <memory>

#include "BuildConfig.h"
#include "app/ShutdownSignals.h"
#include "app/SingleInstance.h"
#include "mainwindow/TMainForm.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/ProgramPaths.h"
#include "platform/QtPlatformChoice.h"
#include "platform/SystemFormats.h"
#include "platform/TypingBackends.h"
#include "platform/linux/DesktopShell.h"
#include "platform/linux/ProcessBrowserConversation.h"

using namespace quorvel;

int main(int argc, char** argv) {
    Q_INIT_RESOURCE(resources);  // the images live in a static library
    chooseQtPlatform();

    SingleInstance instance;
    const SingleInstance::Result lock = instance.acquire();

    Application app(argc, argv);
    Application::setTitle(QStringLiteral("Quorvell"));
    // The program's own name, by which a task bar groups its windows: the window class and
    // the desktop entry.
    Application::setApplicationName(QStringLiteral("Quorvell"));
    Application::setDesktopFileName(QStringLiteral("quorvel"));
    Application::setWindowIcon(QIcon(QStringLiteral(":/icons/quorvel.png")));
    QtDialogs dialogs;
    Application::setErrorReporter(&dialogs);

    if (lock == SingleInstance::Result::AlreadyRunning) {
        dialogs.showMessage(QStringLiteral("Another copy of Quorvel is already running."));
        return 0;
    }

    SystemClock clock;
    FormatSettings formats = systemFormatSettings();
    MainFormSeams seams;
    seams.dialogs = &dialogs;
    seams.clock = &clock;
    seams.formats = &formats;
    seams.paths = ProgramPaths::ofRunningProgram();
    // Nothing the user did could be saved: say so before anything is done.
    if (!seams.paths.problem.isEmpty()) {
        dialogs.error(QStringLiteral("Quorvel cannot keep your files in ") + seams.paths.folder +
                      QStringLiteral(".\n") + seams.paths.problem +
                      QStringLiteral("\nPlease check that folder and start Quorvel again."));
        return 1;
    }
    TypingBackends typing = makeTypingBackends(seams.paths.folder);
    seams.keyboard = typing.keyboard.get();
    seams.activeWindow = typing.activeWindow.get();
    seams.typingMissing = typing.missing;
    DesktopShell shell;
    ProcessBrowserConversation browser;
    seams.shell = &shell;
    seams.browser = &browser;
    seams.downloadHost = QString::fromLatin1(build::kServerAddress);
    seams.downloadPort = static_cast<quint16>(build::kServerPort);

    ShutdownSignals shutdownSignals;
    auto form = std::make_unique<TMainForm>(seams);
    shutdownSignals.setMainWindow(form.get());
    form->show();
    const int rc = Application::exec();
    form->FormDestroy();
    form.reset();
    // Everything is saved; what may still run is an address on its way to a browser that
    // is starting (up to its time limit), which must not keep the user from starting again.
    instance.release();
    return rc;
}
