// The download manager against a loopback server that misbehaves in each way a hostile or
// broken server might; the clock is injected so the deadlines are reached at once.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "common/loopback_server.h"
#include "platform/headless_event_loop.h"
#include "support/http_download_manager.h"

namespace vexel {
namespace {

using test::LoopbackServer;
using test::SendAll;
using test::SendMegabytes;

using namespace std::chrono_literals;

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

std::atomic<int64_t> g_clockOffsetMs{0};

HttpResult Fetch(const std::string& url) {
    HttpOptions options;
    options.clock = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(g_clockOffsetMs.load()); };
    CHeadlessEventLoop loop;
    CHttpDownloadManager manager(loop, options);
    HttpResult got;
    bool done = false;
    if (manager.Download(url, [&](const HttpResult& r) { got = r, done = true; }) == 0) {
        got.error = "refused";
        return got;
    }
    while (!done && loop.WaitForPending(1)) loop.RunPending();
    EXPECT_EQ(manager.Running(), 0u);
    return got;
}

TEST(HttpClient, HostileServers) {
    const std::string chunkedOk =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n<ok m\r\n6\r\n=\"1\"/>\r\n0\r\n\r\n";
    const struct {
        const char* name;
        LoopbackServer::Behaviour behave;
        bool ok;
        std::string body;
        int connections;
    } cases[] = {
        {"100 MB body",
         [](int fd, const std::string&) {
             SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Length: 104857600\r\n\r\n");
             SendMegabytes(fd, 100);
         },
         false, "", 1},
        {"100 MB body without a length",
         [](int fd, const std::string&) {
             SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n");
             SendMegabytes(fd, 100);
         },
         false, "", 1},
        {"no blank line", [](int fd, const std::string&) { SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nabc"); },
         false, "", 1},
        {"letters as status", [](int fd, const std::string&) { SendAll(fd, "HTTP/1.0 xyz\r\n\r\n<ok/>"); }, false, "", 1},
        {"chunked", [&](int fd, const std::string&) { SendAll(fd, chunkedOk); }, true, "<ok m=\"1\"/>", 1},
        {"short body then close",
         [](int fd, const std::string&) {
             SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'a'));
         },
         false, "", 1},
        {"redirect loop",
         [](int fd, const std::string&) { SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n"); },
         false, "", 6},
        {"redirect to another host",
         [](int fd, const std::string&) {
             SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: http://evil.example/x\r\n\r\n");
         },
         false, "", 1},
        {"protocol-relative redirect",
         [](int fd, const std::string&) { SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: //evil.example/x\r\n\r\n"); },
         false, "", 1},
        {"cookie goes back",
         [](int fd, const std::string& request) {
             if (request.find("Cookie: sid=a1\r\n") != std::string::npos)
                 SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n<ok/>");
             else
                 SendAll(fd, "HTTP/1.0 302 Found\r\nSet-Cookie: sid=a1; path=/\r\nLocation: /two\r\n\r\n");
         },
         true, "<ok/>", 2},
        {"silence",
         [](int fd, const std::string&) {
             g_clockOffsetMs += 31000;  // past both deadlines
             char byte;
             ::recv(fd, &byte, 1, 0);   // until the client gives up
         },
         false, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const long rssBefore = RssKiB();
        const auto start = std::chrono::steady_clock::now();
        LoopbackServer server(c.behave);
        HttpResult r = Fetch("http://127.0.0.1:" + std::to_string(server.port()) + "/u.php?x=1");
        EXPECT_EQ(r.ok, c.ok) << r.error;
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(server.connections(), c.connections);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer keeps freed memory in quarantine: growth means nothing there.
        EXPECT_LT(RssKiB() - rssBefore, 1024);
#endif
        (void)rssBefore;
    }
}

TEST(HttpClient, CancelledRequestEndsWithoutItsCallback) {
    LoopbackServer silent([](int fd, const std::string&) {
        char byte;
        ::recv(fd, &byte, 1, 0);
    });
    CHeadlessEventLoop loop;
    CHttpDownloadManager manager(loop, HttpOptions{});
    bool called = false;
    const uint32_t id = manager.Download("http://127.0.0.1:" + std::to_string(silent.port()) + "/",
                                         [&](const HttpResult&) { called = true; });
    manager.Cancel(id);
    const auto start = std::chrono::steady_clock::now();
    while (manager.Running() > 0 && loop.WaitForPending(1)) loop.RunPending();
    EXPECT_FALSE(called);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(HttpClient, NameLookUpNeverHoldsTheLoopThread) {
    HttpOptions options;
    options.resolve = [](const char*, const char*, const addrinfo*, addrinfo**) {
        std::this_thread::sleep_for(1s);
        return EAI_NONAME;
    };
    CHeadlessEventLoop loop;
    CHttpDownloadManager manager(loop, options);
    HttpResult got;
    bool done = false;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_NE(manager.Download("http://slow.example/", [&](const HttpResult& r) { got = r, done = true; }), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    while (!done && loop.WaitForPending(1)) loop.RunPending();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(got.error, "name not found");
}

TEST(HttpClient, RefusedAddressesAndProxies) {
    for (const char* url : {"https://127.0.0.1/", "http://a@b/", "http://h:0/", "http://h:99999/",
                            "http://h/a b", "http://h/\r\nX: y", "file:///etc/passwd"})
        EXPECT_FALSE(ParseHttpUrl(url)) << url;
    EXPECT_EQ(ParseHttpUrl("http://up.example:8080/u?x"), (HttpTarget{"up.example", 8080, "/u?x"}));
    EXPECT_EQ(ParseProxy("http://proxy.lan:3129/"), (HttpTarget{"proxy.lan", 3129, "/"}));
    EXPECT_FALSE(ParseProxy(""));
}

TEST(HttpClient, ProxyGetsTheAbsoluteAddress) {
    LoopbackServer proxy([](int fd, const std::string&) { SendAll(fd, "HTTP/1.0 200 OK\r\n\r\nx"); });
    HttpOptions options;
    options.proxy = HttpTarget{"127.0.0.1", proxy.port(), "/"};
    std::atomic<bool> cancel{false};
    HttpResult r = CMyHttp(HttpTarget{"up.example", 80, "/u.php"}, options, cancel).Run();
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(proxy.lastRequest().rfind("GET http://up.example:80/u.php HTTP/1.0\r\n", 0), 0u);
}

}  // namespace
}  // namespace vexel
