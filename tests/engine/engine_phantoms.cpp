#include "engine_phantoms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "phantom/phantom_writer.h"
#include "platform/md5.h"

namespace vexel::test {
namespace {

std::mutex g_lock;

std::vector<std::string> SortedFiles(const std::filesystem::path& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

std::vector<std::string> SmallCtSeries(int slices) {
    std::lock_guard lock(g_lock);
    static std::map<int, std::vector<std::string>> made;
    if (auto it = made.find(slices); it != made.end()) return it->second;
    const auto folder = ScratchDir("small-ct-" + std::to_string(slices)) / "CT";
    phantom::PhantomOptions options;
    options.columns = options.rows = 64;
    options.slices = slices;
    std::string error;
    EXPECT_TRUE(phantom::WriteCtSeries(folder, options, &error)) << error;
    return made[slices] = SortedFiles(folder);
}

std::string MultiFrameCt(int frames) {
    std::lock_guard lock(g_lock);
    static std::map<int, std::string> made;
    if (auto it = made.find(frames); it != made.end()) return it->second;
    const auto folder = ScratchDir("multi-frame-" + std::to_string(frames)) / "MF";
    phantom::PhantomOptions options;
    options.frames = frames;
    options.slices = 16;
    std::string error;
    EXPECT_TRUE(phantom::WriteMultiFrameCt(folder, options, &error)) << error;
    const auto files = SortedFiles(folder);
    return made[frames] = files.empty() ? std::string() : files.front();
}

std::string ReferenceFrameMd5(const std::string& path, size_t frame) {
    CDicomFile file;
    file.SetDeferredValues(true);
    if (ReadDicomFile(file, path) != ReadStatus::Ok) return "unreadable";
    CDicomImage* image = CDicomImage::AttachTo(file, true);
    CDicomFrame* decoded = image->Frame(frame);
    if (decoded == nullptr || decoded->Decode() != DecodeStatus::Ok) return "undecodable";
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = decoded->Pixels(&holders);
    std::string md5 = CMd5::Hex(pixels, decoded->BufferSize());
    CDicomFrame::ReleaseHolders(holders);
    return md5;
}

MemoryServicesOptions QuietOptions() {
    MemoryServicesOptions options;
    options.manager.startMonitor = false;
    return options;
}

}  // namespace vexel::test
