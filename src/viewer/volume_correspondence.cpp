#include "viewer/volume_correspondence.h"

#include "engine/volume_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "viewer/viewport_2d.h"

namespace vexel {

CDicomImage* CVolumeCorrespondence::FindCorrespondingImage(const DisplayedImageRecord& source,
                                                           CViewport2D& target, size_t* frame) {
    if (source.image == nullptr) return nullptr;
    const CDicomFrame* shown = source.image->Frame(source.frameIndex);
    if (shown == nullptr) return nullptr;
    const VolumePair* pair = m_volumes.FindPair(shown->Key(), target.Id());
    if (pair == nullptr || pair->partnerFrame == nullptr) return nullptr;
    if (frame != nullptr) *frame = pair->partnerFrame->Index();
    return &pair->partnerFrame->Image();
}

}  // namespace vexel
