#include "platform/ProgramPaths.h"

#include <QDir>
#include <QFileInfo>

namespace quorvel {

QString ProgramPaths::withExtension(const QString& ext) const {
    const QFileInfo info(programFile);
    const QString name = info.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    return folder + QLatin1Char('/') + base + ext;
}

ProgramPaths ProgramPaths::ofRunningProgram() {
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return {QFileInfo(exe).absolutePath(), exe};
}

ProgramPaths ProgramPaths::inFolder(const QString& folder, const QString& name) {
    const QString f = QDir(folder).absolutePath();
    return {f, f + QLatin1Char('/') + name};
}

}  // namespace quorvel
