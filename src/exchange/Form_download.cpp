// The "Download" tab: the list of files on offer, their descriptions and the download
// client.  Each file travels over its own connection: one request line, then every byte
// the server sends until it closes.
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exchange/core/GroupDataFile.h"
#include "exchange/core/ListFile.h"
#include "mainwindow/TMainForm.h"
#include "model/Errors.h"
#include "platform/Dialogs.h"
#include "platform/FileIO.h"

namespace quorvel {

namespace {

const QString kListFile = QStringLiteral("qdf.lst");
const char* const kFileFailed = "Unable to download file from the tembrook server.";
const char* const kListFailed = "Unable to download list file from the tembrook server.";

// Bytes the connection holds before the program takes them: a server that sends
// faster than the disk takes them then waits in its own buffers, not in ours.
constexpr qint64 kReadBufferBytes = 1 << 20;

// The connection together with what one transfer needs: the file being written, the
// silence and deadline timers and the wait loop that RequestFile runs.  `Client` is
// always one of these.
class TransferSocket : public QTcpSocket {
public:
    explicit TransferSocket(QObject* parent) : QTcpSocket(parent), silence(this), deadline(this) {
        silence.setSingleShot(true);
        deadline.setSingleShot(true);
        // A coarse timer may fire a twentieth early; these limits are meant to the millisecond.
        silence.setTimerType(Qt::PreciseTimer);
        deadline.setTimerType(Qt::PreciseTimer);
        setReadBufferSize(kReadBufferBytes);
    }
    // The reply goes to a temporary file that takes the requested name only on success.
    std::unique_ptr<AtomicFile> file;
    qint64 received = 0;
    QTimer silence;   // restarted by every sign of life
    QTimer deadline;  // never restarted: a byte now and then must not keep a request alive
    QEventLoop* wait = nullptr;
};

TransferSocket& transferOf(TMainForm& f) { return *static_cast<TransferSocket*>(f.Client); }

// Ends the running request.  A failed one throws its partial file away, so a broken
// transfer neither replaces a good file nor leaves a half one under the requested name.
void endRequest(TMainForm& f, bool failed) {
    TransferSocket& t = transferOf(f);
    t.silence.stop();
    t.deadline.stop();
    if (failed) {
        f.TransferFailed = true;
        if (t.file) t.file->discard();
    }
    t.file.reset();
    f.Transferring = false;
    if (t.wait) t.wait->quit();
}

TransferSocket& clientOf(TMainForm& f) {
    if (!f.Client) {
        auto* s = new TransferSocket(&f);
        f.Client = s;
        QObject::connect(s, &QTcpSocket::connected, &f, &TMainForm::ClientConnect);
        QObject::connect(s, &QTcpSocket::readyRead, &f, &TMainForm::ClientRead);
        QObject::connect(s, &QTcpSocket::disconnected, &f, &TMainForm::ClientDisconnect);
        QObject::connect(s, &QTcpSocket::errorOccurred, &f, &TMainForm::ClientError);
        // A server that accepts and then stays silent must not hold the request forever.
        QObject::connect(&s->silence, &QTimer::timeout, &f, [&f] {
            if (f.Transferring) endRequest(f, true);
        });
        QObject::connect(&s->deadline, &QTimer::timeout, &f, [&f] {
            if (f.Transferring) endRequest(f, true);
        });
    }
    return transferOf(f);
}


std::vector<std::string> programFileNames(const ProgramPaths& paths) {
    return programOwnFileNames(QFileInfo(paths.programFile).fileName().toStdString());
}

std::optional<QString> whyNotDownloadable(const std::vector<std::string>& reserved,
                                          const QString& name) {
    const auto reason = unsafeFileNameReason(name.toStdString(), reserved);
    if (!reason) return std::nullopt;
    return QStringLiteral("This file cannot be downloaded. ") + QString::fromStdString(*reason);
}

std::optional<QString> whyNotDownloadable(const ProgramPaths& paths, const QString& name) {
    return whyNotDownloadable(programFileNames(paths), name);
}

// The import's own test of the first line, on the file's first bytes only.
bool isGroupDataFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    return GroupFileReader(f.read(4096).toStdString()).headerValid();
}

}  // namespace

bool TMainForm::RequestFile(const QString& name) {
    // One request at a time: the connection and its file belong to the running one.
    if (Transferring) return false;
    CheckButton->setEnabled(false);
    DownloadBut->setEnabled(false);
    TransferFailed = false;
    Transferring = true;
    RequestedFile = name;
    try {
        if (whyNotDownloadable(paths, name)) throw QuorvelError("not a plain file name");
        QHostAddress host;
        if (!host.setAddress(seams.downloadHost) || host.protocol() != QAbstractSocket::IPv4Protocol ||
            seams.downloadPort == 0)
            throw QuorvelError("no download server address");
        TransferSocket& t = clientOf(*this);
        t.received = 0;
        t.silence.start(seams.downloadTimeoutMs);
        t.deadline.start(seams.downloadDeadlineMs);
        // Every request opens a fresh connection; the outcome arrives as notifications,
        // possibly before connectToHost returns (a refused loopback connection does).
        t.connectToHost(host, seams.downloadPort);
        if (Transferring) {
            QEventLoop loop;
            t.wait = &loop;
            loop.exec();
            t.wait = nullptr;
        }
        // The loop also ends when the application quits; the request has not finished.
        if (Transferring) endRequest(*this, true);
        t.abort();
    } catch (const std::exception&) {
        if (Client) {
            endRequest(*this, true);
            Client->abort();
        }
        Transferring = false;
        if (name != QLatin1String("version.txt")) dialogs.error(QString::fromLatin1(kFileFailed));
        CheckButton->setEnabled(true);
        DownloadBut->setEnabled(true);
        return false;
    }
    CheckButton->setEnabled(true);
    DownloadBut->setEnabled(true);
    return !TransferFailed;
}

void TMainForm::ClientConnect() {
    if (!Transferring) return;
    TransferSocket& t = transferOf(*this);
    t.silence.start(seams.downloadTimeoutMs);
    try {
        t.file = std::make_unique<AtomicFile>(paths.file(RequestedFile));
    } catch (const std::exception& e) {
        // Without a file there is nothing to receive into; waiting on would only end in
        // a "success" that leaves no file, or an old one, behind.
        endRequest(*this, true);
        dialogs.errorReport(QString::fromStdString(e.what()));
        return;
    }
    t.write("GET /qdf/" + RequestedFile.toUtf8() + "\r\n");
}

void TMainForm::ClientRead() {
    TransferSocket& t = transferOf(*this);
    if (!Transferring || !t.file) {
        t.readAll();  // a request that already ended: the bytes belong to nobody
        return;
    }
    t.silence.start(seams.downloadTimeoutMs);
    while (t.bytesAvailable() > 0) {
        const QByteArray bytes = t.read(kReadBufferBytes);
        t.received += bytes.size();
        if (t.received > seams.downloadMaxBytes) {
            endRequest(*this, true);
            return;
        }
        try {
            t.file->write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        } catch (const InOutError& e) {
            endRequest(*this, true);
            dialogs.errorReport(QString::fromStdString(e.what()));
            return;
        }
    }
}

void TMainForm::ClientDisconnect() {
    if (!Transferring) return;  // the request ended before; this is its connection closing
    ClientRead();               // whatever arrived with the close
    if (!Transferring) return;
    TransferSocket& t = transferOf(*this);
    if (!t.file) {
        endRequest(*this, true);
        return;
    }
    try {
        t.file->commit();
    } catch (const InOutError& e) {
        endRequest(*this, true);
        dialogs.errorReport(QString::fromStdString(e.what()));
        return;
    }
    endRequest(*this, false);
}

void TMainForm::ClientError() {
    if (!Transferring) return;
    // Qt reports the server's orderly close as this error just before `disconnected`,
    // which ends the request as the success it is.  A reset reads the same here: Qt
    // folds it into the end of the stream, so it cannot be told apart.
    if (Client->error() == QAbstractSocket::RemoteHostClosedError) return;
    endRequest(*this, true);
}

void TMainForm::CheckButtonClick() {
    FileList->clear();
    ListLines.clear();
    if (Page->currentWidget() == DownLoadTab) FileList->setFocus();
    try {
        if (!RequestFile(kListFile)) {
            dialogs.error(QString::fromLatin1(kListFailed));
            return;
        }
        ListFile list = parseListFile(readWholeFile(paths.file(kListFile)));
        if (!list.headerValid || list.tooManyEntries) {
            dialogs.error(QStringLiteral("Invalid List File."));
            return;
        }
        ListLines = std::move(list.lines);
        std::vector<QString> shown;
        shown.reserve(ListLines.size());
        const bool newOnly = NewOnly->isChecked();
        const std::vector<std::string> reserved = programFileNames(paths);
        for (const std::string& line : ListLines) {
            QString name = QString::fromStdString(shownName(nameOf(line)));
            // A name that cannot be downloaded stays listed, so that selecting it says why.
            if (newOnly && !whyNotDownloadable(reserved, name) && fileExists(paths.file(name)))
                continue;
            shown.push_back(std::move(name));
        }
        FileList->setItems(std::move(shown));
        if (FileList->count() == 0) dialogs.info(QStringLiteral("No new data files available."));
        setLabelText(*Label13, QStringLiteral("Availlable Files: (%1/%2)")
                                   .arg(FileList->count())
                                   .arg(ListLines.size()));
        if (FileList->count() > 0) {
            FileList->setItemIndex(0);
            FileListClick();
        }
    } catch (const std::exception&) {
        if (Client) Client->abort();
        Transferring = false;
        dialogs.error(QString::fromLatin1(kListFailed));
    }
}

void TMainForm::showNoDownloadServer() {
    for (QWidget* w : std::initializer_list<QWidget*>{CheckButton, DownloadBut, CheckForFiles})
        w->setEnabled(false);
    Description->setPlainText(QStringLiteral(
        "This copy of Quorvel was built without a download server, so there are no files to "
        "check for or download here. Group data files you get some other way can be loaded "
        "with \"Load Group from File\" (right-click the group list)."));
}

void TMainForm::FileListClick() {
    const int row = FileList->itemIndex();
    if (row < 0) return;
    const QString name = FileList->text(row);
    const std::optional<std::string> text = describe(ListLines, name.toStdString());
    if (const auto why = whyNotDownloadable(paths, name)) {
        Description->setPlainText(
            (text ? QString::fromStdString(*text) + QStringLiteral("\n\n") : QString()) + *why);
        return;
    }
    if (text) Description->setPlainText(QString::fromStdString(*text));
}

void TMainForm::DownloadButClick() {
    FileList->setFocus();
    const int row = FileList->itemIndex();
    if (row < 0) return;
    const QString name = FileList->text(row);
    if (const auto why = whyNotDownloadable(paths, name)) {
        dialogs.error(*why);
        return;
    }
    if (!RequestFile(name)) {
        dialogs.error(QString::fromLatin1(kFileFailed));
        return;
    }
    const QString path = paths.file(name);
    try {
        LoadDataFile(path);
    } catch (const std::exception& e) {
        dialogs.errorReport(QString::fromStdString(e.what()));
    }
    // A server answers a missing file with an error page; kept, the "new files only"
    // filter would take that page for the downloaded file.
    if (!isGroupDataFile(path)) QFile::remove(path);
}

}  // namespace quorvel
