// Runs a CViewerApp on the offscreen platform as `vexel-viewer PATH...` would.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/viewer_app.h"

namespace vexel::test {

inline void RunViewerWith(CViewerApp& app, const std::vector<std::string>& paths) {
    std::vector<std::string> arguments = {"vexel-viewer"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    EXPECT_EQ(app.Run(int(arguments.size()), argv.data()), 0);
}

}  // namespace vexel::test
