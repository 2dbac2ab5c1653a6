// The "Download" tab against the project's raw test server and against nginx.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include "exchange/core/GroupDataFile.h"
#include "exchange/core/ListFile.h"
#include "platform/FileIO.h"
#include "support/MainFormHarness.h"
#include "support/NginxServer.h"
#include "support/RawFileServer.h"

using namespace quorvel;
using namespace quorvel::test;
using Mode = RawFileServer::Mode;

namespace {

const QString kListFailed = "Unable to download list file from the tembrook server.";
const QString kFileFailed = "Unable to download file from the tembrook server.";

std::string listFile(const std::vector<std::string>& lines) {
    std::string s = listFileHeader() + "\r\n";
    for (const std::string& l : lines) s += l + "\r\n";
    return s;
}

std::string carsGroupFile(const FormatSettings& fs) {
    Rec a, b;
    a.Name = "Auto Mart";
    a.Site = "http://automart.example/";
    a.LastDone = "01/03/2001 12:00";
    a.RepeatDays = 7;
    b = a;
    b.Name = "Car Lot";
    return writeGroupFile("Cars", {&a, &b}, true, fs, 2001);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<RawFileServer>(served.path());
        f = &h.start();
        useServer(server->port());
        QObject::connect(f->CheckButton, &QPushButton::clicked, f, &TMainForm::CheckButtonClick,
                         Qt::UniqueConnection);
        QObject::connect(f->DownloadBut, &QPushButton::clicked, f, &TMainForm::DownloadButClick,
                         Qt::UniqueConnection);
        QObject::connect(f->FileList, &SortedListBox::userClicked, f, &TMainForm::FileListClick,
                         Qt::UniqueConnection);
    }
    void useServer(quint16 port) {
        f->seams.downloadHost = QStringLiteral("127.0.0.1");
        f->seams.downloadPort = port;
        f->seams.downloadTimeoutMs = 500;
    }
    void serve(const QString& name, const std::string& bytes) {
        QFile file(served.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    std::vector<std::string> shown() const {
        std::vector<std::string> rows;
        for (int i = 0; i < f->FileList->count(); ++i) rows.push_back(f->FileList->text(i).toStdString());
        return rows;
    }
    void select(const QString& name) {
        f->FileList->setItemIndex(f->FileList->indexOfText(name));
        f->FileListClick();
    }
    std::string description() const { return f->Description->toPlainText().toStdString(); }
    // Everything in the program folder except the harness's own settings file.
    QStringList folderFiles() const {
        QStringList names = QDir(h.dir.path()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QStringLiteral("Quorvel.ini"));
        return names;
    }

    QTemporaryDir served;
    std::unique_ptr<RawFileServer> server;
    MainFormHarness h;
    TMainForm* f = nullptr;
};

}  // namespace

TEST_F(Download, RequestIsOneLineAndTheReplyIsStoredUnchanged) {
    const std::string bytes("Quorvel Data File.\r\n\x4F\x0C\x0B\n\0\x1A\xFF end", 28);
    serve("my cars.qdf", bytes);
    serve("empty.qdf", "");
    EXPECT_TRUE(f->RequestFile("my cars.qdf"));
    EXPECT_EQ(h.readFile("my cars.qdf"), bytes);
    EXPECT_TRUE(f->RequestFile("empty.qdf"));  // an empty reply is a complete, empty file
    EXPECT_EQ(h.readFile("empty.qdf"), "");
    serve("my cars.qdf", "second");
    EXPECT_TRUE(f->RequestFile("my cars.qdf"));  // a fresh connection, the file replaced
    EXPECT_EQ(h.readFile("my cars.qdf"), "second");

    const QList<QByteArray> requests = server->requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0], "GET /qdf/my cars.qdf\r\n");
    EXPECT_EQ(requests[1], "GET /qdf/empty.qdf\r\n");
    EXPECT_EQ(folderFiles(), QStringList({"empty.qdf", "my cars.qdf"}));  // no temporary left
    EXPECT_TRUE(f->CheckButton->isEnabled());
    EXPECT_TRUE(f->DownloadBut->isEnabled());
}

TEST_F(Download, CheckShowsSortedNamesAndDescriptionsByPrefix) {
    serve("qdf.lst", listFile({"zeta.qdf,Last, with a comma", "", "no comma here",
                               "cars.qdf2,Cars two", "cars.qdf,Cars one", "",
                               "alpha.qdf," + std::string(1100, 'd')}));
    f->CheckButton->click();
    EXPECT_EQ(shown(), (std::vector<std::string>{"", "alpha.qdf", "cars.qdf", "cars.qdf2", "zeta.qdf"}));
    EXPECT_EQ(f->Label13->text().toStdString(), "Availlable Files: (5/5)");
    EXPECT_GE(f->Label13->width(), f->Label13->fontMetrics().horizontalAdvance(f->Label13->text()));
    EXPECT_EQ(f->ListLines.size(), 5u);
    // The first sorted name is selected: the empty one, which cannot be fetched.
    EXPECT_EQ(f->FileList->itemIndex(), 0);
    EXPECT_EQ(description(), "This file cannot be downloaded. The file has no name.");

    select("alpha.qdf");
    EXPECT_EQ(description(), std::string(1024, 'd'));
    select("cars.qdf");  // cars.qdf2 comes first in the file and begins with the name
    EXPECT_EQ(description(), "Cars two");
    select("zeta.qdf");
    EXPECT_EQ(description(), "Last, with a comma");
}

TEST_F(Download, NewOnlyHidesFilesAlreadyInTheFolder) {
    serve("qdf.lst", listFile({"a.qdf,A", "b.qdf,B"}));
    f->NewOnly->setChecked(true);
    h.writeFile("a.qdf", "x");
    f->CheckButtonClick();
    EXPECT_EQ(shown(), std::vector<std::string>{"b.qdf"});
    EXPECT_EQ(f->Label13->text().toStdString(), "Availlable Files: (1/2)");
    EXPECT_EQ(description(), "B");

    h.writeFile("b.qdf", "x");
    h.dialogs.expectMessage(MsgKind::Information, "No new data files available.");
    f->CheckButtonClick();
    EXPECT_TRUE(shown().empty());
    EXPECT_EQ(f->Label13->text().toStdString(), "Availlable Files: (0/2)");

    f->NewOnly->setChecked(false);
    serve("qdf.lst", listFile({}));
    h.dialogs.expectMessage(MsgKind::Information, "No new data files available.");
    f->CheckButtonClick();
    EXPECT_EQ(f->Label13->text().toStdString(), "Availlable Files: (0/0)");
}

TEST_F(Download, WhatIsNotAListIsRejected) {
    serve("qdf.lst", "");
    h.dialogs.expectMessage(MsgKind::Error, "Invalid List File.");
    f->CheckButtonClick();
    QFile::remove(served.filePath("qdf.lst"));  // the server's error page instead
    h.dialogs.expectMessage(MsgKind::Error, "Invalid List File.");
    f->CheckButtonClick();
    EXPECT_TRUE(f->ListLines.empty());
    EXPECT_EQ(f->FileList->count(), 0);
}

TEST_F(Download, UnreachableServer) {
    serve("qdf.lst", listFile({"cars.qdf,Cars"}));
    f->CheckButtonClick();
    server->setMode(Mode::Refuse);
    h.dialogs.expectMessage(MsgKind::Error, kListFailed);
    f->CheckButtonClick();

    serve("qdf.lst", listFile({"cars.qdf,Cars"}));
    server->setMode(Mode::Serve);
    f->CheckButtonClick();
    server->setMode(Mode::Refuse);
    h.dialogs.expectMessage(MsgKind::Error, kFileFailed);
    f->DownloadButClick();
    EXPECT_FALSE(h.exists("cars.qdf"));

    // A connection that cannot even be started reports itself, then the caller's box.
    f->seams.downloadHost = QStringLiteral("not an address");
    h.dialogs.expectMessage(MsgKind::Error, kFileFailed).expectMessage(MsgKind::Error, kListFailed);
    f->CheckButtonClick();
    EXPECT_TRUE(f->CheckButton->isEnabled());
}

TEST_F(Download, SilentServerEndsByTheTimeLimitWhileTheWindowKeepsWorking) {
    const std::string goodList = listFile({"cars.qdf,Cars"});
    h.writeFile("qdf.lst", goodList);
    server->setMode(Mode::NeverAnswer);
    bool buttonsDisabled = false;
    QTimer::singleShot(200, f, [&] {
        buttonsDisabled = !f->CheckButton->isEnabled() && !f->DownloadBut->isEnabled();
        f->CheckButton->click();  // out of reach: no second request starts
    });
    h.dialogs.expectMessage(MsgKind::Error, kListFailed);
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    f->CheckButtonClick();
    const double cpu = cpuSeconds() - cpu0;
    EXPECT_GE(wall.elapsed(), 450);
    EXPECT_LT(wall.elapsed(), 3000);
    EXPECT_LT(cpu, 0.25) << "the wait must sleep, not spin";
    EXPECT_TRUE(buttonsDisabled);
    EXPECT_TRUE(f->CheckButton->isEnabled() && f->DownloadBut->isEnabled());
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_EQ(h.readFile("qdf.lst"), goodList);  // the failed transfer replaced nothing
    EXPECT_EQ(folderFiles(), QStringList{"qdf.lst"});

    serve("qdf.lst", listFile({"new.qdf,New"}));
    server->setMode(Mode::Serve);
    f->CheckButtonClick();
    EXPECT_EQ(shown(), std::vector<std::string>{"new.qdf"});
}

TEST_F(Download, EndOfStreamMidFileCannotBeToldFromAShortFile) {
    serve("cars.qdf", "0123456789");
    server->setMode(Mode::CloseAfterBytes, 4);
    EXPECT_TRUE(f->RequestFile("cars.qdf"));
    EXPECT_EQ(h.readFile("cars.qdf"), "0123");
    server->setMode(Mode::ResetAfterBytes, 6);  // Qt reads a reset as the end as well
    EXPECT_TRUE(f->RequestFile("cars.qdf"));
    EXPECT_EQ(h.readFile("cars.qdf"), "012345");
}

TEST_F(Download, ReplyOverTheSizeLimitFails) {
    serve("big.qdf", std::string(64 * 1024 * 1024 + 1, 'x'));
    f->seams.downloadTimeoutMs = 10000;
    EXPECT_FALSE(f->RequestFile("big.qdf"));
    EXPECT_TRUE(folderFiles().isEmpty());
}

TEST_F(Download, HostileNamesAreNeverRequestedNorWritten) {
    serve("qdf.lst", listFile({"../evil.qdf,Up", "sub/evil.qdf,Down", "a\\b.qdf,Back", "..,Dots",
                               "tab\there.qdf,Tab", "lf\nhere.qdf,Feed", "Quorvel.dat,Mine",
                               "quorvel.var,Mine too", "cr\rgood.qdf,Good"}));
    f->CheckButtonClick();
    ASSERT_EQ(f->FileList->count(), 10);  // CR ends a line: "cr" (no name) and good.qdf
    for (int row = 0; row < f->FileList->count(); ++row) {
        const QString name = f->FileList->text(row);
        if (name == "good.qdf") continue;
        f->FileList->setItemIndex(row);
        f->FileListClick();
        const QString why = f->Description->toPlainText().section(QStringLiteral("\n\n"), -1);
        EXPECT_TRUE(why.startsWith("This file cannot be downloaded. ")) << name.toStdString();
        h.dialogs.expectMessage(MsgKind::Error, why);
        f->DownloadButClick();
    }
    h.dialogs.expectMessage(MsgKind::Error, kFileFailed);
    EXPECT_FALSE(f->RequestFile("../evil.qdf"));

    EXPECT_EQ(server->connectionCount(), 1);  // the list only
    EXPECT_EQ(folderFiles(), QStringList{"qdf.lst"});
    EXPECT_FALSE(QFile::exists(h.dir.path() + "/../evil.qdf"));
}

// Scripts the import's two boxes for the two Items of carsGroupFile().
void expectCarsImport(ScriptedDialogs& d) {
    d.expectInput("Load Data File", "Add 2 new items to this Group:", "Cars", QString("Cars"))
        .expectMessage(MsgKind::Information, "cars.qdf successfully imported.");
}

TEST_F(Download, DownloadedGroupFileIsImportedAndAnErrorPageRemoved) {
    const std::string cars = carsGroupFile(h.formats);
    serve("cars.qdf", cars);
    serve("qdf.lst", listFile({"cars.qdf,Cars", "gone.qdf,Not on the server"}));
    f->CheckButtonClick();
    select("cars.qdf");
    expectCarsImport(h.dialogs);
    f->DownloadBut->click();
    EXPECT_EQ(h.readFile("cars.qdf"), cars);  // kept: the filter relies on it
    ASSERT_EQ(f->Items.size(), 2u);
    EXPECT_EQ(f->Items.at(0).Name, "Auto Mart");
    EXPECT_EQ(f->GroupList->currentText().toStdString(), "Cars");

    select("gone.qdf");
    h.dialogs.expectMessage(MsgKind::Error, "gone.qdf is not a valid Quorvel data file.");
    f->DownloadButClick();
    EXPECT_FALSE(h.exists("gone.qdf"));  // so "new files only" still offers it
    f->NewOnly->setChecked(true);
    f->CheckButtonClick();
    EXPECT_EQ(shown(), std::vector<std::string>{"gone.qdf"});
}

TEST_F(Download, FileThatCannotBeCreatedEndsTheRequest) {
    serve("qdf.lst", listFile({"cars.qdf,Cars"}));
    ASSERT_TRUE(QDir(h.dir.path()).mkdir("qdf.lst"));  // in the way of the list
    h.dialogs.expectReport("I/O error 21.").expectMessage(MsgKind::Error, kListFailed);
    f->CheckButtonClick();
    QDir(h.dir.path()).rmdir("qdf.lst");
    f->CheckButtonClick();  // and the next request creates its file
    EXPECT_EQ(shown(), std::vector<std::string>{"cars.qdf"});
}

struct Published {
    int exitCode = -1;
    std::string errors;
};

// The distributor's own tool on a served folder.
Published publish(const QString& folder) {
    QProcess p;
    p.start(QStringLiteral(QUORVEL_PUBLISH_PROGRAM), {folder});
    Published out;
    if (!p.waitForFinished(10000)) return out;
    out.exitCode = p.exitCode();
    out.errors = p.readAllStandardError().toStdString();
    return out;
}

// The whole distribution: group files saved by the program's codec, their list made by
// quorvel-publish, served by nginx with the shipped site, checked and fetched by the tab.
TEST_F(Download, ThroughThePublishersListAndNginx) {
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    QTemporaryDir root;
    const QString qdf = root.filePath("qdf");
    ASSERT_TRUE(QDir(root.path()).mkpath("qdf"));
    const std::string cars = carsGroupFile(h.formats);
    Rec boat;
    boat.Name = "Boat Trader";
    boat.Site = "http://boats.example/";
    boat.LastDone = "02/03/2001 09:30";
    const auto put = [&](const QString& name, const std::string& bytes) {
        QFile file(qdf + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    };
    put("cars.qdf", cars);
    put("b\u00E5ts.qdf", writeGroupFile("Boats", {&boat}, true, h.formats, 2001));
    put("descriptions.txt", "# offered files\n"
                            "cars.qdf,Used-car sites that take free ads\n"
                            "b\xC3\xA5ts.qdf,Boats, new and used\n");
    const Published ok = publish(qdf);
    ASSERT_EQ(ok.exitCode, 0) << ok.errors;
    const QString list = qdf + "/qdf.lst";
    const std::string listed = readWholeFile(list);

    NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.isRunning()) << nginx.errorText().toStdString();
    useServer(nginx.port());
    f->CheckButtonClick();
    EXPECT_EQ(shown(), (std::vector<std::string>{"b\xC3\xA5ts.qdf", "cars.qdf"}));
    EXPECT_EQ(f->Label13->text().toStdString(), "Availlable Files: (2/2)");
    EXPECT_EQ(description(), "Boats, new and used");  // the first sorted name, selected
    select("cars.qdf");
    EXPECT_EQ(description(), "Used-car sites that take free ads");
    expectCarsImport(h.dialogs);
    f->DownloadButClick();
    EXPECT_EQ(h.readFile("cars.qdf"), cars);
    EXPECT_EQ(f->Items.size(), 2u);

    // A name nginx cannot serve: the tool says which and why, and the list stays as it was.
    put("my boats.qdf", writeGroupFile("Boats", {&boat}, true, h.formats, 2001));
    put("descriptions.txt", "cars.qdf,Cars\nmy boats.qdf,More boats\n");
    const Published refused = publish(qdf);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.errors.find("descriptions.txt line 2: my boats.qdf: The file name contains "
                                  "a blank"),
              std::string::npos)
        << refused.errors;
    EXPECT_EQ(readWholeFile(list), listed);
    EXPECT_EQ(QDir(qdf).entryList(QDir::Files | QDir::Hidden).size(), 5);  // no temporary left
}
