// Where the program's files live.  The data folder holds every file the program writes
// and the user's files it reads (the data file and its backups, settings, variables,
// download list and downloads); the program's own files (help page, banner library) lie
// where the copy was put or installed.  Chosen once at start-up (see ProgramFolders.h).
#pragma once

#include <QString>

namespace quorvel {

struct ProgramPaths {
    QString folder;          // the data folder, without a trailing slash
    QString programFile;     // full path of the program file
    QString sharedFolder;    // the help page, a distributor's brand.ini
    QString libraryFolder;   // the banner library
    bool perUser = false;    // the data folder is the user's, not the program's own folder
    QString problem;         // why the data folder could not be made, empty when it is there

    QString file(const QString& name) const { return folder + QLatin1Char('/') + name; }
    // A file in the data folder named after the program file, its extension replaced (or
    // added), such as ".var".
    QString withExtension(const QString& ext) const;
    QString helpPage() const;
    QString advertLibrary() const { return libraryFolder + QStringLiteral("/advert.so"); }
    // brand.ini from the data folder, else from the shared folder.
    QString brandFile() const;

    // From /proc/self/exe, with the per-user data folder made when the rule picks it.
    static ProgramPaths ofRunningProgram();
    // A program file named `name` inside `folder`, keeping everything there (tests).
    static ProgramPaths inFolder(const QString& folder, const QString& name = "quorvel");
};

}  // namespace quorvel
