// Both programs name the version of the generated header, and the shipped language file
// was made for it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/test_paths.h"
#include "platform/version.h"
#include "support/language_file.h"

namespace vexel {
namespace {

struct VersionCase {
    const char* program;
    const char* environment;
};

void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.program; }

class ProgramVersionTest : public testing::TestWithParam<VersionCase> {};

TEST_P(ProgramVersionTest, PrintsTheHeadersVersionWithoutADisplay) {
    const VersionCase& c = GetParam();
    int code = -1;
    const std::string output = test::RunCommand(
        std::string(c.environment) + " " + test::Quote(test::BinaryDir() / "bin" / c.program) +
            " --version",
        &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(output, std::string(c.program) + " " + kVersion + " (build " +
                          std::to_string(kBuildNumber) + ")\n");
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ProgramVersionTest,
    testing::Values(VersionCase{"vexel", "env"},
                    VersionCase{"vexel-viewer",
                                "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY"}),
    [](const testing::TestParamInfo<VersionCase>& param) {
        return std::string(param.param.program) == "vexel" ? "vexel" : "viewer";
    });

// tools/translations/make_language_file.py writes the version in; a file left behind after a
// version change shows up here.
TEST(VersionTest, ShippedLanguageFileNamesTheVersion) {
    const LanguageFileContent german =
        ReadLanguageFile(test::SourceDir() / "data" / "languages" / "language_de.xml");
    ASSERT_EQ(german.status, LanguageFileStatus::Ok) << LanguageFileStatusText(german.status);
    EXPECT_EQ(german.fullVersion, std::string("Vexel ") + kVersion + " de-1");
}

}  // namespace
}  // namespace vexel
