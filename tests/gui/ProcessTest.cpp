// The real program as a process: one copy per user, and the signals that close it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "app/SingleInstance.h"
#include "model/MainDataFile.h"
#include "platform/FileIO.h"

using namespace quorvel;

namespace {

// A copy of the program in a folder of its own, since it keeps its files beside itself.
struct ProgramCopy {
    QTemporaryDir dir;
    QTemporaryDir runtime;
    QProcess proc;
    ProgramCopy() {
        QFile::copy(QStringLiteral(QUORVEL_BINARY_DIR "/quorvel"), dir.filePath("quorvel"));
        QFile::setPermissions(dir.filePath("quorvel"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeWholeFile(dir.filePath("Quorvel.ini"), "[Options]\r\nTipOfTheDay=0\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.remove("DISPLAY");
        proc.setProcessEnvironment(env);
    }
    ~ProgramCopy() {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }
    void start() {
        proc.start(dir.filePath("quorvel"), {});
        ASSERT_TRUE(proc.waitForStarted(5000));
    }
    // The program is up once it holds its lock; /proc/locks shows it without taking it.
    bool waitForLock() {
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        const QByteArray pid = QByteArray::number(proc.processId());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            QFile locks(QStringLiteral("/proc/locks"));
            if (locks.open(QIODevice::ReadOnly))
                for (const QByteArray& line : locks.readAll().split('\n')) {
                    const QList<QByteArray> f = line.simplified().split(' ');
                    if (f.size() > 4 && f[1] == "FLOCK" && f[4] == pid) return true;
                }
            if (proc.state() == QProcess::NotRunning) {
                ADD_FAILURE() << "program ended: " << proc.readAllStandardError().toStdString();
                return false;
            }
            QThread::msleep(50);
        }
        return false;
    }
    // The window exists once the program catches SIGTERM (it installs the handler then).
    bool waitForWindow() {
        const QString status = QStringLiteral("/proc/%1/status").arg(proc.processId());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            QFile f(status);
            if (f.open(QIODevice::ReadOnly))
                for (const QByteArray& line : f.readAll().split('\n'))
                    if (line.startsWith("SigCgt:") &&
                        (line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1))))
                        return true;
            QThread::msleep(50);
        }
        return false;
    }
};

}  // namespace

TEST(Process, SecondCopyRefusedWhileTheFirstRunsAllowedAfterItWasKilled) {
    ProgramCopy p;
    p.start();
    ASSERT_TRUE(p.waitForLock());
    SingleInstance second;
    EXPECT_EQ(second.acquire(), SingleInstance::Result::AlreadyRunning);
    ::kill(static_cast<pid_t>(p.proc.processId()), SIGKILL);
    ASSERT_TRUE(p.proc.waitForFinished(5000));
    SingleInstance after;
    EXPECT_EQ(after.acquire(), SingleInstance::Result::Acquired);
}

TEST(Process, SigtermWritesTheDataBackByteForByte) {
    ProgramCopy p;
    const std::string sep = kItemSeparator + "\r\n";
    const std::string file = "NumGroups: 1\r\nGroupName1=Cars\r\nGroupNumber1=4\r\nNumber of items: 1\r\n" +
                             sep + "Item: 1\r\nName: Shop\r\nGroup: ,4,\r\nSite: http://shop\r\n"
                             "Keys: abc{tab}{email}\r\nLast1: 46000.25\r\nFreq: 5,3\r\nline1\r\nline2\r\n" +
                             sep;
    writeWholeFile(p.dir.filePath("Quorvel.dat"), file);
    p.start();
    ASSERT_TRUE(p.waitForWindow());
    struct stat before {};
    ::stat(p.dir.filePath("Quorvel.dat").toLocal8Bit().constData(), &before);
    ::kill(static_cast<pid_t>(p.proc.processId()), SIGTERM);
    ASSERT_TRUE(p.proc.waitForFinished(10000));
    EXPECT_EQ(readWholeFile(p.dir.filePath("Quorvel.dat")), file);
    // Written anew (a new file replaced the old one), not merely left alone.
    struct stat after {};
    ::stat(p.dir.filePath("Quorvel.dat").toLocal8Bit().constData(), &after);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_TRUE(QFile::exists(p.dir.filePath("Quorvel.ini")));
}

TEST(Process, SigtermWhileAStartupBoxIsOpenStillSaves) {
    ProgramCopy p;
    const std::string sep = kItemSeparator + "\r\n";
    const std::string file = "NumGroups: 0\r\nNumber of items: 2\r\n" + sep +
                             "Item: 1\r\nName: Bad\r\nGroup: \r\nSite: \r\nKeys: \r\n"
                             "Last1: nonsense\r\nFreq: 5,0\r\n\r\n" + sep +
                             "Item: 2\r\nName: Good\r\nGroup: \r\nSite: \r\nKeys: \r\n"
                             "Last1: 46000.5\r\nFreq: 5,0\r\n\r\n" + sep;
    writeWholeFile(p.dir.filePath("Quorvel.dat"), file);
    p.start();
    ASSERT_TRUE(p.waitForWindow());
    QThread::msleep(300);  // the error box about the bad Item is up by now
    ::kill(static_cast<pid_t>(p.proc.processId()), SIGTERM);
    ASSERT_TRUE(p.proc.waitForFinished(10000));
    EXPECT_EQ(readWholeFile(p.dir.filePath("Quorvel.damaged")), file);
    const std::string saved = readWholeFile(p.dir.filePath("Quorvel.dat"));
    EXPECT_NE(saved.find("Name: Good"), std::string::npos);
    EXPECT_EQ(saved.find("Name: Bad"), std::string::npos);
}
