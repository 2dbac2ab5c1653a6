#include "platform/core/XdgMimeApps.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <unistd.h>

namespace quorvel {

namespace fs = std::filesystem;

namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) {
        part = trim(part);
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

bool isDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// The groups of one key-file, each as key=value pairs in file order.
using KeyFile = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

KeyFile readKeyFile(const std::string& path) {
    KeyFile groups;
    std::ifstream in(path);
    std::string line, group;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            group = line.substr(1, line.size() - 2);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || group.empty()) continue;
        groups[group].emplace_back(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
    }
    return groups;
}

// The ids listed for `mimeType` in one group (MIME types compare without case).
std::vector<std::string> idsFor(const KeyFile& file, const std::string& group,
                                const std::string& mimeType) {
    std::vector<std::string> ids;
    const auto g = file.find(group);
    if (g == file.end()) return ids;
    for (const auto& [key, value] : g->second)
        if (lower(key) == mimeType)
            for (auto& id : split(value, ';')) ids.push_back(id);
    return ids;
}

std::string valueOf(const KeyFile& file, const std::string& group, const std::string& key) {
    const auto g = file.find(group);
    if (g == file.end()) return {};
    for (const auto& [k, v] : g->second)
        if (k == key) return v;
    return {};
}

// The program word of an Exec line: the first word, quotes allowed.
std::string firstWord(const std::string& command) {
    if (!command.empty() && command[0] == '"') {
        const auto close = command.find('"', 1);
        return command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return command.substr(0, command.find_first_of(" \t"));
}

// A program named alone is looked for in the PATH's folders, one with a "/" as it stands.
bool canRunFrom(const std::string& program, const std::vector<std::string>& path) {
    if (program.empty()) return false;
    auto executable = [](const std::string& p) { return isFile(p) && access(p.c_str(), X_OK) == 0; };
    if (program.find('/') != std::string::npos) return executable(program);
    return std::any_of(path.begin(), path.end(),
                       [&](const std::string& d) { return executable(d + "/" + program); });
}

class Lookup {
public:
    Lookup(const XdgDirs& dirs, const std::string& mimeType)
        : mime_(lower(mimeType)), desktops_(dirs.desktops), path_(dirs.path) {
        listFolders_.push_back(dirs.configHome);
        for (const auto& d : dirs.configDirs) listFolders_.push_back(d);
        appFolders_.push_back(dirs.dataHome + "/applications");
        for (const auto& d : dirs.dataDirs) appFolders_.push_back(d + "/applications");
        for (const auto& d : appFolders_) listFolders_.push_back(d);
    }

    std::string run() {
        // The defaults chosen in the settings, in the order of precedence.
        for (const auto& folder : listFolders_)
            for (const auto& file : listsOf(folder))
                for (const auto& id : idsFor(file, "Default Applications", mime_))
                    if (installed(id)) return id;
        // Then the associations: added ones, older default lists and the cache that the
        // desktop database keeps, less those the user removed.
        std::set<std::string> removed;
        for (const auto& folder : listFolders_) {
            const std::vector<KeyFile> lists = listsOf(folder);
            for (const auto& file : lists)
                for (const auto& id : idsFor(file, "Removed Associations", mime_))
                    removed.insert(id);
            std::vector<std::string> candidates;
            for (const auto& file : lists)
                for (auto& id : idsFor(file, "Added Associations", mime_))
                    candidates.push_back(id);
            if (isAppFolder(folder)) {
                for (auto& id : idsFor(readKeyFile(folder + "/defaults.list"),
                                       "Default Applications", mime_))
                    candidates.push_back(id);
                for (auto& id : idsFor(readKeyFile(folder + "/mimeinfo.cache"), "MIME Cache",
                                       mime_))
                    candidates.push_back(id);
            }
            for (const auto& id : candidates)
                if (!removed.count(id) && installed(id)) return id;
        }
        return scanEntries(removed);
    }

private:
    bool isAppFolder(const std::string& folder) const {
        return std::find(appFolders_.begin(), appFolders_.end(), folder) != appFolders_.end();
    }

    // The desktop-specific lists first, then the common one.
    std::vector<KeyFile> listsOf(const std::string& folder) const {
        std::vector<KeyFile> lists;
        for (const auto& d : desktops_) {
            const std::string path = folder + "/" + d + "-mimeapps.list";
            if (isFile(path)) lists.push_back(readKeyFile(path));
        }
        const std::string path = folder + "/mimeapps.list";
        if (isFile(path)) lists.push_back(readKeyFile(path));
        return lists;
    }

    // An id "a-b.desktop" names applications/a-b.desktop or applications/a/b.desktop.
    static std::string locate(const std::string& folder, const std::string& rest) {
        if (isFile(folder + "/" + rest)) return folder + "/" + rest;
        for (std::size_t dash = rest.find('-'); dash != std::string::npos;
             dash = rest.find('-', dash + 1)) {
            const std::string sub = folder + "/" + rest.substr(0, dash);
            if (!isDirectory(sub)) continue;
            const std::string found = locate(sub, rest.substr(dash + 1));
            if (!found.empty()) return found;
        }
        return {};
    }

    bool installed(const std::string& id) {
        if (id.find('/') != std::string::npos || id.empty()) return false;
        const auto known = installed_.find(id);
        if (known != installed_.end()) return known->second;
        bool ok = false;
        // The first folder holding the entry decides: a hidden copy in the user's folder
        // hides the system one.
        for (const auto& folder : appFolders_) {
            const std::string path = locate(folder, id);
            if (path.empty()) continue;
            ok = runnable(readKeyFile(path));
            break;
        }
        installed_[id] = ok;
        return ok;
    }

    bool canRun(const std::string& program) const { return canRunFrom(program, path_); }

    // Not hidden, and its program is installed (a left-over entry of a removed browser
    // opens nothing).
    bool runnable(const KeyFile& entry) const {
        if (lower(valueOf(entry, "Desktop Entry", "Hidden")) == "true") return false;
        const std::string tryExec = valueOf(entry, "Desktop Entry", "TryExec");
        if (!tryExec.empty() && !canRun(tryExec)) return false;
        return canRun(firstWord(valueOf(entry, "Desktop Entry", "Exec")));
    }

    // Last resort, as xdg-mime has it: the entries that list the type themselves, the
    // highest InitialPreference first.
    std::string scanEntries(const std::set<std::string>& removed) const {
        std::set<std::string> seen;
        std::string best;
        long bestPreference = -1;
        for (const auto& folder : appFolders_) {
            std::error_code ec;
            fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                                ec);
            for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                if (it->path().extension() != ".desktop" || !it->is_regular_file(ec)) continue;
                std::string id = it->path().lexically_relative(folder).string();
                std::replace(id.begin(), id.end(), '/', '-');
                if (!seen.insert(id).second || removed.count(id)) continue;
                const KeyFile entry = readKeyFile(it->path().string());
                if (!runnable(entry)) continue;
                const auto types = split(lower(valueOf(entry, "Desktop Entry", "MimeType")), ';');
                if (std::find(types.begin(), types.end(), mime_) == types.end()) continue;
                long preference = 0;
                try {
                    preference = std::stol(valueOf(entry, "Desktop Entry", "InitialPreference"));
                } catch (const std::exception&) {
                }
                if (preference > bestPreference) {
                    bestPreference = preference;
                    best = id;
                }
            }
        }
        return best;
    }

    std::string mime_;
    std::vector<std::string> desktops_;
    std::vector<std::string> path_;
    std::vector<std::string> listFolders_;
    std::vector<std::string> appFolders_;
    std::map<std::string, bool> installed_;
};

}  // namespace

XdgDirs XdgDirs::fromEnvironment(const std::function<std::string(const char*)>& getenv) {
    const std::string home = getenv("HOME");
    auto absolute = [](std::string d) {
        while (d.size() > 1 && d.back() == '/') d.pop_back();
        return !d.empty() && d[0] == '/' ? d : std::string();
    };
    auto folder = [&](const char* name, const std::string& fallback) {
        const std::string v = absolute(getenv(name));
        return v.empty() ? fallback : v;
    };
    auto folders = [&](const char* name, std::vector<std::string> fallback) {
        std::vector<std::string> list;
        for (auto& d : split(getenv(name), ':'))
            if (!absolute(d).empty()) list.push_back(absolute(d));
        return list.empty() ? fallback : list;
    };
    XdgDirs dirs;
    dirs.configHome = folder("XDG_CONFIG_HOME", home + "/.config");
    dirs.configDirs = folders("XDG_CONFIG_DIRS", {"/etc/xdg"});
    dirs.dataHome = folder("XDG_DATA_HOME", home + "/.local/share");
    dirs.dataDirs = folders("XDG_DATA_DIRS", {"/usr/local/share", "/usr/share"});
    for (auto& d : split(getenv("XDG_CURRENT_DESKTOP"), ':')) dirs.desktops.push_back(lower(d));
    dirs.path = split(getenv("PATH"), ':');
    return dirs;
}

std::string defaultApplicationFor(const XdgDirs& dirs, const std::string& mimeType) {
    return Lookup(dirs, mimeType).run();
}

std::string fallbackBrowser(const std::string& browserVariable, bool hasDisplay,
                            const std::vector<std::string>& path) {
    std::string list = browserVariable;
    if (list.empty()) {
        list = "www-browser:links2:elinks:links:lynx:w3m";
        if (hasDisplay)
            list = "x-www-browser:firefox:iceweasel:seamonkey:mozilla:epiphany:konqueror:"
                   "chromium:chromium-browser:google-chrome:" + list;
    }
    for (const std::string& entry : split(list, ':')) {
        // An entry may carry arguments, "%s" standing for the address.
        const std::string program = firstWord(trim(entry));
        if (program != "xdg-open" && canRunFrom(program, path)) return program;
    }
    return {};
}

}  // namespace quorvel
