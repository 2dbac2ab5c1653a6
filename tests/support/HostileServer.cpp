#include "HostileServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// How often a waiting thread looks at the stop flag.
constexpr int kSliceMs = 20;
// A request line longer than this is no request of the client's; stop collecting.
constexpr qsizetype kMaxRequest = 64 * 1024;

}  // namespace

HostileServer::HostileServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    defaultReply_ = serve("<html><body><h1>Not Found</h1></body></html>\r\n");
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HostileServer::~HostileServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    // The acceptor has ended, so nothing adds to the handlers any more.
    for (std::thread& t : handlers_) t.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void HostileServer::setReply(const QByteArray& name, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_.insert(name, std::move(reply));
}

void HostileServer::setDefaultReply(Reply reply) {
    std::lock_guard lock(mutex_);
    defaultReply_ = std::move(reply);
}

QList<QByteArray> HostileServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HostileServer::record(int index, const QByteArray& bytes) {
    std::lock_guard lock(mutex_);
    requests_[index] += bytes;
}

void HostileServer::acceptLoop() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) continue;
        int index = 0;
        {
            std::lock_guard lock(mutex_);
            requests_.append(QByteArray());
            index = static_cast<int>(requests_.size()) - 1;
        }
        ++open_;
        handlers_.emplace_back([this, fd, index] { handle(fd, index); });
    }
}

HostileServer::Reply HostileServer::replyFor(const QByteArray& received) const {
    static const QByteArray prefix = "GET /qdf/";
    std::lock_guard lock(mutex_);
    const qsizetype end = received.indexOf("\r\n");
    if (end < 0 || !received.startsWith(prefix)) return defaultReply_;
    const QByteArray name = received.mid(prefix.size(), end - prefix.size());
    return replies_.value(name, defaultReply_);
}

bool HostileServer::sendAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        if (stop_) return false;
        const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n > 0) {
            sent_ += n;
            data += n;
            size -= n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, kSliceMs);
        if (p.revents & (POLLERR | POLLHUP)) return false;
    }
    return true;
}

// True when the client closed (or reset) the connection within the time; a negative
// time waits until the server stops.  Whatever the client sends meanwhile is recorded.
bool HostileServer::waitUntilClosed(int fd, int index, int timeoutMs) {
    int waited = 0;
    char buf[4096];
    while (!stop_ && (timeoutMs < 0 || waited < timeoutMs)) {
        const int slice = timeoutMs < 0 ? kSliceMs : std::min(kSliceMs, timeoutMs - waited);
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, slice);
        waited += slice;
        if (r <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return true;
        }
        record(index, QByteArray(buf, n));
    }
    return false;
}

void HostileServer::handle(int fd, int index) {
    QByteArray received;
    bool closed = false;
    char buf[4096];
    while (!stop_ && !received.contains("\r\n") && received.size() < kMaxRequest) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            closed = true;
            break;
        }
        if (n > 0) {
            received.append(buf, n);
            record(index, QByteArray(buf, n));
        }
    }
    const Reply r = replyFor(received);
    if (!closed && !stop_) {
        switch (r.how) {
            case Behaviour::Serve:
                sendAll(fd, r.content.constData(), r.content.size());
                ::shutdown(fd, SHUT_WR);
                break;
            case Behaviour::Endless: {
                QByteArray chunk = r.content.isEmpty() ? QByteArray(1, 'x') : r.content;
                while (chunk.size() < 64 * 1024) chunk += chunk;
                while (sendAll(fd, chunk.constData(), chunk.size())) {
                }
                break;
            }
            case Behaviour::HoldOpen:
                if (sendAll(fd, r.content.constData(), r.content.size()))
                    waitUntilClosed(fd, index, -1);
                break;
            case Behaviour::Trickle: {
                bool gone = false;
                for (qsizetype i = 0; i < r.content.size() && !gone; ++i)
                    gone = !sendAll(fd, r.content.constData() + i, 1) ||
                           waitUntilClosed(fd, index, r.intervalMs);
                if (!gone) waitUntilClosed(fd, index, -1);
                break;
            }
            case Behaviour::CloseAfter:
                sendAll(fd, r.content.constData(), std::min<qint64>(r.bytes, r.content.size()));
                ::shutdown(fd, SHUT_WR);
                break;
            case Behaviour::ResetAfter: {
                sendAll(fd, r.content.constData(), std::min<qint64>(r.bytes, r.content.size()));
                // Let the bytes leave first: a reset throws away whatever is still queued.
                for (int i = 0; i < 100; ++i) {
                    int queued = 0;
                    if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued == 0) break;
                    ::usleep(1000);
                }
                const linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                break;
            }
            case Behaviour::Silent:
                waitUntilClosed(fd, index, -1);
                break;
        }
    }
    ::close(fd);
    --open_;
}
