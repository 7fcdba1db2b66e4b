// Reading a file whole teaches the dictionary which tags to load at parse time, but never
// bulk values: otherwise every later deferred read would load each file's pixel data.
#include <gtest/gtest.h>

#include "common/test_paths.h"
#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"

namespace vexel {
namespace {

TEST(PreloadTagSetTest, WholeReadsNeverPreloadPixelData) {
    VEXEL_REQUIRE_TESTDATA();
    CDicomDictionary* dictionary = CDicomDictionary::Instance();
    ASSERT_NE(dictionary, nullptr);
    CDicomFile file;
    ASSERT_EQ(
        ReadDicomFile(file, (test::TestDataDir() / "pydicom/test_files/CT_small.dcm").string()),
        ReadStatus::Ok);
    EXPECT_TRUE(dictionary->IsPreloaded(0x00080016));  // SOP Class UID, read with the file
    EXPECT_FALSE(dictionary->IsPreloaded(0x7FE00010));
}

}  // namespace
}  // namespace vexel
