// Debian's nginx as a download server for tests: the site the project ships
// (server/nginx-quorvel.conf) in a private configuration in a temporary folder, listening
// on 127.0.0.1 at a free port, serving a given root (which holds "qdf/").  nginx answers the program's one-line request without a version as a
// version 0.9 request: the raw file and nothing else, then it closes.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>

class NginxServer {
  public:
    static QString program() { return QStringLiteral("/usr/sbin/nginx"); }
    static bool available();

    // Starts nginx and waits until it accepts connections (a few seconds at most).
    explicit NginxServer(const QString& root);
    // Stops nginx.
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    bool isRunning() const { return running_; }
    quint16 port() const { return port_; }
    // Why it did not start: nginx's own output and error log.
    QString errorText() const { return error_; }

  private:
    bool startOnce(const QString& root);
    void stop();
    QString readLogs() const;

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    quint16 port_ = 0;
    bool running_ = false;
    QString error_;
};
