// A worker saves generation after generation and is killed at random moments.  After
// every kill each file is the whole of one of the last two generations, and the next
// start loads cleanly and leaves no temporary file.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <optional>
#include <random>
#include <thread>

#include "Reliability.h"
#include "platform/FileIO.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct Generation {
    std::string dat, var, ini;
};

std::optional<Generation> readJournal(const QString& folder, long n) {
    const std::string bytes = readBytes(QStringLiteral("%1/%2.journal").arg(folder).arg(n));
    if (bytes.empty()) return std::nullopt;
    Generation g;
    std::size_t at = 0;
    for (std::string* part : {&g.dat, &g.var, &g.ini}) {
        const std::size_t nl = bytes.find('\n', at);
        const std::size_t size = std::stoul(bytes.substr(at, nl - at));
        *part = bytes.substr(nl + 1, size);
        at = nl + 1 + size;
    }
    return g;
}

long lastJournal(const QString& folder) {
    long last = 0;
    for (const QString& name : QDir(folder).entryList({"*.journal"}, QDir::Files))
        last = std::max(last, name.section('.', 0, 0).toLong());
    return last;
}

int envOr(const char* name, int fallback) {
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? fallback : v.toInt();
}

}  // namespace

TEST(CrashConsistency, KilledSavesLeaveEveryFileWholeOldOrNewAndNoTemporaryFileAfterStart) {
    const int kills = envOr("QUORVEL_KILLS", 300);
    const unsigned seed = static_cast<unsigned>(envOr("QUORVEL_KILL_SEED", int(std::random_device{}())));
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    QTemporaryDir root;
    const QString folder = root.filePath("program"), journal = root.filePath("journal");
    QDir().mkpath(folder);
    QDir().mkpath(journal);
    const std::string firstIni = "[Options]\r\nTipOfTheDay=0\r\n";
    writeBytes(folder + "/Quorvel.ini", firstIni);

    const QString dat = folder + "/Quorvel.dat", bak = folder + "/Quorvel.bak",
                  var = folder + "/quorvel.var", ini = folder + "/Quorvel.ini";
    int leftTemporary = 0;
    long next = 1;
    for (int k = 0; k <= kills && !HasFatalFailure(); ++k) {
        // What this worker finds; each file is that or one of the generations it journals.
        const Generation before{readBytes(dat), readBytes(var), readBytes(ini)};
        const std::string backupBefore = readBytes(bak);
        QProcess worker;
        worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        worker.start(QStringLiteral(SAVE_WORKER), {"loop", folder, journal, QString::number(next)});
        std::string started;
        while (started.empty() && worker.waitForReadyRead(60000)) {
            while (worker.canReadLine()) {
                const std::string line = worker.readLine().trimmed().toStdString();
                if (line.rfind("started ", 0) == 0) {
                    started = line;
                    break;
                }
                // A start over a whole file says nothing but that every Item is done.
                EXPECT_EQ(line, "box Information All items have been completed.") << "kill " << k;
            }
        }
        ASSERT_EQ(started, "started 0") << "the start after kill " << k << " left temporary files";
        if (k == kills) {  // the last start only checks what the last kill left
            worker.kill();
            worker.waitForFinished();
            break;
        }
        // Most kills land within the first generations, some much later.
        const int ms = random() % 4 == 0 ? int(random() % 400) : int(random() % 60);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        ::kill(static_cast<pid_t>(worker.processId()), SIGKILL);
        worker.waitForFinished();

        const long last = lastJournal(journal);
        std::vector<Generation> written;
        for (long n : {last - 1, last})
            if (n >= next)
                if (auto g = readJournal(journal, n)) written.push_back(*g);
        auto check = [&](const QString& path, const std::string& old, auto field, const char* what) {
            const std::string now = readBytes(path);
            bool whole = QFile::exists(path) == !old.empty() && now == old;
            for (const Generation& g : written) whole = whole || (QFile::exists(path) && now == g.*field);
            EXPECT_TRUE(whole) << what << " after kill " << k << " at " << ms << " ms is " << now.size()
                               << " bytes: neither what the worker found nor generation " << last - 1
                               << " or " << last;
        };
        check(dat, before.dat, &Generation::dat, "Quorvel.dat");
        check(bak, backupBefore, &Generation::dat, "Quorvel.bak");
        check(var, before.var, &Generation::var, "quorvel.var");
        check(ini, before.ini, &Generation::ini, "Quorvel.ini");
        EXPECT_FALSE(QFile::exists(folder + "/Quorvel.damaged"));
        bool temporary = false;
        for (const QString& name : filesIn(folder)) temporary = temporary || isSaveTempName(name);
        leftTemporary += temporary;
        next = std::max(next, last + 1);
        for (long n = last - 3; n > 0 && QFile::remove(QStringLiteral("%1/%2.journal").arg(journal).arg(n)); --n) {
        }
    }
    std::printf("[ figures  ] %d kills (%d in the middle of writing a file), every file whole "
                "after each; %ld generations saved\n",
                kills, leftTemporary, next - 1);
}
