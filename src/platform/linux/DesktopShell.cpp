#include "platform/linux/DesktopShell.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>

#include "platform/core/XdgMimeApps.h"

namespace quorvel {

QStringList programCommand(const QString& commandLine) {
    if (commandLine.trimmed().isEmpty()) return {};
    if (QFileInfo(commandLine).isFile()) return {commandLine};
    return QProcess::splitCommand(commandLine);
}

bool DesktopShell::open(const QString& target) {
    // xdg-open would read a leading "-" as an option of its own.
    if (target.isEmpty() || target.startsWith(QLatin1Char('-'))) return false;
    // Detached: in a bare session xdg-open waits for the program it starts.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}

namespace {

// By name, as the file to test is empty.  Web pages are known without the shared MIME
// database, which a session with unusual XDG_DATA_DIRS may not reach.
QString mimeTypeOf(const QString& filePath) {
    const QString suffix = QFileInfo(filePath).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
        return QStringLiteral("text/html");
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(filePath, QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.name() : QString();
}

}  // namespace

QString DesktopShell::findHandler(const QString& filePath) {
    const QString type = mimeTypeOf(filePath);
    if (type.isEmpty()) return {};
    // Read in-process: no helper to be installed, and the same answer whichever desktop
    // (or none) this session runs under.
    const XdgDirs dirs = XdgDirs::fromEnvironment(
        [](const char* name) { return qEnvironmentVariable(name).toStdString(); });
    const std::string entry = defaultApplicationFor(dirs, type.toStdString());
    if (!entry.empty()) return QString::fromStdString(entry);
    // xdg-open still opens pages without one, through the browsers it falls back to.
    if (type != QLatin1String("text/html")) return {};
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") ||
                         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return QString::fromStdString(
        fallbackBrowser(qEnvironmentVariable("BROWSER").toStdString(), display, dirs.path));
}

bool DesktopShell::startProgram(const QString& commandLine, bool minimisedNoActivate) {
    Q_UNUSED(minimisedNoActivate);
    QStringList command = programCommand(commandLine);
    if (command.isEmpty()) return false;
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command);
}

}  // namespace quorvel
