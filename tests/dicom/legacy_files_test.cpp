// Old and odd files other toolkits read: headless ACR-NEMA data sets, stray item delimiters,
// bare big-endian data sets. Each is listed element by element against DCMTK's dcmdump.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/legacy_file_builder.h"
#include "common/test_paths.h"
#include "dicom/dcmdump_listing.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"

namespace vexel {
namespace {

using test::ByteBuilder;

std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

// "" when our listing of `path` has dcmdump's tags, nesting, lengths and text values,
// else the first difference. `oracle` is the file dcmdump reads (a clean twin, or path).
std::string CompareWithDcmdump(const std::string& path, const std::string& oracle,
                               bool deferred) {
    CDicomFile file;
    file.SetDeferredValues(deferred);
    const ReadStatus status = ReadDicomFile(file, path);
    if (status != ReadStatus::Ok) return std::string("read fails: ") + ReadStatusText(status);
    std::vector<TagListRow> ours = BuildTagList(file);
    std::erase_if(ours, [](const TagListRow& r) { return r.group == 0x0002; });
    std::vector<test::DumpRow> theirs =
        test::ParseDcmdump(test::RunCommand("dcmdump -q +L -M -Un +Qn '" + oracle + "'"));
    std::erase_if(theirs, [](const test::DumpRow& r) { return r.group == 0x0002; });
    if (ours.size() != theirs.size()) {
        return std::to_string(ours.size()) + " elements, dcmdump " + std::to_string(theirs.size());
    }
    for (size_t i = 0; i < ours.size(); ++i) {
        const TagListRow& a = ours[i];
        const test::DumpRow& b = theirs[i];
        const bool text = b.bracketed && b.kind == test::DumpRow::Kind::Value;
        if (int(a.depth) != b.depth || a.group != b.group || a.element != b.element ||
            a.length != b.length || (text && Trim(a.valueText) != Trim(b.value))) {
            return "element " + std::to_string(i) + ": ours " + a.tagText + " " + a.lengthText +
                   " [" + a.valueText + "], dcmdump " + b.line;
        }
    }
    return {};
}

class LegacyFiles : public testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump not installed";
        m_dir = test::ScratchDir(std::string("legacy-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    std::string Write(ByteBuilder& bytes, const std::string& name) {
        const std::string path = (m_dir / name).string();
        EXPECT_TRUE(bytes.WriteTo(path));
        return path;
    }
    std::filesystem::path m_dir;
};

TEST_F(LegacyFiles, HeadlessAcrNemaFilesListLikeDcmdump) {
    for (const test::AcrNemaImage& image : test::kAcrNemaImages) {
        ByteBuilder bytes = test::BuildAcrNema(image);
        const std::string path = Write(bytes, std::string(image.name) + ".img");
        for (bool deferred : {true, false}) {
            EXPECT_EQ(CompareWithDcmdump(path, path, deferred), "")
                << image.name << (deferred ? " deferred" : "");
        }
    }
}

// An undefined-length sequence whose explicit-length items are each followed by a stray
// item delimiter; the preamble holds a TIFF header. The oracle is dcmdump on the same file
// without the stray delimiters (dcmdump stops the sequence at the first one).
TEST_F(LegacyFiles, StrayItemDelimiterAfterExplicitItemIsSkipped) {
    struct Syntax {
        const char* name;
        const char* uid;
        bool bigEndian;
        bool implicit;
    };
    const Syntax syntaxes[] = {{"explicit_little", "1.2.840.10008.1.2.1", false, false},
                               {"implicit_little", "1.2.840.10008.1.2", false, true},
                               {"explicit_big", "1.2.840.10008.1.2.2", true, false}};
    for (const Syntax& syntax : syntaxes) {
        for (bool stray : {true, false}) {
            ByteBuilder bytes(syntax.bigEndian);
            bytes.Raw(std::string("II*\0\x08\0\0\0", 8)).Bytes().resize(128, 0);
            bytes.Raw("DICM").Meta(syntax.uid);
            auto element = [&](ByteBuilder& b, uint16_t g, uint16_t e, const char* vr,
                               std::string v) {
                if (v.size() % 2) v += '\0';
                if (syntax.implicit) b.Implicit(g, e, v); else b.Explicit(g, e, vr, v);
            };
            element(bytes, 0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7");
            if (syntax.implicit) bytes.ImplicitHeader(0x0008, 0x1140, 0xFFFFFFFF);
            else bytes.ExplicitHeader(0x0008, 0x1140, "SQ", 0xFFFFFFFF);
            for (const char* uid : {"1.2.3.4.5", "1.2.3.4.6"}) {
                ByteBuilder item(syntax.bigEndian);
                element(item, 0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.2");
                element(item, 0x0008, 0x1155, "UI", uid);
                bytes.Item(uint32_t(item.Size())).Raw(item.Bytes());
                if (stray) bytes.ItemEnd();
            }
            bytes.SequenceEnd();
            element(bytes, 0x0010, 0x0010, "PN", "Doe^Jane");
            Write(bytes, std::string(syntax.name) + (stray ? "_stray.dcm" : ".dcm"));
        }
        const std::string base = (m_dir / syntax.name).string();
        for (bool deferred : {true, false}) {
            EXPECT_EQ(CompareWithDcmdump(base + "_stray.dcm", base + ".dcm", deferred), "")
                << syntax.name;
        }
    }
}

// dcmconv writes the data set alone (-F) in explicit VR big endian; nothing names the byte
// order, so the reader must find it.
TEST_F(LegacyFiles, BareBigEndianDataSetListsLikeDcmdump) {
    ByteBuilder bytes;
    bytes.Preamble().Meta("1.2.840.10008.1.2.1");
    bytes.Explicit(0x0008, 0x0016, "UI", std::string("1.2.840.10008.5.1.4.1.1.7", 26));
    bytes.Explicit(0x0008, 0x0018, "UI", std::string("1.2.3.4.7", 10));
    bytes.Explicit(0x0008, 0x1030, "LO", std::string(64, 'x'));
    bytes.Explicit(0x0010, 0x0010, "PN", "Doe^John");
    bytes.Explicit(0x0028, 0x0010, "US", ByteBuilder::LittleU16(2));
    bytes.Explicit(0x0028, 0x0030, "DS", "0.5\\0.25");
    bytes.Explicit(0x0028, 0x1050, "DS", "40");
    bytes.Explicit(0x7FE0, 0x0010, "OW", std::string("\x01\x02\x03\x04", 4));
    const std::string little = Write(bytes, "little.dcm");
    const std::string big = (m_dir / "big.dcm").string();
    test::RunCommand("dcmconv -F +tb '" + little + "' '" + big + "'");
    for (bool deferred : {true, false}) EXPECT_EQ(CompareWithDcmdump(big, big, deferred), "");
    CDicomFile file;
    ASSERT_EQ(ReadDicomFile(file, big), ReadStatus::Ok);
    EXPECT_TRUE(file.IsBigEndian());
    EXPECT_EQ(file.Integer(0x00280010, 0), 2);
}

}  // namespace
}  // namespace vexel
