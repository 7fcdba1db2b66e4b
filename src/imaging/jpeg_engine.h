// Loads the codec modules (libvexel-jpeg1.so and the others) from the program's folder on
// first use and calls them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "vexel_codec.h"

namespace vexel {

class CJPEGEngine {
public:
    enum class Module { Jpeg1, Jpeg3, Jpeg2, Jpeg2000, Jpeg4 };

    // Modules are looked for in moduleDir (default: the first of ModuleFolders() holding
    // them); a relative or empty folder loads nothing.
    explicit CJPEGEngine(std::filesystem::path moduleDir = {});
    ~CJPEGEngine();
    CJPEGEngine(const CJPEGEngine&) = delete;
    CJPEGEngine& operator=(const CJPEGEngine&) = delete;

    // The process's engine, or null before start-up and after shutdown.
    static CJPEGEngine* Instance();

    // True when the module is loaded with every entry point it must have.
    bool Ensure(Module module);
    // VEXEL_CODEC_* status of the module's extended decoder; kNotLoaded when it is missing.
    int32_t Decode(Module module, VexelDecodeRequest& request);
    static constexpr int32_t kNotLoaded = -100;

    // jpeg1's JPEG writer and size reader.
    bool CompressJpeg(const uint8_t* rgb, int32_t width, int32_t height, int32_t quality,
                      const std::string& path);
    bool ReadJpegSize(const uint8_t* data, uint32_t size, int32_t& width, int32_t& height);

    // Sample precision from the first frame header of a JPEG stream; 0 when none is found.
    static int SamplePrecision(const uint8_t* data, size_t size);
    // The module that decodes a JPEG stream of this precision (none for 0 or above 16).
    static bool ModuleForPrecision(int precision, Module& module);

    const std::filesystem::path& ModuleDir() const { return m_moduleDir; }

private:
    struct Loaded {
        void* handle = nullptr;
        bool tried = false;
        std::atomic<bool> ready{false};  // set once every entry point is known
        decltype(&DecompressJPEGEx) decodeEx = nullptr;
        decltype(&ReadJPEGsize) readSize = nullptr;
        decltype(&CompressJPEG) compress = nullptr;
    };
    bool Load(Module module, Loaded& slot);

    std::filesystem::path m_moduleDir;
    std::mutex m_loadLock;
    std::array<Loaded, 5> m_modules;
};

}  // namespace vexel
