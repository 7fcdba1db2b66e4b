// vexel suv on the SUV reference objects: 17 synthetic PET series whose cold sphere,
// background and hot sphere have SUVbw 0.20, 1.00 and 4.00, each series changing one thing of
// the header. Where the header allows SUVbw, the series' minimum, median and maximum over its
// non-zero voxels must be within 0.1 % of the values worked out from its header and stored
// values, and within 0.5 % of the published ones; where it does not, the values carry their
// own SUV type or no SUV at all, never a different number called SUVbw.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "common/flat_json.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

using test::Quote;
using test::Vexel;

TEST(VexelSuv, ReferenceObjectsGiveTheirPublishedValues) {
    VEXEL_REQUIRE_TESTDATA();
    const auto root = test::TestDataDir() / "suv-dro" / "DRO";
    if (!std::filesystem::exists(root)) GTEST_SKIP() << "not found: " << root;
    const struct {
        const char* series;
        const char* unit;
        double min, median, max;  // from the header and stored values; 0: not SUVbw
    } cases[] = {
        {"DRO_0_0", "SUVbw", 0.2000, 1.0000, 4.0000},
        {"DRO_1_0", "SUVbw", 0.2000, 1.0000, 4.0000},   // a slope per slice
        {"DRO_2_0", "SUVbw", 0.2000, 1.0000, 4.0000},   // GML, SUV Type BW
        {"DRO_2_1", "SUVlbmjames128", 0, 0, 0},
        {"DRO_2_2", "SUVibw", 0, 0, 0},
        {"DRO_2_3", "SUVbsa", 0, 0, 0},
        {"DRO_2_4", "", 0, 0, 0},                       // counts
        {"DRO_2_5", "", 0, 0, 0},
        {"DRO_3_0", "Bq/ml", 0, 0, 0},                  // the dose in MBq
        {"DRO_3_1", "SUVbw", 0.19988, 0.99995, 4.0000},  // ADMIN
        {"DRO_3_2", "SUVbw", 0.2000, 1.0000, 4.0000},   // series after its acquisition
        {"DRO_3_3", "SUVbw", 0.2000, 1.0000, 4.0000},
        {"DRO_3_4", "SUVbw", 0.19972, 0.99996, 3.99983},  // NONE, two acquisition times
        {"DRO_4_0", "SUVbw", 0.2000, 1.0000, 4.0000},
        {"DRO_4_1", "SUVbw", 0.2000, 1.0000, 4.0000},
        {"DRO_4_2", "SUVbw", 0.2000, 1.0000, 4.0000},   // injected before midnight
        {"DRO_5_0", "SUVbw", 0.19979, 1.0000, 4.0001},  // Ga-68
    };
    for (const auto& c : cases) {
        int code = -1;
        const std::string out =
            test::RunCommand(Vexel() + " suv " + Quote(root / c.series) + " --json", &code);
        ASSERT_EQ(code, 0) << c.series;
        std::map<std::string, std::string> json;
        ASSERT_TRUE(test::JsonReader(out).Read(json)) << out;
        EXPECT_EQ(json["/series/0/unit"], c.unit) << c.series;
        EXPECT_EQ(json.count("/series/1/unit"), 0u) << c.series;
        if (c.max == 0) continue;
        const double expected[] = {c.min, c.median, c.max}, published[] = {0.2, 1.0, 4.0};
        const char* keys[] = {"min", "median", "max"};
        for (int k = 0; k < 3; ++k) {
            const double value = std::stod(json["/series/0/" + std::string(keys[k])]);
            EXPECT_NEAR(value, expected[k], expected[k] * 1e-3) << c.series << " " << keys[k];
            EXPECT_NEAR(value, published[k], published[k] * 5e-3) << c.series << " " << keys[k];
        }
        // The hot sphere's centre: slice 10, row 128, column 158.
        EXPECT_EQ(json["/series/0/maxAt/row"], "128") << c.series;
        EXPECT_EQ(json["/series/0/maxAt/column"], "158") << c.series;
    }
}

// An ellipse inside the hot sphere, the cold sphere and the background of the central slice
// shows their SUVbw, as the viewer's ellipse does.
TEST(VexelSuv, EllipsesShowTheRegionsInSuv) {
    VEXEL_REQUIRE_TESTDATA();
    const auto file =
        test::TestDataDir() / "suv-dro/DRO/DRO_0_0/PT/pet_dro_0_0_slice_010.dcm";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "not found: " << file;
    const std::pair<const char*, const char*> regions[] = {
        {"155,125,161,131", "SUVbw (g/ml)\nMean=4.00\n"},
        {"95,125,101,131", "SUVbw (g/ml)\nMean=0.20\n"},
        {"120,150,136,166", "SUVbw (g/ml)\nMean=1.00\n"},
    };
    for (const auto& [ellipse, label] : regions) {
        int code = -1;
        const std::string out = test::RunCommand(
            Vexel() + " measure " + Quote(file) + " --ellipse " + ellipse, &code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(out.rfind(label, 0), 0u) << out;
    }
}

}  // namespace
}  // namespace vexel
