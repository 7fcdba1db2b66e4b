// Phantom files the engine tests share, written once per test process.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "engine/memory_services.h"

namespace vexel::test {

// A CT series of `slices` small files (64 x 64) in its own folder; paths in slice order.
std::vector<std::string> SmallCtSeries(int slices);
// A multi-frame CT file of 256 x 256 frames (128 KiB decoded each).
std::string MultiFrameCt(int frames);
// MD5 of a frame decoded outside the registry, as an independent reference.
std::string ReferenceFrameMd5(const std::string& path, size_t frame);
// Memory services options without the load monitor thread: the tests drive the load.
MemoryServicesOptions QuietOptions();

}  // namespace vexel::test
