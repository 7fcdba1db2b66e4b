// Packing a crash report into a private archive, the addresses an upload accepts, and CRLF
// text that looks like delimiters surviving a strict multipart parser. The rest of the upload
// is tested end to end through the reporter's window (tests/app).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/crash_report_files.h"
#include "common/https_form_server.h"
#include "common/loopback_server.h"
#include "common/test_paths.h"
#include "engine/zip_engine.h"
#include "support/crash_report.h"
#include "support/crash_upload.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

TEST(CrashReportPack, ArchiveIsPrivateAndHoldsBothFiles) {
    const fs::path root = test::ScratchDir("CrashReportPack");
    const UniqueFd folder = test::MakeReportFolder(root / "cache");
    ASSERT_TRUE(folder.Valid());
    const fs::path path = CrashReportFolderPath(root / "cache");
    const fs::path archive = path / kCrashArchiveName;
    test::WritePrivate(folder.Get(), kCrashArchiveName, "left by a failed attempt");

    EXPECT_EQ(PackCrashReport(folder.Get(), path, nullptr).result, PackResult::NoZipModule);
    CZIPEngine zip(test::BinaryDir() / "bin");
    ASSERT_NE(zip.Interface(), nullptr);
    const PackedReport packed = PackCrashReport(folder.Get(), path, zip.Interface());
    ASSERT_EQ(packed.result, PackResult::Packed);
    struct stat info {};
    ASSERT_EQ(lstat(archive.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(uint64_t(info.st_size), packed.size);
    EXPECT_EQ(test::RunCommand("unzip -Z1 " + test::Quote(archive)), "report.xml\nbacktrace.txt\n");
    EXPECT_EQ(test::RunCommand("unzip -p " + test::Quote(archive) + " backtrace.txt"),
              test::kBacktrace);
}

TEST(CrashUpload, OnlyHttpsAddressesAreAcceptedAndOthersNeverConnect) {
    EXPECT_TRUE(IsHttpsUrl("https://reports.example/crash.php"));
    EXPECT_TRUE(IsHttpsUrl("HTTPS://127.0.0.1:8443/"));
    for (const char* url : {"", "http://reports.example/", "ftp://reports.example/",
                            "reports.example/crash.php", "https://", "file:///etc/passwd"})
        EXPECT_FALSE(IsHttpsUrl(url)) << url;
    test::LoopbackServer server([](int, const std::string&) {});
    const std::string port = std::to_string(server.port());
    for (const std::string scheme : {"http", "ftp", "gopher"}) {
        const CrashUpload upload{scheme + "://127.0.0.1:" + port + "/", "a@b", "x", 0, 1, ""};
        EXPECT_EQ(UploadCrashReport(upload), UploadResult::NotHttps);
    }
    EXPECT_EQ(server.connections(), 0);
}

TEST(CrashUpload, CrlfLinesLikeDelimitersRoundTrip) {
    const fs::path root = test::ScratchDir("CrashUploadCrlf");
    test::HttpsFormServer server(root / "server", 200, "200");
    const UniqueFd folder = test::MakeReportFolder(root / "cache");
    CZIPEngine zip(test::BinaryDir() / "bin");
    const PackedReport packed =
        PackCrashReport(folder.Get(), CrashReportFolderPath(root / "cache"), zip.Interface());
    ASSERT_TRUE(server.Started() && packed.result == PackResult::Packed);
    const std::string text =
        "--9DF13AC0-E468-11E0-AE0A-86054824019B\r\n--\r\n--------------------------\r\n"
        "--x--\r\n\r\nContent-Disposition: form-data; name=\"dump\"\r\n\r\n\r\n";
    const CrashUpload upload{server.Url(),         "\r\n--a\r\n", text,
                             packed.archive.Get(), packed.size,   server.CaFile().string()};
    EXPECT_EQ(UploadCrashReport(upload), UploadResult::Sent);
    EXPECT_EQ(server.Get(1, "result"), "ok");
    EXPECT_EQ(server.Get(1, "part-info"), text);
    EXPECT_EQ(server.Get(1, "part-email"), "\r\n--a\r\n");
}

}  // namespace
}  // namespace vexel
