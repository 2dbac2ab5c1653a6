#include "NginxServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();  // closed again when probe goes; nginx takes it next
}

QString configuration(const QString& prefix, const QString& root, quint16 port) {
    // A single process: as root (as in CI) a master would hand requests to workers
    // running as "nobody", which cannot read the private temporary folders of a test.
    return QStringLiteral(
               "daemon off;\n"
               "master_process off;\n"
               "worker_processes 1;\n"
               "pid \"%1/nginx.pid\";\n"
               "error_log \"%1/error.log\" info;\n"
               "events { worker_connections 64; }\n"
               "http {\n"
               "  access_log \"%1/access.log\";\n"
               "  client_body_temp_path \"%1/client_body\";\n"
               "  proxy_temp_path \"%1/proxy\";\n"
               "  fastcgi_temp_path \"%1/fastcgi\";\n"
               "  uwsgi_temp_path \"%1/uwsgi\";\n"
               "  scgi_temp_path \"%1/scgi\";\n"
               "  default_type application/octet-stream;\n"
               "  server {\n"
               "    listen 127.0.0.1:%3;\n"
               "    root \"%2\";\n"
               "  }\n"
               "}\n")
        .arg(prefix, root, QString::number(port));
}

}  // namespace

bool NginxServer::available() {
    return QFileInfo(program()).isExecutable();
}

NginxServer::NginxServer(const QString& root) {
    if (!available()) {
        error_ = program() + QStringLiteral(" is not installed");
        return;
    }
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    // Another process may take the free port before nginx binds it; then try another.
    for (int attempt = 0; attempt < 3 && !running_; ++attempt) running_ = startOnce(root);
}

NginxServer::~NginxServer() {
    stop();
}

bool NginxServer::startOnce(const QString& root) {
    stop();
    port_ = freePort();
    const QString prefix = dir_.path();
    const QString conf = prefix + QStringLiteral("/nginx.conf");
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error_ = QStringLiteral("cannot write ") + conf;
        return false;
    }
    f.write(configuration(prefix, QDir(root).absolutePath(), port_).toUtf8());
    f.close();

    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    // -e keeps nginx from opening the system's log before it reads this configuration.
    process_->start(program(), {QStringLiteral("-p"), prefix, QStringLiteral("-c"), conf,
                                QStringLiteral("-e"), prefix + QStringLiteral("/error.log")});
    if (!process_->waitForStarted(5000)) {
        error_ = process_->errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (process_->state() == QProcess::NotRunning) break;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port_);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        QThread::msleep(20);
    }
    error_ = readLogs();
    stop();
    return false;
}

void NginxServer::stop() {
    if (!process_) return;
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();  // SIGTERM: nginx's fast shutdown
        if (!process_->waitForFinished(5000)) {
            process_->kill();
            process_->waitForFinished(2000);
        }
    }
    process_.reset();
}

QString NginxServer::readLogs() const {
    QString text = process_ ? QString::fromLocal8Bit(process_->readAll()) : QString();
    QFile log(dir_.path() + QStringLiteral("/error.log"));
    if (log.open(QIODevice::ReadOnly)) text += QString::fromLocal8Bit(log.readAll());
    return text;
}
