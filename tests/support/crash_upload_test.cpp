// Packing and sending a crash report against a real HTTPS server on the loopback: the form
// must survive a strict multipart parser byte for byte, and nothing is sent over plain HTTP
// or to a server whose certificate is not trusted.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/crash_report_files.h"
#include "common/https_form_server.h"
#include "common/test_paths.h"
#include "engine/zip_engine.h"
#include "support/crash_report.h"
#include "support/crash_upload.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

const VexelZipInterface* ZipModule() {
    static CZIPEngine engine(test::BinaryDir() / "bin");
    return engine.Interface();
}

std::string AsText(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(CrashReportPack, ArchiveIsPrivateAndHoldsBothFiles) {
    const fs::path root = test::ScratchDir("CrashReportPack");
    const UniqueFd folder = test::MakeReportFolder(root / "cache");
    ASSERT_TRUE(folder.Valid());
    const fs::path path = CrashReportFolderPath(root / "cache");
    test::WritePrivate(folder.Get(), kCrashArchiveName, "left by a failed attempt");

    EXPECT_EQ(PackCrashReport(folder.Get(), path, nullptr).result, PackResult::NoZipModule);
    ASSERT_NE(ZipModule(), nullptr);
    const PackedReport packed = PackCrashReport(folder.Get(), path, ZipModule());
    ASSERT_EQ(packed.result, PackResult::Packed);
    struct stat info {};
    ASSERT_EQ(lstat((path / kCrashArchiveName).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(uint64_t(info.st_size), packed.size);
    const std::string listing =
        test::RunCommand("unzip -Z1 " + test::Quote(path / kCrashArchiveName));
    EXPECT_EQ(listing, "report.xml\nbacktrace.txt\n");
    EXPECT_EQ(
        test::RunCommand("unzip -p " + test::Quote(path / kCrashArchiveName) + " backtrace.txt"),
        test::kBacktrace);
}

struct UploadCase {
    const char* name;
    std::string scheme;
    bool trusted;
    int status;
    std::string reply;
    std::string email;
    std::string description;
    UploadResult expected;
};

void PrintTo(const UploadCase& c, std::ostream* out) {
    *out << c.name;
}

// Text that a fixed or careless boundary would cut: the old fixed boundary, dash lines and a
// whole fake part.
const std::string kTrickyText =
    "--9DF13AC0-E468-11E0-AE0A-86054824019B\r\n--\r\n------------------------\r\n"
    "--x--\r\n\r\nContent-Disposition: form-data; name=\"dump\"\r\n\r\nü\r\n";

const UploadCase kUploadCases[] = {
    {"FieldsWithBoundaryText", "https", true, 200, "200", "zoë@example.org", kTrickyText,
     UploadResult::Sent},
    {"EmptyFieldsSendOnlyTheDump", "https", true, 200, "200\r\n", "", "", UploadResult::Sent},
    {"UntrustedCertificate", "https", false, 200, "200", "a@b", "x", UploadResult::Insecure},
    {"PlainHttpRefused", "http", true, 200, "200", "a@b", "x", UploadResult::NotHttps},
    {"Reply500", "https", true, 200, "500", "", "", UploadResult::Rejected},
    {"Status500", "https", true, 500, "200", "", "", UploadResult::Rejected},
};

class CrashUploadTest : public testing::TestWithParam<UploadCase> {};

TEST_P(CrashUploadTest, SendsTheFormOnlyOverTrustedHttps) {
    const UploadCase& c = GetParam();
    const fs::path root = test::ScratchDir(std::string("CrashUpload") + c.name);
    test::HttpsFormServer server(root / "server", c.status, c.reply);
    ASSERT_TRUE(server.Started());
    const UniqueFd folder = test::MakeReportFolder(root / "cache");
    ASSERT_TRUE(folder.Valid() && ZipModule() != nullptr);
    const fs::path path = CrashReportFolderPath(root / "cache");
    const PackedReport packed = PackCrashReport(folder.Get(), path, ZipModule());
    ASSERT_EQ(packed.result, PackResult::Packed);
    CrashUpload upload{server.Url(c.scheme), c.email,
                       c.description,        packed.archive.Get(),
                       packed.size,          c.trusted ? server.CaFile().string() : ""};
    EXPECT_EQ(UploadCrashReport(upload), c.expected);

    if (c.expected == UploadResult::Insecure || c.expected == UploadResult::NotHttps) {
        EXPECT_FALSE(server.HasPart(1, "dump"));
        if (c.expected == UploadResult::NotHttps) {
            // The refused address never connected: the next upload is the server's first.
            upload.url = server.Url();
            EXPECT_EQ(UploadCrashReport(upload), UploadResult::Sent);
            EXPECT_EQ(server.Result(1), "ok");
        }
        return;
    }
    ASSERT_EQ(server.Result(1), "ok");
    EXPECT_EQ(server.Part(1, "dump"), test::ReadFileBytes(path / kCrashArchiveName));
    EXPECT_EQ(server.PartHead(1, "dump"),
              "Content-Disposition: form-data; name=\"dump\"; filename=\"creport.zip\"\r\n"
              "Content-Type: application/octet-stream");
    EXPECT_EQ(server.HasPart(1, "email"), !c.email.empty());
    EXPECT_EQ(server.HasPart(1, "info"), !c.description.empty());
    if (!c.email.empty()) {
        EXPECT_EQ(AsText(server.Part(1, "email")), c.email);
    }
    if (!c.description.empty()) {
        EXPECT_EQ(AsText(server.Part(1, "info")), c.description);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashUploadTest, testing::ValuesIn(kUploadCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CrashUpload, OnlyHttpsAddressesWithAHostAreAccepted) {
    EXPECT_TRUE(IsHttpsUrl("https://reports.example/crash.php"));
    EXPECT_TRUE(IsHttpsUrl("HTTPS://127.0.0.1:8443/"));
    for (const char* url : {"", "http://reports.example/", "ftp://reports.example/",
                            "reports.example/crash.php", "https://", "file:///etc/passwd"})
        EXPECT_FALSE(IsHttpsUrl(url)) << url;
}

}  // namespace
}  // namespace vexel
