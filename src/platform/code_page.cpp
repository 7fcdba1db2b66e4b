#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <type_traits>
#include <unordered_map>

namespace vexel {
namespace {

constexpr uint32_t kLatin1 = 28591;
constexpr uint32_t kIso2022Jp = 50222;
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

struct IconvCloser {
    void operator()(void* handle) const {
        if (handle != nullptr) iconv_close(static_cast<iconv_t>(handle));
    }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

// iconv_open loads a gconv module each time, and a descriptor carries shift state, so each
// thread keeps its own descriptors for the life of the thread.
iconv_t Converter(uint32_t codePage, bool toUtf8) {
    thread_local std::unordered_map<uint64_t, IconvHandle> cache;
    const uint64_t key = (uint64_t{codePage} << 1) | (toUtf8 ? 1u : 0u);
    auto it = cache.find(key);
    if (it == cache.end()) {
        const char* name = IconvNameOfCodePage(codePage);
        iconv_t handle = name == nullptr
                             ? reinterpret_cast<iconv_t>(-1)
                             : (toUtf8 ? iconv_open("UTF-8", name) : iconv_open(name, "UTF-8"));
        if (handle == reinterpret_cast<iconv_t>(-1)) handle = nullptr;
        it = cache.emplace(key, IconvHandle(handle)).first;
    }
    iconv_t handle = it->second.get();
    if (handle != nullptr) iconv(handle, nullptr, nullptr, nullptr, nullptr);  // initial state
    return handle;
}

bool IsAscii(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

// Bytes to step over when the converter rejects the text at rest: one whole character when
// it is well-formed UTF-8 (the target cannot map it), otherwise the single bad byte.
size_t Utf8SkipLength(std::string_view rest) {
    const auto lead = static_cast<unsigned char>(rest[0]);
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    if (length > rest.size()) return 1;
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(rest[i]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

// Runs the whole input through the converter. Where the converter rejects the input, the
// replacement is written and skip(rest) bytes are stepped over; a sequence cut short at the
// end is replaced once.
template <typename SkipFn>
std::string RunConverter(iconv_t handle, std::string_view input, std::string_view replacement,
                         SkipFn skip) {
    std::string out(input.size() * 3 + 16, '\0');
    size_t used = 0;
    char* in = const_cast<char*>(input.data());  // iconv does not write through it
    size_t inLeft = input.size();
    bool flushing = false;
    for (;;) {
        char* outPtr = out.data() + used;
        size_t outLeft = out.size() - used;
        const size_t result = flushing ? iconv(handle, nullptr, nullptr, &outPtr, &outLeft)
                                       : iconv(handle, &in, &inLeft, &outPtr, &outLeft);
        used = out.size() - outLeft;
        if (result != static_cast<size_t>(-1)) {
            if (flushing) break;
            flushing = true;  // emit the return to the initial shift state
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        out.resize(used);
        out.append(replacement);
        if (errno == EILSEQ && inLeft > 0) {
            const size_t step = skip(std::string_view(in, inLeft));
            in += step;
            inLeft -= step;
        } else {
            inLeft = 0;  // EINVAL: incomplete sequence at the end
        }
        used = out.size();
        out.resize(used + inLeft * 3 + 16);
    }
    out.resize(used);
    return out;
}

}  // namespace

const char* IconvNameOfCodePage(uint32_t codePage) {
    switch (codePage) {
        case 28591:
            return "ISO-8859-1";
        case 28592:
            return "ISO-8859-2";
        case 28593:
            return "ISO-8859-3";
        case 28594:
            return "ISO-8859-4";
        case 28595:
            return "ISO-8859-5";
        case 28596:
            return "ISO-8859-6";
        case 28597:
            return "ISO-8859-7";
        case 28598:
            return "ISO-8859-8";
        case 28599:
            return "ISO-8859-9";
        case 932:
            return "CP932";
        case 874:
            return "CP874";
        case 50222:
            return "ISO-2022-JP";
        case 20932:
            return "EUC-JP";
        case 949:
            return "CP949";
        case 65001:
            return "UTF-8";
        case 54936:
            return "GB18030";
        case 936:
            return "GBK";
        case 20936:
            return "GB2312";
        default:
            return nullptr;
    }
}

std::string ConvertToUtf8(std::string_view bytes, uint32_t codePage) {
    // Every code page here but the stateful ISO-2022-JP keeps ASCII as it is.
    if (codePage != kIso2022Jp && IsAscii(bytes)) return std::string(bytes);
    if (codePage == kLatin1) return Latin1ToUtf8(bytes);
    iconv_t handle = Converter(codePage, true);
    if (handle == nullptr) return Latin1ToUtf8(bytes);
    return RunConverter(handle, bytes, kReplacementUtf8,
                        [](std::string_view) { return size_t{1}; });
}

std::string ConvertFromUtf8(std::string_view utf8, uint32_t codePage) {
    if (IsAscii(utf8)) return std::string(utf8);
    iconv_t handle = Converter(IconvNameOfCodePage(codePage) ? codePage : kLatin1, false);
    if (handle == nullptr) return std::string(utf8.size(), '?');
    return RunConverter(handle, utf8, "?", Utf8SkipLength);
}

}  // namespace vexel
