// A ZIP module whose table lacks one function: the engine must refuse it.
#include "vexel_zip.h"

namespace {
VexelZip* OpenNothing(const char*) {
    return nullptr;
}
}  // namespace

extern "C" VEXEL_CODEC_EXPORT int32_t ZipGetInterface(VexelZipInterface* table) {
    if (table == nullptr) return VEXEL_ZIP_BAD_ARGUMENT;
    *table = VexelZipInterface{};
    table->size = sizeof(VexelZipInterface);
    table->openArchive = OpenNothing;
    return VEXEL_ZIP_OK;
}
