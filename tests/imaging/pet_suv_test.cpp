// SUV factors against values worked out by hand: W x 1000 / (D x 2^(-dt / T)) with dt from the
// injection to the instant the image's decay correction names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dicom/dicom_file.h"
#include "dicom/tag.h"
#include "imaging/pet_suv.h"

namespace vexel {
namespace {

using Elements = std::vector<std::pair<uint32_t, std::string>>;

// A PET data set: 70 kg, 370 MBq of F-18 (6586.2 s), series 2025-01-01 11:00:00, decay
// corrected to the scan start; `changes` replace or (with an empty text) remove values, tags
// 0018,107x going into the radiopharmaceutical item.
CDicomFile& Pet(std::vector<std::unique_ptr<CDicomFile>>& files, const Elements& changes) {
    Elements values = {{0x00541001, "BQML"},     {0x00101030, "70"},
                       {0x00080021, "20250101"}, {0x00080031, "110000"},
                       {0x00080022, "20250101"}, {0x00080032, "110000"},
                       {0x00541102, "START"},    {0x00280051, "NORM\\ATTN\\DECY"},
                       {0x00181074, "370000000"}, {0x00181075, "6586.2"},
                       {0x00181072, "100000"}};
    for (const auto& [tag, text] : changes) {
        auto it = std::find_if(values.begin(), values.end(), [&](auto& v) { return v.first == tag; });
        if (it != values.end()) values.erase(it);
        if (!text.empty()) values.emplace_back(tag, text);
    }
    auto file = std::make_unique<CDicomFile>();
    file->MakeInMemory();
    file->SetModality(ModalityCode::PT);
    CDicomElement* sequence = file->FindOrCreate(nullptr, 0x00540016);
    CDicomElement* item =
        file->AddElement(sequence, 0xFFFE, 0xE000, VrCode::Unknown, nullptr, 0, 0, 0);
    for (const auto& [tag, text] : values)
        file->SetText((tag & 0xFFFFFFF0u) == 0x00181070 ? item : nullptr, tag, text);
    files.push_back(std::move(file));
    return *files.back();
}

TEST(PetSuv, FactorsFollowTheDeclaredDecayCorrection) {
    struct Case {
        const char* what;
        Elements changes;
        double factor;
    } const cases[] = {
        {"an hour after injection", {}, 0.00027633668},
        {"injected before midnight",
         {{0x00181072, "235000"}, {0x00080021, "20250102"}, {0x00080031, "002000"},
          {0x00080022, "20250102"}, {0x00080032, "002000"}},
         0.00022864801},
        {"start date and time given", {{0x00181078, "20250101103000.00"}}, 0.00022864801},
        {"ADMIN: no decay", {{0x00541102, "ADMIN"}}, 0.00018918919},
        // Each frame decays to the count-weighted middle of its 600 s.
        {"NONE, frame at 11:00", {{0x00541102, "NONE"}, {0x00181242, "600000"}}, 0.00028515319},
        {"NONE, frame at 11:30",
         {{0x00541102, "NONE"}, {0x00181242, "600000"}, {0x00080032, "113000"}},
         0.00034462704},
        {"START without DECY is NONE", {{0x00280051, "ATTN"}, {0x00181242, "600000"}},
         0.00028515319},
        // Zr-89 (78.41 h), imaged 3 days and an hour after the injection.
        {"Zr-89",
         {{0x00181075, "282276"}, {0x00181074, "37000000"}, {0x00101030, "80"},
          {0x00181078, "20250101100000"}, {0x00080021, "20250104"}, {0x00080022, "20250104"}},
         0.0041223827},
        // Series dated after its acquisition (made again): back from the acquisition.
        {"series made again",
         {{0x00080031, "113000"}, {0x00080032, "110500"}, {0x00541300, "600000"},
          {0x00181242, "600000"}},
         0.00027633668 * std::exp2((298.42141717 - 300) / 6586.2)},
    };
    std::vector<std::unique_ptr<CDicomFile>> files;
    for (const Case& c : cases) {
        const SuvInfo suv = ComputeSuv(Pet(files, c.changes));
        ASSERT_EQ(suv.state, SuvState::Suv) << c.what << ": " << suv.reason;
        EXPECT_NEAR(suv.factor, c.factor, c.factor * 1e-3) << c.what;
        EXPECT_EQ(SuvUnitText(suv), "SUVbw") << c.what;
    }
}

TEST(PetSuv, NothingComesFromAMissingValue) {
    const struct {
        const char* what;
        Elements changes;
        SuvState state;
        const char* unit;
    } cases[] = {
        {"no series time", {{0x00080031, ""}}, SuvState::Activity, "Bq/ml"},
        {"unreadable series date", {{0x00080021, "2025-1-1"}}, SuvState::Activity, "Bq/ml"},
        {"no weight", {{0x00101030, ""}}, SuvState::Activity, "Bq/ml"},
        {"no dose", {{0x00181074, ""}}, SuvState::Activity, "Bq/ml"},
        {"dose in MBq", {{0x00181074, "368.08"}}, SuvState::Activity, "Bq/ml"},
        {"no half-life", {{0x00181075, "0"}}, SuvState::Activity, "Bq/ml"},
        {"no injection time", {{0x00181072, ""}}, SuvState::Activity, "Bq/ml"},
        {"NONE without frame duration", {{0x00541102, "NONE"}}, SuvState::Activity, "Bq/ml"},
        {"counts", {{0x00541001, "CNTS"}}, SuvState::None, ""},
        {"already SUVbw", {{0x00541001, "GML"}}, SuvState::Suv, "SUVbw"},
        {"already SUVlbm", {{0x00541001, "GML"}, {0x00541006, "LBM"}}, SuvState::Suv, "SUVlbm"},
    };
    std::vector<std::unique_ptr<CDicomFile>> files;
    for (const auto& c : cases) {
        const SuvInfo suv = ComputeSuv(Pet(files, c.changes));
        EXPECT_EQ(suv.state, c.state) << c.what;
        EXPECT_EQ(SuvUnitText(suv), c.unit) << c.what;
        EXPECT_EQ(suv.reason.empty(), c.state == SuvState::Suv) << c.what << ": " << suv.reason;
        if (c.state == SuvState::Suv) {
            EXPECT_EQ(suv.factor, 1.0) << c.what;
        }
    }
}

}  // namespace
}  // namespace vexel
