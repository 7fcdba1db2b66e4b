// The volumes found in what each on-screen 2D viewport shows, keyed by the viewport id, and
// the pairs that relate the images of parallel volumes of different viewports: each image of
// a volume is paired with the nearest image of every parallel volume of the same study and
// frame of reference elsewhere. The pairs drive synchronised browsing and fusion; copies of
// the volumes feed MPR. User-interface thread only.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "engine/hook_types.h"
#include "engine/volume_record.h"

namespace vexel {

class CVexelEngine;

class CVolumeManager {
public:
    // Events go to `hook` of `engine`; a null engine raises none (tests).
    CVolumeManager(CVexelEngine* engine, HookHandle hook);
    CVolumeManager(const CVolumeManager&) = delete;
    CVolumeManager& operator=(const CVolumeManager&) = delete;

    // Replaces the viewport's volumes with those of its frame list (display order), rebuilds
    // every pair and raises VolumesComputed with the number found (0 too). The frames must stay
    // alive until the viewport's volumes are released or recomputed.
    size_t RecomputeVolumes(uint32_t viewportId, std::span<CDicomFrame* const> frames);
    // Forgets the viewport's volumes, rebuilds the pairs and raises VolumesReleased.
    void ReleaseVolumes(uint32_t viewportId);
    void RebuildPairs();

    // Plane kind of the viewport's first volume, 0 when it has none.
    int32_t GetPlaneKind(uint32_t viewportId) const;
    size_t CountVolumes(uint32_t viewportId) const;
    // Appends copies of the viewport's volumes; returns how many.
    size_t CopyVolumes(uint32_t viewportId, std::vector<VolumeRecord>& out) const;
    // The first other viewport (in id order) with a volume of the same study and frame of
    // reference, another series and the orientation of this viewport's first volume.
    bool FindParallelVolume(uint32_t viewportId, uint32_t* otherViewportId) const;
    // The frame of `target` paired with the frame of this key (of the target's parallel
    // volumes, the one that overlaps it most); empty or null when there is none.
    std::string FindCorrespondingImage(const std::string& frameKey, uint32_t target,
                                       float* margin) const;
    const VolumePair* FindPair(const std::string& frameKey, uint32_t target) const;
    size_t PairCount() const { return m_pairs.size(); }

private:
    CVexelEngine* m_engine;
    HookHandle m_hook;
    std::multimap<uint32_t, VolumeRecord> m_volumes;
    std::multimap<std::string, VolumePair> m_pairs;
};

// True when the two volumes may be related: one study, and one frame of reference that both
// name (positions of different frames of reference cannot be compared).
bool SharePatientSpace(const VolumeRecord& a, const VolumeRecord& b);
// Each of the six cosines within `tolerance`.
bool SameOrientation(const VolumeRecord& a, const VolumeRecord& b, float tolerance);

}  // namespace vexel
