// The reliability tests own a mount namespace, made before any thread starts, so that
// they can mount small file systems that vanish with the process.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "Reliability.h"

namespace quorvel::test {
std::string mountUnavailable = "not set up";
}

namespace {

bool writeProc(const char* file, const std::string& text) {
    std::ofstream f(file);
    f << text;
    return static_cast<bool>(f.flush());
}

void privateMounts() {
    using quorvel::test::mountUnavailable;
    if (::unshare(CLONE_NEWNS) != 0) {
        // Without the right to mount, a user namespace lends it inside the namespace.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            mountUnavailable = std::string("no mount namespace could be made: ") + std::strerror(errno);
            return;
        }
        writeProc("/proc/self/setgroups", "deny");
        if (!writeProc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeProc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            mountUnavailable = "the user namespace could not be mapped";
            return;
        }
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        mountUnavailable = std::string("mounts could not be made private: ") + std::strerror(errno);
        return;
    }
    mountUnavailable.clear();
}

}  // namespace

int main(int argc, char** argv) {
    privateMounts();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
