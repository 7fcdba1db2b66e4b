#include "engine/volume_finder.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "dicom/dicom_file.h"
#include "engine/volume_geometry.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

constexpr uint32_t kStudyInstanceUid = 0x0020000D;
constexpr uint32_t kSeriesInstanceUid = 0x0020000E;
constexpr uint32_t kFrameOfReferenceUid = 0x00200052;
constexpr uint32_t kNumberOfFrames = 0x00280008;
constexpr float kSameOrientation = 0.0001f;
constexpr double kSameDirection = 0.001;  // cosine between successive steps, from 1
constexpr double kPerpendicular = 0.001;  // cosines between a step and the row or column
constexpr double kZeroStep = 1e-4;        // mm: a repeated position
// Steps slanted further than this from the normal are not slices of one stack.
const double kMaxTiltCosine = std::cos(45.0 * std::numbers::pi / 180.0);

std::string Uid(CDicomFile& file, uint32_t tag) {
    std::string text = file.String(tag);
    const size_t end = text.find_last_not_of(std::string_view(" \0", 2));
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

struct Candidate {
    CDicomFrame* frame = nullptr;
    Vec3d position{};
    std::array<float, 6> orientation{};
    PlaneAxes axes{};
    std::string series;
};

bool Finite(const auto& values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

// A frame that may join a volume, or none.
std::optional<Candidate> Eligible(CDicomFrame* frame) {
    if (frame == nullptr || frame->IsColour()) return std::nullopt;
    const auto& position = frame->Position();
    const auto& orientation = frame->Orientation();
    if (!position || !orientation || !Finite(*position)) return std::nullopt;
    const std::optional<PlaneAxes> axes = AxesOf(*orientation);
    if (!axes) return std::nullopt;
    CDicomImage& image = frame->Image();
    // A volume is a run of single-frame images: frames of multi-frame files never join.
    if (image.FrameCount() > 1 || image.File().Integer(kNumberOfFrames, 1) > 1) return std::nullopt;
    Candidate c;
    c.frame = frame;
    c.position = {(*position)[0], (*position)[1], (*position)[2]};
    c.orientation = *orientation;
    c.axes = *axes;
    c.series = Uid(image.File(), kSeriesInstanceUid);
    return c;
}

bool SameOrientation(const std::array<float, 6>& a, const std::array<float, 6>& b,
                     float tolerance) {
    for (size_t i = 0; i < 6; ++i)
        if (std::fabs(a[i] - b[i]) > tolerance) return false;
    return true;
}

class CRun {
public:
    bool Empty() const { return m_frames.empty(); }

    void Start(const Candidate& c) {
        m_first = c;
        m_frames.assign(1, c.frame);
        m_positions.assign(1, c.position);
        m_hasStep = false;
        m_tilted = false;
    }

    // Appends the frame when it continues the run.
    bool Continue(const Candidate& c) {
        if (c.series != m_first.series) return false;
        if (!SameOrientation(c.orientation, m_first.orientation, kSameOrientation)) return false;
        if (c.frame->Rows() != m_first.frame->Rows() ||
            c.frame->Columns() != m_first.frame->Columns())
            return false;
        const Vec3d d = Sub(c.position, m_positions.back());
        const double length = Length(d);
        if (!(length > kZeroStep)) return false;
        const Vec3d direction = {d[0] / length, d[1] / length, d[2] / length};
        if (std::fabs(Dot(direction, m_first.axes.normal)) < kMaxTiltCosine) return false;
        if (m_hasStep && Dot(direction, m_step) < 1 - kSameDirection) return false;
        const bool perpendicular = std::fabs(Dot(direction, m_first.axes.row)) <= kPerpendicular &&
                                   std::fabs(Dot(direction, m_first.axes.column)) <= kPerpendicular;
        m_tilted = m_tilted || !perpendicular;
        m_step = direction;
        m_hasStep = true;
        m_frames.push_back(c.frame);
        m_positions.push_back(c.position);
        return true;
    }

    // Sorts the run along its normal, splits it at gaps and appends its volumes.
    void Finish(uint32_t viewportId, std::vector<VolumeRecord>& out);

private:
    // Small, so that a run of thousands sorts in place without large temporary blocks.
    struct Slice {
        double depth;
        uint32_t index;  // into m_frames and m_positions
    };
    const Vec3d& PositionOf(const Slice& s) const { return m_positions[s.index]; }
    VolumeRecord MakeRecord(uint32_t viewportId, const std::vector<Slice>& slices, size_t begin,
                            size_t end) const;

    Candidate m_first;
    std::vector<CDicomFrame*> m_frames;
    std::vector<Vec3d> m_positions;
    Vec3d m_step{};
    bool m_hasStep = false;
    bool m_tilted = false;
};

double Median(std::vector<double> values) {
    const size_t n = values.size();
    std::nth_element(values.begin(), values.begin() + long(n / 2), values.end());
    const double upper = values[n / 2];
    if (n % 2) return upper;
    return (upper + *std::max_element(values.begin(), values.begin() + long(n / 2))) / 2;
}

void CRun::Finish(uint32_t viewportId, std::vector<VolumeRecord>& out) {
    const size_t count = m_frames.size();
    if (count < 2) {
        m_frames.clear();
        return;
    }
    std::vector<Slice> slices(count);
    for (size_t i = 0; i < count; ++i)
        slices[i] = {Dot(m_positions[i], m_first.axes.normal), uint32_t(i)};
    std::sort(slices.begin(), slices.end(), [](const Slice& a, const Slice& b) {
        return a.depth < b.depth || (a.depth == b.depth && a.index < b.index);
    });
    std::vector<double> steps(count - 1);
    for (size_t i = 0; i + 1 < count; ++i)
        steps[i] = Length(Sub(PositionOf(slices[i + 1]), PositionOf(slices[i])));
    const double limit = 2 * Median(steps);
    size_t begin = 0;
    std::optional<VolumeGap> pending;  // a gap after images that formed no volume
    for (size_t i = 0; i + 1 <= count; ++i) {
        const bool gap = i + 1 < count && steps[i] > limit;
        if (!gap && i + 1 < count) continue;
        const size_t end = i + 1;
        std::optional<VolumeGap> next;
        if (gap) {
            next = VolumeGap{float(slices[i].depth), float(slices[i + 1].depth), float(steps[i])};
        }
        if (end - begin >= 2) {
            VolumeRecord record = MakeRecord(viewportId, slices, begin, end);
            if (pending) record.gaps.push_back(*pending);
            if (next) record.gaps.push_back(*next);
            pending.reset();
            out.push_back(std::move(record));
        } else if (next) {
            pending = next;
        }
        begin = end;
    }
    m_frames.clear();
}

VolumeRecord CRun::MakeRecord(uint32_t viewportId, const std::vector<Slice>& slices, size_t begin,
                              size_t end) const {
    CDicomFile& file = m_first.frame->Image().File();
    VolumeRecord record;
    record.viewportId = viewportId;
    record.seriesInstanceUid = m_first.series;
    record.studyInstanceUid = Uid(file, kStudyInstanceUid);
    record.frameOfReferenceUid = Uid(file, kFrameOfReferenceUid);
    record.orientation = m_first.orientation;
    record.planeKind = PlaneKindOf(m_first.orientation);
    record.spacing = float(Length(Sub(PositionOf(slices[begin + 1]), PositionOf(slices[begin]))));
    if (m_tilted) {
        const Vec3d span = Sub(PositionOf(slices[end - 1]), PositionOf(slices[begin]));
        const double cosine =
            std::min(1.0, std::fabs(Dot(span, m_first.axes.normal)) / Length(span));
        record.tiltDegrees = float(std::acos(cosine) * 180 / std::numbers::pi);
    }
    record.imageCount = int32_t(end - begin);
    for (size_t i = begin; i < end; ++i)
        record.images.push_back(m_frames[slices[i].index]);
    return record;
}

}  // namespace

std::vector<VolumeRecord> FindVolumes(uint32_t viewportId, std::span<CDicomFrame* const> frames) {
    std::vector<VolumeRecord> volumes;
    CRun run;
    for (CDicomFrame* frame : frames) {
        std::optional<Candidate> candidate = Eligible(frame);
        if (!candidate) {
            run.Finish(viewportId, volumes);
            continue;
        }
        if (!run.Empty() && run.Continue(*candidate)) continue;
        run.Finish(viewportId, volumes);
        run.Start(*candidate);
    }
    run.Finish(viewportId, volumes);
    return volumes;
}

}  // namespace vexel
