// A download server that misbehaves on purpose: endless replies, replies that never end,
// a byte now and then, cut or reset connections, silence.  Plain blocking-style sockets
// on threads of their own (one per connection), so the client on the test's thread keeps
// running its event loop, and a server stuck on a slow client never stalls the test.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QtGlobal>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class HostileServer {
  public:
    enum class Behaviour {
        Serve,       // the content, then an orderly close
        Endless,     // the content over and over, as fast as the client takes it, never closing
        HoldOpen,    // the whole content, then nothing more and no close
        Trickle,     // one byte of the content every `intervalMs`, then holds the connection open
        CloseAfter,  // the first `bytes` of the content, then an orderly close
        ResetAfter,  // the first `bytes` of the content, then a reset (no lingering)
        Silent,      // reads the request, never answers
    };
    struct Reply {
        Behaviour how = Behaviour::Serve;
        QByteArray content;
        qint64 bytes = 0;
        int intervalMs = 0;
    };

    // Listens on 127.0.0.1 at a free port.
    HostileServer();
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    quint16 port() const { return port_; }

    // The reply to "GET /qdf/<name>" CR LF; other requests get the default reply.
    void setReply(const QByteArray& name, Reply reply);
    void setDefaultReply(Reply reply);
    static Reply serve(const QByteArray& content) { return {Behaviour::Serve, content, 0, 0}; }

    // Every byte each connection sent, one entry per accepted connection, in order.
    QList<QByteArray> requests() const;
    // Bytes written to all clients so far.
    qint64 bytesSent() const { return sent_.load(); }
    // Connections that neither side has closed yet.
    int openConnections() const { return open_.load(); }

  private:
    void acceptLoop();
    void handle(int fd, int index);
    Reply replyFor(const QByteArray& received) const;
    bool sendAll(int fd, const char* data, qint64 size);
    bool waitUntilClosed(int fd, int index, int timeoutMs);
    void record(int index, const QByteArray& bytes);

    int listenFd_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<qint64> sent_{0};
    std::atomic<int> open_{0};
    mutable std::mutex mutex_;
    QMap<QByteArray, Reply> replies_;
    Reply defaultReply_;
    QList<QByteArray> requests_;
    std::vector<std::thread> handlers_;
    std::thread acceptor_;
};
