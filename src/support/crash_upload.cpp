#include "support/crash_upload.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <string_view>

namespace vexel {
namespace {

constexpr size_t kMaxReplyBytes = 2048;
constexpr long kConnectSeconds = 15;
constexpr long kTotalSeconds = 120;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// curl_global_init is thread-safe in libcurl 7.84 and later; the pair counts its users.
class CurlGlobal {
public:
    CurlGlobal() : m_ok(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
    ~CurlGlobal() {
        if (m_ok) curl_global_cleanup();
    }
    bool Ok() const { return m_ok; }

private:
    bool m_ok;
};

// The archive part is read straight from the descriptor that packing checked.
struct ArchiveSource {
    int fd;
    uint64_t size;
    uint64_t offset = 0;
};

size_t ReadArchive(char* buffer, size_t size, size_t count, void* context) {
    auto& source = *static_cast<ArchiveSource*>(context);
    const uint64_t left = source.size - source.offset;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(left, uint64_t(size) * count));
    if (wanted == 0) return 0;
    ssize_t n;
    do {
        n = pread(source.fd, buffer, wanted, static_cast<off_t>(source.offset));
    } while (n < 0 && errno == EINTR);
    // A file that shrank would make the promised length a lie.
    if (n <= 0) return CURL_READFUNC_ABORT;
    source.offset += static_cast<uint64_t>(n);
    return static_cast<size_t>(n);
}

int SeekArchive(void* context, curl_off_t offset, int origin) {
    auto& source = *static_cast<ArchiveSource*>(context);
    if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > source.size)
        return CURL_SEEKFUNC_FAIL;
    source.offset = static_cast<uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

// Keeps the first kMaxReplyBytes of the reply; a longer one cannot be "200" and ends the
// transfer.
size_t KeepReply(char* data, size_t size, size_t count, void* context) {
    auto& reply = *static_cast<std::string*>(context);
    const size_t bytes = size * count;
    if (reply.size() + bytes > kMaxReplyBytes) return 0;
    reply.append(data, bytes);
    return bytes;
}

int CheckCancel(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(context);
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

bool ReplyIs200(std::string_view reply) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!reply.empty() && blank(reply.front()))
        reply.remove_prefix(1);
    while (!reply.empty() && blank(reply.back()))
        reply.remove_suffix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(reply.data(), reply.data() + reply.size(), value);
    return !reply.empty() && error == std::errc() && end == reply.data() + reply.size() &&
           value == 200;
}

bool AddText(curl_mime* form, const char* name, const std::string& value) {
    if (value.empty()) return true;
    curl_mimepart* part = curl_mime_addpart(form);
    return part != nullptr && curl_mime_name(part, name) == CURLE_OK &&
           curl_mime_data(part, value.data(), value.size()) == CURLE_OK;
}

bool AddArchive(curl_mime* form, ArchiveSource& source) {
    curl_mimepart* part = curl_mime_addpart(form);
    return part != nullptr && curl_mime_name(part, "dump") == CURLE_OK &&
           curl_mime_filename(part, "creport.zip") == CURLE_OK &&
           curl_mime_type(part, "application/octet-stream") == CURLE_OK &&
           curl_mime_data_cb(part, static_cast<curl_off_t>(source.size), ReadArchive, SeekArchive,
                             nullptr, &source) == CURLE_OK;
}

// Only https, with every check of the peer on; no redirects, no other protocol.
bool SetOptions(CURL* easy, const CrashUpload& upload, curl_mime* form, curl_slist* headers,
                std::string& reply) {
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, upload.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (ok && !upload.caFile.empty())
        ok = curl_easy_setopt(easy, CURLOPT_CAINFO, upload.caFile.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_TIMEOUT, kTotalSeconds) == CURLE_OK;
    // Worker thread: no alarm() for name look-ups.
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, "Vexel crash reporter") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_MIMEPOST, form) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, KeepReply) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, CheckCancel) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_XFERINFODATA, upload.cancel) == CURLE_OK;
    return ok;
}

UploadResult ResultOf(CURLcode code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return UploadResult::NotHttps;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return UploadResult::Unreachable;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return UploadResult::Insecure;
        case CURLE_OPERATION_TIMEDOUT:
            return UploadResult::TimedOut;
        case CURLE_ABORTED_BY_CALLBACK:
            return UploadResult::Cancelled;
        case CURLE_WRITE_ERROR:  // a reply longer than any "200"
            return UploadResult::Rejected;
        default:
            return UploadResult::Failed;
    }
}

}  // namespace

bool IsHttpsUrl(const std::string& url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    char* host = nullptr;
    const bool https = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                       std::string_view(scheme) == "https" &&
                       curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                       host[0] != '\0';
    curl_free(scheme);
    curl_free(host);
    return https;
}

UploadResult UploadCrashReport(const CrashUpload& upload) {
    if (!IsHttpsUrl(upload.url)) return UploadResult::NotHttps;
    if (upload.archiveFd < 0 || upload.archiveSize == 0) return UploadResult::NoArchive;
    CurlGlobal global;
    if (!global.Ok()) return UploadResult::Failed;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return UploadResult::Failed;
    std::unique_ptr<curl_mime, MimeDeleter> form(curl_mime_init(easy.get()));
    // The form's length is known beforehand, so no "Expect: 100-continue" round trip is needed.
    std::unique_ptr<curl_slist, ListDeleter> headers(curl_slist_append(nullptr, "Expect:"));
    ArchiveSource source{upload.archiveFd, upload.archiveSize};
    std::string reply;
    if (!form || !headers || !AddText(form.get(), "email", upload.email) ||
        !AddText(form.get(), "info", upload.description) || !AddArchive(form.get(), source) ||
        !SetOptions(easy.get(), upload, form.get(), headers.get(), reply)) {
        return UploadResult::Failed;
    }
    const CURLcode code = curl_easy_perform(easy.get());
    if (code != CURLE_OK) return ResultOf(code);
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status < 300 && ReplyIs200(reply) ? UploadResult::Sent
                                                              : UploadResult::Rejected;
}

}  // namespace vexel
