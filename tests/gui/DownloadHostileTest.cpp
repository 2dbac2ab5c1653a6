// The download client against servers that misbehave on purpose.  Every request must end,
// nothing may land outside the program folder, memory must stay bounded and the window
// must keep handling events all along; afterwards a normal request must work again.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>

#include "exchange/core/GroupDataFile.h"
#include "exchange/core/ListFile.h"
#include "platform/Application.h"
#include "platform/FileIO.h"
#include "support/HostileServer.h"
#include "support/MainFormHarness.h"

using namespace quorvel;
using namespace quorvel::test;
using How = HostileServer::Behaviour;
using namespace std::string_literals;

namespace {

const QString kListFailed = "Unable to download list file from the tembrook server.";
const QString kFileFailed = "Unable to download file from the tembrook server.";
constexpr qint64 kMiB = 1024 * 1024;

qint64 statusKiB(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string word;
    while (in >> word)
        if (word == key) {
            qint64 kib = -1;
            in >> kib;
            return kib;
        }
    return -1;
}

// Starts the peak resident size over from the present one; false where the kernel cannot.
bool resetPeakMemory() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5" << std::flush;
    return out.good();
}

// Nanoseconds this thread has waited for a CPU while it could run; -1 where the kernel
// keeps no count.
qint64 runQueueWaitNs() {
    std::ifstream in("/proc/thread-self/schedstat");
    long long running = 0, waiting = -1;
    in >> running >> waiting;
    return in ? waiting : -1;
}

// Ticks every 15 ms while a request runs: the longest wait between two ticks is the
// longest time the window went without handling its events.  Time the window's thread
// only waited for a CPU that other processes had is left out: on a loaded machine it
// says nothing about the program, while the window's own work and any blocking wait
// still count in full.
class Ticker {
  public:
    Ticker() {
        timer_.setInterval(15);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        clock_.start();
        lastWaitNs_ = runQueueWaitNs();
        timer_.start();
    }
    void stop() {
        tick();  // a stretch without events just before the end counts too
        timer_.stop();
    }
    qint64 longestGapMs() const { return longest_ / 1000000; }
    qint64 longestWallGapMs() const { return longestWall_ / 1000000; }

  private:
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        const qint64 waitNs = runQueueWaitNs();
        const qint64 wall = now - last_;
        const qint64 waited = waitNs >= 0 && lastWaitNs_ >= 0 ? waitNs - lastWaitNs_ : 0;
        longest_ = std::max(longest_, wall - std::clamp<qint64>(waited, 0, wall));
        longestWall_ = std::max(longestWall_, wall);
        last_ = now;
        lastWaitNs_ = waitNs;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 lastWaitNs_ = -1;
    qint64 longest_ = 0;
    qint64 longestWall_ = 0;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct Measured {
    qint64 ms = 0;
    qint64 longestGapMs = 0;      // without the waits for a CPU (see Ticker)
    qint64 longestWallGapMs = 0;  // with them
    qint64 growthKiB = -1;  // peak resident size during the run over the size before it
};

std::string listFile(const std::vector<std::string>& lines) {
    std::string s = listFileHeader() + "\r\n";
    for (const std::string& l : lines) s += l + "\r\n";
    return s;
}

QByteArray bytesOf(const std::string& s) {
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

class DownloadHostile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(parent.isValid());
        ASSERT_TRUE(QDir(parent.path()).mkdir("program"));
        folder = parent.filePath("program");
        writeWholeFile(folder + "/Quorvel.ini", "[Options]\r\nTipOfTheDay=0\r\n");
        clock.value = dayNumber(2001, 3, 10, 12, 0);
        formats = testFormats();
        Application::setErrorReporter(&dialogs);
        MainFormSeams seams = testSeams(dialogs, clock, formats, folder);
        seams.downloadHost = QStringLiteral("127.0.0.1");
        seams.downloadPort = server.port();
        seams.downloadTimeoutMs = 400;
        seams.downloadDeadlineMs = 1000;
        seams.downloadMaxBytes = 4 * kMiB;
        form = std::make_unique<TMainForm>(seams);
        f = form.get();
    }
    void TearDown() override {
        if (form) {
            f->FormDestroy();
            form.reset();
        }
        Application::setErrorReporter(nullptr);
        const QStringList besideIt =
            QDir(parent.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        EXPECT_EQ(besideIt, QStringList{"program"}) << "written outside the program folder";
    }

    // Everything in the program folder except the settings file made for the test.
    QStringList folderFiles() const {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                   QDir::NoDotAndDotDot);
        names.removeAll(QStringLiteral("Quorvel.ini"));
        return names;
    }
    std::string fileText(const QString& name) const { return readWholeFile(folder + "/" + name); }

    template <class Request>
    Measured measured(Request&& request) {
        Ticker ticker;
        const qint64 before = statusKiB("VmRSS:");
        // AddressSanitizer keeps freed memory aside on purpose, so its resident size
        // says nothing about what the program holds.
        const bool peak = !kSanitized && resetPeakMemory();
        QElapsedTimer wall;
        wall.start();
        ticker.start();
        request();
        ticker.stop();
        return {wall.elapsed(), ticker.longestGapMs(), ticker.longestWallGapMs(),
                peak ? statusKiB("VmHWM:") - before : -1};
    }
    static void report(const std::string& what, const Measured& r) {
        std::cout << "[figures] " << what << ": " << r.ms << " ms, longest gap " << r.longestGapMs
                  << " ms (" << r.longestWallGapMs << " ms with the waits for a CPU), memory growth "
                  << r.growthKiB << " KiB\n";
    }

    // The client has dropped every connection, and a fresh one fetches a file again.
    void expectANormalRequestWorks() {
        QElapsedTimer wait;
        wait.start();
        while (server.openConnections() > 0 && wait.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(server.openConnections(), 0) << "a connection was left open";
        server.setReply("good.qdf", HostileServer::serve("fine"));
        EXPECT_TRUE(f->RequestFile("good.qdf"));
        EXPECT_EQ(fileText("good.qdf"), "fine");
        QFile::remove(folder + "/good.qdf");
        EXPECT_TRUE(f->CheckButton->isEnabled() && f->DownloadBut->isEnabled());
    }

    std::string carsGroupFile() const {
        Rec a;
        a.Name = "Auto Mart";
        a.Site = "http://automart.example/";
        a.LastDone = "01/03/2001 12:00";
        a.RepeatDays = 7;
        a.Keys = "{email}{tab}hello";
        Rec b = a;
        b.Name = "Car Lot";
        return writeGroupFile("Cars", {&a, &b}, true, formats, 2001);
    }

    QTemporaryDir parent;
    QString folder;
    ScriptedDialogs dialogs;
    FixedClock clock;
    FormatSettings formats;
    HostileServer server;
    std::unique_ptr<TMainForm> form;
    TMainForm* f = nullptr;
};

}  // namespace

// The gap measure leaves out only the waits for a CPU: a window thread that blocks or
// works without handling events is seen in full, loaded machine or not.
TEST_F(DownloadHostile, TheWindowsGapsCountBlockingAndWorkInFull) {
    const Measured blocked = measured([] { QThread::msleep(300); });
    EXPECT_GE(blocked.longestGapMs, 290);
    const auto cpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    };
    const Measured busy = measured([&] {
        const qint64 end = cpuMs() + 300;
        while (cpuMs() < end) {
        }
    });
    EXPECT_GE(busy.longestGapMs, 290);
}

TEST_F(DownloadHostile, EveryMisbehaviourEndsTheRequestAndLeavesNothingBehind) {
    const QByteArray content = bytesOf(carsGroupFile());
    struct Case {
        const char* what;
        HostileServer::Reply reply;
        bool succeeds;  // a cut connection cannot be told from a short file
        qint64 minMs, maxMs;
    };
    // Silence limit 400 ms, overall limit 1000 ms, size cap 4 MiB.
    const std::vector<Case> cases = {
        {"endless reply", {How::Endless, content, 0, 0}, false, 0, 2000},
        {"whole file, then neither more nor a close",
         {How::HoldOpen, content, 0, 0},
         false,
         380,
         1500},
        {"a byte every 60 ms", {How::Trickle, content, 0, 60}, false, 980, 2500},
        {"accepts, never answers", {How::Silent, {}, 0, 0}, false, 380, 1500},
        {"closes mid-file", {How::CloseAfter, content, 100, 0}, true, 0, 1000},
        {"resets mid-file", {How::ResetAfter, content, 100, 0}, true, 0, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeWholeFile(folder + "/cars.qdf", "old");
        server.setReply("cars.qdf", c.reply);
        const qint64 sentBefore = server.bytesSent();
        bool ok = !c.succeeds;
        const Measured r = measured([&] { ok = f->RequestFile("cars.qdf"); });
        report(c.what, r);
        EXPECT_EQ(ok, c.succeeds);
        EXPECT_GE(r.ms, c.minMs);
        EXPECT_LT(r.ms, c.maxMs);
        EXPECT_LT(r.longestGapMs, 250);
        EXPECT_EQ(folderFiles(), QStringList{"cars.qdf"});  // no temporary file beside it
        // A failed transfer leaves the file of that name as it was.
        EXPECT_EQ(fileText("cars.qdf"), c.succeeds ? content.left(100).toStdString() : "old");
        if (c.reply.how == How::Endless) {
            EXPECT_GT(server.bytesSent() - sentBefore, 4 * kMiB);
        }
        expectANormalRequestWorks();
    }
}

TEST_F(DownloadHostile, EndlessReplyKeepsMemoryFlat) {
    f->seams.downloadMaxBytes = 48 * kMiB;
    f->seams.downloadDeadlineMs = 10000;
    expectANormalRequestWorks();  // the first request's one-time costs are not the reply's
    server.setDefaultReply({How::Endless, "0123456789abcdef", 0, 0});
    bool ok = true;
    const Measured r = measured([&] { ok = f->RequestFile("big.qdf"); });
    report("endless reply, 48 MiB cap", r);
    EXPECT_FALSE(ok);
    EXPECT_GT(server.bytesSent(), 48 * kMiB);
    if (r.growthKiB >= 0) {
        EXPECT_LT(r.growthKiB, 4 * 1024) << "the reply was held in memory";
    }
    EXPECT_LT(r.longestGapMs, 250);
    EXPECT_TRUE(folderFiles().isEmpty());
}

TEST_F(DownloadHostile, ListThatNeverEndsIsALostListNotAPartOne) {
    const std::string good = listFile({"cars.qdf,Cars"});
    writeWholeFile(folder + "/qdf.lst", good);
    std::string endless = listFile({});
    for (int i = 0; endless.size() < 64 * 1024; ++i)
        endless += "f" + std::to_string(i) + ".qdf,More\r\n";
    server.setReply("qdf.lst", {How::Endless, bytesOf(endless), 0, 0});
    dialogs.expectMessage(MsgKind::Error, kListFailed);
    const Measured r = measured([&] { f->CheckButtonClick(); });
    report("endless list", r);
    EXPECT_LT(r.longestGapMs, 250);
    EXPECT_EQ(f->FileList->count(), 0);
    EXPECT_EQ(fileText("qdf.lst"), good);
    EXPECT_EQ(folderFiles(), QStringList{"qdf.lst"});
    expectANormalRequestWorks();
}

// A group file cut short, by an orderly close or by a reset, reaches the import, which
// says what is wrong with it; the window stays whole.
TEST_F(DownloadHostile, GroupFileCutShortIsReportedByTheImport) {
    const std::string cars = carsGroupFile();
    const std::size_t headerEnd = cars.find("\r\n") + 2;
    const std::size_t secondBlock = cars.find(Crypt("Name=Car Lot"));
    const std::size_t secondUrl = cars.find(Crypt("Url="), secondBlock);
    ASSERT_NE(secondUrl, std::string::npos);
    server.setReply("qdf.lst", HostileServer::serve(bytesOf(listFile({"cars.qdf,Cars"}))));
    f->CheckButtonClick();
    ASSERT_EQ(f->FileList->itemIndex(), 0);

    for (How how : {How::CloseAfter, How::ResetAfter}) {
        SCOPED_TRACE(how == How::CloseAfter ? "closed" : "reset");
        // Inside the first line: not a group file, and not kept.
        server.setReply("cars.qdf", {how, bytesOf(cars), 10, 0});
        dialogs.expectMessage(MsgKind::Error, "cars.qdf is not a valid Quorvel data file.");
        f->DownloadButClick();
        EXPECT_EQ(folderFiles(), QStringList{"qdf.lst"});

        // Right after the first line: the block count is missing.
        server.setReply("cars.qdf", {how, bytesOf(cars), static_cast<qint64>(headerEnd), 0});
        dialogs.expectReport("'' is not a valid integer value.");
        f->DownloadButClick();
        EXPECT_EQ(f->Items.size(), 0u);

        // Inside the second Item: the first one arrives, the second one's date is missing.
        server.setReply("cars.qdf", {how, bytesOf(cars), static_cast<qint64>(secondUrl + 3), 0});
        dialogs
            .expectInput("Load Data File", "Add 2 new items to this Group:", "Cars",
                         QString("Cars"))
            .expectReport("'' is not a valid floating point value.");
        f->DownloadButClick();
        ASSERT_EQ(f->Items.size(), 1u);
        EXPECT_EQ(f->Items.at(0).Name, "Auto Mart");
        f->DeleteItem(0);
        formats.decimalSeparator = '.';  // the empty date switched it, as a foreign file's would
        EXPECT_TRUE(dialogs.done());
        EXPECT_EQ(fileText("cars.qdf"), cars.substr(0, secondUrl + 3));
    }
    QFile::remove(folder + "/cars.qdf");
    EXPECT_EQ(folderFiles(), QStringList{"qdf.lst"});
    expectANormalRequestWorks();
}

TEST_F(DownloadHostile, NamesThatCouldEscapeOrHarmAreNeverRequestedNorWritten) {
    const std::vector<std::string> hostile = {"../up.qdf",
                                              "../../../../tmp/up.qdf",
                                              "/etc/passwd",
                                              "sub/down.qdf",
                                              "a\\b.qdf",
                                              "..\\up.qdf",
                                              ".",
                                              "..",
                                              "lf\nGET /qdf/x",
                                              "nul\0/../x.qdf"s,
                                              "nul\0.qdf"s,
                                              "tab\tx.qdf",
                                              std::string(256, 'n'),
                                              std::string(200, 'n') + "/" + std::string(100, 'n'),
                                              "   ",
                                              "blank.qdf ",
                                              "dot.qdf.",
                                              "Quorvel.dat",
                                              "QUORVEL.DAT",
                                              "Quorvel.bak",
                                              "Quorvel.err",
                                              "Quorvel.ini",
                                              "brand.ini",
                                              "advert.so",
                                              "~~test.html",
                                              "quorvel",
                                              "quorvel.var",
                                              "quorvel.hlp",
                                              "quorvel.html",
                                              "Quorvel.damaged",
                                              "Quorvel.damaged.2"};
    std::vector<std::string> lines;
    for (const std::string& name : hostile) lines.push_back(name + ",Hostile");
    lines.push_back("cr\rgood.qdf,Good");  // CR ends a line: "cr" has no comma
    lines.push_back(std::string(255, 'm') + ",Longest allowed");
    server.setReply("qdf.lst", HostileServer::serve(bytesOf(listFile(lines))));
    f->CheckButtonClick();
    ASSERT_EQ(f->ListLines.size(), hostile.size() + 3);
    EXPECT_EQ(f->Label13->text(),
              QStringLiteral("Availlable Files: (%1/%1)").arg(hostile.size() + 3));

    int refused = 0;
    for (int row = 0; row < f->FileList->count(); ++row) {
        const QString name = f->FileList->text(row);
        if (name == "good.qdf" || name.size() == 255) continue;
        SCOPED_TRACE(name.toStdString());
        f->FileList->setItemIndex(row);
        f->FileListClick();  // the description says why
        const QString why = f->Description->toPlainText().section(QStringLiteral("\n\n"), -1);
        EXPECT_TRUE(why.startsWith("This file cannot be downloaded. The file "));
        dialogs.expectMessage(MsgKind::Error, why);
        f->DownloadButClick();
        ++refused;
    }
    EXPECT_EQ(refused, static_cast<int>(hostile.size()) + 1);  // and "cr"
    // Names the list cannot carry are refused all the same when asked for directly.
    for (const std::string& name :
         {"cr\rx.qdf"s, "x.qdf\r\nGET /qdf/y"s, "../up.qdf"s, "nul\0x"s}) {
        dialogs.expectMessage(MsgKind::Error, kFileFailed);
        EXPECT_FALSE(f->RequestFile(QString::fromStdString(name)));
    }

    server.setReply("good.qdf", HostileServer::serve("good"));
    const QString longest = QString(255, 'm');
    server.setReply(longest.toLatin1(), HostileServer::serve("long"));
    EXPECT_TRUE(f->RequestFile("good.qdf"));
    EXPECT_TRUE(f->RequestFile(longest));
    EXPECT_EQ(server.requests(), (QList<QByteArray>{"GET /qdf/qdf.lst\r\n", "GET /qdf/good.qdf\r\n",
                                                    "GET /qdf/" + longest.toLatin1() + "\r\n"}));
    QStringList expected{"good.qdf", "qdf.lst", longest};
    expected.sort();
    EXPECT_EQ(folderFiles(), expected);
}

TEST_F(DownloadHostile, EmptyLists) {
    server.setReply("qdf.lst", HostileServer::serve(bytesOf(listFile({}))));
    dialogs.expectMessage(MsgKind::Information, "No new data files available.");
    f->CheckButtonClick();
    EXPECT_EQ(f->Label13->text(), "Availlable Files: (0/0)");

    server.setReply("qdf.lst", HostileServer::serve(""));
    dialogs.expectMessage(MsgKind::Error, "Invalid List File.");
    f->CheckButtonClick();
    EXPECT_EQ(f->FileList->count(), 0);
    EXPECT_EQ(fileText("qdf.lst"), "");
    expectANormalRequestWorks();
}

// Instrumented builds run several times slower; the bounds are about staying bounded.
#ifdef __SANITIZE_ADDRESS__
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif

// The list is read at once, on the window's thread: its size must bound the time and
// memory that takes, whatever the server sends.
TEST_F(DownloadHostile, HugeListsStayWithinTimeAndMemory) {
    f->show();
    f->Page->setCurrentWidget(f->DownLoadTab);
    const auto cap = static_cast<std::size_t>(f->seams.downloadMaxBytes);
    const auto check = [&](const std::string& list, const char* what) {
        server.setReply("qdf.lst", HostileServer::serve(bytesOf(list)));
        const Measured r = measured([&] {
            f->CheckButtonClick();
            QCoreApplication::processEvents();  // the list paints
        });
        report(what, r);
        EXPECT_LT(r.ms, 3000 * kSlowdown) << what;
        EXPECT_LT(r.longestGapMs, 500 * kSlowdown) << what;
        if (r.growthKiB >= 0) {
            EXPECT_LT(r.growthKiB, 64 * 1024) << what;
        }
    };

    // The most entries a list may hold, filling the size cap to the byte.
    std::string full = listFile({});
    const std::size_t perEntry = (cap - full.size()) / kMaxListEntries;
    for (std::size_t i = 0; i < kMaxListEntries; ++i) {
        std::string line =
            "f" + std::to_string(kMaxListEntries - 1 - i) + ".qdf,Entry " + std::to_string(i);
        line.resize(perEntry - 2, '.');
        full += line + "\r\n";
    }
    full.insert(full.size() - 2, cap - full.size(), '.');
    ASSERT_EQ(full.size(), cap);
    check(full, "list of 100,000 entries at the 4 MiB cap");
    EXPECT_EQ(f->Label13->text(), "Availlable Files: (100000/100000)");
    EXPECT_EQ(f->FileList->text(0), "f0.qdf");
    EXPECT_TRUE(f->Description->toPlainText().startsWith("Entry 99999..."));

    // One entry more, or the cap full of the shortest entries there are: no list.
    std::string more = listFile({});
    for (std::size_t i = 0; i <= kMaxListEntries; ++i) more += "a,b\r\n";
    std::string tiny = listFile({});
    while (tiny.size() + 5 <= cap) tiny += "a,b\r\n";
    for (const auto& [list, what] : {std::pair{more, "list of 100,001 entries"},
                                     std::pair{tiny, "the cap full of 5-byte entries"}}) {
        dialogs.expectMessage(MsgKind::Error, "Invalid List File.");
        check(list, what);
        EXPECT_EQ(f->FileList->count(), 0);
    }

    // A name of megabytes is shown cut, and a click on it still explains itself.
    const std::string giant = std::string(cap - 200, 'n') + ",Giant";
    check(listFile({giant, "b.qdf,B"}), "list whose one name fills the cap");
    EXPECT_EQ(f->Label13->text(), "Availlable Files: (2/2)");
    ASSERT_EQ(f->FileList->count(), 2);
    EXPECT_EQ(f->FileList->text(1), QString(256, 'n') + QChar(0x2026));
    f->FileList->setItemIndex(1);
    f->FileListClick();
    dialogs.expectMessage(
        MsgKind::Error, "This file cannot be downloaded. The file name is longer than 255 bytes.");
    f->DownloadButClick();

    // One byte over the cap: the transfer itself fails.
    full += "d";
    server.setReply("qdf.lst", HostileServer::serve(bytesOf(full)));
    dialogs.expectMessage(MsgKind::Error, kListFailed);
    f->CheckButtonClick();
    EXPECT_EQ(f->FileList->count(), 0);
    EXPECT_EQ(folderFiles(), QStringList{"qdf.lst"});
    expectANormalRequestWorks();
}
