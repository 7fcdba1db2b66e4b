// Real files cut short at every element boundary and at random offsets: each copy must fail
// with a reason or load fewer elements than the whole file, and the listing of what loaded
// (which reads deferred values back from the cut file) must stay within the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

// Files of pydicom's test set, each with a different structure to cut through: implicit VR
// nested defined lengths, deep explicit sequences, big endian, an undefined-length UN
// sequence, private sequences, encapsulated fragments, deflate, a bare data set, DICOMDIR.
constexpr const char* kCases[] = {"rtplan.dcm", "test-SR.dcm", "MR_small_bigendian.dcm",
                                  "UN_sequence.dcm", "priv_SQ.dcm", "MR_small_jpeg_ls_lossless.dcm",
                                  "image_dfl.dcm", "rtstruct.dcm", "dicomdirtests/DICOMDIR"};

size_t TreeSize(const CDicomElement* container) {
    size_t count = 0;
    for (const CDicomElement* child = container->firstChild; child; child = child->nextSibling)
        count += 1 + TreeSize(child);
    return count;
}

// Where headers start and values start and end, as far as the whole file's tree tells:
// an explicit VR header is 8 or 12 bytes before its value, an implicit one 8.
void CollectBoundaries(const CDicomElement* container, std::set<uint64_t>& cuts) {
    for (const CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
        if (child->offset != 0) {
            for (const uint64_t back : {12u, 8u, 0u})
                if (child->offset >= back) cuts.insert(child->offset - back);
            cuts.insert(child->offset + child->length);
        }
        CollectBoundaries(child, cuts);
    }
}

class TruncationTest : public testing::TestWithParam<const char*> {};

TEST_P(TruncationTest, CutCopiesFailOrLoadLess) {
    VEXEL_REQUIRE_TESTDATA();
    const fs::path source = test::TestDataDir() / "pydicom/test_files" / GetParam();
    const std::vector<uint8_t> bytes = test::ReadFileBytes(source);
    ASSERT_FALSE(bytes.empty()) << source;

    CDicomFile whole;
    ASSERT_EQ(ReadDicomFile(whole, source.string()), ReadStatus::Ok) << source;
    const size_t wholeSize = TreeSize(whole.Root());
    std::set<uint64_t> cuts;
    // Offsets of a deflated data set count in the inflated bytes: random cuts only there.
    if (!whole.OffsetsDetached()) CollectBoundaries(whole.Root(), cuts);
    std::mt19937 random(20240229);
    for (int i = 0; i < 50; ++i)
        cuts.insert(random() % bytes.size());

    const fs::path cutPath = test::ScratchDir("truncation") / "cut.dcm";
    for (const uint64_t cut : cuts) {
        if (cut >= bytes.size()) continue;
        {
            // A new file each time: ext4 flushes a file truncated and rewritten in place.
            fs::remove(cutPath);
            std::ofstream out(cutPath, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(cut));
        }
        for (const bool deferred : {true, false}) {
            CDicomFile file;
            file.SetDeferredValues(deferred);
            const ReadStatus status = ReadDicomFile(file, cutPath.string());
            if (status != ReadStatus::Ok) continue;
            EXPECT_LT(TreeSize(file.Root()), wholeSize) << "cut at " << cut << ", " << deferred;
            // Deferred values come back from the cut file; none may reach past its end.
            EXPECT_EQ(BuildTagList(file).size(), TreeSize(file.Root()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RealFiles, TruncationTest, testing::ValuesIn(kCases), [](const auto& row) {
    std::string name = row.param;
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '.' || c == '-'; }, '_');
    return name;
});

}  // namespace
}  // namespace vexel
