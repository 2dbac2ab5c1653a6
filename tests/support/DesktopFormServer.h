// A web form on 127.0.0.1 for the desktop tests: the browser shows it, the program types
// into it, and the server tells what the form received.
//
// Pages:
//   /                          the form: input a (400x60 CSS px at the page's top-left,
//                              autofocus, 32 px font), inputs b and c, textarea t, submit
//   /page?variant=textarea-only  only textarea t (autofocus) and submit, for long texts
//   /page?variant=link         only a link (id a, 400x60 CSS px at the top-left) to
//                              kLinkPath, its text kLinkText
// Both POST (application/x-www-form-urlencoded, UTF-8) to /post; the answer is the same
// page again, empty, with the focus in its first field.  Every 100 ms, whenever it
// changed, the page posts its live state to /report (see Report below).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "DesktopGeometry.h"

namespace quorvel::test {

// Decoded form fields in the order they came.
struct Fields {
    std::vector<std::pair<std::string, std::string>> list;

    bool has(std::string_view name) const;
    // The first value of `name`; empty when absent.
    std::string value(std::string_view name) const;
    // As a number (0 when absent or not a number).
    double number(std::string_view name) const;
    std::map<std::string, std::string> map() const;
    bool empty() const { return list.empty(); }
    std::string describe() const;  // name=value lines, control characters escaped
};

// application/x-www-form-urlencoded: '+' is a blank, %XX a byte, everything else as is.
std::string urlDecode(std::string_view text);
Fields parseUrlEncoded(std::string_view body);

// The keys of a report (page state, CSS pixels):
//   page     the number of the page as served (1, 2, ... across all pages served)
//   variant  "form" or "textarea-only"
//   a b c t  the fields' values (t with LF line ends, as the browser holds it)
//   focus    id of the focused element ("" for the page itself)
//   seq      the report's number within its page
//   chromeW chromeH   outerWidth-innerWidth, outerHeight-innerHeight
//   innerW innerH outerW outerH screenX screenY dpr
//   mozX mozY  the viewport's top-left on the screen (Firefox only)
//   fx fy    the centre of the first field (a, or t on the textarea page) in the viewport
//   ax ay bx by cx cy tx ty   the centre of each field the page has
//   hasFocus document.hasFocus() as 1 or 0
//   painted  1 once the page has shown its first frames and takes clicks, else 0
// Root coordinates of a point of the page (CSS pixels in the viewport, as reported) in a
// browser whose client area is `client`.  Firefox tells where its viewport is on the
// screen (mozX/mozY); otherwise the viewport fills the bottom of the client area, with
// equal borders left, right and below.
Point pageToRoot(const Fields& report, const Rect& client, double cssX, double cssY);
// The centre of the page's first field (a, or t on the textarea page).
inline Point firstFieldCenter(const Fields& report, const Rect& client) {
    return pageToRoot(report, client, report.number("fx"), report.number("fy"));
}
// The centre of field `id` (a, b, c or t).
inline Point fieldCenter(const Fields& report, const Rect& client, const std::string& id) {
    return pageToRoot(report, client, report.number(id + "x"), report.number(id + "y"));
}

class FormServer {
public:
    static constexpr const char* kLinkPath = "/ads/cars-and-vans?region=north";
    static constexpr const char* kLinkText = "Cars &amp; Vans \u2014 Petites annonces \u00e9t\u00e9";
    // The link's text as a browser gives it for the link's title.
    static constexpr const char* kLinkTitle = "Cars & Vans \u2014 Petites annonces \u00e9t\u00e9";

    FormServer();
    ~FormServer();
    FormServer(const FormServer&) = delete;
    FormServer& operator=(const FormServer&) = delete;

    bool ok() const { return listen_ >= 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path = "/") const;
    std::string textareaUrl() const { return url("/page?variant=textarea-only"); }
    std::string linkPageUrl() const { return url("/page?variant=link"); }

    // Every GET of a page, with the request's target ("/?a=1") and when it came.
    struct PageRequest {
        std::string target;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<PageRequest> pageRequests() const;

    std::vector<Fields> posts() const;
    Fields lastReport() const;
    int pagesServed() const;
    // Forgets the posts so far.
    void clearPosts();
    // Has the page empty its fields (no keys involved); false when it did not take the
    // request in time.
    bool clearFields(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Waits until `condition` holds (checked after every post and report, and every 100 ms);
    // false at the timeout.  The condition may call this server's getters.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;
    // Waits for a report of a page served after `afterPage` (a fresh page) that is
    // painted, so a click on it counts.
    bool waitForPage(int afterPage, std::chrono::milliseconds timeout) const;

private:
    struct Connection {
        int fd;
        std::string in;
        std::chrono::steady_clock::time_point since;
    };
    void loop();
    // True when the request in `c` is whole and answered.
    bool handle(Connection& c);
    std::string page(const std::string& variant);

    int listen_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::string error_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Fields> posts_;
    std::vector<PageRequest> pageRequests_;
    Fields report_;
    int pages_ = 0;
    bool clear_ = false;
    unsigned long clearId_ = 0;  // the last clear asked for
    unsigned long generation_ = 0;
};

}  // namespace quorvel::test
