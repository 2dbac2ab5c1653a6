#include "NginxServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();  // closed again when probe goes; nginx takes it next
}

// The site file the project ships, with only its address and folder changed, so the
// recipe the tests pass is the one distributors install.  Empty, with `error` set, when
// the file no longer has exactly one of each to change.
QString shippedSite(const QString& root, quint16 port, QString& error) {
    QFile f(QStringLiteral(QUORVEL_NGINX_SITE));
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read ") + f.fileName();
        return {};
    }
    QString site = QString::fromUtf8(f.readAll());
    // "listen 80 default_server;" keeps its parameters; only the address and port change.
    static const QRegularExpression listen(QStringLiteral("^\\s*listen\\s+([^\\s;]+)"),
                                           QRegularExpression::MultilineOption);
    static const QRegularExpression rootLine(QStringLiteral("^\\s*root\\s+([^;]+);"),
                                             QRegularExpression::MultilineOption);
    if (site.count(listen) != 1 || site.count(rootLine) != 1) {
        error = f.fileName() + QStringLiteral(" has not exactly one listen and one root line");
        return {};
    }
    const QRegularExpressionMatch r = rootLine.match(site);
    site.replace(r.capturedStart(1), r.capturedLength(1), QLatin1Char('"') + root + QLatin1Char('"'));
    const QRegularExpressionMatch l = listen.match(site);
    site.replace(l.capturedStart(1), l.capturedLength(1),
                 QStringLiteral("127.0.0.1:") + QString::number(port));
    return site;
}

QString configuration(const QString& prefix) {
    // A single process: as root (as in CI) a master would hand requests to workers
    // running as "nobody", which cannot read the private temporary folders of a test.
    // The http block is Debian's in what reaches a site (its types, gzip on), so the
    // site must hold its own against them as it must on a server.
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
               "  include /etc/nginx/mime.types;\n"
               "  default_type text/plain;\n"
               "  gzip on;\n"
               "  include \"%1/site.conf\";\n"
               "}\n")
        .arg(prefix);
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
    const QString site = shippedSite(QDir(root).absolutePath(), port_, error_);
    if (site.isEmpty()) return false;
    for (const auto& [path, text] : {std::pair{conf, configuration(prefix)},
                                     std::pair{prefix + QStringLiteral("/site.conf"), site}}) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            error_ = QStringLiteral("cannot write ") + path;
            return false;
        }
        f.write(text.toUtf8());
    }

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
