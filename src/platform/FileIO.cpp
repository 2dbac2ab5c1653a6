#include "platform/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>

#include "model/Errors.h"

namespace quorvel {

namespace {

int errorCode(int fallback) { return errno != 0 ? errno : fallback; }

// ".Quorvel.dat.saving-k3Xq9Z": hidden, named after its target, easy to recognise.
const QString kTempInfix = QStringLiteral(".saving-");
constexpr int kTempSuffixLength = 6;
// The longest file name the file systems take; a temporary name must fit as well.
constexpr int kNameMax = 255;

QString randomSuffix() {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString s;
    for (int i = 0; i < kTempSuffixLength; ++i)
        s += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars) - 1)]);
    return s;
}

// A symbolic link keeps pointing where it did: the file it names is replaced.
QString resolvedTarget(const QString& path) {
    const QFileInfo info(path);
    if (!info.isSymLink()) return path;
    const QString to = info.symLinkTarget();
    return to.isEmpty() ? path : to;
}

void syncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // the rename stands; nothing more can be done for it
    errno = 0;
    const int rc = ::fsync(fd);
    const int code = errno;
    ::close(fd);
    // Some file systems cannot sync a folder at all; that is no failed write.
    if (rc != 0 && code != EINVAL && code != ENOTSUP && code != EROFS) throw InOutError(code);
}

}  // namespace

AtomicFile::AtomicFile(const QString& target) : target_(resolvedTarget(target)) {
    const QFileInfo info(target_);
    const QString folder = info.absolutePath();
    struct stat old {};
    const bool hadTarget = ::stat(QFile::encodeName(target_).constData(), &old) == 0;
    // Nothing could ever take the place of a folder; say so before anything is written.
    if (hadTarget && S_ISDIR(old.st_mode)) throw InOutError(EISDIR);
    // A long name is cut so that ".", the name, the infix and the suffix stay one name.
    QString stem = info.fileName();
    const int room = kNameMax - 1 - int(kTempInfix.size()) - kTempSuffixLength;
    while (QFile::encodeName(stem).size() > room) stem.chop(1);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temp_ = folder + QLatin1String("/.") + stem + kTempInfix + randomSuffix();
        errno = 0;
        fd_ = ::open(QFile::encodeName(temp_).constData(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) throw InOutError(errorCode(5));
    }
    if (fd_ < 0) throw InOutError(EEXIST);
    // The new file keeps the permissions the user gave the old one.
    if (hadTarget && S_ISREG(old.st_mode)) (void)::fchmod(fd_, old.st_mode & 07777);
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::write(const char* data, std::size_t size) {
    if (fd_ < 0) throw InOutError(EBADF);
    while (size > 0) {
        errno = 0;
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int code = errorCode(EIO);
            discard();
            throw InOutError(code);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void AtomicFile::commit() {
    if (fd_ < 0) throw InOutError(EBADF);
    errno = 0;
    if (::fsync(fd_) != 0) {
        const int code = errorCode(EIO);
        discard();
        throw InOutError(code);
    }
    const int fd = fd_;
    fd_ = -1;
    errno = 0;
    if (::close(fd) != 0) {
        const int code = errorCode(EIO);
        ::unlink(QFile::encodeName(temp_).constData());
        throw InOutError(code);
    }
    errno = 0;
    if (::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(target_).constData()) != 0) {
        const int code = errorCode(EIO);
        ::unlink(QFile::encodeName(temp_).constData());
        throw InOutError(code);
    }
    syncFolder(QFileInfo(target_).absolutePath());
}

void AtomicFile::discard() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(QFile::encodeName(temp_).constData());
}

bool isSaveTempName(const QString& fileName) {
    static const QRegularExpression kPattern(QStringLiteral("^\\..+\\.saving-[A-Za-z0-9]{6}$"));
    return kPattern.match(fileName).hasMatch();
}

int removeStaleSaveFiles(const QString& folder) {
    const QDir dir(folder);
    int removed = 0;
    for (const QString& name :
         dir.entryList({QStringLiteral(".*.saving-*")}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (isSaveTempName(name) && QFile::remove(dir.filePath(name))) ++removed;
    }
    return removed;
}

std::string readWholeFile(const QString& path) {
    QFile f(path);
    errno = 0;
    if (!f.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) throw InOutError(2);
        throw InOutError(errorCode(5));
    }
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) throw InOutError(errorCode(5));
    return data.toStdString();
}

void writeWholeFile(const QString& path, const std::string& bytes) {
    AtomicFile f(path);
    f.write(bytes.data(), bytes.size());
    f.commit();
}

bool copyFileReplacing(const QString& from, const QString& to) {
    try {
        writeWholeFile(to, readWholeFile(from));
        return true;
    } catch (const InOutError&) {
        return false;
    }
}

bool fileExists(const QString& path) { return QFileInfo(path).isFile(); }

}  // namespace quorvel
