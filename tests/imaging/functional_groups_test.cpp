// Enhanced multi-frame objects keep geometry in functional groups, not at top level.
#include <gtest/gtest.h>

#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

// Expected values as dcmdump lists them for these files.
TEST(FunctionalGroups, GeometryComesFromSharedAndPerFrameGroups) {
    VEXEL_REQUIRE_TESTDATA();
    for (const char* name : {"liver_1frame.dcm", "liver_expb_1frame.dcm"}) {
        SCOPED_TRACE(name);
        CDicomFile file;
        file.SetDeferredValues(true);
        ASSERT_EQ(ReadDicomFile(file, (test::TestDataDir() / "pydicom/test_files" / name).string()),
                  ReadStatus::Ok);
        CDicomImage* image = CDicomImage::AttachTo(file, true);
        ASSERT_GE(image->FrameCount(), 1u);
        float spacing[2];
        ASSERT_TRUE(image->PixelSpacing(spacing));
        EXPECT_FLOAT_EQ(spacing[0], 0.810547f);
        const CDicomFrame* frame = image->Frame(0);
        ASSERT_TRUE(frame->Position().has_value());
        EXPECT_FLOAT_EQ((*frame->Position())[0], -235.2f);
        EXPECT_FLOAT_EQ((*frame->Position())[2], -128.69f);
        ASSERT_TRUE(frame->Orientation().has_value());
        EXPECT_FLOAT_EQ((*frame->Orientation())[4], 1.0f);
        EXPECT_FLOAT_EQ(frame->SliceThickness(), 1.0f);
    }
}

}  // namespace
}  // namespace vexel
