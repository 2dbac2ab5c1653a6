#include "AsUser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "DesktopProcess.h"
#include "DesktopUser.h"

namespace quorvel::test {

namespace {

constexpr const char* kBuildDirVariable = "QUORVEL_TEST_BUILD_DIR";

}  // namespace

QString buildFile(const char* name) {
    const char* copy = std::getenv(kBuildDirVariable);
    const QString dir = copy && *copy ? QString::fromLocal8Bit(copy) : QStringLiteral(QUORVEL_BINARY_DIR);
    return dir + QLatin1Char('/') + QLatin1String(name);
}

bool rerunAsUnprivilegedUser() {
    if (geteuid() != 0) return false;
    namespace fs = std::filesystem;
    const DesktopUser& user = DesktopUser::get();
    EXPECT_TRUE(user.ok()) << user.error();
    if (!user.ok()) return true;

    // The build may lie where the account cannot reach (under /root, say): it runs a copy
    // of this program, with the build files the tests load beside it.
    const std::string folder = user.makeTempDir("quorvel-as-user");
    EXPECT_FALSE(folder.empty()) << "no folder for the test account";
    if (folder.empty()) return true;
    std::error_code ec;
    const std::string program = user.copyForUser(
        "/proc/self/exe", folder, fs::read_symlink("/proc/self/exe").filename().string());
    const fs::path advert = fs::path(QUORVEL_BINARY_DIR) / "advert.so";
    const bool copied =
        !program.empty() && (!fs::exists(advert) || !user.copyForUser(advert.string(), folder).empty());
    EXPECT_TRUE(copied) << "cannot copy the test program for " << user.name();
    if (!copied) {
        fs::remove_all(folder, ec);
        return true;
    }

    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    Environment env{{"HOME", user.home()},
                    {"USER", user.name()},
                    {"LOGNAME", user.name()},
                    {"PATH", "/usr/local/bin:/usr/bin:/bin"},
                    {"LANG", "C.UTF-8"},
                    {"TMPDIR", folder},
                    {"QT_QPA_PLATFORM", "offscreen"},
                    {kBuildDirVariable, folder}};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* v = std::getenv(name)) env[name] = v;
    SpawnOptions options;
    options.argv = user.command(
        {program, std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()},
        env);
    std::string output;
    const int rc = runProcess(options, &output, std::chrono::minutes(2));
    EXPECT_EQ(rc, 0) << "as " << user.name() << ":\n" << output;
    // The body must really have run there, not skipped.
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    fs::remove_all(folder, ec);
    return true;
}

}  // namespace quorvel::test
