// The user-interface thread's longest stall, measured by a 60 Hz probe timer, while an
// update check runs against a loopback server that accepts and never answers, against the
// same probe with no check running. Goal: within 2 ms of it.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/qt/qt_event_loop.h"
#include "support/http_download_manager.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs the probe for `seconds`; the longest gap beyond the period, in ms.
double LongestStall(QCoreApplication& app, double seconds, const std::function<void()>& during) {
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    Clock::time_point last = Clock::now();
    const Clock::time_point end =
        last + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    double worst = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        worst = std::max(worst, std::chrono::duration<double, std::milli>(now - last).count() - 1000.0 / 60);
        last = now;
        if (now >= end) app.quit();
    });
    probe.start(1000 / 60);
    QTimer::singleShot(0, [&] { during(); });
    app.exec();
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vexel::CQtEventLoop loop;
    // A listener that never accepts: the connection is made by the kernel and stays silent.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len);
    ::listen(listener, 16);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/u.php";
    constexpr int kRounds = 5;
    double idle = 0, checking = 0;
    for (int round = 0; round < kRounds; ++round) {
        idle = std::max(idle, LongestStall(app, 2.0, [] {}));
        vexel::CHttpDownloadManager downloads(loop, vexel::HttpOptions{});
        checking = std::max(checking, LongestStall(app, 2.0, [&] {
                                for (int i = 0; i < 4; ++i) downloads.Download(url, {});
                            }));
    }
    // A name look-up that blocks for 5 s, as a dead DNS server does.
    vexel::HttpOptions slowNames;
    slowNames.resolve = [](const char*, const char*, const addrinfo*, addrinfo**) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        return EAI_AGAIN;
    };
    double resolving = 0;
    {
        vexel::CHttpDownloadManager downloads(loop, slowNames);
        resolving = LongestStall(app, 5.0, [&] { downloads.Download("http://update.example/u.php", {}); });
    }
    ::close(listener);
    std::printf("longest stall of a 60 Hz probe, %d rounds of 2 s: idle %.2f ms, "
                "4 checks against a silent server %.2f ms (%+.2f ms)\n",
                kRounds, idle, checking, checking - idle);
    std::printf("longest stall while a name look-up blocks for 5 s: %.2f ms (%+.2f ms)\n",
                resolving, resolving - idle);
    return 0;
}
