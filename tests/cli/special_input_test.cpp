// vexel on what is not a plain file or a C-locale number: a FIFO named on the command line is
// refused at once instead of waited on, and option numbers keep their decimal point under a
// decimal-comma locale.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <filesystem>
#include <string>

#include "cli/option_number.h"
#include "common/test_paths.h"
#include "vexel_run.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using test::Quote;

TEST(VexelSpecialFiles, AFifoOnTheCommandLineIsRefusedNotWaitedOn) {
    const fs::path root = test::ScratchDir("cli-fifo");
    const fs::path fifo = root / "pipe.dcm";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* command;
        const char* message;
    };
    for (const Case& c : {Case{"dump", ": cannot open file"}, Case{"decode", ": cannot open file"},
                          Case{"scan", "No DICOM images found"}}) {
        const fs::path err = root / (std::string(c.command) + ".err");
        int code = 0;
        // Nobody ever opens the FIFO for writing: a blocking open would wait forever.
        test::RunCommand("timeout -s KILL 120 " + test::Vexel() + " " + c.command + " " +
                             Quote(fifo) + " 2>" + Quote(err),
                         &code);
        EXPECT_EQ(code, 1) << c.command << " (137: it hung and was killed)";
        const std::vector<uint8_t> bytes = test::ReadFileBytes(err);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_NE(text.find(c.message), std::string::npos) << c.command << ": " << text;
    }
}

TEST(VexelOptionNumbers, KeepTheirDecimalPointUnderAGermanLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/setup makes it)";
    struct Case {
        const char* text;
        bool accepted;
        float value;
    };
    for (const Case& c : {Case{"40.5", true, 40.5f}, Case{"-0.25", true, -0.25f},
                          Case{"2e1", true, 20.0f}, Case{"400", true, 400.0f},
                          Case{"40,5", false, 0}, Case{"1.5x", false, 0}, Case{"", false, 0},
                          Case{"nan", false, 0}, Case{"inf", false, 0}, Case{"1e40", false, 0}}) {
        float value = -1;
        EXPECT_EQ(cli::ParseFloatOption(c.text, value), c.accepted) << '"' << c.text << '"';
        if (c.accepted) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace vexel
