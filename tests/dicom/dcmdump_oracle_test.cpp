// Our element tree against DCMTK's dcmdump, element by element: tag, nesting, VR, length and
// values, for the shared corpus and phantom slices DCMTK re-encodes (intended differences in
// IntendedVrDifference). Then the phantom writer's files against the analytic phantom.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_builder.h"
#include "common/flat_json.h"
#include "common/test_paths.h"
#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

// One element line of `dcmdump -q +L -M -Un +Qn`: whole values, no UID names, non-ASCII and
// control characters quoted as XML character references.
struct DumpRow {
    enum class Kind { Value, Empty, NotLoaded, Container, Delimiter };
    int depth = 0;
    uint16_t group = 0, element = 0;
    std::string vr;  // as printed: "UL", "na", "pi", "??", "ox", "xs", ...
    uint32_t length = 0, vm = 0;
    Kind kind = Kind::Value;
    std::string value;  // the bytes between the brackets, references decoded
    std::string line;   // the printed line, for messages
};

// +Qn prints "&#NN;" (or "&#xNN;") for non-ASCII and control characters, and the five XML
// entities.
std::string DecodeMarkup(std::string_view text) {
    static constexpr std::string_view kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t semicolon = text.find(';', i);
        const std::string_view entity =
            text[i] == '&' && semicolon != text.npos ? text.substr(i, semicolon + 1 - i) : "";
        const auto named = std::find(std::begin(kEntities), std::end(kEntities), entity);
        if (named != std::end(kEntities)) {
            out += "&<>\"'"[named - std::begin(kEntities)];
        } else if (entity.starts_with("&#")) {
            const bool hex = entity.starts_with("&#x");
            out += char(std::strtoul(std::string(entity.substr(hex ? 3 : 2)).c_str(), nullptr,
                                     hex ? 16 : 10));
        } else {
            out += text[i++];
            continue;
        }
        i = semicolon + 1;
    }
    return out;
}

// "(gggg,eeee) VR value   # length, vm Name"; the comment starts at the last '#'.
bool ParseLine(std::string_view line, DumpRow& row) {
    const size_t indent = line.find_first_not_of(' ');
    if (indent == line.npos || line[indent] != '(') return false;
    const std::string_view rest = line.substr(indent);
    const size_t hash = rest.rfind('#');
    if (rest.size() < 15 || rest[5] != ',' || rest[10] != ')' || hash == rest.npos || hash < 15 ||
        std::from_chars(&rest[1], &rest[5], row.group, 16).ptr != &rest[5] ||
        std::from_chars(&rest[6], &rest[10], row.element, 16).ptr != &rest[10]) {
        return false;
    }
    row.depth = static_cast<int>(indent / 2);
    row.vr = std::string(rest.substr(12, 2));
    std::string_view value = rest.substr(15, hash - 15);
    value.remove_suffix(value.size() - (value.find_last_not_of(' ') + 1));
    using enum DumpRow::Kind;
    if (value == "(no value available)") {
        row.kind = Empty;
    } else if (value == "(not loaded)") {
        row.kind = NotLoaded;
    } else if (value.starts_with("(Sequence") || value.starts_with("(Item") ||
               value.starts_with("(PixelSequence") || value.starts_with("\"Directory Record\"")) {
        row.kind = Container;
    } else if (value.starts_with("(ItemDelimitation") ||
               value.starts_with("(SequenceDelimitation") ||
               value.starts_with("\"ItemDelimitation")) {
        row.kind = Delimiter;
    } else {
        const bool bracketed = value.size() >= 2 && value.front() == '[' && value.back() == ']';
        row.value = DecodeMarkup(bracketed ? value.substr(1, value.size() - 2) : value);
    }
    std::string_view comment = rest.substr(hash + 1);
    comment.remove_prefix(std::min(comment.find_first_not_of(' '), comment.size()));
    const size_t comma = comment.find(',');
    if (comma == comment.npos) return false;
    if (comment.starts_with("u/l,")) {
        row.length = 0xFFFFFFFFu;
    } else if (std::from_chars(comment.data(), comment.data() + comma, row.length).ec !=
               std::errc()) {
        return false;
    }
    const size_t vm = comment.find_first_not_of(' ', comma + 1);
    if (vm != comment.npos) std::from_chars(comment.data() + vm, comment.data() + comment.size(), row.vm);
    row.line = std::string(line);
    return true;
}

// The element rows of one dump in print order; comment and hex-dump lines are dropped.
std::vector<DumpRow> ParseDcmdump(std::string_view output) {
    std::vector<DumpRow> rows;
    for (size_t start = 0; start < output.size();) {
        const size_t end = std::min(output.find('\n', start), output.size());
        DumpRow row;
        if (ParseLine(output.substr(start, end - start), row)) rows.push_back(std::move(row));
        start = end + 1;
    }
    return rows;
}

// Splits a printed multi-value ("1\2\3") at its backslashes.
std::vector<std::string> SplitValues(std::string_view value) {
    std::vector<std::string> parts;
    for (size_t slash; (slash = value.find('\\')) != value.npos; value.remove_prefix(slash + 1))
        parts.emplace_back(value.substr(0, slash));
    parts.emplace_back(value);
    return parts;
}

// dcmdump loads values up to 4 KB (-M); larger ones are "(not loaded)" and compared by
// tag, VR and length only.
constexpr const char* kDcmdump = "dcmdump -q -dc +L -M -Un +Qn ";

// Corpus files compared by read status alone: damaged ones (DCMTK is lenient with some, we
// fail cleanly), and one whose meta group names explicit VR for an implicit VR data set (we
// retry with the other VR form, DCMTK refuses the file; the decode oracle checks its pixels).
struct DamagedFile {
    const char* path;
    ReadStatus status;
    const char* reason;
};

constexpr DamagedFile kDamagedFiles[] = {
    {"pydicom/test_files/no_meta.dcm", ReadStatus::NotDicom,
     "a stray byte before a bare data set: no tag lines up (DCMTK fails as well)"},
    {"pydicom/test_files/MR_truncated.dcm", ReadStatus::Truncated,
     "Pixel Data runs 62 bytes past the end of the file"},
    {"pydicom/test_files/rtplan_truncated.dcm", ReadStatus::Truncated,
     "the file ends inside an element"},
    {"pydicom/test_files/dicomdirtests/DICOMDIR-nooffset", ReadStatus::Truncated,
     "the last directory record declares 248 bytes where the file holds 224"},
    {"pydicom/test_files/SC_rgb_jpeg.dcm", ReadStatus::Ok, "the data set is implicit VR"},
};

struct OurRow {
    int depth;
    CDicomElement* element;
    const TagListRow* row;
};

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> set) {
    return std::find(set.begin(), set.end(), text) != set.end();
}

// VRs the two readers show differently on purpose.
bool IntendedVrDifference(const CDicomElement& e, const std::string& vr) {
    const bool unknown = e.vr == VrCode::Unknown;
    // Items and delimiters have no VR: dcmdump shows the pseudo VRs na and pi.
    if (e.group == 0xFFFE && unknown && IsOneOf(vr, {"na", "pi"})) return true;
    // Implicit VR: a private tag (or one DCMTK knows only privately) keeps VR code 0.
    if (unknown && ((e.group & 1) != 0 || IsOneOf(vr, {"UN", "??"}))) return true;
    // Implicit VR: a group length of a group the dictionary does not list keeps VR code 0.
    if (unknown && e.element == 0x0000 && vr == "UL") return true;
    // The dictionary's multi-VR code is kept; DCMTK resolves it from the pixel description.
    if (e.vr == VrCode::US_SS) return IsOneOf(vr, {"US", "SS", "xs"});
    if (e.vr == VrCode::US_SS_OW) return IsOneOf(vr, {"US", "SS", "OW", "lt"});
    if (e.vr == VrCode::OB_OW || e.vr == VrCode::OW_OB) return IsOneOf(vr, {"OB", "OW", "ox"});
    // DICOMDIR offsets are printed with DCMTK's internal VR up.
    if (e.vr == VrCode::UL && e.group == 0x0004 && vr == "up") return true;
    // Encapsulated Pixel Data written as OW keeps that VR; DCMTK always shows OB.
    if (e.Tag() == tags::kPixelData && e.vr == VrCode::OW && e.declaredLength == kUndefinedLength)
        return vr == "OB";
    // A UN of undefined length is read as a sequence but keeps its VR; DCMTK relabels it SQ.
    return e.vr == VrCode::UN && e.declaredLength == kUndefinedLength && vr == "SQ";
}

bool IsTextVr(VrCode vr) {
    return IsOneOf(VrText(vr), {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT", "PN", "SH",
                                "ST", "TM", "UI", "UT", "UC", "UR"});
}

bool IsNumericVr(VrCode vr) {
    return IsOneOf(VrText(vr), {"US", "SS", "UL", "SL", "FL", "FD", "SV", "UV", "AT"});
}

std::string TrimPadding(std::string text) {
    return text.erase(std::min(text.find_last_not_of(std::string(" \0", 2)) + 1, text.size()));
}

std::string WholeValue(CDicomFile& file, const CDicomElement& element) {
    std::string bytes(element.length, '\0');
    const bool read = element.length == 0 || file.ReadBytes(&element, bytes.data(), 0, element.length);
    return read ? bytes : "<unreadable>";
}

// Our display shows FD with %G and FL with %f: compare to that precision.
bool SameNumber(const std::string& ours, const std::string& theirs) {
    char* end = nullptr;
    const double a = std::strtod(ours.c_str(), &end), b = std::strtod(theirs.c_str(), nullptr);
    if (end == ours.c_str() || *end != '\0') return ours == theirs;
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b || std::fabs(a - b) <= 1e-6 + 1e-5 * std::max(std::fabs(a), std::fabs(b));
}

// Each comparison is empty when ours and theirs agree, else what differs.
std::string CompareNumbers(const OurRow& ours, const DumpRow& theirs) {
    std::string shown = ours.row->valueText;
    const bool truncated = shown.ends_with("...");
    if (truncated) shown.resize(shown.size() - 3);
    const std::vector<std::string> our = SplitValues(shown);
    std::vector<std::string> their;
    for (const std::string& value : SplitValues(theirs.value)) {
        if (theirs.vr != "AT") their.push_back(value);
        // dcmdump prints "(gggg,eeee)", we the two 16-bit numbers.
        for (size_t at : {1, 6})
            if (theirs.vr == "AT" && value.size() == 11)
                their.push_back(std::to_string(std::stoul(value.substr(at, 4), nullptr, 16)));
    }
    // A truncated display holds only the values whose bytes were read in full.
    if (truncated ? our.size() > their.size() : our.size() != their.size()) return "value count";
    for (size_t i = 0; i < our.size(); ++i)
        if (!SameNumber(our[i], their[i])) return "value " + std::to_string(i);
    return {};
}

std::string CompareText(CDicomFile& file, const OurRow& ours, const DumpRow& theirs) {
    const std::string raw = TrimPadding(WholeValue(file, *ours.element));
    if (raw != TrimPadding(theirs.value)) return "value: ours [" + raw + "]";
    // The display text of an ASCII value is the value itself, or its first
    // kTagListValueChars characters then "...".
    if (std::any_of(raw.begin(), raw.end(), [](char c) { return c < 0x20 || c >= 0x7F; })) return {};
    std::string shown = ours.row->valueText;
    const bool truncated = shown.ends_with("...") && ours.element->length > kTagListValueChars;
    shown = TrimPadding(truncated ? shown.substr(0, shown.size() - 3) : shown);
    return (truncated ? raw.starts_with(shown) : shown == raw) ? "" : "display text";
}

// dcmdump prints OB as bytes and OW as 16-bit words in machine order; ReadBytes gives the
// file's order, whether the value is loaded or not.
std::string CompareBinary(CDicomFile& file, const OurRow& ours, const DumpRow& theirs,
                          size_t unit) {
    const std::string raw = WholeValue(file, *ours.element);
    const std::vector<std::string> printed = SplitValues(theirs.value);
    if (printed.size() != raw.size() / unit) return "binary value count";
    const bool swap = unit == 2 && file.IsBigEndian();
    for (size_t i = 0; i < printed.size(); ++i) {
        unsigned value = static_cast<uint8_t>(raw[unit * i + (swap ? 1 : 0)]);
        if (unit == 2) value |= static_cast<uint8_t>(raw[2 * i + (swap ? 0 : 1)]) << 8;
        if (std::strtoul(printed[i].c_str(), nullptr, 16) != value) return "binary value " + std::to_string(i);
    }
    return {};
}

std::string CompareValue(CDicomFile& file, const OurRow& ours, const DumpRow& theirs) {
    const CDicomElement& element = *ours.element;
    if (theirs.kind == DumpRow::Kind::NotLoaded || theirs.kind == DumpRow::Kind::Container ||
        theirs.kind == DumpRow::Kind::Delimiter) {
        return {};
    }
    std::string problem;
    const bool value = theirs.kind == DumpRow::Kind::Value;
    if (IsTextVr(element.vr)) {
        problem = CompareText(file, ours, theirs);
    } else if (IsNumericVr(element.vr) && value) {
        problem = CompareNumbers(ours, theirs);
    } else if (IsOneOf(theirs.vr, {"OB", "UN", "pi"}) && value) {
        problem = CompareBinary(file, ours, theirs, 1);
    } else if (element.vr == VrCode::OW && theirs.vr == "OW" && value) {
        problem = CompareBinary(file, ours, theirs, 2);
    }
    // Counts are compared only where both count the same way: LT, ST, UT hold backslashes
    // that are no separators, and PN, DA, UI, ... count 1 in the store.
    if (problem.empty() &&
        (IsNumericVr(element.vr) ||
         IsOneOf(VrText(element.vr), {"CS", "DS", "IS", "LO", "SH", "UC"})) &&
        ours.row->countText != std::to_string(theirs.vm)) {
        problem = "value count " + ours.row->countText;
    }
    return problem;
}

void Flatten(CDicomElement* container, int depth, const std::vector<TagListRow>& rows,
             std::vector<OurRow>& out) {
    for (CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
        const size_t index = out.size();
        out.push_back({depth, child, index < rows.size() ? &rows[index] : nullptr});
        Flatten(child, depth + 1, rows, out);
    }
}

std::string Describe(const OurRow& ours) {
    return "ours: depth " + std::to_string(ours.depth) + " " + ours.row->tagText + " " +
           std::string(VrText(ours.element->vr)) + " length " +
           std::to_string(ours.element->declaredLength);
}

std::string CompareRow(CDicomFile& file, const OurRow& ours, const DumpRow& theirs) {
    const CDicomElement& element = *ours.element;
    if (ours.depth != theirs.depth || element.group != theirs.group ||
        element.element != theirs.element) {
        return "tag or nesting";
    }
    if (VrText(element.vr) != theirs.vr) {
        return IntendedVrDifference(element, theirs.vr) ? "" : "VR";
    }
    if (element.declaredLength != theirs.length) return "length";
    return CompareValue(file, ours, theirs);
}

// Empty when the two listings agree; otherwise the first differing element.
std::string CompareWithDump(CDicomFile& file, const std::vector<DumpRow>& theirs) {
    const std::vector<TagListRow> rows = BuildTagList(file);
    std::vector<OurRow> ours;
    Flatten(file.Root(), 0, rows, ours);
    if (ours.size() != rows.size()) return "tag list and tree disagree in size";
    const size_t common = std::min(ours.size(), theirs.size());
    for (size_t i = 0; i < common; ++i) {
        const std::string problem = CompareRow(file, ours[i], theirs[i]);
        if (!problem.empty()) {
            return "element " + std::to_string(i) + ": " + problem + " differs\n  " +
                   Describe(ours[i]) + " [" + ours[i].row->valueText + "]\n  dcmdump: " +
                   theirs[i].line;
        }
    }
    if (ours.size() > common) return "we read more elements: first extra " + Describe(ours[common]);
    if (theirs.size() > common) return "dcmdump reads more: first extra " + theirs[common].line;
    return {};
}

// Reads `path` both with deferred and with loaded values and compares it with the dump.
void ExpectAgrees(const fs::path& path, const std::string& dump,
                  const DamagedFile* damaged = nullptr) {
    const std::vector<DumpRow> theirs = ParseDcmdump(dump);
    for (const bool deferred : {true, false}) {
        SCOPED_TRACE(path.string() + (deferred ? " (deferred values)" : " (values loaded)"));
        CDicomFile file;
        file.SetDeferredValues(deferred);
        const ReadStatus status = ReadDicomFile(file, path.string());
        if (damaged != nullptr) {
            EXPECT_EQ(status, damaged->status)
                << damaged->reason << "; got " << ReadStatusText(status);
            continue;
        }
        ASSERT_EQ(status, ReadStatus::Ok) << ReadStatusText(status);
        ASSERT_FALSE(theirs.empty()) << "dcmdump printed no elements";
        EXPECT_EQ(CompareWithDump(file, theirs), "");
    }
}

// Runs dcmdump once over many files and returns the dump of each by its path as given.
std::map<std::string, std::string> DumpFiles(const fs::path& workDir,
                                             const std::vector<std::string>& paths) {
    std::string command = "cd '" + workDir.string() + "' && " + kDcmdump + "+F";
    for (const std::string& path : paths)
        command += " '" + path + "'";
    const std::string output = test::RunCommand(command + " 2>/dev/null");
    std::map<std::string, std::string> dumps;
    std::string* current = paths.size() == 1 ? &dumps[paths[0]] : nullptr;
    for (size_t start = 0; start < output.size();) {
        const size_t end = std::min(output.find('\n', start), output.size());
        const std::string_view line(output.data() + start, end - start);
        if (const size_t colon = line.find("): ");
            line.starts_with("# dcmdump (") && colon != line.npos) {
            current = &dumps[std::string(line.substr(colon + 3))];
        } else if (current != nullptr) {
            current->append(line).push_back('\n');
        }
        start = end + 1;
    }
    return dumps;
}

bool HaveDcmtk() {
    static const bool have = test::HaveProgram("dcmdump") && test::HaveProgram("dcmcjpls");
    return have;
}

// Reading the corpus teaches the process's dictionary many tags to preload. Parameterised
// suites run after the plain tests of the binary, whose deferred reads expect a fresh one.
class DcmdumpOracle : public testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(AfterPlainTests, DcmdumpOracle, testing::Values(0));

std::vector<std::string> CorpusPaths() {
    std::vector<std::string> paths;
    std::ifstream manifest(test::TestDataDir() / "oracle" / "manifest.jsonl");
    for (std::string line; std::getline(manifest, line);) {
        std::map<std::string, std::string> fields;
        if (test::ReadFlatJson(line, fields) && fields.contains("/path")) paths.push_back(fields["/path"]);
    }
    return paths;
}

TEST_P(DcmdumpOracle, CorpusFilesAgree) {
    VEXEL_REQUIRE_TESTDATA();
    if (!HaveDcmtk()) GTEST_SKIP() << "DCMTK command-line tools are not on PATH";
    const std::vector<std::string> paths = CorpusPaths();
    ASSERT_GT(paths.size(), 100u) << "manifest lists too few files";
    std::map<std::string, std::string> dumps = DumpFiles(test::TestDataDir(), paths);
    for (const std::string& relative : paths) {
        const fs::path path = test::TestDataDir() / relative;
        const auto damaged = std::find_if(std::begin(kDamagedFiles), std::end(kDamagedFiles),
                                          [&](const DamagedFile& d) { return relative == d.path; });
        ExpectAgrees(path, dumps[relative], damaged == std::end(kDamagedFiles) ? nullptr : damaged);
    }
}

// Phantom slices re-encoded by DCMTK, each transfer syntax and length form once; the source
// is the phantom writer's own file.
struct PhantomConversion {
    const char* name;
    const char* series;   // CT (explicit VR), PT (implicit VR, UTF-8), RGB (explicit VR)
    const char* command;  // DCMTK converter and options; empty for the file as written
};

constexpr PhantomConversion kPhantomConversions[] = {
    {"ct_explicit_little", "CT", ""},
    {"ct_explicit_big", "CT", "dcmconv +tb"},
    // The data set alone, big endian: nothing names the byte order, the reader must find it.
    {"ct_bare_big", "CT", "dcmconv -F +tb"},
    {"ct_implicit_group_lengths", "CT", "dcmconv +ti +g"},
    {"ct_deflated", "CT", "dcmconv +td"},
    {"ct_jpeg_lossless_sv1", "CT", "dcmcjpeg +e1"},
    {"ct_rle", "CT", "dcmcrle"},
    {"ct_jpeg_ls_lossless", "CT", "dcmcjpls"},
    {"pt_implicit_little", "PT", ""},
    {"pt_explicit_big_undefined_lengths", "PT", "dcmconv +tb -e +g"},
    {"pt_deflated_undefined_lengths", "PT", "dcmconv +td -e"},
    {"pt_jpeg_ls_near_lossless", "PT", "dcmcjpls +en"},
    {"rgb_jpeg_baseline", "RGB", "dcmcjpeg +eb"},
    {"rgb_rle", "RGB", "dcmcrle"},
};

fs::path FirstFile(const fs::path& dir) {
    std::error_code ec;
    fs::path first;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (first.empty() || entry.path() < first) first = entry.path();
    return first;
}

// Whole reads teach the dictionary which tags to load at parse time, but never bulk values:
// otherwise every later deferred read would load each file's pixel data.
TEST_P(DcmdumpOracle, WholeReadsNeverPreloadPixelData) {
    VEXEL_REQUIRE_TESTDATA();
    CDicomFile file;
    const fs::path path = test::TestDataDir() / "pydicom/test_files/CT_small.dcm";
    ASSERT_EQ(ReadDicomFile(file, path.string()), ReadStatus::Ok);
    EXPECT_TRUE(CDicomDictionary::Instance()->IsPreloaded(0x00080016));  // SOP Class UID
    EXPECT_FALSE(CDicomDictionary::Instance()->IsPreloaded(0x7FE00010));
}

TEST_P(DcmdumpOracle, PhantomConversionsAgree) {
    if (!HaveDcmtk()) GTEST_SKIP() << "DCMTK command-line tools are not on PATH";
    const fs::path dir = test::ScratchDir("dcmdump-oracle-phantom");
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 2;
    phantom::PhantomOptions petOptions = options;
    petOptions.encoding = phantom::VrEncoding::kImplicit;
    petOptions.charset = phantom::TextCharset::kUtf8;
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(dir / "CT", options, &error) &&
                phantom::WritePetSeries(dir / "PT", petOptions, &error) &&
                phantom::WriteRgbImage(dir / "RGB", options, &error))
        << error;
    // Every conversion runs in the background; then one dcmdump lists them all.
    std::string script;
    std::vector<std::string> paths;
    for (const PhantomConversion& c : kPhantomConversions) {
        const std::string source = FirstFile(dir / c.series).string();
        const std::string target = (dir / c.name).string() + ".dcm";
        paths.push_back(*c.command == '\0' ? source : target);
        if (*c.command != '\0') {
            script += std::string("(") + c.command + " '" + source + "' '" + target + "' >'" +
                      target + ".log' 2>&1) & ";
        }
    }
    test::RunCommand(script + "wait");
    std::map<std::string, std::string> dumps = DumpFiles("/", paths);
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(kPhantomConversions[i].name);
        std::error_code ec;
        ASSERT_GT(fs::file_size(paths[i], ec), 0u) << kPhantomConversions[i].command << " failed";
        ExpectAgrees(paths[i], dumps[paths[i]]);
    }
}

// The corpus listing catches these only in a fresh process: once any file has loaded a tag,
// deferred reads load it at parse time too. The meta group must not depend on that: it is
// little endian in a big-endian file, and its offsets are useless once a deflated data set
// is read from memory.
TEST_P(DcmdumpOracle, MetaGroupOfDeflatedAndBigEndianFilesIsLoaded) {
    if (!test::HaveTestData() || !HaveDcmtk()) GTEST_SKIP() << "no corpus or no DCMTK";
    for (const char* relative :
         {"pydicom/test_files/image_dfl.dcm", "pydicom/test_files/MR_small_bigendian.dcm"}) {
        SCOPED_TRACE(relative);
        CDicomFile file;
        file.SetDeferredValues(true);
        ASSERT_EQ(ReadDicomFile(file, (test::TestDataDir() / relative).string()), ReadStatus::Ok);
        int metaElements = 0;
        for (CDicomElement* e = file.Root()->firstChild; e && e->group == 0x0002; e = e->nextSibling)
            metaElements += e->length != 0 && e->HasValue();
        EXPECT_GE(metaElements, 5);
        const auto theirs = ParseDcmdump(DumpFiles(test::TestDataDir(), {relative})[relative]);
        ASSERT_FALSE(theirs.empty());
        EXPECT_EQ(std::to_string(file.Integer(tags::kFileMetaGroupLength, -1)), theirs[0].value);
    }
}

// Old and odd files other toolkits read, built here. Each is listed against dcmdump's listing
// of `oracle` (the file itself, or a clean twin).
void ExpectBuiltFileAgrees(const fs::path& dir, test::ByteBuilder bytes, const std::string& name,
                           const std::string& oracle) {
    ASSERT_TRUE(bytes.WriteTo(dir / name));
    ExpectAgrees(dir / name, DumpFiles(dir, {oracle})[oracle]);
}

TEST_P(DcmdumpOracle, HeadlessAcrNemaFilesAgree) {
    if (!HaveDcmtk()) GTEST_SKIP() << "DCMTK command-line tools are not on PATH";
    const fs::path dir = test::ScratchDir("dcmdump-oracle-acr-nema");
    for (const test::AcrNemaImage& image : test::kAcrNemaImages) {
        const std::string name = std::string(image.name) + ".img";
        ExpectBuiltFileAgrees(dir, test::BuildAcrNema(image), name, name);
    }
}

// An undefined-length sequence whose explicit-length items are each followed by a stray item
// delimiter; the preamble holds a TIFF header. dcmdump stops the sequence at the first stray
// delimiter: its oracle is the same file without them.
TEST_P(DcmdumpOracle, StrayItemDelimiterAfterExplicitItemIsSkipped) {
    if (!HaveDcmtk()) GTEST_SKIP() << "DCMTK command-line tools are not on PATH";
    const fs::path dir = test::ScratchDir("dcmdump-oracle-stray-delimiter");
    const std::tuple<const char*, bool, bool> syntaxes[] = {// uid, big endian, implicit
                                                            {"1.2.840.10008.1.2.1", false, false},
                                                            {"1.2.840.10008.1.2", false, true},
                                                            {"1.2.840.10008.1.2.2", true, false}};
    for (const auto& [uid, bigEndian, implicit] : syntaxes) {
        for (const bool stray : {false, true}) {
            test::ByteBuilder bytes(bigEndian);
            bytes.Raw(std::string("II*\0\x08\0\0\0", 8)).Bytes().resize(128, 0);
            bytes.Raw("DICM").Meta(uid);
            auto element = [&](test::ByteBuilder& b, uint16_t g, uint16_t e, const char* vr,
                               std::string v) {
                if (v.size() % 2) v += '\0';
                implicit ? b.Implicit(g, e, v) : b.Explicit(g, e, vr, v);
            };
            element(bytes, 0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7");
            implicit ? bytes.ImplicitHeader(0x0008, 0x1140, 0xFFFFFFFF)
                     : bytes.ExplicitHeader(0x0008, 0x1140, "SQ", 0xFFFFFFFF);
            for (const char* instance : {"1.2.3.4.5", "1.2.3.4.6"}) {
                test::ByteBuilder item(bigEndian);
                element(item, 0x0008, 0x1150, "UI", "1.2.840.10008.5.1.4.1.1.2");
                element(item, 0x0008, 0x1155, "UI", instance);
                bytes.Item(uint32_t(item.Size())).Raw(item.Bytes());
                if (stray) bytes.ItemEnd();
            }
            bytes.SequenceEnd();
            element(bytes, 0x0010, 0x0010, "PN", "Doe^Jane");
            SCOPED_TRACE(uid);
            ExpectBuiltFileAgrees(dir, bytes, stray ? "stray.dcm" : "clean.dcm", "clean.dcm");
        }
    }
}


using Bytes = std::vector<uint8_t>;

using test::Quote;

// The numbers dcmdump prints for the first occurrence of tag ("gggg,eeee", lower case), from
// between the brackets or after the VR. dcmdump runs once per file (never rewritten).
std::vector<double> DumpNumbers(const fs::path& file, const std::string& tag) {
    static std::map<std::string, std::string> dumps;
    auto found = dumps.find(file.string());
    if (found == dumps.end())
        found = dumps.emplace(file.string(), test::RunCommand("dcmdump -q " + Quote(file))).first;
    const size_t at = found->second.find("(" + tag + ")");
    if (at == std::string::npos) return {};
    std::string value = found->second.substr(at + 15, found->second.find(" #", at) - at - 15);
    std::replace_if(value.begin(), value.end(), [](char c) { return c == '[' || c == ']' || c == '\\'; }, ' ');
    std::stringstream in(value);
    std::vector<double> numbers;
    for (double number; in >> number;)
        numbers.push_back(number);
    return numbers;
}

// Pixel data bytes as dcmdump writes them out.
const Bytes& DumpPixelBytes(const fs::path& file) {
    static std::map<std::string, Bytes> cache;
    if (const auto it = cache.find(file.string()); it != cache.end()) return it->second;
    const fs::path dir = test::ScratchDir("phantom_raw");
    test::RunCommand("dcmdump -q +W " + Quote(dir) + " " + Quote(file) + " >/dev/null");
    return cache[file.string()] = test::ReadFileBytes(dir / (file.filename().string() + ".0.raw"));
}

// The sample study, written once per process.
const fs::path& StudyDir() {
    static const fs::path dir = [] {
        const fs::path study = test::ScratchDir("phantom_study");
        std::string error;
        EXPECT_TRUE(phantom::WriteStudy(study, {true, true, true, true}, {}, &error)) << error;
        return study;
    }();
    return dir;
}

fs::path SliceFile(const fs::path& seriesDir, const std::string& prefix, int slice) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.dcm", slice + 1);
    return seriesDir / (prefix + name);
}

// Every voxel of chosen slices agrees with the analytic phantom at the centre that the file's
// own geometry gives it: later tests rely on comparing against the phantom this way.
class PhantomSliceTest : public testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(PhantomSliceTest, EveryVoxelMatchesAnalyticPhantom) {
    if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump is not on PATH";
    const auto [prefix, slice] = GetParam();
    const bool isCt = std::string(prefix) == "CT";
    const fs::path file = SliceFile(StudyDir() / prefix, prefix, slice);
    const std::vector<double> position = DumpNumbers(file, "0020,0032");
    const std::vector<double> spacing = DumpNumbers(file, "0028,0030");  // row, column
    const std::vector<double> shape = DumpNumbers(file, "0028,0010"),
                              width = DumpNumbers(file, "0028,0011"),
                              slope = DumpNumbers(file, "0028,1053"),
                              intercept = DumpNumbers(file, "0028,1052");
    ASSERT_EQ(position.size() + spacing.size() + shape.size() + width.size() + slope.size() +
                  intercept.size(), 3u + 2u + 4u);
    const int rows = int(shape[0]), columns = int(width[0]);
    const Bytes pixels = DumpPixelBytes(file);
    ASSERT_EQ(pixels.size(), size_t(columns) * size_t(rows) * 2);

    const phantom::PhantomOptions options;
    const phantom::CAnalyticPhantom analytic = phantom::MakePhantom(options);
    const double background = phantom::PetBackgroundBqPerMl(options);
    int mismatches = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const phantom::Vec3 p{position[0] + column * spacing[1],
                                  position[1] + row * spacing[0], position[2]};
            const size_t i = 2 * (size_t(row) * size_t(columns) + size_t(column));
            const auto stored = static_cast<uint16_t>(pixels[i] | pixels[i + 1] << 8);
            const double value = (isCt ? int16_t(stored) : stored) * slope[0] + intercept[0];
            const double expected = isCt ? analytic.HuAt(p) : analytic.SuvAt(p) * background;
            if (std::abs(value - expected) > 1e-6 * std::max(1.0, std::abs(expected))) {
                if (++mismatches == 1)
                    ADD_FAILURE() << file << " column " << column << " row " << row << ": " << value
                                  << " != " << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    if (isCt) {
        // The body spans every slice, so the sample study never opens on air.
        EXPECT_EQ(analytic.HuAt({0, 0, position[2]}), 0.0) << file;
        Bytes stored;  // the writer's own slice, which other tests compare with
        for (const int16_t v : phantom::CtSliceStored(options, slice))
            stored.insert(stored.end(), {uint8_t(v & 0xFF), uint8_t(uint16_t(v) >> 8)});
        EXPECT_EQ(stored, pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Slices, PhantomSliceTest,
                         testing::Values(std::make_tuple("CT", 0), std::make_tuple("CT", 79),
                                         std::make_tuple("CT", 159), std::make_tuple("PT", 39)));

}  // namespace
}  // namespace vexel
