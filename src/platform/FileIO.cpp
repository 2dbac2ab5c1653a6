#include "platform/FileIO.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

#include "model/Errors.h"

namespace quorvel {

namespace {
int errorCode(int fallback) { return errno != 0 ? errno : fallback; }
}  // namespace

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
    QSaveFile f(path);
    errno = 0;
    if (!f.open(QIODevice::WriteOnly)) throw InOutError(errorCode(5));
    if (f.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        const int code = errorCode(5);
        f.cancelWriting();
        throw InOutError(code);
    }
    if (!f.commit()) throw InOutError(errorCode(5));
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
