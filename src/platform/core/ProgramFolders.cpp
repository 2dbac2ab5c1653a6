#include "platform/core/ProgramFolders.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace quorvel {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

ProgramFolders chooseProgramFolders(const std::string& programFolder, const FolderFacts& facts,
                                    const InstallDirs& dirs) {
    const std::string folder = withoutTrailingSlashes(programFolder);
    ProgramFolders out{folder, folder, folder, false, false};

    const std::string binEnding = "/" + dirs.bin;
    if (endsWith(folder, binEnding)) {
        const std::string prefix = folder.substr(0, folder.size() - binEnding.size());
        const std::string shared = prefix + "/" + dirs.shared;
        if (facts.isDirectory && facts.isDirectory(shared)) {
            out.installed = true;
            out.shared = shared;
            out.library = prefix + "/" + dirs.library;
        }
    }
    out.perUser = out.installed || !(facts.writable && facts.writable(folder));
    if (out.perUser) {
        std::string dataHome = withoutTrailingSlashes(facts.xdgDataHome);
        if (dataHome.empty() || dataHome.front() != '/')
            dataHome = withoutTrailingSlashes(facts.home) + "/.local/share";
        out.data = dataHome + "/quorvel";
    }
    return out;
}

std::string makePrivateFolder(const std::string& path) {
    const std::string target = withoutTrailingSlashes(path);
    if (target.empty() || target.front() != '/') return "The folder " + path + " is not a full path.";
    for (std::size_t end = 1; end <= target.size(); ++end) {
        if (end != target.size() && target[end] != '/') continue;
        const std::string part = target.substr(0, end);
        struct stat st {};
        if (stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return part + " is not a folder.";
            continue;
        }
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return "The folder " + part + " cannot be created: " + std::strerror(errno) + ".";
    }
    return {};
}

}  // namespace quorvel
