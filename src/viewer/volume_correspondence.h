// Answers the synchroniser from the volume manager's pairs: the image of the target viewport
// paired with the frame another viewport shows. No pair (another study or frame of reference,
// no parallel volume, a slice beyond the target's stack) leaves the target where it is.
#pragma once

#include "viewer/viewport_synchronizer.h"

namespace vexel {

class CVolumeManager;

class CVolumeCorrespondence final : public ICorrespondingImages {
public:
    explicit CVolumeCorrespondence(const CVolumeManager& volumes) : m_volumes(volumes) {}

    CDicomImage* FindCorrespondingImage(const DisplayedImageRecord& source, CViewport2D& target,
                                        size_t* frame) override;

private:
    const CVolumeManager& m_volumes;
};

}  // namespace vexel
