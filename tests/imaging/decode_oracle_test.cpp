// Every image of the shared corpus decoded and compared with what DCMTK, GDCM and pydicom
// decoded from the same file (oracle/manifest.jsonl).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/flat_json.h"
#include "common/image_oracle.h"
#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "imaging/jpeg_engine.h"
#include "platform/md5.h"

namespace vexel {
namespace {

CJPEGEngine g_codecs;

struct OracleImage {
    std::string path;
    std::map<std::string, std::string> fields;  // flattened manifest entry

    std::string Get(const std::string& key) const {
        auto it = fields.find("/" + key);
        return it == fields.end() ? std::string() : it->second;
    }
    std::string Unquoted(const std::string& key) const { return Get(key); }
    double Number(const std::string& key) const {
        const std::string text = Get(key);
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        return text.empty() || *end != '\0' ? NAN : value;
    }
    // The first decoder that produced pixels, and all digests the decoders agree on.
    std::string Reference() const {
        for (const char* decoder : {"dcmtk", "gdcm", "pydicom"}) {
            if (!Get(std::string("pixel/") + decoder + "/md5_frame0").empty()) return decoder;
        }
        return {};
    }
};

void PrintTo(const OracleImage& image, std::ostream* os) {
    *os << image.path;
}

std::vector<OracleImage> LoadManifest() {
    std::vector<OracleImage> images;
    std::ifstream in(test::TestDataDir() / "oracle" / "manifest.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        OracleImage image;
        if (!test::ReadFlatJson(line, image.fields)) continue;
        image.path = image.Get("path");
        if (image.Get("has_pixel_data") == "true" && !image.Reference().empty()) {
            images.push_back(std::move(image));
        }
    }
    return images;
}

// Files whose decode is meant to differ from the oracles, and why.
const std::map<std::string, std::string> kExpectedFailures = {
    {"pydicom/test_files/MR_truncated.dcm",
     "the pixel data runs past the end of the file: the file does not load (the oracles "
     "decode the part that is there)"},
};
const std::map<std::string, std::string> kUnreliableOracles = {
    {"pydicom/test_files/rtdose_expb.dcm", "the oracles disagree on this big-endian dose"},
    {"pydicom/test_files/rtdose_expb_1frame.dcm", "the oracles disagree on this big-endian dose"},
};

class DecodeOracle : public testing::TestWithParam<OracleImage> {};

TEST_P(DecodeOracle, MatchesIndependentDecoders) {
    const OracleImage& oracle = GetParam();
    if (auto reason = kUnreliableOracles.find(oracle.path); reason != kUnreliableOracles.end()) {
        GTEST_SKIP() << reason->second;
    }
    const std::string path = (test::TestDataDir() / oracle.path).string();
    CDicomFile file;
    file.SetDeferredValues(true);
    const ReadStatus read = ReadDicomFile(file, path);
    if (auto reason = kExpectedFailures.find(oracle.path); reason != kExpectedFailures.end()) {
        std::cout << "[ NOTE ] " << oracle.path << ": " << reason->second << "\n";
        EXPECT_NE(read, ReadStatus::Ok);
        return;
    }
    ASSERT_EQ(read, ReadStatus::Ok);
    CDicomImage* image = CDicomImage::AttachTo(file, true);
    ASSERT_GT(image->FrameCount(), 0u) << DecodeStatusText(image->InitialiseStatus());
    // Decoders infer the frame count from the data when Number of Frames is unreadable.
    const double frames = std::isnan(oracle.Number("frames"))
                              ? oracle.Number("pixel/" + oracle.Reference() + "/frames_decoded")
                              : oracle.Number("frames");
    EXPECT_EQ(double(image->FrameCount()), frames);

    const std::string decoder = oracle.Reference();
    const std::string prefix = "pixel/" + decoder + "/";
    CDicomFrame* frame = image->Frame(0);
    std::vector<CDicomFrame*> holders;
    const uint8_t* pixels = frame->Pixels(&holders);
    ASSERT_NE(pixels, nullptr) << DecodeStatusText(frame->LastStatus());
    const test::FrameSummary ours = test::Summarise(*frame, pixels, image->IsSigned());
    const bool lossy = oracle.Get("lossy_transfer_syntax") == "true";
    const int bitsAllocated = int(oracle.Number("bits_allocated"));
    const bool palette = oracle.Get("photometric") == "PALETTE COLOR";

    if (palette || (image->IsColour() && bitsAllocated > 8)) {
        // The oracles digest palette indices and 16-bit colour samples; dcm2pnm shows the
        // same frame as 8-bit RGB.
        const std::vector<uint8_t> rgb = test::Dcm2PnmRgb(path, 0);
        ASSERT_EQ(rgb.size(), frame->BufferSize()) << "dcm2pnm gave no comparable image";
        EXPECT_EQ(test::FirstDifference(rgb.data(), pixels, rgb.size(), 1), "");
    } else if (!image->IsColour() && bitsAllocated == 32) {
        // 32-bit samples are shifted into 16 bits and the slope grows to match.
        const double scale = image->RescaleSlope() / test::RescaleSlopeOf(file);
        EXPECT_NEAR(ours.minimum * scale, oracle.Number(prefix + "min"), scale);
        EXPECT_NEAR(ours.maximum * scale, oracle.Number(prefix + "max"), scale);
        EXPECT_NEAR(ours.mean * scale, oracle.Number(prefix + "mean"), scale);
    } else if (lossy) {
        EXPECT_NEAR(ours.minimum, oracle.Number(prefix + "min"), 2.0);
        EXPECT_NEAR(ours.maximum, oracle.Number(prefix + "max"), 2.0);
        EXPECT_NEAR(ours.mean, oracle.Number(prefix + "mean"), 0.5);
    } else {
        std::vector<std::string> accepted;
        for (const char* d : {"dcmtk", "gdcm", "pydicom"}) {
            for (const char* field : {"/rgb8_md5_frame0", "/md5_frame0"}) {
                const std::string md5 = oracle.Get(std::string("pixel/") + d + field);
                if (!md5.empty() && md5 != "null") accepted.push_back(md5);
            }
        }
        EXPECT_NE(std::find(accepted.begin(), accepted.end(), ours.md5), accepted.end())
            << "md5 " << ours.md5 << " min " << ours.minimum << " max " << ours.maximum << " mean "
            << ours.mean << "; " << decoder << ": min " << oracle.Number(prefix + "min") << " max "
            << oracle.Number(prefix + "max") << " mean " << oracle.Number(prefix + "mean");
    }
    CDicomFrame::ReleaseHolders(holders);
}

std::vector<OracleImage> Cases() {
    if (!test::HaveTestData()) return {};
    return LoadManifest();
}

std::string CaseName(const testing::TestParamInfo<OracleImage>& info) {
    std::string name = info.param.path;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(SharedCorpus, DecodeOracle, testing::ValuesIn(Cases()), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DecodeOracle);

}  // namespace
}  // namespace vexel
