// vexel measure against pydicom and numpy computing the same region of real CT and MR files
// (centre rule, stored values, rescale after), and the labels it prints.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/flat_json.h"
#include "common/test_paths.h"

namespace vexel {
namespace {

// Debian's interpreter, where the packaged pydicom and numpy live. Arguments: the file, then
// boxes "x1,y1,x2,y2"; prints one object per box, keyed by its position.
constexpr const char* kOracle = R"(/usr/bin/python3 -c '
import sys, json, numpy as np, pydicom
ds = pydicom.dcmread(sys.argv[1])
px = ds.pixel_array.astype(np.int64)
yy, xx = np.mgrid[0:px.shape[0], 0:px.shape[1]]
slope, icpt = float(ds.get("RescaleSlope", 1)), float(ds.get("RescaleIntercept", 0))
row, col = (float(s) for s in ds.PixelSpacing)
out = {}
for n, box in enumerate(sys.argv[2:]):
    x1, y1, x2, y2 = (np.float32(v) for v in box.split(","))
    cx, cy = (x1 + x2) / np.float32(2), (y1 + y2) / np.float32(2)
    a, b = abs(x2 - x1) / np.float32(2), abs(y2 - y1) / np.float32(2)
    inside = ((xx + 0.5 - float(cx)) / float(a)) ** 2 + ((yy + 0.5 - float(cy)) / float(b)) ** 2 <= 1
    v = px[inside]
    out[str(n)] = {"pixels": int(v.size), "min": v.min() * slope + icpt, "max": v.max() * slope + icpt,
                   "mean": v.mean() * slope + icpt, "stddev": v.std() * abs(slope)}
out["row"], out["col"] = row, col
print(json.dumps(out))
')";

std::map<std::string, std::string> Json(const std::string& command) {
    int code = -1;
    std::map<std::string, std::string> values;
    EXPECT_TRUE(test::ReadFlatJson(test::RunCommand(command, &code), values)) << command;
    EXPECT_EQ(code, 0) << command;
    return values;
}

double Num(std::map<std::string, std::string>& values, const std::string& key) {
    return std::stod(values["/" + key]);
}

TEST(VexelMeasure, EllipsesAndLengthsMatchPydicom) {
    VEXEL_REQUIRE_TESTDATA();
    int code = -1;
    test::RunCommand("/usr/bin/python3 -c 'import pydicom, numpy'", &code);
    if (code != 0) GTEST_SKIP() << "pydicom or numpy missing";
    // The CT again with a slope of 2.5 and an intercept of -1024, set by DCMTK.
    const auto source = test::TestDataDir() / "pydicom/test_files";
    const auto rescaled = test::ScratchDir("measure-rescaled") / "CT_rescaled.dcm";
    std::filesystem::copy_file(source / "CT_small.dcm", rescaled,
                               std::filesystem::copy_options::overwrite_existing);
    test::RunCommand("dcmodify -nb -m '(0028,1053)=2.5' -m '(0028,1052)=-1024' " +
                         test::Quote(rescaled), &code);
    ASSERT_EQ(code, 0);
    for (const auto& path : {source / "CT_small.dcm", source / "MR_small.dcm", rescaled}) {
        const std::string name = path.filename().string();
        const std::string file = test::Quote(path);
        const std::vector<std::string> boxes = {"10.3,12.7,50.2,40.9", "-6,-3,20,15", "10,10,20,20",
                                                "60,50,20.5,33.25", "30,30,31,31"};
        std::string command = std::string(kOracle) + " " + file;
        for (const std::string& box : boxes) command += " " + box;
        auto oracle = Json(command);
        for (size_t n = 0; n < boxes.size(); ++n) {
            SCOPED_TRACE(std::string(name) + " " + boxes[n]);
            auto ours = Json(test::Vexel() + " measure --json " + file + " --ellipse=" + boxes[n]);
            const std::string at = "/" + std::to_string(n) + "/";
            ASSERT_EQ(ours["/pixels"], oracle[at + "pixels"]);
            for (const char* key : {"min", "max", "mean", "stddev"}) {
                const double want = std::stod(oracle[at + key]);
                EXPECT_NEAR(Num(ours, key), want, 1e-5 * std::max(1.0, std::fabs(want))) << key;
            }
        }
        // A length from (2.5, 3.5) to (42.5, 33.5): 40 columns and 30 rows.
        auto ours = Json(test::Vexel() + " measure " + file + " --json --length 2.5,3.5,42.5,33.5");
        EXPECT_NEAR(Num(ours, "value"), std::hypot(40 * Num(oracle, "col"), 30 * Num(oracle, "row")),
                    1e-5);
        EXPECT_EQ(ours["/unit"], "mm");
        EXPECT_EQ(ours["/source"], "Pixel Spacing");
    }
}

TEST(VexelMeasure, PrintsTheViewersLabelsAndRefusesBadRequests) {
    VEXEL_REQUIRE_TESTDATA();
    const auto files = test::TestDataDir() / "pydicom/test_files";
    const std::string ct = test::Quote(files / "CT_small.dcm");
    const std::string cr = test::Quote(files / "dicomdirtests/77654033/CR1/6154");
    struct Case {
        std::string arguments;
        int exitCode;
        std::string output;  // the start of stdout
    };
    for (const Case& c : {Case{cr + " --length 1,1,11,1", 0, "1.0 mm\nImager Pixel Spacing (detector)\n"},
                          Case{ct + " --cobb=0,0,57.358,81.915,0,100,57.358,18.085", 0, "110.0\u00b0\n"},
                          Case{ct + " --angle 0,0,10,0,10,10", 0, "90.0\u00b0\n"},
                          Case{ct + " --ellipse 10,10,20", 2, ""},
                          Case{ct + " --length 1,1,2,2 --angle 0,0,1,1,2,2", 2, ""},
                          Case{ct + " --frame 3 --length 1,1,2,2", 1, ""},
                          Case{"--length 1,1,2,2", 2, ""}}) {
        SCOPED_TRACE(c.arguments);
        int code = -1;
        const std::string out = test::RunCommand(test::Vexel() + " measure " + c.arguments + " 2>/dev/null", &code);
        EXPECT_EQ(code, c.exitCode);
        EXPECT_EQ(out.substr(0, c.output.size()), c.output);
    }
}

}  // namespace
}  // namespace vexel
