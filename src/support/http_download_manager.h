// Runs downloads on worker threads and hands each result to its callback on the event loop's
// thread. Destroying the manager cancels what is running and waits for its threads; no
// callback runs after that.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "platform/event_loop.h"
#include "support/my_http.h"

namespace vexel {

class CHttpDownloadManager {
public:
    using Callback = std::function<void(const HttpResult&)>;

    // The proxy, unless options name one, comes from http_proxy.
    explicit CHttpDownloadManager(IEventLoop& loop, HttpOptions options = DefaultOptions());
    ~CHttpDownloadManager();
    CHttpDownloadManager(const CHttpDownloadManager&) = delete;
    CHttpDownloadManager& operator=(const CHttpDownloadManager&) = delete;

    static HttpOptions DefaultOptions();

    // Starts a GET of an http:// address; 0 (and no callback) when the address is refused.
    uint32_t Download(const std::string& url, Callback callback);
    // Stops a request; its callback never runs. Unknown or finished ids are ignored.
    void Cancel(uint32_t id);
    // Requests whose callback has not run yet.
    size_t Running() const { return m_requests.size(); }

private:
    struct Request {
        std::atomic<bool> cancel{false};
        bool dropped = false;  // loop thread only: the callback is not to run
        std::thread worker;
    };
    void Finish(uint32_t id, const HttpResult& result, const Callback& callback);

    IEventLoop& m_loop;
    HttpOptions m_options;
    std::atomic<uint32_t> m_nextId{1};
    std::map<uint32_t, std::unique_ptr<Request>> m_requests;
    // Cleared (on the loop thread) when the manager goes, so late results are dropped.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace vexel
