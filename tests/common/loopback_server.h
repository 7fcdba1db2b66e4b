// A loopback HTTP server for the network tests: each connection's request head is read and
// handed to the test's behaviour, which writes whatever it likes.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexel::test {

// Reads the request head of one connection.
inline std::string ReadRequest(int fd) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    return request;
}

inline bool SendAll(int fd, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// The server's own buffer stays small, so the memory figure is the client's.
inline void SendMegabytes(int fd, int megabytes) {
    static const std::string block(16384, 'x');
    for (int i = 0; i < megabytes * 64 && SendAll(fd, block); ++i) {}
}

// Answers every connection with `behave` until stopped.
class LoopbackServer {
public:
    using Behaviour = std::function<void(int fd, const std::string& request)>;
    explicit LoopbackServer(Behaviour behave) : m_behave(std::move(behave)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(m_listen, 8);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    uint16_t port() const { return m_port; }
    int connections() const { return m_connections; }
    std::string lastRequest() const {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    void Serve() {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++m_connections;
            std::string request = ReadRequest(fd);
            {
                std::lock_guard lock(m_mutex);
                m_last = request;
                m_requests.push_back(request);
            }
            m_behave(fd, request);
            ::close(fd);
        }
    }
    Behaviour m_behave;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::string m_last;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

}  // namespace vexel::test
