// A loopback HTTPS server in its own process (https_form_server.py) with a certificate for
// 127.0.0.1 made by openssl at test time. It parses each upload strictly as
// multipart/form-data and keeps the parts in a folder for the test to compare.
#pragma once

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/test_paths.h"

namespace vexel::test {

class HttpsFormServer {
public:
    HttpsFormServer(const std::filesystem::path& folder, int status, const std::string& reply)
        : m_folder(folder) {
        std::filesystem::create_directories(m_folder / "requests");
        int code = -1;
        RunCommand(
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
            "-days 2 -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1,DNS:localhost "
            "-keyout " +
                Quote(m_folder / "key.pem") + " -out " + Quote(CaFile()) + " 2>/dev/null",
            &code);
        if (code != 0) return;
        m_process =
            popen(("exec python3 " + Quote(SourceDir() / "tests/common/https_form_server.py") +
                   " " + Quote(CaFile()) + " " + Quote(m_folder / "key.pem") + " " +
                   std::to_string(status) + " '" + reply + "' " + Quote(m_folder / "requests"))
                      .c_str(),
                  "r");
        if (m_process == nullptr || std::fscanf(m_process, "%d %d", &m_port, &m_pid) != 2)
            m_port = 0;
    }
    ~HttpsFormServer() {
        if (m_pid > 0) kill(m_pid, SIGTERM);
        if (m_process != nullptr) pclose(m_process);
    }
    bool Started() const { return m_port > 0; }
    std::string Url(const std::string& scheme = "https") const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port) + "/crash/report.php";
    }
    std::filesystem::path CaFile() const { return m_folder / "cert.pem"; }
    // Of request n: "result" ("ok", "bad: why", "handshake failed"; written before the reply
    // is sent), "part-NAME" (the part's bytes) or "head-NAME" (its header lines); empty
    // when absent.
    std::string Get(int n, const std::string& what) const {
        const std::vector<uint8_t> bytes = ReadFileBytes(Path(n, what));
        return {bytes.begin(), bytes.end()};
    }
    bool Has(int n, const std::string& what) const {
        return std::filesystem::exists(Path(n, what));
    }
    std::filesystem::path Path(int n, const std::string& what) const {
        return m_folder / "requests" / (std::to_string(n) + "." + what);
    }

private:
    std::filesystem::path m_folder;
    FILE* m_process = nullptr;
    int m_pid = 0;
    int m_port = 0;
};

}  // namespace vexel::test
