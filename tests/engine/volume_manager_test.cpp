// Volume finding, pairing and the geometry report over in-memory frames. Each case states its
// volumes as indexes of the listed slices in the order the volume must hold them, and the
// report of its first volume, worked out by hand from the positions.
#include "engine/volume_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dicom/dicom_file.h"
#include "engine/system_hooks.h"
#include "engine/vexel_engine.h"
#include "engine/volume_finder.h"
#include "engine/volume_report.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/checked_alloc.h"
#include "platform/headless_event_loop.h"

namespace vexel {
namespace {

using Orientation = std::array<float, 6>;
constexpr Orientation kAxialHead = {1, 0, 0, 0, -1, 0};  // normal -z
constexpr Orientation kCoronal = {1, 0, 0, 0, 0, -1};    // normal +y
const float kHalf = std::sqrt(0.5f);

enum Flaw { kNone, kColour, kMultiFrame, kNoPosition };
struct Slice {
    std::array<float, 3> position;
    Orientation orientation = {1, 0, 0, 0, 1, 0};  // normal +z
    std::string series = "1.2.3.1";
    float thickness = 1;
    Flaw flaw = kNone;
};

std::vector<Slice> Zs(std::initializer_list<float> zs, std::string series = "1.2.3.1") {
    std::vector<Slice> slices;
    for (float z : zs)
        slices.push_back({{0, 0, z}, {1, 0, 0, 0, 1, 0}, series});
    return slices;
}

// Single-frame 2 x 2 images (three frames for kMultiFrame); keeps them alive.
class CSlices {
public:
    std::vector<CDicomFrame*> Make(const std::vector<Slice>& slices,
                                   const std::string& study = "1.2.3",
                                   const std::string& frameOfReference = "1.2.3.9") {
        std::vector<CDicomFrame*> frames;
        for (const Slice& s : slices) {
            auto file = std::make_unique<CDicomFile>();
            file->MakeInMemory();
            file->SetText(nullptr, 0x0020000D, study);
            file->SetText(nullptr, 0x0020000E, s.series);
            if (!frameOfReference.empty()) file->SetText(nullptr, 0x00200052, frameOfReference);
            file->SetUS(0x00280010, 2);
            file->SetUS(0x00280011, 2);
            CDicomImage* image = CDicomImage::AttachTo(*file, false);
            for (int f = 0; f < (s.flaw == kMultiFrame ? 3 : 1); ++f) {
                EXPECT_TRUE(
                    image->AddFrameFromBuffer(static_cast<uint8_t*>(CheckedCalloc(8)), 8,
                                              s.flaw == kNoPosition ? nullptr : s.position.data(),
                                              s.orientation.data(), &s.thickness));
            }
            if (s.flaw == kColour) image->Frame(0)->SetLayout(2, 2, true, 12);
            frames.push_back(image->Frame(0));
            m_files.push_back(std::move(file));
        }
        return frames;
    }

private:
    std::vector<std::unique_ptr<CDicomFile>> m_files;
};

struct Report {
    int32_t planeKind;
    float spacing, minimum, median, maximum, tilt;
    std::vector<VolumeGap> gaps;
};

struct FindCase {
    const char* name;
    std::vector<Slice> slices;
    std::vector<std::vector<int>> volumes;
    std::optional<Report> report = std::nullopt;
};

std::vector<FindCase> FindCases() {
    std::vector<FindCase> c = {
        {"unequal steps, none above twice the median",
         Zs({0, 5, 10, 12, 20}),
         {{0, 1, 2, 3, 4}},
         Report{1, 5, 2, 5, 8, 0, {}}},
        {"a repeated position splits", Zs({0, 1, 2, 2, 3, 4}), {{0, 1, 2}, {3, 4, 5}}},
        {"a gap of five steps splits",
         Zs({0, 1, 2, 3, 8, 9, 10}),
         {{0, 1, 2, 3}, {4, 5, 6}},
         Report{1, 1, 1, 1, 1, 0, {{3, 8, 5}}}},
        {"5 % jitter stays one", Zs({0, 1.05f, 2, 3.04f, 3.99f, 5}), {{0, 1, 2, 3, 4, 5}}},
        {"listed backwards", Zs({3, 2, 1, 0}), {{3, 2, 1, 0}}},
        {"normal -z", Zs({0, 1, 2, 3}), {{3, 2, 1, 0}}, Report{2, 1, 1, 1, 1, 0, {}}},
        {"normal -z listed backwards", Zs({3, 2, 1, 0}), {{0, 1, 2, 3}}},
        {"a series change ends the run", Zs({0, 1, 2, 3}), {{0, 1}, {2, 3}}},
        {"no position, no volume", Zs({0, 1, 2, 3}), {{0, 1}}},
        {"NaN position ends the run", Zs({0, 1, 2, 3, 4}), {{0, 1}, {3, 4}}},
        {"zero-length cosines form nothing", Zs({0, 1, 2}), {}},
        {"colour frames form nothing", Zs({0, 1, 2}), {}},
        {"multi-frame files form nothing", Zs({0, 1, 2}), {}},
        {"a step inside the plane ends the run", Zs({0, 1, 2}), {{0, 1}}},
        {"a localizer between stacks", Zs({0, 2, 4, 0, 10, 12, 14}), {{0, 1, 2}, {4, 5, 6}}},
        {"orientation change at image 10", {}, {{}, {}}, Report{1, 1, 1, 1, 1, 0, {}}},
        {"oblique, listed backwards", {}, {{3, 2, 1, 0}}, Report{6, 2, 2, 2, 2, 0, {}}},
        {"tilted 15 degrees", {}, {{0, 1, 2, 3, 4}}, Report{1, 2.5f, 2.5f, 2.5f, 2.5f, 15, {}}},
    };
    for (FindCase* head : {&c[5], &c[6]})
        for (Slice& s : head->slices)
            s.orientation = kAxialHead;
    c[7].slices[2].series = c[7].slices[3].series = "1.2.3.2";
    c[8].slices[2].flaw = kNoPosition;
    c[9].slices[2].position[2] = NAN;
    for (int i = 0; i < 3; ++i) {
        c[10].slices[i].orientation = {0, 0, 0, 0, 1, 0};
        c[11].slices[i].flaw = kColour;
        c[12].slices[i].flaw = kMultiFrame;
    }
    c[13].slices[2].position = {40, 0, 1};
    c[14].slices[3].orientation = kCoronal;
    for (int i = 0; i < 20; ++i) {
        c[15].slices.push_back(i < 10 ? Zs({float(i)})[0] : Slice{{0, float(i), 0}, kCoronal});
        c[15].volumes[i < 10 ? 0 : 1].push_back(i);
    }
    for (float k = 3; k >= 0; --k)  // normal (0, h, h): two equal largest components
        c[16].slices.push_back({{0, 2 * k * kHalf, 2 * k * kHalf}, {1, 0, 0, 0, kHalf, -kHalf}});
    const float tilt = 15 * float(M_PI) / 180;
    for (float k = 0; k < 5; ++k)
        c[17].slices.push_back({{0, 2.5f * k * std::sin(tilt), 2.5f * k * std::cos(tilt)}});
    return c;
}

TEST(VolumeFinder, FindsSortsSplitsAndReportsTheVolumesOfEachList) {
    for (const FindCase& c : FindCases()) {
        SCOPED_TRACE(c.name);
        CSlices made;
        const std::vector<CDicomFrame*> frames = made.Make(c.slices);
        const std::vector<VolumeRecord> volumes = FindVolumes(7, frames);
        ASSERT_EQ(volumes.size(), c.volumes.size());
        for (size_t v = 0; v < volumes.size(); ++v) {
            std::vector<CDicomFrame*> expected;
            for (int i : c.volumes[v])
                expected.push_back(frames[size_t(i)]);
            EXPECT_EQ(volumes[v].images, expected) << "volume " << v;
        }
        if (!c.report) continue;
        const Report& e = *c.report;
        const VolumeGeometryReport r = ReportVolumeGeometry(volumes[0]);
        EXPECT_NEAR(volumes[0].spacing, e.spacing, 1e-4);
        EXPECT_EQ(r.planeKind, e.planeKind);
        EXPECT_EQ(r.imageCount, int32_t(c.volumes[0].size()));
        EXPECT_NEAR(r.spacing.minimum, e.minimum, 1e-4);
        EXPECT_NEAR(r.spacing.median, e.median, 1e-4);
        EXPECT_NEAR(r.spacing.maximum, e.maximum, 1e-4);
        EXPECT_NEAR(r.tiltDegrees, e.tilt, 0.01);
        EXPECT_EQ(r.frameOfReferenceUid, "1.2.3.9");
        ASSERT_EQ(r.gaps.size(), e.gaps.size());
        for (size_t g = 0; g < e.gaps.size(); ++g) {
            EXPECT_NEAR(r.gaps[g].fromDepth, e.gaps[g].fromDepth, 1e-4);
            EXPECT_NEAR(r.gaps[g].toDepth, e.gaps[g].toDepth, 1e-4);
            EXPECT_NEAR(r.gaps[g].size, e.gaps[g].size, 1e-4);
        }
    }
}

// The slice of `b` nearest to each slice of `a` along z by plain search; -1 when it lies more
// than half b's end spacing beyond b's ends.
std::vector<int> NearestByZ(const std::vector<Slice>& a, const std::vector<Slice>& b) {
    std::vector<float> z;
    for (const Slice& t : b)
        z.push_back(t.position[2]);
    std::sort(z.begin(), z.end());
    const size_t n = z.size();
    const float low = z[0] - (z[1] - z[0]) / 2, high = z[n - 1] + (z[n - 1] - z[n - 2]) / 2;
    std::vector<int> nearest;
    for (const Slice& s : a) {
        const float at = s.position[2];
        size_t best = 0;
        for (size_t j = 0; j < b.size(); ++j)
            if (std::fabs(b[j].position[2] - at) < std::fabs(b[best].position[2] - at)) best = j;
        nearest.push_back(at < low - 1e-3f || at > high + 1e-3f ? -1 : int(best));
    }
    return nearest;
}

TEST(VolumeManager, PairsImagesOfParallelVolumesOfOneFrameOfReferenceOnly) {
    struct PairCase {
        const char* name;
        std::vector<Slice> a, b;
        bool paired = true;
        std::string studyB = "1.2.3", frameOfReferenceA = "1.2.3.9", frameOfReferenceB = "1.2.3.9";
    };
    const std::string s = "1.2.3.5";
    const PairCase cases[] = {
        {"steps 1 and 2.5", Zs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), Zs({0.4f, 2.9f, 5.4f, 7.9f}, s)},
        {"target covers part", Zs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), Zs({5, 6, 7, 8}, s)},
        {"listed backwards", Zs({9, 8, 7, 6, 5, 4, 3, 2, 1, 0}), Zs({6, 4, 2, 0}, s)},
        {"another study", Zs({0, 1, 2}), Zs({0, 1, 2}, s), false, "9.9"},
        {"another frame of reference", Zs({0, 1, 2}), Zs({0, 1, 2}, s), false, "1.2.3", "1.2.3.9",
         "7.7"},
        {"no frame of reference", Zs({0, 1, 2}), Zs({0, 1, 2}, s), false, "1.2.3", "", ""},
        {"not parallel",
         Zs({0, 1, 2}),
         {{{0, 0, 0}, kCoronal, s}, {{0, 1, 0}, kCoronal, s}},
         false},
    };
    for (const PairCase& c : cases) {
        SCOPED_TRACE(c.name);
        CSlices made;
        const std::vector<CDicomFrame*> frames[] = {made.Make(c.a, "1.2.3", c.frameOfReferenceA),
                                                    made.Make(c.b, c.studyB, c.frameOfReferenceB)};
        CVolumeManager manager(nullptr, {});
        ASSERT_EQ(manager.RecomputeVolumes(1, frames[0]), 1u);
        ASSERT_EQ(manager.RecomputeVolumes(2, frames[1]), 1u);
        uint32_t other = 0;
        EXPECT_EQ(manager.FindParallelVolume(1, &other), c.paired);
        EXPECT_EQ(manager.PairCount() > 0, c.paired);
        if (!c.paired) continue;
        EXPECT_EQ(other, 2u);
        for (int from = 0; from < 2; ++from) {
            const std::vector<int> nearest = NearestByZ(from ? c.b : c.a, from ? c.a : c.b);
            for (size_t i = 0; i < nearest.size(); ++i) {
                const std::string key =
                    manager.FindCorrespondingImage(frames[from][i]->Key(), from ? 1 : 2, nullptr);
                EXPECT_EQ(key, nearest[i] < 0 ? "" : frames[1 - from][size_t(nearest[i])]->Key())
                    << "from viewport " << from + 1 << ", image " << i;
            }
        }
    }
}

TEST(VolumeManager, MarginsCountAMissingThicknessAsTheLocalSpacing) {
    CSlices made;
    std::vector<Slice> a = Zs({0, 2, 4, 6}), b = Zs({0.5f, 2.5f, 4.5f, 6.5f}, "1.2.3.5");
    for (Slice& s : a)
        s.thickness = 0;
    const auto fa = made.Make(a), fb = made.Make(b);
    CVolumeManager manager(nullptr, {});
    manager.RecomputeVolumes(1, fa);
    manager.RecomputeVolumes(2, fb);
    float margin = 0;
    // a's slab is its 2 mm spacing, b's its 1 mm thickness: (2 + 1) / 2 - 0.5, both ways.
    EXPECT_EQ(manager.FindCorrespondingImage(fa[1]->Key(), 2, &margin), fb[1]->Key());
    EXPECT_NEAR(margin, 1.0f, 1e-5);
    EXPECT_EQ(manager.FindCorrespondingImage(fb[1]->Key(), 1, &margin), fa[1]->Key());
    EXPECT_NEAR(margin, 1.0f, 1e-5);
}

// A list that goes back and forth makes many small volumes in one viewport; each frame keeps
// only its best partner there, so pairs grow with the frames, not with volumes squared.
TEST(VolumeManager, KeepsOnePartnerPerFrameAndViewport) {
    CSlices made;
    const auto a = made.Make(Zs({0, 1, 2, 3}));
    const auto b = made.Make(Zs({0.4f, 1.4f, 2.4f, 3.4f, 0, 1, 2, 3}, "1.2.3.5"));
    CVolumeManager manager(nullptr, {});
    manager.RecomputeVolumes(1, a);
    ASSERT_EQ(manager.RecomputeVolumes(2, b), 2u);
    EXPECT_EQ(manager.PairCount(), a.size() + b.size());
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(manager.FindCorrespondingImage(a[i]->Key(), 2, nullptr), b[4 + i]->Key());
}

uint32_t Record(uint32_t code, uint64_t payload, void* context) {
    const auto* p = reinterpret_cast<const VolumesComputedPayload*>(uintptr_t(payload));
    static_cast<std::vector<std::array<uint32_t, 3>>*>(context)->push_back(
        code == 1 ? std::array{code, p->viewportId, p->volumeCount}
                  : std::array{code, uint32_t(payload), 0u});
    return 0;
}

TEST(VolumeManager, RaisesItsEventsAndReleasedVolumesLeaveNoPairs) {
    CHeadlessEventLoop loop;
    CUIDispatcher dispatcher(loop);
    CVexelEngine engine(dispatcher);
    SystemHooks hooks;
    ASSERT_TRUE(RegisterSystemHooks(engine, hooks));
    std::vector<std::array<uint32_t, 3>> log;
    ASSERT_NE(engine.Subscribe(kVolumeManagerHookName, Record, &log), 0u);
    CSlices made;
    CVolumeManager manager(&engine, hooks.volumeManager);
    manager.RecomputeVolumes(4, made.Make(Zs({0, 1, 2, 3, 8, 9, 10})));
    manager.RecomputeVolumes(5, made.Make(Zs({0, 1}, "1.2.3.5")));
    EXPECT_GT(manager.PairCount(), 0u);
    manager.RecomputeVolumes(6, made.Make(Zs({0})));
    manager.ReleaseVolumes(4);
    EXPECT_EQ(manager.PairCount(), 0u);
    EXPECT_EQ(log,
              (std::vector<std::array<uint32_t, 3>>{{1, 4, 2}, {1, 5, 1}, {1, 6, 0}, {2, 4, 0}}));
    UnregisterSystemHooks(engine, hooks);
}

}  // namespace
}  // namespace vexel
