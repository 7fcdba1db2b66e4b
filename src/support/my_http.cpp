#include "support/my_http.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"
#include "support/http_reply.h"

namespace vexel {
namespace {

using TimePoint = std::chrono::steady_clock::time_point;
// Waits are cut into slices so cancellation and an injected clock are seen promptly.
constexpr int kSliceMs = 20;

bool ValidHostChars(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    for (unsigned char c : host)
        if (!(std::isalnum(c) || c == '.' || c == '-')) return false;
    return true;
}

std::optional<HttpTarget> ParseAuthority(std::string_view authority, std::string_view path) {
    HttpTarget target;
    size_t colon = authority.find(':');
    target.host = std::string(authority.substr(0, colon));
    if (!ValidHostChars(target.host)) return std::nullopt;
    if (colon != std::string_view::npos) {
        std::string_view port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5) return std::nullopt;
        unsigned value = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value == 0 || value > 65535) return std::nullopt;
        target.port = static_cast<uint16_t>(value);
    }
    target.path = path.empty() ? "/" : std::string(path);
    for (unsigned char c : target.path)
        if (c <= ' ' || c == 0x7f) return std::nullopt;  // no header injection
    return target;
}

std::string CookieOf(std::string_view setCookie) {
    std::string_view pair = setCookie.substr(0, setCookie.find(';'));
    size_t eq = pair.find('=');
    if (eq == 0 || eq == std::string_view::npos || pair.size() > 1024) return {};
    for (unsigned char c : pair)
        if (c < 0x21 || c == 0x7f || c == ',') return {};
    return std::string(pair);
}

}  // namespace

std::optional<HttpTarget> ParseHttpUrl(std::string_view url) {
    if (url.substr(0, 7) != "http://") return std::nullopt;
    std::string_view rest = url.substr(7);
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? "" : rest.substr(slash);
    path = path.substr(0, path.find('#'));
    return ParseAuthority(authority, path);
}

std::optional<HttpTarget> ParseProxy(const char* value) {
    if (!value || !*value) return std::nullopt;
    std::string_view text(value);
    if (text.substr(0, 7) == "http://") text.remove_prefix(7);
    text = text.substr(0, text.find('/'));
    auto proxy = ParseAuthority(text, "/");
    if (proxy && text.find(':') == std::string_view::npos) proxy->port = 3128;
    return proxy;
}

CMyHttp::CMyHttp(HttpTarget target, HttpOptions options, const std::atomic<bool>& cancel)
    : m_target(std::move(target)), m_options(std::move(options)), m_cancel(cancel) {}

bool CMyHttp::Expired(TimePoint end) const {
    return m_cancel.load() || m_options.clock() >= end;
}

HttpResult CMyHttp::Run() {
    const TimePoint end = m_options.clock() + m_options.totalDeadline;
    HttpTarget target = m_target;
    for (int hop = 0;; ++hop) {
        HttpResult result = Once(target, end);
        bool redirect = result.status == 301 || result.status == 302 || result.status == 303 ||
                        result.status == 307;
        if (!redirect || !result.error.empty()) return result;
        HttpResult failed;
        failed.status = result.status;
        if (hop == HttpOptions::kMaxRedirects) {
            failed.error = "too many redirects";
            return failed;
        }
        // The next address was put in body by Once; relative or same-host http only.
        std::string location = std::move(result.body);
        std::optional<HttpTarget> next;
        if (location.size() > 1 && location[0] == '/' && location[1] != '/') {
            next = ParseAuthority(target.host + ":" + std::to_string(target.port), location);
        } else {
            next = ParseHttpUrl(location);
            if (next && (next->host != target.host || next->port != target.port)) next.reset();
        }
        if (!next) {
            failed.error = "redirect refused";
            return failed;
        }
        target = *next;
    }
}

HttpResult CMyHttp::Once(const HttpTarget& target, TimePoint end) {
    HttpResult result;
    const HttpTarget& peer = m_options.proxy ? *m_options.proxy : target;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (m_options.resolve(peer.host.c_str(), std::to_string(peer.port).c_str(), &hints, &found) != 0 ||
        !found) {
        result.error = "name not found";
        return result;
    }
    const UniqueFd socket(::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                           found->ai_protocol));
    int rc = socket.Get() < 0 ? -1 : ::connect(socket.Get(), found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    if (socket.Get() < 0 || (rc != 0 && errno != EINPROGRESS)) {
        result.error = "connect failed";
        return result;
    }
    // Waits for the socket; false on deadline, cancellation or a poll error.
    auto wait = [&](short events, TimePoint until) {
        for (;;) {
            if (Expired(until)) return false;
            pollfd p{socket.Get(), events, 0};
            int n = ::poll(&p, 1, kSliceMs);
            if (n > 0) return true;
            if (n < 0 && errno != EINTR) return false;
        }
    };
    TimePoint connectEnd = std::min(end, m_options.clock() + m_options.connectDeadline);
    int soError = 0;
    socklen_t len = sizeof soError;
    if (!wait(POLLOUT, connectEnd) ||
        ::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
        result.error = "connect timed out or failed";
        return result;
    }
    std::string request = "GET ";
    if (m_options.proxy)
        request += "http://" + target.host + ":" + std::to_string(target.port);
    request += target.path + " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Vexel\r\nHost: " +
               target.host + (target.port == 80 ? "" : ":" + std::to_string(target.port)) +
               "\r\nCache-Control: no-cache\r\n";
    if (!m_cookie.empty() && target.host == m_target.host) request += "Cookie: " + m_cookie + "\r\n";
    request += "\r\n";
    for (size_t sent = 0; sent < request.size();) {
        if (!wait(POLLOUT, end)) {
            result.error = "send timed out";
            return result;
        }
        ssize_t n = ::send(socket.Get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            result.error = "send failed";
            return result;
        }
        if (n > 0) sent += static_cast<size_t>(n);
    }
    HttpReply reply;
    char buffer[16384];
    while (reply.state() == HttpReply::State::kNeedMore) {
        if (!wait(POLLIN, end)) {
            result.error = "reply timed out";
            return result;
        }
        ssize_t n = ::recv(socket.Get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            reply.Feed(std::string_view(buffer, static_cast<size_t>(n)));
        } else if (n == 0) {
            reply.Close();
        } else if (errno != EAGAIN && errno != EINTR) {
            result.error = "connection reset";
            return result;
        }
    }
    if (reply.state() != HttpReply::State::kDone) {
        result.error = "malformed reply";
        return result;
    }
    result.status = reply.status();
    if (result.status == 200) {
        result.ok = true;
        result.body = reply.body();
        return result;
    }
    const bool redirect = result.status == 301 || result.status == 302 || result.status == 303 ||
                          result.status == 307;
    if (!redirect) {
        result.error = "HTTP status " + std::to_string(result.status);
    } else if (auto location = reply.Header("Location")) {
        if (auto cookie = reply.Header("Set-Cookie"); cookie && target.host == m_target.host) {
            std::string pair = CookieOf(*cookie);
            if (!pair.empty()) m_cookie = pair;
        }
        result.body = *location;  // read by Run as the next address
    } else {
        result.error = "redirect without a location";
    }
    return result;
}

}  // namespace vexel
