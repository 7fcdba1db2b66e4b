#include "support/http_download_manager.h"

#include <cstdlib>

namespace vexel {

HttpOptions CHttpDownloadManager::DefaultOptions() {
    HttpOptions options;
    options.proxy = ParseProxy(std::getenv("http_proxy"));
    return options;
}

CHttpDownloadManager::CHttpDownloadManager(IEventLoop& loop, HttpOptions options)
    : m_loop(loop), m_options(std::move(options)) {}

CHttpDownloadManager::~CHttpDownloadManager() {
    *m_alive = false;
    for (auto& [id, request] : m_requests) request->cancel = true;
    for (auto& [id, request] : m_requests)
        if (request->worker.joinable()) request->worker.join();
}

uint32_t CHttpDownloadManager::Download(const std::string& url, Callback callback) {
    std::optional<HttpTarget> target = ParseHttpUrl(url);
    if (!target) return 0;
    const uint32_t id = m_nextId++;
    auto request = std::make_unique<Request>();
    Request& r = *request;
    m_requests.emplace(id, std::move(request));
    r.worker = std::thread([this, id, &r, target = *target, callback = std::move(callback),
                            alive = m_alive, options = m_options]() mutable {
        HttpResult result = CMyHttp(std::move(target), std::move(options), r.cancel).Run();
        // The manager may be going: the posted task checks the flag on the loop thread,
        // where the manager is destroyed, before it touches anything.
        m_loop.Post([this, id, alive, result = std::move(result), callback = std::move(callback)] {
            if (*alive) Finish(id, result, callback);
        });
    });
    return id;
}

void CHttpDownloadManager::Finish(uint32_t id, const HttpResult& result, const Callback& callback) {
    auto it = m_requests.find(id);
    if (it == m_requests.end()) return;
    // The worker has posted this task as its last act, so the join is short.
    if (it->second->worker.joinable()) it->second->worker.join();
    const bool dropped = it->second->dropped;
    m_requests.erase(it);
    if (callback && !dropped) callback(result);
}

void CHttpDownloadManager::Cancel(uint32_t id) {
    auto it = m_requests.find(id);
    if (it == m_requests.end()) return;
    it->second->dropped = true;
    it->second->cancel = true;
}

}  // namespace vexel
