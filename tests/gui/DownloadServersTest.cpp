// The test download servers, driven the way the program's client drives a server: an
// asynchronous socket on this thread, waited for in a nested event loop.
#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "exchange/core/ListPublisher.h"
#include "support/NginxServer.h"
#include "support/RawFileServer.h"

namespace {

struct Reply {
    QByteArray bytes;
    bool connected = false;
    bool disconnected = false;  // the peer ended the connection
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    bool timedOut = false;
};

Reply fetch(quint16 port, const QByteArray& request, int timeoutMs = 5000) {
    Reply r;
    QTcpSocket socket;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, [&] {
        r.connected = true;
        socket.write(request);
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { r.bytes += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
        r.disconnected = true;
        loop.quit();
    });
    // Qt also reports an orderly close by the peer as RemoteHostClosedError, before
    // disconnected; a refused connection only gives the error.
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError e) {
        r.error = e;
        if (socket.state() != QAbstractSocket::ConnectedState) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, [&] {
        r.timedOut = true;
        loop.quit();
    });
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    r.bytes += socket.readAll();
    socket.disconnect();  // closing it here is not the peer's doing
    return r;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Bytes a text-minded server could mangle: CR LF, a lone LF, NUL, 1A, high bytes.
const char kContentBytes[] = "Quorvel Data File.\r\n\x4F\x60\x0C\x0B\n\0\x1A\xFF end";
const QByteArray kContent(kContentBytes, sizeof kContentBytes - 1);

}  // namespace

TEST(RawFileServer, ServesRawBytesAndRecordsTheRequestExactly) {
    QTemporaryDir dir;
    writeFile(dir.filePath("cars.qdf"), kContent);
    writeFile(dir.filePath("my cars.qdf"), "blank");
    RawFileServer server(dir.path());
    ASSERT_NE(server.port(), 0);

    Reply r = fetch(server.port(), "GET /qdf/cars.qdf\r\n");
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(r.bytes, kContent);
    r = fetch(server.port(), "GET /qdf/my cars.qdf\r\n");
    EXPECT_EQ(r.bytes, "blank");
    r = fetch(server.port(), "GET /qdf/missing.qdf\r\n");
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(r.bytes, RawFileServer::notFoundPage());
    EXPECT_EQ(fetch(server.port(), "GET /qdf/../cars.qdf\r\n").bytes,
              RawFileServer::notFoundPage());

    const QList<QByteArray> requests = server.requests();
    ASSERT_EQ(requests.size(), 4);
    EXPECT_EQ(requests[0], "GET /qdf/cars.qdf\r\n");
    EXPECT_EQ(requests[1], "GET /qdf/my cars.qdf\r\n");
}

TEST(RawFileServer, FailureModes) {
    QTemporaryDir dir;
    writeFile(dir.filePath("cars.qdf"), kContent);
    RawFileServer server(dir.path());

    server.setMode(RawFileServer::Mode::Refuse);
    Reply r = fetch(server.port(), "GET /qdf/cars.qdf\r\n");
    EXPECT_FALSE(r.connected);
    EXPECT_EQ(r.error, QAbstractSocket::ConnectionRefusedError);

    server.setMode(RawFileServer::Mode::NeverAnswer);
    r = fetch(server.port(), "GET /qdf/cars.qdf\r\n", 300);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.disconnected);
    EXPECT_TRUE(r.bytes.isEmpty());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0], "GET /qdf/cars.qdf\r\n");

    server.setMode(RawFileServer::Mode::CloseAfterBytes, 5);
    r = fetch(server.port(), "GET /qdf/cars.qdf\r\n");
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(r.bytes, kContent.left(5));

    server.setMode(RawFileServer::Mode::ResetAfterBytes, 5);
    r = fetch(server.port(), "GET /qdf/cars.qdf\r\n");
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.error, QAbstractSocket::RemoteHostClosedError);

    server.setMode(RawFileServer::Mode::Serve);
    EXPECT_EQ(fetch(server.port(), "GET /qdf/cars.qdf\r\n").bytes, kContent);
}

TEST(NginxServer, AnswersTheOneLineRequestWithTheRawFileOnly) {
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("qdf"));
    writeFile(root.filePath("qdf/cars.qdf"), kContent);
    writeFile(root.filePath("qdf/z\xC3\xBC.qdf"), "umlaut");
    NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.isRunning()) << nginx.errorText().toStdString();

    Reply r = fetch(nginx.port(), "GET /qdf/cars.qdf\r\n");
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(r.bytes, kContent);
    EXPECT_EQ(fetch(nginx.port(), "GET /qdf/z\xC3\xBC.qdf\r\n").bytes, "umlaut");
    // A missing file gives nginx's error page, with no status line either.
    r = fetch(nginx.port(), "GET /qdf/missing.qdf\r\n");
    EXPECT_TRUE(r.bytes.startsWith("<html>")) << r.bytes.toStdString();
    EXPECT_FALSE(r.bytes.contains("HTTP/"));
}

// quorvel-publish refuses a name exactly when nginx, running the shipped site, does not
// hand the file over unchanged for the program's request.
TEST(NginxServer, ServesExactlyTheNamesThePublisherAccepts) {
    if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("qdf"));
    const std::vector<QByteArray> names = {
        "a+b;c&d=e.qdf", "(x)[y]{z}!$'.qdf", "\"<q>`|^~@*\".qdf", "z\xC3\xBC.qdf",
        "\xE4\xB8\xAD.qdf", ".hidden.qdf", "..cars", "my cars.qdf", "x H.qdf",
        "\xE2\x82\xAC 5.qdf", "100%.qdf", "a%41.qdf", "what?.qdf", "no#1.qdf"};
    for (const QByteArray& name : names) writeFile(root.filePath(QString::fromUtf8("qdf/" + name)), "file " + name);
    writeFile(root.filePath("qdf/A.qdf"), "the decoded name");  // what "a%41.qdf" would give
    NginxServer nginx(root.path());
    ASSERT_TRUE(nginx.isRunning()) << nginx.errorText().toStdString();
    for (const QByteArray& name : names) {
        const bool accepted = !quorvel::unpublishableNameReason(name.toStdString());
        const Reply r = fetch(nginx.port(), "GET /qdf/" + name + "\r\n");
        EXPECT_EQ(r.bytes == "file " + name, accepted) << name.toStdString() << " -> "
                                                       << r.bytes.left(40).toStdString();
    }
}
