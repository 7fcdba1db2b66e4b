// Volume finding, pairing and the geometry report over frames built in memory: each case
// states its expected volumes as the indexes of the listed slices, in the order the volume
// must hold them, worked out by hand from the positions.
#include "engine/volume_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <tuple>
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
constexpr Orientation kAxial = {1, 0, 0, 0, 1, 0};       // normal +z
constexpr Orientation kAxialHead = {1, 0, 0, 0, -1, 0};  // normal -z
constexpr Orientation kCoronal = {1, 0, 0, 0, 0, -1};
const float kHalf = std::sqrt(0.5f);
const Orientation kOblique = {1, 0, 0, 0, kHalf, -kHalf};  // normal (0, h, h): kind 6
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Slice {
    std::array<float, 3> position;
    Orientation orientation = kAxial;
    std::string series = "1.2.3.1";
    float thickness = 1;
    bool colour = false;
    int frames = 1;
    bool noPosition = false;
};

Slice Z(float z) {
    return Slice{{0, 0, z}};
}
std::vector<Slice> Zs(std::initializer_list<float> zs) {
    std::vector<Slice> slices;
    for (float z : zs)
        slices.push_back(Z(z));
    return slices;
}

// In-memory single-frame images of 2 x 2 pixels; keeps them alive.
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
            for (int f = 0; f < s.frames; ++f) {
                auto* buffer = static_cast<uint8_t*>(CheckedCalloc(8));
                EXPECT_TRUE(image->AddFrameFromBuffer(buffer, 8,
                                                      s.noPosition ? nullptr : s.position.data(),
                                                      s.orientation.data(), &s.thickness));
            }
            CDicomFrame* frame = image->Frame(0);
            if (s.colour) frame->SetLayout(2, 2, true, 12);
            frames.push_back(frame);
            m_files.push_back(std::move(file));
        }
        return frames;
    }

private:
    std::vector<std::unique_ptr<CDicomFile>> m_files;
};

struct FindCase {
    const char* name;
    std::vector<Slice> slices;
    std::vector<std::vector<int>> volumes;  // listed indexes, in the volume's order
};

std::vector<FindCase> FindCases() {
    std::vector<FindCase> cases = {
        {"unequal steps, none above twice the median", Zs({0, 5, 10, 12, 20}), {{0, 1, 2, 3, 4}}},
        {"a repeated position splits", Zs({0, 1, 2, 2, 3, 4}), {{0, 1, 2}, {3, 4, 5}}},
        {"a gap of five steps splits", Zs({0, 1, 2, 3, 8, 9, 10}), {{0, 1, 2, 3}, {4, 5, 6}}},
        {"5 % jitter stays one", Zs({0, 1.05f, 2.0f, 3.04f, 3.99f, 5.0f}), {{0, 1, 2, 3, 4, 5}}},
        {"listed backwards, sorted along the normal", Zs({3, 2, 1, 0}), {{3, 2, 1, 0}}},
        {"a series change ends the run", Zs({0, 1, 2, 3}), {{0, 1}, {2, 3}}},
        {"no position, no volume", Zs({0, 1, 2, 3}), {{0, 1}}},
        {"NaN position ends the run", Zs({0, 1, 2, 3, 4}), {{0, 1}, {3, 4}}},
        {"zero-length cosines form nothing", Zs({0, 1, 2}), {}},
        {"colour frames form nothing", Zs({0, 1, 2}), {}},
        {"multi-frame files form nothing", Zs({0, 1, 2}), {}},
        {"a step inside the plane ends the run", Zs({0, 1, 2}), {{0, 1}}},
    };
    cases[5].slices[2].series = cases[5].slices[3].series = "1.2.3.2";
    cases[6].slices[2].noPosition = true;
    cases[7].slices[2].position[2] = kNaN;
    for (Slice& s : cases[8].slices)
        s.orientation = {0, 0, 0, 0, 1, 0};
    for (Slice& s : cases[9].slices)
        s.colour = true;
    for (Slice& s : cases[10].slices)
        s.frames = 3;
    cases[11].slices[2].position = {40, 0, 1};

    // Orientation changes at image 10; a localizer between two stacks is alone.
    FindCase change{"orientation change at image 10", {}, {{}, {}}};
    for (int i = 0; i < 20; ++i) {
        Slice s = i < 10 ? Z(float(i)) : Slice{{0, float(i), 0}, kCoronal};
        change.slices.push_back(s);
        change.volumes[i < 10 ? 0 : 1].push_back(i);
    }
    cases.push_back(change);
    FindCase localizer{
        "a localizer between stacks", Zs({0, 2, 4, 0, 10, 12, 14}), {{0, 1, 2}, {4, 5, 6}}};
    localizer.slices[3].orientation = kCoronal;
    cases.push_back(localizer);

    // Normal -z sorts by descending z, however listed.
    FindCase head{"normal -z", Zs({0, 1, 2, 3}), {{3, 2, 1, 0}}};
    FindCase headBack{"normal -z listed backwards", Zs({3, 2, 1, 0}), {{0, 1, 2, 3}}};
    for (FindCase* c : {&head, &headBack})
        for (Slice& s : c->slices)
            s.orientation = kAxialHead;
    cases.push_back(head);
    cases.push_back(headBack);
    // Oblique stacks sort along their normal (0, h, h) too, listed backwards or not.
    FindCase oblique{"oblique, listed backwards", {}, {{3, 2, 1, 0}}};
    for (float k = 3; k >= 0; --k)
        oblique.slices.push_back({{0, 2.0f * k * kHalf, 2.0f * k * kHalf}, kOblique});
    cases.push_back(oblique);
    // Gantry tilt of 15 degrees: every step slants along the column direction.
    FindCase tilted{"tilted stack", {}, {{0, 1, 2, 3, 4}}};
    const float tilt = 15 * float(M_PI) / 180;
    for (float k = 0; k < 5; ++k)
        tilted.slices.push_back(Slice{{0, 2.5f * k * std::sin(tilt), 2.5f * k * std::cos(tilt)}});
    cases.push_back(tilted);
    return cases;
}

TEST(VolumeFinder, FindsTheVolumesOfEachList) {
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
            EXPECT_EQ(volumes[v].imageCount, int32_t(expected.size()));
            EXPECT_EQ(volumes[v].viewportId, 7u);
        }
    }
}

struct ReportCase {
    const char* name;
    int32_t planeKind;
    float spacing, minimum, median, maximum, tilt;
    std::vector<VolumeGap> gaps;
};

TEST(VolumeFinder, ReportsPlaneSpacingGapsAndTilt) {
    const std::vector<FindCase> cases = FindCases();
    const std::map<std::string, ReportCase> expected = {
        {"unequal steps, none above twice the median", {"", 1, 5, 2, 5, 8, 0, {}}},
        {"a gap of five steps splits", {"", 1, 1, 1, 1, 1, 0, {{3, 8, 5}}}},
        {"normal -z", {"", 2, 1, 1, 1, 1, 0, {}}},
        {"oblique, listed backwards", {"", 6, 2, 2, 2, 2, 0, {}}},
        {"tilted stack", {"", 1, 2.5f, 2.5f, 2.5f, 2.5f, 15, {}}},
        {"orientation change at image 10", {"", 1, 1, 1, 1, 1, 0, {}}},
    };
    for (const FindCase& c : cases) {
        const auto it = expected.find(c.name);
        if (it == expected.end()) continue;
        SCOPED_TRACE(c.name);
        const ReportCase& e = it->second;
        CSlices made;
        const std::vector<VolumeRecord> volumes = FindVolumes(1, made.Make(c.slices));
        ASSERT_FALSE(volumes.empty());
        EXPECT_NEAR(volumes[0].spacing, e.spacing, 1e-4);
        const VolumeGeometryReport report = ReportVolumeGeometry(volumes[0]);
        EXPECT_EQ(report.planeKind, e.planeKind);
        EXPECT_NEAR(report.spacing.minimum, e.minimum, 1e-4);
        EXPECT_NEAR(report.spacing.median, e.median, 1e-4);
        EXPECT_NEAR(report.spacing.maximum, e.maximum, 1e-4);
        EXPECT_NEAR(report.tiltDegrees, e.tilt, 0.01);
        EXPECT_EQ(report.frameOfReferenceUid, "1.2.3.9");
        ASSERT_EQ(report.gaps.size(), e.gaps.size());
        for (size_t g = 0; g < e.gaps.size(); ++g) {
            EXPECT_NEAR(report.gaps[g].fromDepth, e.gaps[g].fromDepth, 1e-4);
            EXPECT_NEAR(report.gaps[g].toDepth, e.gaps[g].toDepth, 1e-4);
            EXPECT_NEAR(report.gaps[g].size, e.gaps[g].size, 1e-4);
        }
    }
}

// The nearest frame of `b` to each frame of `a` along z, found by plain search; -1 when the
// frame lies more than half a spacing beyond b's ends.
std::vector<int> NearestByZ(const std::vector<Slice>& a, const std::vector<Slice>& b) {
    std::vector<int> nearest;
    for (const Slice& s : a) {
        int best = 0;
        for (size_t j = 0; j < b.size(); ++j)
            if (std::fabs(b[j].position[2] - s.position[2]) <
                std::fabs(b[size_t(best)].position[2] - s.position[2]))
                best = int(j);
        std::vector<float> z;
        for (const Slice& t : b)
            z.push_back(t.position[2]);
        std::sort(z.begin(), z.end());
        const size_t n = z.size();
        const float low = z[0] - (z[1] - z[0]) / 2, high = z[n - 1] + (z[n - 1] - z[n - 2]) / 2;
        nearest.push_back(s.position[2] < low - 1e-3f || s.position[2] > high + 1e-3f ? -1 : best);
    }
    return nearest;
}

struct PairCase {
    const char* name;
    std::vector<Slice> a, b;
    std::string studyB = "1.2.3", frameOfReferenceA = "1.2.3.9", frameOfReferenceB = "1.2.3.9";
    bool paired = true;
};

TEST(VolumeManager, PairsEachImageWithTheNearestOfParallelVolumesOfOnePatientSpace) {
    std::vector<PairCase> cases = {
        {"one study, steps 1 and 2.5", Zs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
         Zs({0.4f, 2.9f, 5.4f, 7.9f})},
        {"the target stack covers part of the source", Zs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}),
         Zs({5, 6, 7, 8})},
        {"listed backwards", Zs({9, 8, 7, 6, 5, 4, 3, 2, 1, 0}), Zs({6, 4, 2, 0})},
        {"another study", Zs({0, 1, 2}), Zs({0, 1, 2}), "9.9"},
        {"another frame of reference", Zs({0, 1, 2}), Zs({0, 1, 2}), "1.2.3", "1.2.3.9", "7.7"},
        {"no frame of reference", Zs({0, 1, 2}), Zs({0, 1, 2}), "1.2.3", "", ""},
        {"not parallel", Zs({0, 1, 2}), {{{0, 0, 0}, kCoronal}, {{0, 1, 0}, kCoronal}}},
    };
    for (PairCase& c : cases) {
        c.paired = c.name[0] != 'a' && c.name[0] != 'n';
        for (Slice& s : c.b)
            s.series = "1.2.3.5";
    }
    for (const PairCase& c : cases) {
        SCOPED_TRACE(c.name);
        CSlices made;
        const auto a = made.Make(c.a, "1.2.3", c.frameOfReferenceA);
        const auto b = made.Make(c.b, c.studyB, c.frameOfReferenceB);
        CVolumeManager manager(nullptr, {});
        ASSERT_EQ(manager.RecomputeVolumes(1, a), 1u);
        ASSERT_EQ(manager.RecomputeVolumes(2, b), 1u);
        uint32_t other = 0;
        EXPECT_EQ(manager.FindParallelVolume(1, &other), c.paired);
        if (!c.paired) {
            EXPECT_EQ(manager.PairCount(), 0u);
            continue;
        }
        EXPECT_EQ(other, 2u);
        for (const auto& [from, to, fromFrames, toFrames, target] :
             {std::tuple{&c.a, &c.b, &a, &b, 2u}, std::tuple{&c.b, &c.a, &b, &a, 1u}}) {
            const std::vector<int> nearest = NearestByZ(*from, *to);
            for (size_t i = 0; i < nearest.size(); ++i) {
                const std::string key =
                    manager.FindCorrespondingImage((*fromFrames)[i]->Key(), target, nullptr);
                EXPECT_EQ(key, nearest[i] < 0 ? "" : (*toFrames)[size_t(nearest[i])]->Key())
                    << "to viewport " << target << ", image " << i;
            }
        }
    }
}

TEST(VolumeManager, MarginsCountAMissingThicknessAsTheLocalSpacing) {
    CSlices made;
    std::vector<Slice> a = Zs({0, 2, 4, 6}), b = Zs({0.5f, 2.5f, 4.5f, 6.5f});
    for (Slice& s : a)
        s.thickness = 0;
    for (Slice& s : b)
        s.series = "1.2.3.5", s.thickness = 1;
    const auto fa = made.Make(a), fb = made.Make(b);
    CVolumeManager manager(nullptr, {});
    manager.RecomputeVolumes(1, fa);
    manager.RecomputeVolumes(2, fb);
    float margin = 0;
    // (2 + 1) / 2 - 0.5 for a's slab of its 2 mm spacing; b's own 1 mm from the other side.
    EXPECT_EQ(manager.FindCorrespondingImage(fa[1]->Key(), 2, &margin), fb[1]->Key());
    EXPECT_NEAR(margin, 1.0f, 1e-5);
    EXPECT_EQ(manager.FindCorrespondingImage(fb[1]->Key(), 1, &margin), fa[1]->Key());
    EXPECT_NEAR(margin, 1.0f, 1e-5);
    manager.ReleaseVolumes(2);
    EXPECT_EQ(manager.PairCount(), 0u);
    EXPECT_EQ(manager.FindCorrespondingImage(fa[1]->Key(), 2, &margin), "");
}

uint32_t Record(uint32_t code, uint64_t payload, void* context) {
    auto& log = *static_cast<std::vector<std::array<uint32_t, 3>>*>(context);
    if (code == EventCode(VolumeManagerEvent::VolumesComputed)) {
        const auto* p = reinterpret_cast<const VolumesComputedPayload*>(uintptr_t(payload));
        log.push_back({code, p->viewportId, p->volumeCount});
    } else {
        log.push_back({code, uint32_t(payload), 0});
    }
    return 0;
}

TEST(VolumeManager, RaisesItsEvents) {
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
    manager.RecomputeVolumes(5, made.Make(Zs({0})));
    manager.ReleaseVolumes(4);
    EXPECT_EQ(log, (std::vector<std::array<uint32_t, 3>>{{1, 4, 2}, {1, 5, 0}, {2, 4, 0}}));
    UnregisterSystemHooks(engine, hooks);
}

}  // namespace
}  // namespace vexel
