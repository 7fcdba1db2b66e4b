#include "imaging/pixel_format.h"

namespace vexel {

const char* DecodeStatusText(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::Ok: return "ok";
        case DecodeStatus::NoPixelData: return "no pixel data";
        case DecodeStatus::ReadFailed: return "pixel data cannot be read (file changed, gone or short)";
        case DecodeStatus::OutOfMemory: return "out of memory";
        case DecodeStatus::Unsupported: return "unsupported pixel format or transfer syntax";
        case DecodeStatus::Corrupt: return "corrupt compressed pixel data";
        case DecodeStatus::SizeMismatch: return "compressed data does not match the image size";
        case DecodeStatus::CodecMissing: return "codec module not available";
    }
    return "unknown error";
}

}  // namespace vexel
