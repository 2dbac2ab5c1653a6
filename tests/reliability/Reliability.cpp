#include "Reliability.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include "model/MainDataFile.h"

namespace quorvel::test {

bool WorkerRun::printed(const std::string& line) const {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

std::vector<std::string> WorkerRun::boxes() const {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.rfind("box ", 0) == 0) out.push_back(l);
    return out;
}

WorkerRun runWorker(const QStringList& args, const QStringList& env, bool preload) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : env) e.insert(entry.section('=', 0, 0), entry.section('=', 1));
    if (preload) {
        e.insert("LD_PRELOAD", QStringLiteral(FAILING_IO_LIBRARY));
        // A sanitizer build wants its own runtime first; the fault library does not mind.
        e.insert("ASAN_OPTIONS", e.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    }
    p.setProcessEnvironment(e);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(SAVE_WORKER), args);
    WorkerRun run;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        run.lines.push_back("timed out");
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) run.lines.push_back(line.toStdString());
    return run;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

std::string readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

void writeBytes(const QString& path, const std::string& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string dataFileOf(int count, const std::string& comment) {
    const std::string sep = kItemSeparator + "\r\n";
    std::string out = "NumGroups: 0\r\nNumber of items: " + std::to_string(count) + "\r\n" + sep;
    for (int k = 1; k <= count; ++k)
        out += "Item: " + std::to_string(k) + "\r\nName: Item " + std::to_string(k) +
               "\r\nGroup: \r\nSite: http://site" + std::to_string(k) +
               ".example\r\nKeys: {email}{tab}\r\nLast1: 36960\r\nFreq: 5,0\r\n" + comment + "\r\n" +
               sep;
    return out;
}

}  // namespace quorvel::test
