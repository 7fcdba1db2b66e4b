// The rate at which an image was acquired, for cine playback, and the interval of each of
// its frames when the acquisition recorded them one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexel {

class CDicomFile;

inline constexpr float kMinCineRate = 1;
inline constexpr float kMaxCineRate = 1000;
inline constexpr float kDefaultCineRate = 10;

// Recommended Display Frame Rate, else 1000 / Frame Time, else Cine Rate, else 10; a value
// that is missing, zero, negative or not a number counts as missing. Clamped to 1..1000.
float AcquiredFrameRate(CDicomFile& file);

// Microseconds each frame stays on screen, from the Frame Time Vector: frame k shows for the
// increment recorded for frame k + 1 (the first increment is 0 by definition). The last
// frame, and any frame whose increment is unusable, gets 0: the caller's uniform period.
// Empty when the file has no usable vector for `frames` frames.
std::vector<uint32_t> FrameIntervals(CDicomFile& file, size_t frames);

// 10^6 / rate, fraction cut; rate must be above 0.
uint32_t PeriodOf(float rate);

}  // namespace vexel
