// Which folders the program uses, decided once at start-up from where the program file
// is.  A copy in a folder its user can write (a build folder, an unpacked archive, a USB
// stick) keeps everything beside itself.  An installed copy keeps each user's files in
// the per-user data folder and finds its own files where the install put them.
#pragma once

#include <functional>
#include <string>

namespace quorvel {

// Where an install puts the program's parts, relative to its prefix.
struct InstallDirs {
    std::string bin = "bin";
    std::string library = "lib/quorvel";   // the banner library
    std::string shared = "share/quorvel";  // the help page, a distributor's brand.ini
};

// What the rule needs to know about the machine; the real answers come from the file
// system and the environment, tests give their own.
struct FolderFacts {
    std::function<bool(const std::string&)> writable;     // by this user
    std::function<bool(const std::string&)> isDirectory;
    std::string xdgDataHome;  // $XDG_DATA_HOME as set, possibly empty or relative
    std::string home;         // the user's home folder
};

struct ProgramFolders {
    std::string data;      // the user's files: data file, settings, variables, downloads
    std::string shared;    // the help page and the fallback brand.ini
    std::string library;   // the banner library
    bool installed = false;  // laid out by an install (bin/ beside lib/ and share/)
    bool perUser = false;    // data is the per-user data folder, not the program's own
};

// The rule.  The copy counts as installed when its folder is the prefix's bin folder and
// the prefix holds the program's shared folder; then, or when the user cannot write the
// program's folder, the data folder is $XDG_DATA_HOME/quorvel (a relative value is
// ignored, as the XDG rules say; default ~/.local/share/quorvel).
ProgramFolders chooseProgramFolders(const std::string& programFolder, const FolderFacts& facts,
                                    const InstallDirs& dirs = {});

// Makes `path` and any missing parent, each new one with mode 0700 (folders that exist
// keep theirs).  Empty on success, else what went wrong, for the user.
std::string makePrivateFolder(const std::string& path);

}  // namespace quorvel
