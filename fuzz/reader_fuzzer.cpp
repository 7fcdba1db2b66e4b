// The reader on arbitrary bytes, deferred and not, then every accessor, the element listing and
// its search on what it read.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dicom/character_set.h"
#include "dicom/dicom_dictionary.h"
#include "scratch_file.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "dicom/tag_list_search.h"

namespace {

vexel::CDicomDictionary g_dictionary;


void Exercise(vexel::CDicomFile& file) {
    volatile size_t sink = 0;
    for (vexel::CDicomElement* e = file.Root()->firstChild; e; e = e->nextSibling) {
        const uint32_t tag = e->Tag();
        sink = sink + file.Text(e).size();
        sink = sink + static_cast<size_t>(file.Integer(e, 0));
        sink = sink + (file.Float(e, 0) > 0 ? 1u : 0u);  // a float cast to size_t may not fit
        float values[6];
        sink = sink + file.FloatArray(tag, values, 6);
        sink = sink + file.String(tag).size();
        uint8_t bytes[16];
        if (e->length > 0) sink = sink + file.ReadBytes(e, bytes, e->length - 1, 1);
        for (vexel::CDicomElement* c = e->firstChild; c; c = c->nextSibling) {
            sink = sink + file.Text(c).size();
        }
    }
    int16_t origin[2];
    uint16_t descriptor[3];
    sink = sink + file.OverlayOrigin(origin) + file.PaletteDescriptor(descriptor);
    const std::vector<vexel::TagListRow> rows = vexel::BuildTagList(file);
    const vexel::CTagListSearch search(rows);
    for (const char* query : {"0010,0010", "e", "\\"})
        sink = sink + search.WithParents(search.Find(query)).size();
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path;
    if (!WriteScratchFile("reader", data, size, path)) return 0;
    for (bool deferred : {true, false}) {
        vexel::CDicomFile file;
        file.SetDeferredValues(deferred);
        if (vexel::ReadDicomFile(file, path) == vexel::ReadStatus::Ok) Exercise(file);
    }
    return 0;
}
