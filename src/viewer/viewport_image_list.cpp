#include "viewer/viewport_image_list.h"

#include <algorithm>

#include "engine/study_model_keys.h"
#include "imaging/dicom_image.h"

namespace vexel {

std::string ViewportSeriesKey(const StudyFileKeys& keys) {
    std::string key = keys.studyInstanceUid + "#" + std::to_string(keys.seriesNumber) + "#" +
                      keys.seriesInstanceUid;
    if (keys.file.numberOfFrames > 1) key += "!" + keys.file.sopInstanceUid + "|" + keys.file.path;
    return key;
}

std::string ViewportSeriesKey(const CDicomImage& image) {
    return ViewportSeriesKey(ReadStudyFileKeys(image.File()));
}

size_t CViewportImageList::Insert(ViewportImage entry) {
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
