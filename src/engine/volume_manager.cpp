#include "engine/volume_manager.h"

#include <cmath>
#include <set>
#include <unordered_map>

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

double DepthOf(const VolumeRecord& v, size_t k, const Vec3d& normal) {
    return Dot(PositionOf(v.images[k]), normal);
}

// The slab of image i: its Slice Thickness, or where none is given (0), its local spacing.
double Thickness(const VolumeRecord& v, size_t i, const Vec3d& normal) {
    const float thickness = v.images[i]->SliceThickness();
    if (thickness > 0 && std::isfinite(thickness)) return thickness;
    const size_t last = v.images.size() - 1;
    const size_t lo = i == 0 ? 0 : i - 1, hi = i == last ? last : i + 1;
    return std::fabs(DepthOf(v, hi, normal) - DepthOf(v, lo, normal)) / double(hi - lo);
}

// The best partner found so far for a frame in one other viewport.
struct FrameInViewport {
    const CDicomFrame* frame;
    uint32_t viewportId;
    bool operator==(const FrameInViewport&) const = default;
};
struct FrameInViewportHash {
    size_t operator()(const FrameInViewport& k) const {
        return std::hash<const void*>()(k.frame) ^ (size_t(k.viewportId) * 0x9E3779B97F4A7C15ull);
    }
};
struct Partner {
    CDicomFrame* frame;
    float margin;
};
using BestPartners = std::unordered_map<FrameInViewport, Partner, FrameInViewportHash>;

// Both volumes ascend along the (shared) normal n: one cursor over b follows a's images.
void PairVolumes(const VolumeRecord& a, const Vec3d& n, const VolumeRecord& b, BestPartners& best) {
    const size_t lastA = a.images.size() - 1, lastB = b.images.size() - 1;
    if (a.images.size() < 2 || b.images.size() < 2) return;
    // Beyond either end of b by more than half its spacing there, no image of b lies there.
    const double first = DepthOf(b, 0, n), last = DepthOf(b, lastB, n);
    const double low = first - (DepthOf(b, 1, n) - first) / 2 - kEndTolerance;
    const double high = last + (last - DepthOf(b, lastB - 1, n)) / 2 + kEndTolerance;
    if (DepthOf(a, lastA, n) < low || DepthOf(a, 0, n) > high) return;
    size_t j = 0;
    double atJ = first;
    for (size_t i = 0; i <= lastA; ++i) {
        const double depth = DepthOf(a, i, n);
        while (j < lastB) {
            const double next = DepthOf(b, j + 1, n);
            if (std::fabs(next - depth) > std::fabs(atJ - depth)) break;
            ++j;
            atJ = next;
        }
        if (depth < low || depth > high) continue;
        const double margin =
            (Thickness(a, i, n) + Thickness(b, j, n)) / 2 - std::fabs(atJ - depth);
        const auto [it, added] =
            best.try_emplace({a.images[i], b.viewportId}, Partner{b.images[j], float(margin)});
        if (!added && margin > it->second.margin) it->second = {b.images[j], float(margin)};
    }
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

// Each frame keeps one partner per other viewport, the one it overlaps most: a viewport
// whose list makes hundreds of small volumes then costs neither time nor memory squared.
void CVolumeManager::RebuildPairs() {
    m_pairs.clear();
    std::set<uint32_t> keys;
    std::vector<std::pair<const VolumeRecord*, Vec3d>> volumes;
    size_t frames = 0;
    for (const auto& [key, volume] : m_volumes) {
        keys.insert(key);
        frames += volume.images.size();
        if (const std::optional<PlaneAxes> axes = AxesOf(volume.orientation))
            volumes.emplace_back(&volume, axes->normal);
    }
    if (keys.size() < 2) return;
    BestPartners best;
    best.reserve(frames);
    for (const auto& [a, normal] : volumes) {
        for (const auto& [b, unused] : volumes) {
            if (a->viewportId == b->viewportId || !SameOrientation(*a, *b, kParallel) ||
                !SharePatientSpace(*a, *b))
                continue;
            PairVolumes(*a, normal, *b, best);
        }
    }
    for (const auto& [at, partner] : best) {
        m_pairs.emplace(at.frame->Key(), VolumePair{partner.frame->Key(), at.viewportId,
                                                    partner.margin, partner.frame});
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
