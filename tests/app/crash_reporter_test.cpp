// The crash reporter as its user meets it: only this user's report folder is accepted, the
// window lists what the report holds, closing deletes the report, and sending it to a real
// HTTPS server deletes it on success and keeps it on failure.
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
#include "common/test_paths.h"
#include "engine/zip_engine.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

const VexelZipInterface* ZipModule() {
    static CZIPEngine engine(test::BinaryDir() / "bin");
    return engine.Interface();
}

bool HasFile(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// Each case makes a folder holding a report and a planted file; `given` names it.
struct FolderCase {
    const char* name;
    bool accepted;
    // Returns the argument of -crash; `report` is where the report and "keep" were put.
    std::function<std::string(const fs::path& cache, fs::path* report)> make;
};

void PrintTo(const FolderCase& c, std::ostream* out) {
    *out << c.name;
}

void FillReport(const fs::path& folder, mode_t mode) {
    fs::create_directories(folder);
    chmod(folder.c_str(), mode);
    std::ofstream(folder / "report.xml") << test::ReportXml("", "", "");
    std::ofstream(folder / "keep") << "planted";
}

const FolderCase kFolderCases[] = {
    {"TheReportFolder", true,
     [](const fs::path& cache, fs::path* report) {
         *report = CrashReportFolderPath(cache);
         FillReport(*report, 0700);
         return report->string() + "/";
     }},
    {"AnotherFolder", false,
     [](const fs::path& cache, fs::path* report) {
         *report = cache.parent_path() / "elsewhere";
         FillReport(*report, 0700);
         return report->string();
     }},
    {"OpenFolderOfAnotherLayout", false,
     [](const fs::path& cache, fs::path* report) {
         *report = cache / "VexelViewer" / "reports";
         FillReport(*report, 0755);
         return report->string();
     }},
    {"LinkInPlaceOfTheFolder", false,
     [](const fs::path& cache, fs::path* report) {
         *report = cache.parent_path() / "target";
         FillReport(*report, 0700);
         fs::create_directories(cache / "VexelViewer");
         fs::create_directory_symlink(*report, CrashReportFolderPath(cache));
         return CrashReportFolderPath(cache).string();
     }},
    {"RelativeName", false,
     [](const fs::path& cache, fs::path* report) {
         *report = CrashReportFolderPath(cache);
         FillReport(*report, 0700);
         return std::string("cache/VexelViewer/crash");  // from the test's folder
     }},
    {"ParentByDots", false,
     [](const fs::path& cache, fs::path* report) {
         *report = CrashReportFolderPath(cache);
         FillReport(*report, 0700);
         return report->string() + "/..";
     }},
};

class ReportFolderRule : public testing::TestWithParam<FolderCase> {};

TEST_P(ReportFolderRule, OnlyThisUsersReportFolderIsAccepted) {
    const FolderCase& c = GetParam();
    const fs::path root = test::ScratchDir(std::string("ReportFolder") + c.name);
    fs::path report;
    const std::string given = c.make(root / "cache", &report);
    std::string error;
    EXPECT_EQ(OpenAcceptedReportFolder(given, root / "cache", &error).Valid(), c.accepted) << error;
    if (c.accepted) return;
    int code = -1;
    const std::string output = test::RunCommand(
        "cd " + test::Quote(root) +
            " && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_CACHE_HOME=" +
            test::Quote(root / "cache") + " " +
            test::Quote(test::BinaryDir() / "bin" / "vexel-viewer") + " -crash " +
            test::Quote(given) + " 2>&1",
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
        const VexelZipInterface* zip = ZipModule())
        : root(test::ScratchDir(name)), folder(test::MakeReportFolder(root / "cache", xml)) {
        CrashReportSetup setup{CrashReportFolderPath(root / "cache"),
                               folder.Get(),
                               ReadCrashReport(folder.Get()).value_or(CrashReportSummary{}),
                               std::move(url),
                               "https://vexel.example/site",
                               std::move(caFile),
                               zip,
                               [this](const QUrl& page) {
                                   opened << page;
                                   return true;
                               }};
        window = std::make_unique<CCrashReportWnd>(std::move(setup));
    }
    bool ReportLeft() const {
        return HasFile(CrashReportFolderPath(root / "cache") / "report.xml");
    }
    bool FolderEmpty() const { return fs::is_empty(CrashReportFolderPath(root / "cache")); }
    fs::path root;
    UniqueFd folder;
    QList<QUrl> opened;
    std::unique_ptr<CCrashReportWnd> window;
};

TEST(CrashReportWnd, ListsIdentifierAndLanguageOnlyWhenPresent) {
    Rig with("CrashWndWith", test::ReportXml("id.7", "de", "Vexel 1.0 de-1"), "");
    Rig without("CrashWndWithout", test::ReportXml("", "", ""), "");
    const QStringList expected = {"Program: Vexel DICOM Viewer 1.2.3.45",
                                  "Platform: x86_64",
                                  "Operating system: Linux 6.1.0 x86_64",
                                  "Time of the error (UTC): 2026-12-08T16:00:00Z",
                                  "Open file descriptors: 17",
                                  "Memory use: 81234 KB",
                                  "Update check identifier: id.7",
                                  "Language: de Vexel 1.0 de-1",
                                  "The call stack and the program's loaded libraries at the crash"};
    EXPECT_EQ(with.window->ListedItems(), expected);
    QStringList expectedWithout = expected;
    expectedWithout.removeAt(7);
    expectedWithout.removeAt(6);
    EXPECT_EQ(without.window->ListedItems(), expectedWithout);
    // No report address: nothing can be sent, and the window says why.
    EXPECT_FALSE(with.window->findChild<QPushButton*>("send")->isEnabled());
    EXPECT_TRUE(with.window->StatusText().contains("No https report address"));
    with.window->ShowFiles();
    with.window->OpenPrivacyPolicy();
    EXPECT_EQ(with.opened, (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(
                                            CrashReportFolderPath(with.root / "cache").string())),
                                        QUrl("https://vexel.example/site/privacy.php")}));
    with.window->ShowExtended();
    EXPECT_TRUE(with.window->findChild<QLineEdit*>("email")->isVisibleTo(with.window.get()));
    EXPECT_FALSE(with.window->findChild<QLabel*>("extend")->isVisibleTo(with.window.get()));
    EXPECT_EQ(with.window->findChild<QLineEdit*>("email")->maxLength(), 128);
    // 1024 whole characters: a pair of UTF-16 units counts once and is never split.
    auto* description = with.window->findChild<QPlainTextEdit*>("description");
    description->setPlainText(QString(1023, 'x') + QString::fromUtf8("\U0001F600\U0001F600"));
    EXPECT_EQ(description->toPlainText(), QString(1023, 'x') + QString::fromUtf8("\U0001F600"));
}

TEST(CrashReportWnd, CloseTheProgramAndEscapeDeleteTheReport) {
    for (const bool escape : {false, true}) {
        Rig rig("CrashWndClose", test::ReportXml("", "", ""), "https://127.0.0.1:9/x");
        ASSERT_TRUE(rig.ReportLeft());
        rig.window->show();
        if (escape)
            QTest::keyClick(rig.window.get(), Qt::Key_Escape);
        else
            rig.window->findChild<QPushButton*>("close")->click();
        EXPECT_FALSE(rig.window->isVisible());
        EXPECT_EQ(rig.window->result(), QDialog::Rejected);
        EXPECT_TRUE(rig.FolderEmpty()) << "escape " << escape;
    }
}

struct SendCase {
    const char* name;
    std::string reply;
    bool zipModule;
    CCrashReportWnd::State state;
    bool reportKept;
    const char* status;
};

void PrintTo(const SendCase& c, std::ostream* out) {
    *out << c.name;
}

const SendCase kSendCases[] = {
    {"Accepted", "200", true, CCrashReportWnd::State::Sent, false, "was sent and deleted"},
    {"Refused", "500", true, CCrashReportWnd::State::Failed, true, "did not accept the report"},
    {"NoZipModule", "200", false, CCrashReportWnd::State::Failed, true, "could not be packed"},
};

class CrashReportSend : public testing::TestWithParam<SendCase> {};

TEST_P(CrashReportSend, SuccessDeletesTheReportFailureKeepsIt) {
    const SendCase& c = GetParam();
    const fs::path root = test::ScratchDir(std::string("CrashSendServer") + c.name);
    test::HttpsFormServer server(root, 200, c.reply);
    ASSERT_TRUE(server.Started());
    Rig rig(std::string("CrashSend") + c.name, test::ReportXml("", "", ""), server.Url(),
            server.CaFile().string(), c.zipModule ? ZipModule() : nullptr);
    rig.window->show();
    QSignalSpy finished(rig.window.get(), &CCrashReportWnd::uploadFinished);
    rig.window->findChild<QPushButton*>("send")->click();
    if (c.zipModule) {
        EXPECT_EQ(rig.window->CurrentState(), CCrashReportWnd::State::Sending);
        ASSERT_TRUE(finished.wait(60000));
        EXPECT_EQ(server.Result(1), "ok");
    }
    EXPECT_EQ(rig.window->CurrentState(), c.state);
    EXPECT_TRUE(rig.window->StatusText().contains(c.status))
        << rig.window->StatusText().toStdString();
    EXPECT_EQ(rig.ReportLeft(), c.reportKept);
    EXPECT_FALSE(HasFile(CrashReportFolderPath(rig.root / "cache") / "creport.zip"));
    // Closing after a failed attempt leaves the report for the next crash to replace.
    rig.window->reject();
    EXPECT_EQ(rig.ReportLeft(), c.reportKept);
    EXPECT_FALSE(server.HasRequest(c.zipModule ? 2 : 1));
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashReportSend, testing::ValuesIn(kSendCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
