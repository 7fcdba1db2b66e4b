// Sends a packed crash report to the configured address as a multipart form over HTTPS,
// with the server's certificate and host name checked.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace vexel {

struct CrashUpload {
    std::string url;          // must be https
    std::string email;        // UTF-8; sent as "email" only when not empty
    std::string description;  // UTF-8; sent as "info" only when not empty
    int archiveFd = -1;       // creport.zip, read from offset 0; not owned
    uint64_t archiveSize = 0;
    // Certificates to trust instead of the system's (a test's own); empty: the system's.
    std::string caFile;
    // Set by another thread to abandon the upload within about a second; may be null.
    const std::atomic<bool>* cancel = nullptr;
};

enum class UploadResult {
    Sent,         // HTTP 2xx and the body "200"
    NotHttps,     // refused before any connection
    NoArchive,    // no archive to send: nothing was sent
    Unreachable,  // name not resolved or connection refused
    Insecure,     // the TLS handshake failed: certificate or host name not accepted
    TimedOut,     // 15 s to connect, 120 s in all
    Rejected,     // another HTTP status, or a reply other than "200"
    Cancelled,
    Failed,  // any other transfer error
};

// True for an absolute https URL with a host.
bool IsHttpsUrl(const std::string& url);

// Runs the whole upload on the calling thread.
UploadResult UploadCrashReport(const CrashUpload& upload);

}  // namespace vexel
