#include "engine/volume_manager.h"

#include <cmath>
#include <set>

#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "engine/volume_finder.h"
#include "engine/volume_geometry.h"
#include "imaging/dicom_frame.h"

namespace vexel {
namespace {

constexpr float kParallel = 0.001f;
// A slice this close to half a spacing beyond a stack's end still counts as inside it.
constexpr double kEndTolerance = 1e-3;

Vec3d PositionOf(const CDicomFrame* frame) {
    const auto& p = frame->Position();  // volumes hold frames with positions only
    return {(*p)[0], (*p)[1], (*p)[2]};
}

// Depths of a volume's images along `normal`, ascending for a volume parallel to it.
std::vector<double> Depths(const VolumeRecord& v, const Vec3d& normal) {
    std::vector<double> depths;
    depths.reserve(v.images.size());
    for (const CDicomFrame* frame : v.images)
        depths.push_back(Dot(PositionOf(frame), normal));
    return depths;
}

// The slab of image i: its Slice Thickness, or where none is given (0), its local spacing.
double Thickness(const VolumeRecord& v, const std::vector<double>& depths, size_t i) {
    const float thickness = v.images[i]->SliceThickness();
    if (thickness > 0 && std::isfinite(thickness)) return thickness;
    const size_t last = depths.size() - 1;
    const size_t lo = i == 0 ? 0 : i - 1, hi = i == last ? last : i + 1;
    return std::fabs(depths[hi] - depths[lo]) / double(hi - lo);
}

}  // namespace

bool SharePatientSpace(const VolumeRecord& a, const VolumeRecord& b) {
    return a.studyInstanceUid == b.studyInstanceUid && !a.frameOfReferenceUid.empty() &&
           a.frameOfReferenceUid == b.frameOfReferenceUid;
}

bool SameOrientation(const VolumeRecord& a, const VolumeRecord& b, float tolerance) {
    for (size_t i = 0; i < 6; ++i)
        if (!(std::fabs(a.orientation[i] - b.orientation[i]) <= tolerance)) return false;
    return true;
}

CVolumeManager::CVolumeManager(CVexelEngine* engine, HookHandle hook)
    : m_engine(engine), m_hook(hook) {}

size_t CVolumeManager::RecomputeVolumes(uint32_t viewportId, std::span<CDicomFrame* const> frames) {
    std::vector<VolumeRecord> found = FindVolumes(viewportId, frames);
    m_volumes.erase(viewportId);
    for (VolumeRecord& record : found)
        m_volumes.emplace(viewportId, std::move(record));
    RebuildPairs();
    VolumesComputedPayload payload{viewportId, uint32_t(found.size())};
    if (m_engine != nullptr) {
        m_engine->FireHook(m_hook, EventCode(VolumeManagerEvent::VolumesComputed),
                           reinterpret_cast<uintptr_t>(&payload));
    }
    return found.size();
}

void CVolumeManager::ReleaseVolumes(uint32_t viewportId) {
    m_volumes.erase(viewportId);
    RebuildPairs();
    if (m_engine != nullptr)
        m_engine->FireHook(m_hook, EventCode(VolumeManagerEvent::VolumesReleased), viewportId);
}

void CVolumeManager::RebuildPairs() {
    m_pairs.clear();
    std::set<uint32_t> keys;
    for (const auto& [key, volume] : m_volumes)
        keys.insert(key);
    if (keys.size() < 2) return;
    for (const auto& [keyA, a] : m_volumes) {
        for (const auto& [keyB, b] : m_volumes) {
            if (keyA == keyB || !SharePatientSpace(a, b) || !SameOrientation(a, b, kParallel))
                continue;
            PairVolumes(a, b);
        }
    }
}

// Both volumes ascend along the (shared) normal: one cursor over b follows a's images.
void CVolumeManager::PairVolumes(const VolumeRecord& a, const VolumeRecord& b) {
    const std::optional<PlaneAxes> axes = AxesOf(a.orientation);
    if (!axes || a.images.size() < 2 || b.images.size() < 2) return;
    const std::vector<double> depthsA = Depths(a, axes->normal);
    const std::vector<double> depthsB = Depths(b, axes->normal);
    const size_t lastB = depthsB.size() - 1;
    // Beyond either end of b by more than half its spacing there, no image of b lies there.
    const double low = depthsB[0] - (depthsB[1] - depthsB[0]) / 2 - kEndTolerance;
    const double high = depthsB[lastB] + (depthsB[lastB] - depthsB[lastB - 1]) / 2 + kEndTolerance;
    size_t j = 0;
    for (size_t i = 0; i < depthsA.size(); ++i) {
        const double depth = depthsA[i];
        while (j < lastB && std::fabs(depthsB[j + 1] - depth) <= std::fabs(depthsB[j] - depth))
            ++j;
        if (depth < low || depth > high) continue;
        const double distance = std::fabs(depthsB[j] - depth);
        const double margin = (Thickness(a, depthsA, i) + Thickness(b, depthsB, j)) / 2 - distance;
        m_pairs.emplace(a.images[i]->Key(),
                        VolumePair{b.images[j]->Key(), b.viewportId, float(margin), b.images[j]});
    }
}

int32_t CVolumeManager::GetPlaneKind(uint32_t viewportId) const {
    const auto it = m_volumes.find(viewportId);
    return it == m_volumes.end() ? 0 : it->second.planeKind;
}

size_t CVolumeManager::CountVolumes(uint32_t viewportId) const {
    return m_volumes.count(viewportId);
}

size_t CVolumeManager::CopyVolumes(uint32_t viewportId, std::vector<VolumeRecord>& out) const {
    const auto [begin, end] = m_volumes.equal_range(viewportId);
    size_t copied = 0;
    for (auto it = begin; it != end; ++it, ++copied)
        out.push_back(it->second);
    return copied;
}

bool CVolumeManager::FindParallelVolume(uint32_t viewportId, uint32_t* otherViewportId) const {
    const auto own = m_volumes.find(viewportId);
    if (own == m_volumes.end()) return false;
    for (const auto& [key, other] : m_volumes) {
        if (key == viewportId || other.seriesInstanceUid == own->second.seriesInstanceUid) continue;
        if (!SharePatientSpace(own->second, other) ||
            !SameOrientation(own->second, other, kParallel))
            continue;
        if (otherViewportId != nullptr) *otherViewportId = key;
        return true;
    }
    return false;
}

const VolumePair* CVolumeManager::FindPair(const std::string& frameKey, uint32_t target) const {
    const VolumePair* best = nullptr;
    const auto [begin, end] = m_pairs.equal_range(frameKey);
    for (auto it = begin; it != end; ++it) {
        if (it->second.partnerViewportId != target) continue;
        if (best == nullptr || it->second.margin > best->margin) best = &it->second;
    }
    return best;
}

std::string CVolumeManager::FindCorrespondingImage(const std::string& frameKey, uint32_t target,
                                                   float* margin) const {
    const VolumePair* pair = FindPair(frameKey, target);
    if (pair == nullptr) return {};
    if (margin != nullptr) *margin = pair->margin;
    return pair->partnerKey;
}

}  // namespace vexel
