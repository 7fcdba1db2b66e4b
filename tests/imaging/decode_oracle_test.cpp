// Every image of the shared corpus decoded and compared with what DCMTK, GDCM and pydicom
// decoded from the same file (oracle/manifest.jsonl).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/flat_json.h"
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

struct FrameSummary {
    double minimum = 0, maximum = 0, mean = 0;
    std::string md5;
};

// Statistics of the stored values (greyscale) or of all samples (colour), and the MD5 of
// the buffer.
FrameSummary Summarise(const CDicomFrame& frame, const uint8_t* pixels, bool isSigned) {
    FrameSummary summary;
    const size_t count = size_t(frame.Columns()) * frame.Rows() * (frame.IsColour() ? 3 : 1);
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t w = frame.IsColour() ? 0 : reinterpret_cast<const uint16_t*>(pixels)[i];
        const double v = frame.IsColour() ? pixels[i] : isSigned ? double(int16_t(w)) : double(w);
        if (i == 0 || v < summary.minimum) summary.minimum = v;
        if (i == 0 || v > summary.maximum) summary.maximum = v;
        sum += v;
    }
    summary.mean = count ? sum / double(count) : 0;
    summary.md5 = CMd5::Hex(pixels, frame.BufferSize());
    return summary;
}

// The first frame as 8-bit RGB, decoded by DCMTK's dcm2pnm (empty when that fails).
std::vector<int> Dcm2PnmRgb(const std::string& path) {
    const std::filesystem::path out = test::ScratchDir("dcm2pnm") / "frame.ppm";
    test::RunCommand("dcm2pnm --write-raw-pnm '" + path + "' '" + out.string() + "' 2>/dev/null");
    return test::ReadNetpbm(out);
}

struct OracleImage {
    std::string path;
    std::map<std::string, std::string> fields;  // flattened manifest entry

    std::string Get(const std::string& key) const {
        auto it = fields.find("/" + key);
        return it == fields.end() ? std::string() : it->second;
    }
    double Number(const std::string& key) const {
        const std::string text = Get(key);
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        return text.empty() || *end ? NAN : value;
    }
    // The first decoder that produced pixels, and all digests the decoders agree on.
    std::string Reference() const {
        for (const char* decoder : {"dcmtk", "gdcm", "pydicom"})
            if (!Get(std::string("pixel/") + decoder + "/md5_frame0").empty()) return decoder;
        return {};
    }
};

void PrintTo(const OracleImage& image, std::ostream* os) {
    *os << image.path;
}

std::vector<OracleImage> LoadManifest() {
    std::vector<OracleImage> images;
    std::ifstream in(test::TestDataDir() / "oracle" / "manifest.jsonl");
    for (std::string line; std::getline(in, line);) {
        OracleImage image;
        if (!test::ReadFlatJson(line, image.fields)) continue;
        image.path = image.Get("path");
        if (image.Get("has_pixel_data") == "true" && !image.Reference().empty())
            images.push_back(std::move(image));
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
    const FrameSummary ours = Summarise(*frame, pixels, image->IsSigned());
    const bool lossy = oracle.Get("lossy_transfer_syntax") == "true";
    const int bitsAllocated = int(oracle.Number("bits_allocated"));
    const bool palette = oracle.Get("photometric") == "PALETTE COLOR";

    if (palette || (image->IsColour() && bitsAllocated > 8)) {
        // The oracles digest palette indices and 16-bit colour samples; dcm2pnm shows the
        // same frame as 8-bit RGB.
        const std::vector<int> rgb = Dcm2PnmRgb(path);
        ASSERT_EQ(rgb.size(), frame->BufferSize()) << "dcm2pnm gave no comparable image";
        size_t differing = 0;
        while (differing < rgb.size() && std::abs(rgb[differing] - pixels[differing]) <= 1)
            ++differing;
        EXPECT_EQ(differing, rgb.size()) << "first difference at byte " << differing;
    } else if (!image->IsColour() && bitsAllocated == 32) {
        // 32-bit samples are shifted into 16 bits and the slope grows to match.
        const double scale = image->RescaleSlope() / file.Float(0x00281053, 1);
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

INSTANTIATE_TEST_SUITE_P(SharedCorpus, DecodeOracle, testing::ValuesIn(LoadManifest()),
                         [](const auto& row) {
                             std::string name = row.param.path;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DecodeOracle);

}  // namespace
}  // namespace vexel
