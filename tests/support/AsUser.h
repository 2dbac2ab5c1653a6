// Tests that need a user's file permissions (a folder that cannot be written, a file that
// cannot be read) mean nothing as root, who may do anything; CI runs as root.  Such a
// test starts with
//     if (rerunAsUnprivilegedUser()) return;
// As root this runs the same test again in a new process of the test program as the
// unprivileged test account (see DesktopUser.h), checks that it passed, and tells the
// caller to return; under any other account the test body runs here.
#pragma once

#include <QString>

namespace quorvel::test {

bool rerunAsUnprivilegedUser();

// A file of the build (advert.so, say).  A test program run as the test account from a
// copy finds the build's files in the copy's folder.
QString buildFile(const char* name);

}  // namespace quorvel::test
