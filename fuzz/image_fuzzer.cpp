// A whole file through the image layer: attributes, frame layout, decoding of every frame
// (native, palette, RLE and the codec modules beside the fuzzer).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dicom/dicom_dictionary.h"
#include "scratch_file.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/jpeg_engine.h"

namespace {

vexel::CDicomDictionary g_dictionary;
vexel::CJPEGEngine g_codecs;


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path;
    if (!WriteScratchFile("image", data, size, path)) return 0;
    vexel::CDicomFile file;
    file.SetDeferredValues(true);
    if (vexel::ReadDicomFile(file, path) != vexel::ReadStatus::Ok) return 0;
    vexel::CDicomImage* image = vexel::CDicomImage::AttachTo(file, true);
    // Keep hostile sizes from turning into slow runs rather than findings.
    if (size_t(image->Columns()) * size_t(image->Rows()) > (1u << 22)) return 0;
    for (size_t i = 0; i < image->FrameCount() && i < 8; ++i) {
        vexel::CDicomFrame* frame = image->Frame(i);
        if (frame->Pixels(nullptr) != nullptr) {
            float centre, width;
            frame->ComputeValueRange(centre, width);
            frame->ValueText(0, 0);
            frame->Ellipse(0, 0, 3, 3);
        }
        frame->Release();
    }
    return 0;
}
