// The manual pages: every command and option the program prints in its help is documented
// in vexel(1), and groff formats both pages without a warning.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "common/test_paths.h"

namespace vexel {
namespace {

std::string ManText(const char* page) {
    std::ifstream in(test::SourceDir() / "man" / page);
    std::stringstream text;
    text << in.rdbuf();
    std::string plain = text.str();
    // Man sources write each hyphen of an option as "\-".
    for (size_t at = plain.find("\\-"); at != std::string::npos; at = plain.find("\\-", at))
        plain.erase(at, 1);
    return plain;
}

// True when word occurs with no letter, digit or hyphen right after it.
bool Mentions(const std::string& text, const std::string& word) {
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const size_t end = at + word.size();
        if (end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-'))
            return true;
    }
    return false;
}

TEST(ManPage, VexelDocumentsEveryCommandAndOption) {
    const std::string help = test::RunCommand(test::Vexel() + " --help 2>&1");  // the usage goes to stderr
    std::set<std::string> commands;
    std::istringstream lines(help);
    // Command lines start with two blanks and the command's name.
    for (std::string line; std::getline(lines, line);) {
        if (line.size() < 3 || line.rfind("  ", 0) != 0 || !std::islower(static_cast<unsigned char>(line[2])))
            continue;
        commands.insert(line.substr(2, line.find(' ', 2) - 2));
    }
    ASSERT_GE(commands.size(), 8u) << help;
    std::string helps = help;
    for (const std::string& command : commands)
        helps += test::RunCommand(test::Vexel() + " " + command + " --help 2>&1");
    std::set<std::string> options;
    const std::regex option("--[a-z][a-z-]*");
    for (auto it = std::sregex_iterator(helps.begin(), helps.end(), option); it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    ASSERT_GE(options.size(), 30u);
    const std::string man = ManText("vexel.1");
    for (const std::string& command : commands)
        EXPECT_TRUE(Mentions(man, ".SS \"" + command)) << "no section for command " << command;
    for (const std::string& name : options) EXPECT_TRUE(Mentions(man, name)) << name << " not in vexel.1";
}

TEST(ManPage, GroffGivesNoWarnings) {
    if (!test::HaveProgram("groff")) GTEST_SKIP() << "groff not installed (scripts/setup installs it)";
    for (const char* page : {"vexel.1", "vexel-viewer.1"}) {
        int code = 0;
        const std::string out = test::RunCommand(
            "groff -man -ww -z " + test::Quote(test::SourceDir() / "man" / page) + " 2>&1", &code);
        EXPECT_EQ(code, 0) << page;
        EXPECT_EQ(out, "") << page;
    }
}

}  // namespace
}  // namespace vexel
