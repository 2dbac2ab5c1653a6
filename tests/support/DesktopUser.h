// The account that desktop tests run browsers, window managers and the program under.
//
// Under root the tests use a dedicated unprivileged account, quorvel-e2e, made on first
// use: a browser must not run as root, and the program must meet the file permissions a
// user has.  Under any other account the caller itself is the user.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace quorvel::test {

// Variables handed to a program, exactly these and no others.
using Environment = std::map<std::string, std::string>;

class DesktopUser {
public:
    static constexpr const char* kAccountName = "quorvel-e2e";

    // The one user of this test process; the account is made (useradd -m) when missing.
    static const DesktopUser& get();

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }
    const std::string& home() const { return home_; }
    // True when the tests run as root and so switch to the account.
    bool switches() const { return switches_; }

    // The argv that runs `argv` as the user with exactly `env`:
    //   setpriv --reuid=U --regid=G --init-groups --pdeathsig=KILL -- env -i K=V... argv
    // or, when the caller is the user, just `env -i K=V... argv`.  Both exec in place,
    // so the pid that starts it is the program's own, and signals and the exit status are
    // the program's, not those of a go-between such as runuser.
    std::vector<std::string> command(const std::vector<std::string>& argv,
                                     const Environment& env) const;

    // A new folder under /tmp owned by the user, mode 0700; empty on failure.
    std::string makeTempDir(const std::string& prefix) const;
    // Gives a file or a whole tree to the user; false when some entry could not be changed.
    bool chownToUser(const std::string& path) const;
    // The checkout and the build may lie where the account cannot read them (under /root,
    // say), so what it runs of them is copied into a folder of its own first: copies
    // `file` with its mode into `folder` (as `name`, else under its own name), gives the
    // copy to the user and returns its path; empty on failure.
    std::string copyForUser(const std::string& file, const std::string& folder,
                            const std::string& name = {}) const;

private:
    DesktopUser();
    std::string name_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::string home_;
    bool switches_ = false;
    std::string error_;
};

}  // namespace quorvel::test
