// A stand-in for the download server: answers the one-line request "GET /qdf/<name>"
// CR LF with the raw bytes of <name> from a folder and closes, as the real server does.
// It runs on its own thread, so a client on the test's thread may wait in a nested
// event loop or in blocking waitFor... calls without starving it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QtGlobal>

class RawFileServerWorker;

class RawFileServer {
  public:
    enum class Mode {
        Serve,            // the file's bytes (or a small HTML page when it is missing), then close
        Refuse,           // not listening: connections to port() are refused
        NeverAnswer,      // accept and read the request, but neither answer nor close
        CloseAfterBytes,  // send only the first N bytes of the file, then close normally
        ResetAfterBytes,  // send only the first N bytes of the file, then reset the connection
    };

    // Serves the files directly inside `folder` on 127.0.0.1 at a free port.
    explicit RawFileServer(const QString& folder);
    ~RawFileServer();
    RawFileServer(const RawFileServer&) = delete;
    RawFileServer& operator=(const RawFileServer&) = delete;

    quint16 port() const { return port_; }
    // Takes effect for requests that arrive from now on; the port stays the same.
    void setMode(Mode mode, qint64 bytes = 0);

    // Every byte each connection sent, one entry per accepted connection, in order.
    QList<QByteArray> requests() const;
    int connectionCount() const;

    // The reply for a name that is not in the folder; no status line, as real servers
    // answer this kind of request.
    static QByteArray notFoundPage();

  private:
    friend class RawFileServerWorker;
    void record(int connection, const QByteArray& bytes);
    int newConnection();

    QThread thread_;
    RawFileServerWorker* worker_ = nullptr;
    quint16 port_ = 0;
    mutable QMutex mutex_;
    QList<QByteArray> requests_;
};
