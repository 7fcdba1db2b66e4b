#include "viewer/viewport_image_list.h"

#include <algorithm>

#include "engine/study_model_keys.h"
#include "imaging/dicom_image.h"

namespace vexel {

std::string ViewportSeriesKey(const CDicomImage& image) {
    CDicomFile& file = image.File();
    std::string key = file.String(0x0020000D) + "#" + std::to_string(file.Integer(0x00200011, 0)) +
                      "#" + file.String(0x0020000E);
    if (image.FrameCount() > 1) key += "!" + file.String(0x00080018) + "|" + file.Path();
    return key;
}

size_t CViewportImageList::Insert(CFileRef file, CDicomImage& image) {
    ViewportImage entry;
    entry.order = ReadStudyFileKeys(image.File()).file;
    entry.image = &image;
    entry.file = std::move(file);
    const auto at = std::upper_bound(m_images.begin(), m_images.end(), entry,
                                     [](const ViewportImage& a, const ViewportImage& b) {
                                         return SeriesFileBefore(a.order, b.order);
                                     });
    return size_t(m_images.insert(at, std::move(entry)) - m_images.begin());
}

size_t CViewportImageList::IndexOf(const CDicomImage* image) const {
    const auto found = std::find_if(m_images.begin(), m_images.end(),
                                    [image](const ViewportImage& e) { return e.image == image; });
    return size_t(found - m_images.begin());
}

}  // namespace vexel
