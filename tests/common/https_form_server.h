// A loopback HTTPS server in its own process (tests/common/https_form_server.py) with a
// certificate for 127.0.0.1 made by openssl at test time. It parses each upload strictly as
// multipart/form-data and keeps the parts in a folder for the test to compare.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/test_paths.h"

extern char** environ;

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
        int output[2];
        if (code != 0 || pipe(output) != 0) return;
        const std::string script = (SourceDir() / "tests/common/https_form_server.py").string();
        const std::string key = (m_folder / "key.pem").string(), cert = CaFile().string();
        const std::string code_ = std::to_string(status),
                          folder_ = (m_folder / "requests").string();
        const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
        const char* argv[] = {python,        script.c_str(), cert.c_str(),    key.c_str(),
                              code_.c_str(), reply.c_str(),  folder_.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        if (posix_spawnp(&m_pid, python, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        std::string line;
        pollfd ready{output[0], POLLIN, 0};
        char c = 0;
        while (m_pid > 0 && poll(&ready, 1, 20000) == 1 && read(output[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(output[0]);
        m_port = std::atoi(line.c_str());
    }
    ~HttpsFormServer() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    bool Started() const { return m_port > 0; }
    std::string Url(const std::string& scheme = "https") const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port) + "/crash/report.php";
    }
    std::filesystem::path CaFile() const { return m_folder / "cert.pem"; }
    // Request n's outcome: "ok", "bad: ...", "handshake failed"; empty before it was seen.
    // The server writes it before it answers, so it is there when an upload has its reply.
    std::string Result(int n) const {
        const auto bytes = ReadFileBytes(m_folder / "requests" / (std::to_string(n) + ".result"));
        return {bytes.begin(), bytes.end()};
    }
    bool HasRequest(int n) const {
        return std::filesystem::exists(m_folder / "requests" / (std::to_string(n) + ".result"));
    }
    // Part `name` of request n: its bytes, or its header lines.
    std::vector<uint8_t> Part(int n, const std::string& name) const {
        return ReadFileBytes(m_folder / "requests" / (std::to_string(n) + ".part-" + name));
    }
    std::string PartHead(int n, const std::string& name) const {
        const auto bytes =
            ReadFileBytes(m_folder / "requests" / (std::to_string(n) + ".head-" + name));
        return {bytes.begin(), bytes.end()};
    }
    bool HasPart(int n, const std::string& name) const {
        return std::filesystem::exists(m_folder / "requests" /
                                       (std::to_string(n) + ".part-" + name));
    }

private:
    std::filesystem::path m_folder;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace vexel::test
