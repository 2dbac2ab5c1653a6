#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>

namespace quorvel {

QString SingleInstance::lockPath() {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        return QStringLiteral("/tmp/QuorvelSemaphore-%1.lock").arg(getuid());
    return dir + QStringLiteral("/QuorvelSemaphore.lock");
}

SingleInstance::Result SingleInstance::acquire() {
    const QByteArray path = lockPath().toLocal8Bit();
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // Without a lock file the program carries on as a single copy.
    if (fd_ < 0) return Result::Unavailable;
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Acquired;
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    return err == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unavailable;
}

SingleInstance::~SingleInstance() { release(); }

void SingleInstance::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace quorvel
