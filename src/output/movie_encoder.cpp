#include "output/movie_encoder.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <mutex>

#include "platform/module_folders.h"
#include "vexel_movie.h"

namespace vexel {
namespace {

// The movie module, loaded from the program's folder or the installed module folder at the first movie; a failed load is
// not tried again.
const VexelMovieInterface* MovieModule(std::string* error) {
    static std::once_flag once;
    static const VexelMovieInterface* api = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        const std::filesystem::path folder = ModuleFolderFor("libvexel-movie.so");
        const std::filesystem::path path = folder / "libvexel-movie.so";
        // Without a folder the bare name would be looked up along the search path.
        void* handle = folder.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        const auto get = handle != nullptr ? reinterpret_cast<const VexelMovieInterface* (*)()>(
                                                 dlsym(handle, "VexelMovieGetInterface"))
                                           : nullptr;
        const VexelMovieInterface* found = get != nullptr ? get() : nullptr;
        if (found != nullptr && found->size >= sizeof(VexelMovieInterface)) {
            api = found;
        } else {
            const char* reason = handle == nullptr ? dlerror() : nullptr;
            failure = "movies cannot be written: " + path.string() +
                      (reason != nullptr ? std::string(" (") + reason + ")" : " is not usable");
        }
        // The module stays loaded for the process's life.
    });
    if (api == nullptr && error != nullptr) *error = failure;
    return api;
}

using ErrorText = std::array<char, 512>;

bool Result(bool ok, const ErrorText& text, std::string* error) {
    if (!ok && error != nullptr) *error = text.data();
    return ok;
}

}  // namespace

uint32_t MovieBitRateKbps(int32_t sliderPosition) {
    static constexpr std::array<uint32_t, 11> kTable{100,  200,  300,  500,   750,  1000,
                                                     2000, 3000, 5000, 10000, 20000};
    return kTable[size_t(std::clamp(sliderPosition, 0, 10))];
}

struct CMovieEncoder::Impl {
    const VexelMovieInterface* api = nullptr;
    VexelMovie* movie = nullptr;
    bool opened = false;
};

CMovieEncoder::CMovieEncoder() : m_impl(std::make_unique<Impl>()) {}

CMovieEncoder::~CMovieEncoder() {
    if (m_impl->movie != nullptr) m_impl->api->close(m_impl->movie);
}

bool CMovieEncoder::Open(const std::string& path, const MovieSettings& settings,
                         std::string* error) {
    if (m_impl->opened) {
        if (error != nullptr) *error = "this encoder has already written a movie";
        return false;
    }
    m_impl->api = MovieModule(error);
    if (m_impl->api == nullptr) return false;
    m_impl->opened = true;
    ErrorText text{};
    m_impl->movie = m_impl->api->open(
        path.c_str(), settings.codec == MovieCodec::Mp4 ? VEXEL_MOVIE_MP4 : VEXEL_MOVIE_WMV,
        settings.framesPerSecond, settings.bitRateKbps, text.data(), text.size());
    return Result(m_impl->movie != nullptr, text, error);
}

bool CMovieEncoder::AddFrame(const uint32_t* pixels, int32_t width, int32_t height, size_t stride,
                             std::string* error) {
    if (m_impl->movie == nullptr) {
        if (error != nullptr) *error = "no movie is being written";
        return false;
    }
    ErrorText text{};
    return Result(m_impl->api->addFrame(m_impl->movie, pixels, width, height, stride, text.data(),
                                        text.size()) == VEXEL_CODEC_OK,
                  text, error);
}

bool CMovieEncoder::Finish(std::string* error) {
    if (m_impl->movie == nullptr) {
        if (error != nullptr) *error = "no movie is being written";
        return false;
    }
    ErrorText text{};
    return Result(m_impl->api->finish(m_impl->movie, text.data(), text.size()) == VEXEL_CODEC_OK,
                  text, error);
}

int32_t CMovieEncoder::Width() const {
    return m_impl->movie != nullptr ? m_impl->api->width(m_impl->movie) : 0;
}

int32_t CMovieEncoder::Height() const {
    return m_impl->movie != nullptr ? m_impl->api->height(m_impl->movie) : 0;
}

uint32_t CMovieEncoder::FramesWritten() const {
    return m_impl->movie != nullptr ? m_impl->api->framesWritten(m_impl->movie) : 0;
}

}  // namespace vexel
