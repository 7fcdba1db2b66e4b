// The crash reporter as its user meets it: only this user's report folder is accepted, the
// window lists what the report holds, closing deletes the report, and sending it to a real
// HTTPS server (a strict multipart parser) deletes it on success and keeps it on failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <fstream>

#include "app/crash_report_wnd.h"
#include "app/crash_reporter_app.h"
#include "common/crash_report_files.h"
#include "common/https_form_server.h"
#include "common/loopback_server.h"
#include "common/test_paths.h"
#include "engine/zip_engine.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using State = CCrashReportWnd::State;

bool HasFile(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

struct FolderCase {
    const char* name;
    bool accepted;
    const char* reportAt;  // under the test's folder: report.xml and a planted "keep"
    mode_t mode;
    bool linkedFromCrash;  // cache/VexelViewer/crash is a link to it
    const char* given;     // "@" stands for the test's folder
};

const FolderCase kFolderCases[] = {
    {"TheReportFolder", true, "cache/VexelViewer/crash", 0700, false,
     "@/cache/VexelViewer//crash/."},
    {"AnotherFolder", false, "elsewhere", 0700, false, "@/elsewhere"},
    {"OpenFolderOfAnotherLayout", false, "cache/VexelViewer/reports", 0755, false,
     "@/cache/VexelViewer/reports"},
    {"LinkInPlaceOfTheFolder", false, "target", 0700, true, "@/cache/VexelViewer/crash"},
    {"RelativeName", false, "cache/VexelViewer/crash", 0700, false, "cache/VexelViewer/crash"},
    {"ParentByDots", false, "cache/VexelViewer/crash", 0700, false, "@/cache/VexelViewer/crash/.."},
};

class ReportFolderRule : public testing::TestWithParam<FolderCase> {};

TEST_P(ReportFolderRule, OnlyThisUsersReportFolderIsAccepted) {
    const FolderCase& c = GetParam();
    const fs::path root = test::ScratchDir(std::string("ReportFolder") + c.name);
    const fs::path report = root / c.reportAt;
    fs::create_directories(report);
    chmod(report.c_str(), c.mode);
    std::ofstream(report / "report.xml") << test::ReportXml("", "", "");
    std::ofstream(report / "keep") << "planted";
    fs::create_directories(root / "cache/VexelViewer");
    if (c.linkedFromCrash) fs::create_directory_symlink(report, root / "cache/VexelViewer/crash");
    std::string given = c.given;
    if (given[0] == '@') given.replace(0, 1, root.string());

    std::string error;
    EXPECT_EQ(OpenAcceptedReportFolder(given, root / "cache", &error).Valid(), c.accepted) << error;
    if (c.accepted) return;
    int code = -1;
    const std::string output = test::RunCommand(
        "cd " + test::Quote(root) + " && env -u DISPLAY QT_QPA_PLATFORM=offscreen XDG_CACHE_HOME=" +
            test::Quote(root / "cache") + " " +
            test::Quote(test::BinaryDir() / "bin/vexel-viewer") + " -crash " + test::Quote(given) +
            " 2>&1",
        &code);
    EXPECT_EQ(code, 2) << output;
    EXPECT_NE(output.find("nothing done"), std::string::npos) << output;
    EXPECT_TRUE(HasFile(report / "keep") && HasFile(report / "report.xml"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportFolderRule, testing::ValuesIn(kFolderCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A window over a fresh report folder under the test's own cache folder.
struct Rig {
    Rig(const std::string& name, const std::string& xml, std::string url, std::string caFile = "",
        bool zipModule = true, std::string webSite = "https://vexel.example/site")
        : root(test::ScratchDir(name)),
          folder(test::MakeReportFolder(root / "cache", xml)),
          zip(test::BinaryDir() / "bin") {
        window = std::make_unique<CCrashReportWnd>(CrashReportSetup{
            Folder(), folder.Get(), ReadCrashReport(folder.Get()).value_or(CrashReportSummary{}),
            std::move(url), std::move(webSite), std::move(caFile),
            zipModule ? zip.Interface() : nullptr, [this](const QUrl& page) {
                opened << page;
                return true;
            }});
    }
    fs::path Folder() const { return CrashReportFolderPath(root / "cache"); }
    bool ReportLeft() const { return HasFile(Folder() / "report.xml"); }
    fs::path root;
    UniqueFd folder;
    CZIPEngine zip;
    QList<QUrl> opened;
    std::unique_ptr<CCrashReportWnd> window;
};

TEST(CrashReportWnd, ListsIdentifierAndLanguageOnlyWhenPresent) {
    Rig with("CrashWndWith", test::ReportXml("id.7", "de", "Vexel 1.0 de-1"), "");
    Rig without("CrashWndWithout", test::ReportXml("", "", ""), "", "", true, "");
    QStringList expected = {"Program: Vexel DICOM Viewer 1.2.3.45",
                            "Platform: x86_64",
                            "Operating system: Linux 6.1.0 x86_64",
                            "Time of the error (UTC): 2026-12-08T16:00:00Z",
                            "Open file descriptors: 17",
                            "Memory use: 81234 KB",
                            "Update check identifier: id.7",
                            "Language: de Vexel 1.0 de-1",
                            "The call stack and the program's loaded libraries at the crash"};
    EXPECT_EQ(with.window->ListedItems(), expected);
    expected.remove(6, 2);
    EXPECT_EQ(without.window->ListedItems(), expected);
    EXPECT_TRUE(with.window->findChild<QLabel*>("privacy")->isEnabled());
    EXPECT_FALSE(without.window->findChild<QLabel*>("privacy")->isEnabled());
    // No report address: nothing can be sent, and the window says why.
    EXPECT_FALSE(with.window->findChild<QPushButton*>("send")->isEnabled());
    EXPECT_TRUE(with.window->StatusText().contains("No https report address"));
    with.window->ShowFiles();
    with.window->OpenPrivacyPolicy();
    EXPECT_EQ(with.opened, (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(with.Folder())),
                                        QUrl("https://vexel.example/site/privacy.php")}));
    with.window->ShowExtended();
    EXPECT_TRUE(with.window->findChild<QLineEdit*>("email")->isVisibleTo(with.window.get()));
    EXPECT_FALSE(with.window->findChild<QLabel*>("extend")->isVisibleTo(with.window.get()));
    EXPECT_EQ(with.window->findChild<QLineEdit*>("email")->maxLength(), 128);
    // 1024 whole characters: a surrogate pair counts once and is never split.
    auto* description = with.window->findChild<QPlainTextEdit*>("description");
    description->setPlainText(QString(1023, 'x') + QString::fromUtf8("\U0001F600\U0001F600"));
    EXPECT_EQ(description->toPlainText(), QString(1023, 'x') + QString::fromUtf8("\U0001F600"));
}

TEST(CrashReportWnd, CloseTheProgramAndEscapeDeleteTheReport) {
    for (const bool escape : {false, true}) {
        Rig rig("CrashWndClose", test::ReportXml("", "", ""), "https://127.0.0.1:9/x");
        ASSERT_TRUE(rig.ReportLeft());
        rig.window->show();
        if (escape) {
            QTest::keyClick(rig.window.get(), Qt::Key_Escape);
        } else {
            rig.window->findChild<QPushButton*>("close")->click();
        }
        EXPECT_FALSE(rig.window->isVisible());
        EXPECT_TRUE(fs::is_empty(rig.Folder())) << "escape " << escape;
    }
}

TEST(CrashReportWnd, ClosingWhileSendingCancelsWaitsAndDeletes) {
    // A server that never completes the TLS handshake: only cancelling ends the upload
    // before the 15 s connect time-out.
    test::LoopbackServer silent([](int, const std::string&) {});
    Rig rig("CrashWndCancel", test::ReportXml("", "", ""),
            "https://127.0.0.1:" + std::to_string(silent.port()) + "/x");
    rig.window->show();
    QSignalSpy finished(rig.window.get(), &CCrashReportWnd::uploadFinished);
    rig.window->findChild<QPushButton*>("send")->click();
    ASSERT_EQ(rig.window->CurrentState(), State::Sending);
    rig.window->reject();
    EXPECT_TRUE(rig.window->isVisible());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).value<UploadResult>(), UploadResult::Cancelled);
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_TRUE(fs::is_empty(rig.Folder()));
}

struct SendCase {
    const char* name;
    bool trusted;
    int status;
    std::string reply;
    std::string email, description;
    bool zipModule;
    State state;
    const char* statusText;
};

// Lines a fixed or careless boundary would cut (the window's editor keeps no CR; the
// upload's own test sends CRLF lines).
const std::string kTricky =
    "--9DF13AC0-E468-11E0-AE0A-86054824019B\n--\n-------------------------\n--x--\n\n"
    "Content-Disposition: form-data; name=\"dump\"\n\nü";

const SendCase kSendCases[] = {
    {"BoundaryTextRoundTrips", true, 200, "200", "zoë@example.org", kTricky, true, State::Sent,
     "was sent and deleted"},
    {"EmptyFieldsSendOnlyTheDump", true, 200, "200\r\n", "", " ", true, State::Sent, "was sent"},
    {"UntrustedCertificate", false, 200, "200", "", "", true, State::Failed,
     "no secure connection"},
    {"Reply500", true, 200, "500", "", "", true, State::Failed, "did not accept the report"},
    {"Status500", true, 500, "200", "", "", true, State::Failed, "did not accept the report"},
    {"NoZipModule", true, 200, "200", "", "", false, State::Failed, "could not be packed"},
};

class CrashReportSend : public testing::TestWithParam<SendCase> {};

TEST_P(CrashReportSend, SuccessDeletesTheReportFailureKeepsIt) {
    const SendCase& c = GetParam();
    test::HttpsFormServer server(test::ScratchDir(std::string("CrashServer") + c.name), c.status,
                                 c.reply);
    ASSERT_TRUE(server.Started());
    Rig rig(std::string("CrashSend") + c.name, test::ReportXml("", "", ""), server.Url(),
            c.trusted ? server.CaFile().string() : "", c.zipModule);
    const std::string xml = test::ReadText(rig.Folder() / "report.xml");
    rig.window->show();
    rig.window->ShowExtended();
    rig.window->findChild<QLineEdit*>("email")->setText(QString::fromStdString(c.email));
    rig.window->findChild<QPlainTextEdit*>("description")
        ->setPlainText(QString::fromStdString(c.description));
    QSignalSpy finished(rig.window.get(), &CCrashReportWnd::uploadFinished);
    rig.window->findChild<QPushButton*>("send")->click();
    if (c.zipModule) {
        ASSERT_TRUE(finished.wait(60000));
    }
    EXPECT_EQ(rig.window->CurrentState(), c.state);
    EXPECT_TRUE(rig.window->StatusText().contains(c.statusText))
        << rig.window->StatusText().toStdString();
    EXPECT_EQ(rig.ReportLeft(), c.state == State::Failed);
    EXPECT_FALSE(HasFile(rig.Folder() / "creport.zip"));
    // Closing after a failed attempt leaves the report for the next crash to replace.
    rig.window->reject();
    EXPECT_EQ(rig.ReportLeft(), c.state == State::Failed);
    if (!c.zipModule || !c.trusted) {
        EXPECT_FALSE(server.Has(1, "part-dump"));
        return;
    }
    ASSERT_EQ(server.Get(1, "result"), "ok");
    const std::string dump = test::Quote(server.Path(1, "part-dump"));
    EXPECT_EQ(test::RunCommand("unzip -Z1 " + dump), "report.xml\nbacktrace.txt\n");
    EXPECT_EQ(test::RunCommand("unzip -p " + dump + " report.xml"), xml);
    EXPECT_EQ(test::RunCommand("unzip -p " + dump + " backtrace.txt"), test::kBacktrace);
    EXPECT_EQ(server.Get(1, "head-dump"),
              "Content-Disposition: form-data; name=\"dump\"; filename=\"creport.zip\"\r\n"
              "Content-Type: application/octet-stream");
    EXPECT_EQ(server.Has(1, "part-email"), !c.email.empty());
    EXPECT_EQ(server.Get(1, "part-email"), c.email);
    // Blanks alone are no description.
    const bool info = c.description.find_first_not_of(' ') != std::string::npos;
    EXPECT_EQ(server.Get(1, "part-info"), info ? c.description : "");
    EXPECT_EQ(server.Has(1, "part-info"), info);
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashReportSend, testing::ValuesIn(kSendCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
