#include "DesktopFormServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>

namespace quorvel::test {

namespace {

using Clock = std::chrono::steady_clock;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string response(const char* status, const char* type, const std::string& body) {
    std::string r = std::string("HTTP/1.1 ") + status + "\r\n";
    if (type) r += std::string("Content-Type: ") + type + "\r\n";
    r += "Content-Length: " + std::to_string(body.size()) +
         "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    return r + body;
}

// The page's state goes to /report whenever it changed, at most every 100 ms; a report
// that did not arrive is sent again.  seq is left out of the comparison, or every report
// would differ.  "painted" turns 1 two animation frames after load: Chromium drops a click
// that comes before its first frame is shown, even when the page's script already runs.
const char* const kReportScript = R"JS(
(function () {
  var page = __PAGE__, variant = '__VARIANT__', seq = 0, last = '', busy = false, painted = 0, sentAt = 0;
  function first() { return document.getElementById(variant === 'textarea-only' ? 't' : 'a'); }
  function value(id) { var e = document.getElementById(id); return e && e.value !== undefined ? e.value : ''; }
  function state() {
    var p = new URLSearchParams();
    p.append('page', page);
    p.append('variant', variant);
    ['a', 'b', 'c', 't'].forEach(function (k) { p.append(k, value(k)); });
    var ae = document.activeElement;
    p.append('focus', ae && ae !== document.body ? (ae.id || ae.tagName) : '');
    p.append('hasFocus', document.hasFocus() ? '1' : '0');
    p.append('painted', painted);
    p.append('cleared', cleared);
    p.append('innerW', window.innerWidth);
    p.append('innerH', window.innerHeight);
    p.append('outerW', window.outerWidth);
    p.append('outerH', window.outerHeight);
    p.append('chromeW', window.outerWidth - window.innerWidth);
    p.append('chromeH', window.outerHeight - window.innerHeight);
    p.append('screenX', window.screenX);
    p.append('screenY', window.screenY);
    p.append('dpr', window.devicePixelRatio);
    if (typeof window.mozInnerScreenX === 'number') {
      p.append('mozX', window.mozInnerScreenX);
      p.append('mozY', window.mozInnerScreenY);
    }
    var r = first().getBoundingClientRect();
    p.append('fx', r.left + r.width / 2);
    p.append('fy', r.top + r.height / 2);
    ['a', 'b', 'c', 't'].forEach(function (k) {
      var e = document.getElementById(k);
      if (!e) return;
      var q = e.getBoundingClientRect();
      p.append(k + 'x', q.left + q.width / 2);
      p.append(k + 'y', q.top + q.height / 2);
    });
    return p;
  }
  var cleared = '';
  function tick() {
    if (busy) return;
    var p = state(), s = p.toString();
    // Unchanged states go out too, now and then: the answer may carry a request.
    if (s === last && Date.now() - sentAt < 300) return;
    sentAt = Date.now();
    busy = true;
    p.append('seq', ++seq);
    var x = new XMLHttpRequest();
    x.open('POST', '/report');
    x.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
    x.onloadend = function () {
      busy = false;
      if (x.status === 204) last = s;
      // The test asked for empty fields: no keys needed, whatever the layout.  The next
      // report says which request emptied them.
      if (x.status === 200 && x.responseText.indexOf('clear ') === 0) {
        ['a', 'b', 'c', 't'].forEach(function (k) {
          var e = document.getElementById(k);
          if (e) e.value = '';
        });
        cleared = x.responseText.slice(6);
        last = '';
        setTimeout(tick, 0);
      }
    };
    x.send(p.toString());
  }
  window.addEventListener('DOMContentLoaded', function () { first().focus(); tick(); });
  window.addEventListener('load', function () {
    requestAnimationFrame(function () {
      requestAnimationFrame(function () { painted = 1; tick(); });
    });
  });
  setInterval(tick, 100);
})();
)JS";

// Big, plain controls at fixed places, so a test can click them from the reported
// centre; no history or suggestions that could take a typed Enter.
const char* const kStyle = R"CSS(
html, body { margin: 0; padding: 0; background: #fff; }
input, textarea { position: absolute; left: 0; box-sizing: border-box; margin: 0;
                  font-family: monospace; }
#a { top: 0; width: 400px; height: 60px; font-size: 32px; }
#b { top: 70px; width: 400px; height: 40px; font-size: 24px; }
#c { top: 120px; width: 400px; height: 40px; font-size: 24px; }
#t { top: 170px; width: 640px; height: 300px; font-size: 16px; }
#s { top: 480px; width: 120px; height: 30px; }
.only #t { top: 0; }
.only #s { top: 310px; }
a#a { position: absolute; left: 0; display: block; line-height: 60px; font-family: sans-serif; }
)CSS";

}  // namespace

bool Fields::has(std::string_view name) const {
    return std::any_of(list.begin(), list.end(), [&](const auto& f) { return f.first == name; });
}

std::string Fields::value(std::string_view name) const {
    for (const auto& [k, v] : list)
        if (k == name) return v;
    return {};
}

double Fields::number(std::string_view name) const {
    const std::string v = value(name);
    return v.empty() ? 0.0 : std::strtod(v.c_str(), nullptr);
}

std::map<std::string, std::string> Fields::map() const {
    std::map<std::string, std::string> m;
    for (const auto& [k, v] : list) m.emplace(k, v);
    return m;
}

std::string Fields::describe() const {
    std::string out;
    for (const auto& [k, v] : list) {
        out += k + "=";
        for (const char c : v) {
            if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else if (c == '\t') out += "\\t";
            else out += c;
        }
        out += "\n";
    }
    return out;
}

std::string urlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += c;  // a stray '%' stays as it is, as browsers read it
        }
    }
    return out;
}

Fields parseUrlEncoded(std::string_view body) {
    Fields f;
    std::size_t pos = 0;
    while (pos <= body.size()) {
        std::size_t end = body.find('&', pos);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view pair = body.substr(pos, end - pos);
        if (!pair.empty()) {
            const std::size_t eq = pair.find('=');
            if (eq == std::string_view::npos) f.list.emplace_back(urlDecode(pair), std::string());
            else f.list.emplace_back(urlDecode(pair.substr(0, eq)), urlDecode(pair.substr(eq + 1)));
        }
        pos = end + 1;
    }
    return f;
}

Point pageToRoot(const Fields& report, const Rect& client, double cssX, double cssY) {
    const double dpr = report.has("dpr") ? report.number("dpr") : 1.0;
    if (report.has("mozX"))
        return {static_cast<int>((report.number("mozX") + cssX) * dpr + 0.5),
                static_cast<int>((report.number("mozY") + cssY) * dpr + 0.5)};
    const double innerW = report.number("innerW") * dpr;
    const double innerH = report.number("innerH") * dpr;
    const double border = (client.width - innerW) / 2;
    const double left = client.x + border;
    const double top = client.y + client.height - border - innerH;
    return {static_cast<int>(left + cssX * dpr + 0.5), static_cast<int>(top + cssY * dpr + 0.5)};
}

FormServer::FormServer() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_, 64) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        if (listen_ >= 0) close(listen_);
        listen_ = -1;
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { loop(); });
}

FormServer::~FormServer() {
    stop_ = true;
    if (wake_[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] const ssize_t n = write(wake_[1], &c, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : {listen_, wake_[0], wake_[1]})
        if (fd >= 0) close(fd);
}

std::string FormServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<FormServer::PageRequest> FormServer::pageRequests() const {
    std::lock_guard lock(mutex_);
    return pageRequests_;
}

std::vector<Fields> FormServer::posts() const {
    std::lock_guard lock(mutex_);
    return posts_;
}

Fields FormServer::lastReport() const {
    std::lock_guard lock(mutex_);
    return report_;
}

int FormServer::pagesServed() const {
    std::lock_guard lock(mutex_);
    return pages_;
}

bool FormServer::clearFields(std::chrono::milliseconds timeout) {
    std::string id;
    {
        std::lock_guard lock(mutex_);
        clear_ = true;
        id = std::to_string(++clearId_);
    }
    // Taken by the page with a report and done when a report says the page emptied them:
    // keys typed before that would be emptied too.
    const bool taken = waitFor(
        [&] {
            std::lock_guard lock(mutex_);
            return !clear_ && report_.value("cleared") == id;
        },
        timeout);
    if (!taken) {
        std::lock_guard lock(mutex_);
        clear_ = false;
    }
    return taken;
}

void FormServer::clearPosts() {
    std::lock_guard lock(mutex_);
    posts_.clear();
}

bool FormServer::waitFor(const std::function<bool()>& condition,
                         std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        unsigned long seen;
        {
            std::lock_guard lock(mutex_);
            seen = generation_;
        }
        if (condition()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(100)),
                            [&] { return generation_ != seen; });
    }
}

bool FormServer::waitForPage(int afterPage, std::chrono::milliseconds timeout) const {
    return waitFor(
        [&] {
            const Fields r = lastReport();
            return r.number("page") > afterPage && r.value("painted") == "1";
        },
        timeout);
}

std::string FormServer::page(const std::string& variant) {
    int id;
    {
        std::lock_guard lock(mutex_);
        id = ++pages_;
    }
    const bool only = variant == "textarea-only";
    const bool link = variant == "link";
    std::string script = kReportScript;
    script.replace(script.find("__PAGE__"), 8, std::to_string(id));
    script.replace(script.find("__VARIANT__"), 11,
                   only ? "textarea-only" : link ? "link" : "form");
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<title>Quorvel test form " + std::to_string(id) + "</title><style>" + kStyle +
        "</style></head>\n<body" + (only ? " class=\"only\"" : "") + ">\n";
    if (link) {
        html += std::string("<a id=\"a\" href=\"") + kLinkPath + "\">" + kLinkText + "</a>\n<script>" +
                script + "</script>\n</body></html>\n";
        return html;
    }
    if (only) {
        html += "<form id=\"f\" method=\"post\" action=\"/post?variant=textarea-only\" "
                "accept-charset=\"UTF-8\" autocomplete=\"off\">\n"
                "<textarea id=\"t\" name=\"t\" autofocus spellcheck=\"false\"></textarea>\n";
    } else {
        html += "<form id=\"f\" method=\"post\" action=\"/post\" accept-charset=\"UTF-8\" "
                "autocomplete=\"off\">\n"
                "<input id=\"a\" name=\"a\" type=\"text\" autofocus autocomplete=\"off\" "
                "spellcheck=\"false\">\n"
                "<input id=\"b\" name=\"b\" type=\"text\" autocomplete=\"off\" spellcheck=\"false\">\n"
                "<input id=\"c\" name=\"c\" type=\"text\" autocomplete=\"off\" spellcheck=\"false\">\n"
                "<textarea id=\"t\" name=\"t\" spellcheck=\"false\"></textarea>\n";
    }
    html += "<input id=\"s\" type=\"submit\" value=\"Send\">\n</form>\n<script>" + script +
            "</script>\n</body></html>\n";
    return html;
}

void FormServer::loop() {
    std::list<Connection> conns;
    while (!stop_) {
        std::vector<pollfd> fds;
        fds.push_back({wake_[0], POLLIN, 0});
        fds.push_back({listen_, POLLIN, 0});
        for (const Connection& c : conns) fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR) break;
        if (stop_) break;
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                timeval tv{2, 0};
                setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
                conns.push_back({fd, {}, Clock::now()});
            }
        }
        std::size_t i = 2;
        for (auto it = conns.begin(); it != conns.end(); ++i) {
            bool done = false;
            if (i < fds.size() && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buf[16384];
                const ssize_t n = recv(it->fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) done = true;
                else if (n > 0) {
                    it->in.append(buf, static_cast<std::size_t>(n));
                    done = handle(*it);
                }
            }
            // Browsers open spare connections they may never use.
            if (!done && Clock::now() - it->since > std::chrono::seconds(60)) done = true;
            if (done) {
                close(it->fd);
                it = conns.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Connection& c : conns) close(c.fd);
}

bool FormServer::handle(Connection& c) {
    const std::size_t headerEnd = c.in.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return c.in.size() > 65536;
    const std::string head = c.in.substr(0, headerEnd);
    std::size_t length = 0;
    std::size_t lineStart = head.find("\r\n");
    while (lineStart != std::string::npos) {
        const std::size_t next = head.find("\r\n", lineStart + 2);
        const std::string line =
            head.substr(lineStart + 2, next == std::string::npos ? std::string::npos
                                                                 : next - lineStart - 2);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && lower(line.substr(0, colon)) == "content-length")
            length = std::strtoul(line.c_str() + colon + 1, nullptr, 10);
        lineStart = next;
    }
    if (c.in.size() < headerEnd + 4 + length) return false;
    const std::string body = c.in.substr(headerEnd + 4, length);

    const std::string requestLine = head.substr(0, head.find("\r\n"));
    const std::size_t sp1 = requestLine.find(' ');
    const std::size_t sp2 = requestLine.find(' ', sp1 + 1);
    const std::string method = requestLine.substr(0, sp1);
    const std::string target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    const Fields query = q == std::string::npos ? Fields{} : parseUrlEncoded(target.substr(q + 1));
    const std::string variant = query.value("variant");

    std::string answer;
    if (method == "POST" && path == "/report") {
        {
            std::lock_guard lock(mutex_);
            report_ = parseUrlEncoded(body);
            ++generation_;
            answer = clear_ ? response("200 OK", "text/plain", "clear " + std::to_string(clearId_))
                            : response("204 No Content", nullptr, {});
            clear_ = false;
        }
        changed_.notify_all();
    } else if (method == "POST" && path == "/post") {
        {
            std::lock_guard lock(mutex_);
            posts_.push_back(parseUrlEncoded(body));
            ++generation_;
        }
        changed_.notify_all();
        answer = response("200 OK", "text/html; charset=utf-8", page(variant));
    } else if (method == "GET" && (path == "/" || path == "/page" || path == "/post")) {
        {
            std::lock_guard lock(mutex_);
            pageRequests_.push_back({target, std::chrono::steady_clock::now()});
            ++generation_;
        }
        changed_.notify_all();
        answer = response("200 OK", "text/html; charset=utf-8", page(variant));
    } else {
        answer = response("404 Not Found", "text/plain", "not here\n");
    }
    sendAll(c.fd, answer);
    return true;
}

}  // namespace quorvel::test
