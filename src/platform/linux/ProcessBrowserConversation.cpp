#include "platform/linux/ProcessBrowserConversation.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>

#include "platform/linux/BrowserHandOver.h"
#include "platform/linux/DesktopShell.h"

namespace quorvel {

namespace {

QString cutAtDot(const QString& name) {
    const int dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

// How a process of the browser program shows itself in /proc.
struct Target {
    QSet<QString> paths;  // the program as named and resolved
    QSet<QString> names;  // file names its processes carry
    bool cutNames = false;
    QString script;       // the program when it is a script ...
    QString interpreter;  // ... and the program that runs it
};

QString resolveProgram(const QString& setting) {
    const QStringList command = programCommand(setting);
    if (command.isEmpty()) return {};
    QString path = command.first();
    if (!path.contains(QLatin1Char('/'))) {
        const QString found = QStandardPaths::findExecutable(path);
        if (!found.isEmpty()) path = found;
    }
    return QFileInfo(path).absoluteFilePath();
}

// For a script: the interpreter of its first line, and the programs it plainly execs
// (launcher scripts such as /usr/bin/chromium start the real browser that way).
QString scriptInterpreter(const QString& path, QStringList& execTargets) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = file.read(8192);
    if (!head.startsWith("#!")) return {};
    const int end = head.indexOf('\n');
    const QStringList words = QString::fromLocal8Bit(head.mid(2, end < 0 ? -1 : end - 2))
                                  .split(QRegularExpression(QStringLiteral("\\s+")),
                                         Qt::SkipEmptyParts);
    if (words.isEmpty()) return {};
    QString interpreter = words.first();
    if (QFileInfo(interpreter).fileName() == QLatin1String("env")) {
        const auto named = std::find_if(words.begin() + 1, words.end(), [](const QString& w) {
            return !w.startsWith(QLatin1Char('-'));
        });
        interpreter = named == words.end() ? QString() : QStandardPaths::findExecutable(*named);
    }
    static const QRegularExpression exec(QStringLiteral(R"(\bexec\s+["']?(/[^\s"';|&]+))"));
    for (auto it = exec.globalMatch(QString::fromLocal8Bit(head)); it.hasNext();)
        execTargets << it.next().captured(1);
    return canonical(interpreter);
}

Target targetOf(const QString& service, const QString& program) {
    Target t;
    t.cutNames = !service.isEmpty();
    const QString path = resolveProgram(program);
    if (path.isEmpty()) return t;
    auto addName = [&t](const QString& file) {
        const QString name = QFileInfo(file).fileName();
        const QString key = t.cutNames ? cutAtDot(name) : name;
        if (!key.isEmpty()) t.names.insert(key);
    };
    if (t.cutNames) t.names.insert(service);
    else addName(path);
    t.paths.insert(path);
    const QString real = canonical(path);
    if (real.isEmpty()) return t;
    t.paths.insert(real);
    addName(real);  // /usr/bin/firefox runs as firefox-esr
    QStringList execTargets;
    t.interpreter = scriptInterpreter(real, execTargets);
    if (!t.interpreter.isEmpty()) t.script = real;
    for (const QString& target : execTargets) {
        const QString r = canonical(target);
        if (r.isEmpty()) continue;
        t.paths.insert(r);
        addName(r);
    }
    return t;
}

QStringList argumentsOf(const QString& procDir) {
    QFile file(procDir + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList args;
    for (const QByteArray& a : file.readAll().split('\0')) args << QString::fromLocal8Bit(a);
    while (!args.isEmpty() && args.last().isEmpty()) args.removeLast();
    return args;
}

bool belongsTo(const Target& t, const QString& procDir) {
    QString exe = QFile::symLinkTarget(procDir + QStringLiteral("/exe"));
    exe.remove(QStringLiteral(" (deleted)"));  // the browser was updated while it runs
    const QStringList args = argumentsOf(procDir);
    auto named = [&t](const QString& file) {
        const QString name = QFileInfo(file).fileName();
        return !name.isEmpty() && t.names.contains(t.cutNames ? cutAtDot(name) : name);
    };
    if (!exe.isEmpty() && (t.paths.contains(exe) || named(exe))) return true;
    if (!args.isEmpty() && named(args.first())) return true;
    // A running script shows as its interpreter with the script's path among its first
    // arguments.
    if (t.script.isEmpty() || exe != t.interpreter) return false;
    const QDir cwd(QFile::symLinkTarget(procDir + QStringLiteral("/cwd")));
    for (int i = 1; i < std::min<qsizetype>(args.size(), 3); ++i)
        if (args[i].contains(QLatin1Char('/')) && canonical(cwd.absoluteFilePath(args[i])) == t.script)
            return true;
    return false;
}

}  // namespace

// Milliseconds since the process started, from its start time in clock ticks after boot.
QList<QByteArray> ProcessBrowserConversation::statFields(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return {};
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0) return {};
    return line.mid(close + 2).split(' ');
}

qint64 ProcessBrowserConversation::runningForMs(qint64 pid) {
    QFile uptime(QStringLiteral("/proc/uptime"));
    const QList<QByteArray> fields = statFields(pid);
    if (fields.size() < 20 || !uptime.open(QIODevice::ReadOnly)) return 0;
    const double started = fields[19].toDouble() / static_cast<double>(sysconf(_SC_CLK_TCK));
    const double now = uptime.readAll().split(' ').value(0).toDouble();
    return static_cast<qint64>((now - started) * 1000);
}

BrowserFamily ProcessBrowserConversation::familyOf(const QString& program) {
    const BrowserFamily family = browserFamily(QFileInfo(program).fileName().toStdString());
    if (family != BrowserFamily::Generic) return family;
    return browserFamily(QFileInfo(canonical(resolveProgram(program))).fileName().toStdString());
}

ProcessBrowserConversation::ProcessBrowserConversation(int settleMs)
    : handOver_(std::make_unique<BrowserHandOver>(makeLinuxHandOverSystem(), settleMs)) {}

ProcessBrowserConversation::~ProcessBrowserConversation() = default;

void ProcessBrowserConversation::waitForHandOvers() { handOver_->waitUntilIdle(); }

QList<qint64> ProcessBrowserConversation::processesOf(const QString& service,
                                                       const QString& program) {
    QList<qint64> found;
    const Target target = targetOf(service, program);
    if (target.paths.isEmpty()) return found;
    const QDir proc(QStringLiteral("/proc"));
    const uint me = getuid();
    const qint64 self = QCoreApplication::applicationPid();
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == self) continue;
        const QString dir = proc.filePath(entry);
        if (QFileInfo(dir).ownerId() != me) continue;
        if (belongsTo(target, dir)) found << pid;
    }
    return found;
}

bool ProcessBrowserConversation::Connect(const QString& service, const QString& topic,
                                         const QString& program) {
    Disconnect();
    if (processesOf(service, program).isEmpty()) return false;
    connected_ = true;
    topic_ = topic;
    service_ = service;
    program_ = program;
    return true;
}

bool ProcessBrowserConversation::Request(const QString& item, int timeoutMs) {
    if (!connected_) return false;
    if (topic_ == QLatin1String(kActivateTopic)) return true;  // the address brings it up
    if (topic_ != QLatin1String(kOpenUrlTopic)) return false;
    const auto request = parseOpenUrlItem(item.toStdString());
    // An address never starts with "-"; such a text must not reach the browser as one of
    // its options.
    if (!request || request->url.empty() || request->url[0] == '-') return false;
    HandOverJob job;
    job.command = programCommand(program_);
    if (job.command.isEmpty()) return false;
    job.family = familyOf(job.command.first());
    for (const std::string& arg : openUrlArguments(job.family, request->url, request->newWindow))
        job.command << QString::fromStdString(arg);
    job.service = service_;
    job.program = program_;
    job.timeoutMs = timeoutMs;
    handOver_->add(std::move(job));
    return true;
}

void ProcessBrowserConversation::Disconnect() {
    connected_ = false;
    topic_.clear();
    service_.clear();
    program_.clear();
}

}  // namespace quorvel
