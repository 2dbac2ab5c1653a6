// Where the program's files live: the folder of the program file.
#pragma once

#include <QString>

namespace quorvel {

struct ProgramPaths {
    QString folder;       // without a trailing slash
    QString programFile;  // full path of the program file

    QString file(const QString& name) const { return folder + QLatin1Char('/') + name; }
    // The program file's path with its extension replaced (or added), such as ".var".
    QString withExtension(const QString& ext) const;

    // From /proc/self/exe.
    static ProgramPaths ofRunningProgram();
    // A program file named `name` inside `folder` (tests).
    static ProgramPaths inFolder(const QString& folder, const QString& name = "quorvel");
};

}  // namespace quorvel
