#include "DesktopUser.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "DesktopProcess.h"

namespace quorvel::test {

namespace {

bool lookUp(const char* name, uid_t& uid, gid_t& gid, std::string& home) {
    passwd* pw = getpwnam(name);
    if (!pw) return false;
    uid = pw->pw_uid;
    gid = pw->pw_gid;
    home = pw->pw_dir;
    return true;
}

}  // namespace

const DesktopUser& DesktopUser::get() {
    static const DesktopUser user;
    return user;
}

DesktopUser::DesktopUser() {
    if (geteuid() != 0) {
        passwd* pw = getpwuid(geteuid());
        uid_ = geteuid();
        gid_ = getegid();
        name_ = pw ? pw->pw_name : std::to_string(uid_);
        home_ = pw ? pw->pw_dir : "/tmp";
        return;
    }
    switches_ = true;
    name_ = kAccountName;
    if (!lookUp(kAccountName, uid_, gid_, home_)) {
        std::string out;
        SpawnOptions o;
        o.argv = {"useradd", "-m", "-s", "/bin/bash", "-c", "Quorvel desktop tests", kAccountName};
        const int rc = runProcess(o, &out);
        // A parallel test process may have made it meanwhile.
        if (!lookUp(kAccountName, uid_, gid_, home_)) {
            error_ = "cannot create the account " + name_ + " (useradd exit " +
                     std::to_string(rc) + "): " + out;
            return;
        }
    }
    if (uid_ == 0) error_ = "the account " + name_ + " is privileged";
}

std::vector<std::string> DesktopUser::command(const std::vector<std::string>& argv,
                                              const Environment& env) const {
    std::vector<std::string> out;
    if (switches_) {
        out = {"setpriv",
               "--reuid=" + std::to_string(uid_),
               "--regid=" + std::to_string(gid_),
               "--init-groups",
               // Set after the switch, so it holds for the program itself.
               "--pdeathsig=KILL",
               "--"};
    }
    out.push_back("env");
    out.push_back("-i");
    for (const auto& [k, v] : env) out.push_back(k + "=" + v);
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

std::string DesktopUser::makeTempDir(const std::string& prefix) const {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data())) return {};
    if (chmod(pattern.c_str(), 0700) != 0 || chown(pattern.c_str(), uid_, gid_) != 0) {
        std::filesystem::remove_all(pattern);
        return {};
    }
    return pattern;
}

bool DesktopUser::chownToUser(const std::string& path) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    bool ok = lchown(path.c_str(), uid_, gid_) == 0;
    if (fs::is_directory(fs::symlink_status(path, ec))) {
        for (auto it = fs::recursive_directory_iterator(path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            ok = lchown(it->path().c_str(), uid_, gid_) == 0 && ok;
    }
    return ok && !ec;
}

std::string DesktopUser::copyForUser(const std::string& file, const std::string& folder,
                                     const std::string& name) const {
    namespace fs = std::filesystem;
    const fs::path to = fs::path(folder) / (name.empty() ? fs::path(file).filename().string() : name);
    std::error_code ec;
    fs::copy_file(file, to, fs::copy_options::overwrite_existing, ec);
    if (ec || !chownToUser(to.string())) return {};
    return to.string();
}

}  // namespace quorvel::test
