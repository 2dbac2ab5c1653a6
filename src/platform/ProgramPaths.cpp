#include "platform/ProgramPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "BuildConfig.h"
#include "platform/core/ProgramFolders.h"

namespace quorvel {

namespace {

QString baseName(const QString& programFile) {
    const QString name = QFileInfo(programFile).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

std::string homeFolder() {
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty()) return home.toStdString();
    const passwd* pw = getpwuid(getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "/";
}

}  // namespace

QString ProgramPaths::withExtension(const QString& ext) const {
    return folder + QLatin1Char('/') + baseName(programFile) + ext;
}

QString ProgramPaths::helpPage() const {
    return sharedFolder + QLatin1Char('/') + baseName(programFile) + QStringLiteral(".html");
}

QString ProgramPaths::brandFile() const {
    const QString own = file(QStringLiteral("brand.ini"));
    if (QFileInfo::exists(own) || sharedFolder == folder) return own;
    return sharedFolder + QStringLiteral("/brand.ini");
}

ProgramPaths ProgramPaths::ofRunningProgram() {
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    FolderFacts facts;
    // access() answers for this user and the folder's mount (read-only media included).
    facts.writable = [](const std::string& p) { return access(p.c_str(), W_OK | X_OK) == 0; };
    facts.isDirectory = [](const std::string& p) { return QFileInfo(QString::fromStdString(p)).isDir(); };
    facts.xdgDataHome = qgetenv("XDG_DATA_HOME").toStdString();
    facts.home = homeFolder();
    InstallDirs dirs;
    dirs.bin = build::kInstallBinDir;
    dirs.library = build::kInstallLibraryDir;
    dirs.shared = build::kInstallSharedDir;
    const ProgramFolders chosen =
        chooseProgramFolders(QFileInfo(exe).absolutePath().toStdString(), facts, dirs);

    ProgramPaths paths;
    paths.programFile = exe;
    paths.folder = QString::fromStdString(chosen.data);
    paths.sharedFolder = QString::fromStdString(chosen.shared);
    paths.libraryFolder = QString::fromStdString(chosen.library);
    paths.perUser = chosen.perUser;
    if (chosen.perUser) paths.problem = QString::fromStdString(makePrivateFolder(chosen.data));
    return paths;
}

ProgramPaths ProgramPaths::inFolder(const QString& folder, const QString& name) {
    const QString f = QDir(folder).absolutePath();
    ProgramPaths paths;
    paths.folder = f;
    paths.programFile = f + QLatin1Char('/') + name;
    paths.sharedFolder = f;
    paths.libraryFolder = f;
    return paths;
}

}  // namespace quorvel
