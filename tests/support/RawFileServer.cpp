#include "RawFileServer.h"

#include <sys/socket.h>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

// Lives on the server's thread; every member is touched there only.
class RawFileServerWorker : public QObject {
  public:
    RawFileServerWorker(RawFileServer& owner, const QString& folder)
        : owner_(owner), folder_(folder) {}

    quint16 start() {
        server_ = new QTcpServer(this);
        QObject::connect(server_, &QTcpServer::newConnection, this, [this] { accept(); });
        if (!server_->listen(QHostAddress::LocalHost, 0)) return 0;
        port_ = server_->serverPort();
        return port_;
    }

    void setMode(RawFileServer::Mode mode, qint64 bytes) {
        mode_ = mode;
        bytes_ = bytes;
        if (mode == RawFileServer::Mode::Refuse)
            server_->close();
        else if (!server_->isListening())
            server_->listen(QHostAddress::LocalHost, port_);
    }

    void stop() {
        for (QTcpSocket* s : connections_.keys()) s->abort();
        connections_.clear();
        delete server_;  // its sockets go with it
        server_ = nullptr;
    }

  private:
    struct Connection {
        int index = 0;
        QByteArray received;
        bool answered = false;
    };

    void accept() {
        while (QTcpSocket* s = server_->nextPendingConnection()) {
            connections_.insert(s, Connection{owner_.newConnection(), {}, false});
            QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
            QObject::connect(s, &QTcpSocket::disconnected, this, [this, s] {
                connections_.remove(s);
                s->deleteLater();
            });
            if (s->bytesAvailable() > 0) read(s);
        }
    }

    void read(QTcpSocket* s) {
        auto it = connections_.find(s);
        if (it == connections_.end()) return;
        it->received += s->readAll();
        owner_.record(it->index, it->received);
        const qsizetype end = it->received.indexOf("\r\n");
        if (it->answered || end < 0) return;
        it->answered = true;
        if (mode_ == RawFileServer::Mode::NeverAnswer) return;
        QByteArray reply = replyFor(it->received.left(end));
        if (mode_ == RawFileServer::Mode::CloseAfterBytes ||
            mode_ == RawFileServer::Mode::ResetAfterBytes)
            reply = reply.left(bytes_);
        s->write(reply);
        if (mode_ == RawFileServer::Mode::ResetAfterBytes) {
            s->flush();
            // No lingering: close() then sends a reset instead of an orderly end.
            const linger hard{1, 0};
            ::setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                         sizeof hard);
            s->abort();
        } else {
            s->disconnectFromHost();  // after the reply has been sent
        }
    }

    QByteArray replyFor(const QByteArray& requestLine) const {
        static const QByteArray prefix = "GET /qdf/";
        if (!requestLine.startsWith(prefix)) return RawFileServer::notFoundPage();
        const QString name = QFile::decodeName(requestLine.mid(prefix.size()));
        if (name.isEmpty() || name.contains(u'/') || name == u"." || name == u"..")
            return RawFileServer::notFoundPage();
        QFile f(QDir(folder_).filePath(name));
        if (!f.open(QIODevice::ReadOnly)) return RawFileServer::notFoundPage();
        return f.readAll();
    }

    RawFileServer& owner_;
    QString folder_;
    QTcpServer* server_ = nullptr;
    quint16 port_ = 0;
    RawFileServer::Mode mode_ = RawFileServer::Mode::Serve;
    qint64 bytes_ = 0;
    QHash<QTcpSocket*, Connection> connections_;
};

RawFileServer::RawFileServer(const QString& folder) {
    thread_.setObjectName(QStringLiteral("RawFileServer"));
    worker_ = new RawFileServerWorker(*this, folder);
    worker_->moveToThread(&thread_);
    thread_.start();
    // The worker's thread never waits for this one, so blocking calls cannot deadlock.
    QMetaObject::invokeMethod(
        worker_, [this] { port_ = worker_->start(); }, Qt::BlockingQueuedConnection);
}

RawFileServer::~RawFileServer() {
    QMetaObject::invokeMethod(
        worker_, [this] { worker_->stop(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete worker_;  // its thread has ended, so nothing else can touch it
}

void RawFileServer::setMode(Mode mode, qint64 bytes) {
    QMetaObject::invokeMethod(
        worker_, [=, this] { worker_->setMode(mode, bytes); }, Qt::BlockingQueuedConnection);
}

QList<QByteArray> RawFileServer::requests() const {
    QMutexLocker lock(&mutex_);
    return requests_;
}

int RawFileServer::connectionCount() const {
    QMutexLocker lock(&mutex_);
    return static_cast<int>(requests_.size());
}

QByteArray RawFileServer::notFoundPage() {
    return "<html><head><title>404 Not Found</title></head>\r\n"
           "<body><h1>Not Found</h1></body></html>\r\n";
}

void RawFileServer::record(int connection, const QByteArray& bytes) {
    QMutexLocker lock(&mutex_);
    requests_[connection] = bytes;
}

int RawFileServer::newConnection() {
    QMutexLocker lock(&mutex_);
    requests_.append(QByteArray());
    return static_cast<int>(requests_.size()) - 1;
}
