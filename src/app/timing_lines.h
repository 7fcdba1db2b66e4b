// The timing lines that the start-up and crash benchmarks (bench/*.sh) read on stderr, printed
// only when VEXEL_QUIT_WHEN_SHOWN is set; the program then quits once its window is up.
#pragma once

#include <chrono>
#include <cstdlib>

namespace vexel {

inline bool TimingRequested() {
    return std::getenv("VEXEL_QUIT_WHEN_SHOWN") != nullptr;
}

// Seconds since the epoch, so that a launcher's or a crash's time can be measured from outside.
inline double WallClockSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace vexel
