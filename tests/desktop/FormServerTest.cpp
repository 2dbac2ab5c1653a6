// The form server that the desktop tests read their results from: what a browser sends is
// decoded byte for byte, and every answer to a post is a fresh page.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/DesktopFormServer.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;

// One request over its own connection; the whole answer.
std::string roundTrip(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
        char buf[8192];
        for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
            answer.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return answer;
}

std::string post(int port, const std::string& path, const std::string& body) {
    return roundTrip(port, "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST(FormServer, DecodesPostsExactlyAndAnswersWithAFreshForm) {
    FormServer server;
    ASSERT_TRUE(server.ok()) << server.error();

    // What browsers send for é ß € 中 Ω, CR LF and LF from a textarea, a tab, a literal
    // '+', '=', '&' and '%', and a blank (as '+').
    const std::string answer = post(
        server.port(), "/post",
        "a=%C3%A9%C3%9F%E2%82%AC%E4%B8%AD%CE%A9&b=1%2B1%3D2+%26+100%25&c=&"
        "t=line+1%0D%0Aline+2%0Aend%09tab");
    EXPECT_NE(answer.find("HTTP/1.1 200 OK"), std::string::npos);
    EXPECT_NE(answer.find("<input id=\"a\" name=\"a\" type=\"text\" autofocus"), std::string::npos)
        << answer;

    ASSERT_TRUE(server.waitFor([&] { return server.posts().size() == 1; }, 2s));
    const Fields f = server.posts()[0];
    ASSERT_EQ(f.list.size(), 4u);
    EXPECT_EQ(f.list[0], (std::pair<std::string, std::string>("a", "\xC3\xA9\xC3\x9F\xE2\x82\xAC"
                                                                 "\xE4\xB8\xAD\xCE\xA9")));
    EXPECT_EQ(f.list[1].second, "1+1=2 & 100%");
    EXPECT_EQ(f.list[2], (std::pair<std::string, std::string>("c", "")));
    EXPECT_EQ(f.list[3].second, "line 1\r\nline 2\nend\ttab");

    // The textarea page posts to itself and comes back as itself.
    const std::string again = post(server.port(), "/post?variant=textarea-only", "t=%0A");
    EXPECT_NE(again.find("<textarea id=\"t\" name=\"t\" autofocus"), std::string::npos);
    EXPECT_EQ(again.find("id=\"a\""), std::string::npos);
    ASSERT_EQ(server.posts().size(), 2u);
    EXPECT_EQ(server.posts()[1].value("t"), "\n");
    EXPECT_EQ(server.pagesServed(), 2);
}

TEST(FormServer, KeepsTheLastReportAndWaitsForAFreshPaintedPage) {
    FormServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    EXPECT_TRUE(server.lastReport().empty());
    EXPECT_NE(post(server.port(), "/report", "page=1&a=%E2%82%AC&fx=200&fy=30")
                  .find("204 No Content"),
              std::string::npos);
    EXPECT_NE(roundTrip(server.port(), "GET /favicon.ico HTTP/1.1\r\n\r\n").find("404"),
              std::string::npos);
    post(server.port(), "/report", "page=2&painted=0&a=x%2By&fx=200.5&fy=30");
    EXPECT_FALSE(server.waitForPage(1, 300ms));  // not shown yet: a click could be lost
    std::thread later([&] {
        std::this_thread::sleep_for(200ms);
        post(server.port(), "/report", "page=2&painted=1&a=x%2By&fx=200.5&fy=30");
    });
    EXPECT_TRUE(server.waitForPage(1, 5s));
    later.join();
    EXPECT_EQ(server.lastReport().value("a"), "x+y");
    EXPECT_DOUBLE_EQ(server.lastReport().number("fx"), 200.5);
    EXPECT_TRUE(server.posts().empty());  // reports are not posts

    // Pages are numbered as served, so a test can wait for the page after a post.
    const std::string page = roundTrip(server.port(), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_NE(page.find("var page = 1,"), std::string::npos);
    EXPECT_NE(page.find("charset=utf-8"), std::string::npos);
}

}  // namespace
}  // namespace quorvel::test
