// The images of the series a viewport shows, in display order, each holding a reference to
// its file so that the file stays parsed while it is listed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/file_reference.h"
#include "engine/series_file_record.h"

namespace vexel {

class CDicomImage;
struct StudyFileKeys;

// What makes images one series for a viewport, as the study model groups them: the study,
// the series number and Series Instance UID, and for a multi-frame file the file itself.
std::string ViewportSeriesKey(const StudyFileKeys& keys);
std::string ViewportSeriesKey(const CDicomImage& image);

struct ViewportImage {
    CFileRef file;
    CDicomImage* image = nullptr;
    SeriesFileRecord order;  // the keys of its place in the list
};

class CViewportImageList {
public:
    // Returns the position the image went to.
    size_t Insert(ViewportImage entry);
    void Clear() { m_images.clear(); }

    size_t Size() const { return m_images.size(); }
    bool Empty() const { return m_images.empty(); }
    CDicomImage* At(size_t index) const {
        return index < m_images.size() ? m_images[index].image : nullptr;
    }
    // Size() when absent.
    size_t IndexOf(const CDicomImage* image) const;

private:
    std::vector<ViewportImage> m_images;
};

}  // namespace vexel
