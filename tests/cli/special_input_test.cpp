// vexel on what is not a plain file or a C-locale number: a FIFO named on the command line is
// refused at once instead of waited on, and option numbers keep their decimal point under a
// decimal-comma locale.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <string>

#include "cli/option_number.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using test::Quote;

TEST(VexelSpecialFiles, AFifoOnTheCommandLineIsRefusedNotWaitedOn) {
    const fs::path root = test::ScratchDir("cli-fifo");
    const fs::path fifo = root / "pipe.dcm";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [command, message] :
         {std::pair{"dump", ": cannot open file"}, std::pair{"decode", ": cannot open file"},
          std::pair{"scan", "No DICOM images found"}}) {
        int code = 0;
        // Nobody ever opens the FIFO for writing: a blocking open would wait forever.
        const std::string text = test::RunCommand("timeout -s KILL 120 " + test::Vexel() + " " +
                                                      command + " " + Quote(fifo) + " 2>&1",
                                                  &code);
        EXPECT_EQ(code, 1) << command << " (137: it hung and was killed)";
        EXPECT_NE(text.find(message), std::string::npos) << command << ": " << text;
    }
}

TEST(VexelOptionNumbers, KeepTheirDecimalPointUnderAGermanLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/setup makes it)";
    // Accepted numbers with their value; refused ones with NAN.
    for (const auto& [text, expected] :
         {std::pair{"40.5", 40.5f}, {"-0.25", -0.25f}, {"2e1", 20.0f}, {"400", 400.0f},
          {"40,5", NAN}, {"1.5x", NAN}, {"", NAN}, {"nan", NAN}, {"inf", NAN}, {"1e40", NAN}}) {
        float value = -1;
        EXPECT_EQ(cli::ParseFloatOption(text, value), !std::isnan(expected)) << '"' << text << '"';
        EXPECT_TRUE(std::isnan(expected) || value == expected) << text;
    }
    std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace vexel
