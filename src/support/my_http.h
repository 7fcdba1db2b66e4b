// One HTTP/1.0 GET over a non-blocking POSIX socket, run to its end on a worker thread
// (CHttpDownloadManager owns the thread). Name look-up, connect, send and receive all happen
// there, so the user-interface thread never waits on the network.
#pragma once

#include <netdb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vexel {

struct HttpTarget {
    std::string host;  // name or numeric address, no port
    uint16_t port = 80;
    std::string path = "/";  // path and query
    bool operator==(const HttpTarget&) const = default;
};

// "http://host[:port][/path]" only; anything else (https, user information, bad ports) is
// none.
std::optional<HttpTarget> ParseHttpUrl(std::string_view url);
// The proxy of an http_proxy value ("http://host:port/" or "host:port"); none when empty or
// not understood.
std::optional<HttpTarget> ParseProxy(const char* value);

struct HttpOptions {
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    std::chrono::milliseconds connectDeadline{10000};
    std::chrono::milliseconds totalDeadline{30000};
    Clock clock = [] { return std::chrono::steady_clock::now(); };  // tests inject their own
    // Name look-up, as getaddrinfo; tests inject a slow one.
    using Resolver = std::function<int(const char* host, const char* service,
                                       const addrinfo* hints, addrinfo** found)>;
    Resolver resolve = ::getaddrinfo;
    std::optional<HttpTarget> proxy;
    static constexpr int kMaxRedirects = 5;
};

struct HttpResult {
    bool ok = false;  // an HTTP 200 with a complete body
    int status = 0;   // the last status line's code, 0 when none arrived
    std::string body;
    std::string error;  // why it failed, for logs and tests
};

class CMyHttp {
public:
    CMyHttp(HttpTarget target, HttpOptions options, const std::atomic<bool>& cancel);
    // Runs the request with its redirects; returns when it has ended. The socket is closed
    // before this returns.
    HttpResult Run();

private:
    HttpResult Once(const HttpTarget& target, std::chrono::steady_clock::time_point end);
    bool Expired(std::chrono::steady_clock::time_point end) const;

    HttpTarget m_target;
    HttpOptions m_options;
    const std::atomic<bool>& m_cancel;
    std::string m_cookie;  // "name=value" for m_target.host only
};

}  // namespace vexel
