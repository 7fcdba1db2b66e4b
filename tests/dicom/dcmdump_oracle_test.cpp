// Our element tree against DCMTK's dcmdump, element by element in file order: tag, nesting,
// VR, declared length and, for text and numeric VRs, the value and its multiplicity. Every
// readable file of the shared corpus takes part, and phantom slices that DCMTK re-encodes
// into each transfer syntax. Where the two readers differ on purpose the rule is listed in
// kIntendedDifferences with its reason; every other difference fails and names the element.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "dicom/dcmdump_listing.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/tag_list.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;
using test::DumpRow;

// dcmdump loads values up to 4 KB (-M); larger ones are "(not loaded)" and compared by
// tag, VR and length only.
constexpr const char* kDcmdump = "dcmdump -q -dc +L -M -Un +Qn ";

// ---------------------------------------------------------------------------------------
// Damaged corpus files: DCMTK is lenient with some, we fail cleanly or read less.

enum class Outcome { Fails, FewerElements };

struct DamagedFile {
    const char* path;
    Outcome outcome;
    ReadStatus status;  // for Outcome::Fails
    const char* reason;
};

constexpr DamagedFile kDamagedFiles[] = {
    {"pydicom/test_files/no_meta.dcm", Outcome::Fails, ReadStatus::NotDicom,
     "a stray byte before a bare data set: no tag lines up (DCMTK fails as well)"},
    {"pydicom/test_files/MR_truncated.dcm", Outcome::Fails, ReadStatus::Truncated,
     "Pixel Data runs 62 bytes past the end of the file"},
    {"pydicom/test_files/rtplan_truncated.dcm", Outcome::Fails, ReadStatus::Truncated,
     "the file ends inside an element"},
    {"pydicom/test_files/dicomdirtests/DICOMDIR-nooffset", Outcome::Fails, ReadStatus::Truncated,
     "the last directory record declares 248 bytes where the file holds 224; DCMTK stops "
     "at the end of the file"},
};

// The meta group names explicit VR but the data set is implicit VR: we retry with the other
// VR form, DCMTK refuses the file. Its oracle is then the data set alone, read with -f -ti,
// compared with our elements after the meta group.
constexpr const char* kMislabelledFiles[] = {
    "pydicom/test_files/SC_rgb_jpeg.dcm",
};

bool IsMislabelled(const std::string& path) {
    return std::find_if(std::begin(kMislabelledFiles), std::end(kMislabelledFiles),
                        [&](const char* p) { return path == p; }) != std::end(kMislabelledFiles);
}

const DamagedFile* FindDamaged(const std::string& path) {
    for (const DamagedFile& damaged : kDamagedFiles) {
        if (path == damaged.path) return &damaged;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Differences the two readers have on purpose.

struct OurRow {
    int depth;
    CDicomElement* element;
    const TagListRow* row;
};

struct IntendedDifference {
    const char* name;
    const char* reason;
    bool (*applies)(const OurRow& ours, const DumpRow& theirs);
};

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> set) {
    return std::find(set.begin(), set.end(), text) != set.end();
}

const IntendedDifference kIntendedDifferences[] = {
    {"item-vr",
     "items and delimiters have no VR: we show VR code 0, dcmdump the pseudo VRs na and pi",
     [](const OurRow& ours, const DumpRow& theirs) {
         return ours.element->group == 0xFFFE && ours.element->vr == VrCode::Unknown &&
                IsOneOf(theirs.vr, {"na", "pi"});
     }},
    {"implicit-unknown-vr",
     "implicit VR: a private tag (or one DCMTK knows only from its private dictionary) keeps "
     "VR code 0; DCMTK takes UN or its private dictionary's VR",
     [](const OurRow& ours, const DumpRow& theirs) {
         return ours.element->vr == VrCode::Unknown &&
                ((ours.element->group & 1) != 0 || IsOneOf(theirs.vr, {"UN", "??"}));
     }},
    {"dictionary-multi-vr",
     "implicit VR: the dictionary's multi-VR code (US\\SS, OB\\OW, ...) is kept in the store; "
     "DCMTK resolves it from Pixel Representation and Bits Allocated",
     [](const OurRow& ours, const DumpRow& theirs) {
         switch (ours.element->vr) {
             case VrCode::US_SS:
                 return IsOneOf(theirs.vr, {"US", "SS", "xs"});
             case VrCode::US_SS_OW:
                 return IsOneOf(theirs.vr, {"US", "SS", "OW", "lt"});
             case VrCode::OB_OW:
             case VrCode::OW_OB:
                 return IsOneOf(theirs.vr, {"OB", "OW", "ox"});
             default:
                 return false;
         }
     }},
    {"implicit-group-length",
     "implicit VR: a group length (gggg,0000) of a group the dictionary does not list keeps "
     "VR code 0; DCMTK treats every group length as UL",
     [](const OurRow& ours, const DumpRow& theirs) {
         return ours.element->vr == VrCode::Unknown && ours.element->element == 0x0000 &&
                theirs.vr == "UL";
     }},
    {"dicomdir-offset-up",
     "DICOMDIR offsets (UL in the file) are printed with DCMTK's internal VR up",
     [](const OurRow& ours, const DumpRow& theirs) {
         return ours.element->vr == VrCode::UL && ours.element->group == 0x0004 &&
                theirs.vr == "up";
     }},
    {"pixel-sequence-ow",
     "encapsulated Pixel Data written with VR OW keeps the VR of the file; DCMTK always "
     "shows a pixel sequence as OB",
     [](const OurRow& ours, const DumpRow& theirs) {
         return ours.element->Tag() == tags::kPixelData && ours.element->vr == VrCode::OW &&
                ours.element->declaredLength == kUndefinedLength && theirs.vr == "OB";
     }},
    {"undefined-un-as-sq",
     "a UN of undefined length is read as an implicit VR little endian sequence but keeps "
     "the VR written in the file; DCMTK relabels it SQ (the items below agree)",
     [](const OurRow& ours, const DumpRow& theirs) {
         return ours.element->vr == VrCode::UN &&
                ours.element->declaredLength == kUndefinedLength && theirs.vr == "SQ";
     }},
};

std::map<std::string, int>& UsedDifferences() {
    static std::map<std::string, int> used;
    return used;
}

// How many values of each kind were compared: a listing that compares nothing passes too.
std::map<std::string, int>& ComparedValues() {
    static std::map<std::string, int> compared;
    return compared;
}

const IntendedDifference* FindIntendedDifference(const OurRow& ours, const DumpRow& theirs) {
    for (const IntendedDifference& difference : kIntendedDifferences) {
        if (difference.applies(ours, theirs)) return &difference;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Value comparison.

bool IsTextVr(VrCode vr) {
    switch (vr) {
        case VrCode::AE:
        case VrCode::AS:
        case VrCode::CS:
        case VrCode::DA:
        case VrCode::DS:
        case VrCode::DT:
        case VrCode::IS:
        case VrCode::LO:
        case VrCode::LT:
        case VrCode::PN:
        case VrCode::SH:
        case VrCode::ST:
        case VrCode::TM:
        case VrCode::UI:
        case VrCode::UT:
        case VrCode::UC:
        case VrCode::UR:
            return true;
        default:
            return false;
    }
}

bool IsNumericVr(VrCode vr) {
    switch (vr) {
        case VrCode::US:
        case VrCode::SS:
        case VrCode::UL:
        case VrCode::SL:
        case VrCode::FL:
        case VrCode::FD:
        case VrCode::SV:
        case VrCode::UV:
        case VrCode::AT:
            return true;
        default:
            return false;
    }
}

std::string TrimPadding(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::string WholeValue(CDicomFile& file, const CDicomElement& element) {
    std::string bytes(element.length, '\0');
    if (element.length != 0 && !file.ReadBytes(&element, bytes.data(), 0, element.length)) {
        return "<unreadable>";
    }
    return bytes;
}

// Our display shows FD with %G and FL with %f: compare to that precision.
bool SameNumber(const std::string& ours, const std::string& theirs) {
    char* oursEnd = nullptr;
    char* theirsEnd = nullptr;
    const double a = std::strtod(ours.c_str(), &oursEnd);
    const double b = std::strtod(theirs.c_str(), &theirsEnd);
    if (oursEnd == ours.c_str() || *oursEnd != '\0' || theirsEnd == theirs.c_str()) {
        return ours == theirs;
    }
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    if (a == b) return true;
    return std::fabs(a - b) <= 1e-6 + 1e-5 * std::max(std::fabs(a), std::fabs(b));
}

// dcmdump prints an AT value as "(gggg,eeee)", our display as the two 16-bit numbers.
std::vector<std::string> TheirNumbers(const DumpRow& theirs) {
    std::vector<std::string> values = test::SplitValues(theirs.value);
    if (theirs.vr != "AT") return values;
    std::vector<std::string> units;
    for (const std::string& tag : values) {
        if (tag.size() != 11) return values;
        units.push_back(std::to_string(std::strtoul(tag.substr(1, 4).c_str(), nullptr, 16)));
        units.push_back(std::to_string(std::strtoul(tag.substr(6, 4).c_str(), nullptr, 16)));
    }
    return units;
}

std::string CompareNumbers(const OurRow& ours, const DumpRow& theirs) {
    std::string shown = ours.row->valueText;
    const bool truncated = shown.ends_with("...");
    if (truncated) shown.resize(shown.size() - 3);
    const std::vector<std::string> our = test::SplitValues(shown);
    const std::vector<std::string> their = TheirNumbers(theirs);
    // A truncated display holds only the values whose bytes were read in full.
    if (truncated ? our.size() > their.size() : our.size() != their.size()) {
        return "value count differs: ours [" + ours.row->valueText + "]";
    }
    for (size_t i = 0; i < our.size(); ++i) {
        if (!SameNumber(our[i], their[i])) {
            return "value " + std::to_string(i) + " differs: ours [" + ours.row->valueText + "]";
        }
    }
    return {};
}

std::string CompareText(CDicomFile& file, const OurRow& ours, const DumpRow& theirs) {
    const std::string raw = TrimPadding(WholeValue(file, *ours.element));
    if (raw != TrimPadding(theirs.value)) return "value differs: ours [" + raw + "]";
    // The display text of an ASCII value is the value itself (its first 256 bytes when it
    // was read from the file for the listing).
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        std::string shown = ours.row->valueText;
        const bool truncated = shown.ends_with("...") && raw.size() > kTagListValueBytes;
        if (truncated) shown.resize(shown.size() - 3);
        shown = TrimPadding(shown);
        if (truncated ? !raw.starts_with(shown) : shown != raw) {
            return "display text differs: ours [" + ours.row->valueText + "]";
        }
    }
    return {};
}

std::string CompareBytes(CDicomFile& file, const OurRow& ours, const DumpRow& theirs) {
    const std::string raw = WholeValue(file, *ours.element);
    const std::vector<std::string> bytes = test::SplitValues(theirs.value);
    if (bytes.size() != raw.size()) return "byte count differs";
    for (size_t i = 0; i < raw.size(); ++i) {
        if (std::strtoul(bytes[i].c_str(), nullptr, 16) != static_cast<uint8_t>(raw[i])) {
            return "byte " + std::to_string(i) + " differs";
        }
    }
    return {};
}

// dcmdump prints OW as 16-bit words in machine order; ReadBytes gives the file's order,
// whether the value is loaded or not.
std::string CompareWords(CDicomFile& file, const OurRow& ours, const DumpRow& theirs) {
    const std::string raw = WholeValue(file, *ours.element);
    const std::vector<std::string> words = test::SplitValues(theirs.value);
    if (words.size() != raw.size() / 2) return "word count differs";
    const bool swap = file.IsBigEndian();
    for (size_t i = 0; i < words.size(); ++i) {
        const auto low = static_cast<uint8_t>(raw[2 * i + (swap ? 1 : 0)]);
        const auto high = static_cast<uint8_t>(raw[2 * i + (swap ? 0 : 1)]);
        if (std::strtoul(words[i].c_str(), nullptr, 16) !=
            static_cast<unsigned>(low | (high << 8))) {
            return "word " + std::to_string(i) + " differs";
        }
    }
    return {};
}

// The store counts values for the binary numbers and for CS, DS, IS, LO, SH and UC; other
// text VRs count 1 (PN, DA, TM, UI, ...) and LT, ST and UT count backslashes, which for
// DICOM are not separators there. Only where both count the same way are counts compared.
bool CountComparable(VrCode vr) {
    return IsNumericVr(vr) || IsOneOf(VrText(vr), {"CS", "DS", "IS", "LO", "SH", "UC"});
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
        ++ComparedValues()["text"];
    } else if (IsNumericVr(element.vr) && value) {
        problem = CompareNumbers(ours, theirs);
        ++ComparedValues()["numbers"];
    } else if (IsOneOf(theirs.vr, {"OB", "UN", "pi"}) && value) {
        problem = CompareBytes(file, ours, theirs);
        ++ComparedValues()["bytes"];
    } else if (element.vr == VrCode::OW && theirs.vr == "OW" && value) {
        problem = CompareWords(file, ours, theirs);
        ++ComparedValues()["words"];
    }
    if (problem.empty() && CountComparable(element.vr) &&
        ours.row->countText != std::to_string(theirs.vm)) {
        problem = "value count " + ours.row->countText + " differs";
    }
    return problem;
}

// ---------------------------------------------------------------------------------------
// Walking both listings.

void Flatten(CDicomElement* container, int depth, const std::vector<TagListRow>& rows,
             std::vector<OurRow>& out) {
    for (CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
        const size_t index = out.size();
        out.push_back({depth, child, index < rows.size() ? &rows[index] : nullptr});
        Flatten(child, depth + 1, rows, out);
    }
}

std::string Describe(const OurRow& ours) {
    char text[96];
    std::snprintf(text, sizeof text, "ours: depth %d (%04X,%04X) %s length %s", ours.depth,
                  ours.element->group, ours.element->element,
                  std::string(VrText(ours.element->vr)).c_str(),
                  ours.element->declaredLength == kUndefinedLength
                      ? "undefined"
                      : std::to_string(ours.element->declaredLength).c_str());
    return text;
}

std::string CompareRow(CDicomFile& file, const OurRow& ours, const DumpRow& theirs) {
    const CDicomElement& element = *ours.element;
    if (ours.depth != theirs.depth || element.group != theirs.group ||
        element.element != theirs.element) {
        return "tag or nesting differs";
    }
    if (VrText(element.vr) != theirs.vr) {
        const IntendedDifference* difference = FindIntendedDifference(ours, theirs);
        if (difference == nullptr) return "VR differs";
        ++UsedDifferences()[difference->name];
        return {};
    }
    if (element.declaredLength != theirs.length) return "length differs";
    return CompareValue(file, ours, theirs);
}

// Empty when the two listings agree; otherwise the first differing element.
std::string CompareWithDump(CDicomFile& file, const std::vector<DumpRow>& theirs,
                            bool dataSetOnly) {
    const std::vector<TagListRow> rows = BuildTagList(file);
    std::vector<OurRow> ours;
    Flatten(file.Root(), 0, rows, ours);
    if (ours.size() != rows.size()) return "tag list and tree disagree in size";
    if (dataSetOnly) {
        std::erase_if(
            ours, [](const OurRow& row) { return row.depth == 0 && row.element->group == 0x0002; });
    }
    const size_t common = std::min(ours.size(), theirs.size());
    for (size_t i = 0; i < common; ++i) {
        std::string problem = CompareRow(file, ours[i], theirs[i]);
        if (!problem.empty()) {
            return "element " + std::to_string(i) + ": " + problem + "\n  " + Describe(ours[i]) +
                   "\n  dcmdump: " + theirs[i].line;
        }
    }
    if (ours.size() > common) return "we read more elements: first extra " + Describe(ours[common]);
    if (theirs.size() > common)
        return "dcmdump reads more elements: first extra " + theirs[common].line;
    return {};
}

size_t TreeSize(const CDicomElement* container) {
    size_t count = 0;
    for (const CDicomElement* child = container->firstChild; child; child = child->nextSibling) {
        count += 1 + TreeSize(child);
    }
    return count;
}

// ---------------------------------------------------------------------------------------
// The files.

struct OracleCase {
    std::string name;
    std::string path;  // relative to the corpus, or the key of a phantom conversion
    bool phantom = false;
};

void PrintTo(const OracleCase& param, std::ostream* out) {
    *out << param.name;
}

std::string ReadableName(const std::string& path) {
    std::string name;
    for (char c : path)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

std::vector<OracleCase> CorpusCases() {
    std::vector<OracleCase> cases;
    std::ifstream manifest(test::TestDataDir() / "oracle" / "manifest.jsonl");
    std::string line;
    while (std::getline(manifest, line)) {
        // The top-level "path" field; "upstream_path" and the like do not match.
        for (const std::string_view key : {"{\"path\": \"", ", \"path\": \""}) {
            const size_t start = line.find(key);
            if (start == std::string::npos) continue;
            const size_t begin = start + key.size();
            const std::string path = line.substr(begin, line.find('"', begin) - begin);
            cases.push_back({ReadableName(path), path, false});
            break;
        }
    }
    if (cases.empty()) cases.push_back({"corpus_missing", "", false});
    return cases;
}

// Phantom slices re-encoded by DCMTK; the source is the phantom writer's own file.
struct PhantomConversion {
    const char* name;
    const char* series;   // CT (explicit VR), PT (implicit VR, UTF-8), RGB (explicit VR)
    const char* command;  // DCMTK converter and options; empty for the file as written
};

constexpr PhantomConversion kPhantomConversions[] = {
    {"ct_explicit_little", "CT", ""},
    {"ct_implicit_little", "CT", "dcmconv +ti"},
    {"ct_explicit_big", "CT", "dcmconv +tb"},
    {"ct_implicit_group_lengths", "CT", "dcmconv +ti +g"},
    {"ct_deflated", "CT", "dcmconv +td"},
    {"ct_jpeg_lossless_sv1", "CT", "dcmcjpeg +e1"},
    {"ct_jpeg_lossless", "CT", "dcmcjpeg +el"},
    {"ct_rle", "CT", "dcmcrle"},
    {"ct_jpeg_ls_lossless", "CT", "dcmcjpls"},
    {"ct_jpeg_extended", "CT", "dcmcjpeg +ee"},
    {"pt_implicit_little", "PT", ""},
    {"pt_explicit_little", "PT", "dcmconv +te"},
    {"pt_explicit_big", "PT", "dcmconv +tb"},
    {"pt_explicit_big_undefined_lengths", "PT", "dcmconv +tb -e +g"},
    {"pt_implicit_undefined_lengths", "PT", "dcmconv +ti -e"},
    {"pt_deflated", "PT", "dcmconv +td"},
    {"pt_deflated_undefined_lengths", "PT", "dcmconv +td -e"},
    {"pt_rle", "PT", "dcmcrle"},
    {"pt_jpeg_ls_near_lossless", "PT", "dcmcjpls +en"},
    {"rgb_jpeg_baseline", "RGB", "dcmcjpeg +eb"},
    {"rgb_jpeg_extended", "RGB", "dcmcjpeg +ee"},
    {"rgb_rle", "RGB", "dcmcrle"},
    {"rgb_jpeg_ls_lossless", "RGB", "dcmcjpls"},
};

std::vector<OracleCase> PhantomCases() {
    std::vector<OracleCase> cases;
    for (const PhantomConversion& conversion : kPhantomConversions) {
        cases.push_back({conversion.name, conversion.name, true});
    }
    return cases;
}

fs::path FirstFile(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files.empty() ? fs::path() : files.front();
}

// Runs dcmdump once over many files (one process start instead of one per file) and
// returns the dump of each by its path as given.
std::map<std::string, std::string> DumpFiles(const fs::path& workDir,
                                             const std::vector<std::string>& paths) {
    std::string command = "cd '" + workDir.string() + "' && " + kDcmdump + "+F";
    for (const std::string& path : paths)
        command += " '" + path + "'";
    const std::string output = test::RunCommand(command + " 2>/dev/null");
    std::map<std::string, std::string> dumps;
    std::string* current = nullptr;
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

// ctest runs every test in a process of its own: then only the file at hand is converted and
// dumped. A run of the whole binary converts and dumps everything once, in one dcmdump call.
bool ManyTestsInThisProcess() {
    return testing::UnitTest::GetInstance()->test_to_run_count() > 8;
}

const std::map<std::string, std::string>& CorpusDumps() {
    static const std::map<std::string, std::string> dumps = [] {
        std::vector<std::string> paths;
        for (const OracleCase& param : CorpusCases()) {
            if (!param.path.empty()) paths.push_back(param.path);
        }
        return DumpFiles(test::TestDataDir(), paths);
    }();
    return dumps;
}

std::string CorpusDump(const std::string& relative) {
    if (!ManyTestsInThisProcess()) return DumpFiles(test::TestDataDir(), {relative})[relative];
    const auto dump = CorpusDumps().find(relative);
    return dump == CorpusDumps().end() ? std::string() : dump->second;
}

// Written, converted and dumped once per process.
struct PhantomFiles {
    std::map<std::string, fs::path> files;
    std::map<std::string, std::string> errors;
    std::map<std::string, std::string> dumps;  // by file path
};

// The conversions named (all when only is empty), each process in the background.
void ConvertPhantoms(const fs::path& dir, const std::string& only, PhantomFiles& out) {
    std::string script;
    for (const PhantomConversion& c : kPhantomConversions) {
        if (!only.empty() && only != c.name) continue;
        const fs::path source = FirstFile(dir / c.series);
        if (*c.command == '\0') {
            out.files[c.name] = source;
            continue;
        }
        const std::string target = (dir / c.name).string();
        script += std::string("(") + c.command + " '" + source.string() + "' '" + target +
                  ".dcm' >'" + target + ".log' 2>&1) & ";
    }
    test::RunCommand(script + "wait");
    for (const PhantomConversion& c : kPhantomConversions) {
        if ((!only.empty() && only != c.name) || *c.command == '\0') continue;
        const fs::path target = dir / (std::string(c.name) + ".dcm");
        std::error_code ec;
        if (fs::file_size(target, ec) > 0 && !ec) {
            out.files[c.name] = target;
        } else {
            std::ifstream log(dir / (std::string(c.name) + ".log"));
            out.errors[c.name] = std::string(c.command) +
                                 " failed: " + std::string(std::istreambuf_iterator<char>(log), {});
        }
    }
}

PhantomFiles MakePhantomFiles(const std::string& only) {
    PhantomFiles out;
    const fs::path dir =
        test::ScratchDir("dcmdump-oracle-phantom" + (only.empty() ? "" : "-" + only));
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 2;
    phantom::PhantomOptions petOptions = options;
    petOptions.encoding = phantom::VrEncoding::kImplicit;
    petOptions.charset = phantom::TextCharset::kUtf8;
    std::string error;
    if (!phantom::WriteCtSeries(dir / "CT", options, &error) ||
        !phantom::WritePetSeries(dir / "PT", petOptions, &error) ||
        !phantom::WriteRgbImage(dir / "RGB", options, &error)) {
        for (const PhantomConversion& c : kPhantomConversions)
            out.errors[c.name] = error;
        return out;
    }
    ConvertPhantoms(dir, only, out);
    std::vector<std::string> paths;
    for (const auto& [name, path] : out.files)
        paths.push_back(path.string());
    out.dumps = DumpFiles("/", paths);
    return out;
}

PhantomFiles PhantomFor(const std::string& name) {
    if (!ManyTestsInThisProcess()) return MakePhantomFiles(name);
    static const PhantomFiles all = MakePhantomFiles("");
    return all;
}

// The data set after the meta group, as its own file, dumped as implicit VR.
std::string DumpDataSetImplicit(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.size() < 144) return {};
    uint32_t groupLength = 0;
    std::memcpy(&groupLength, bytes.data() + 140, 4);
    if (groupLength > bytes.size() - 144) return {};
    const fs::path dataSet =
        test::ScratchDir("dcmdump-oracle-data-set-" + path.filename().string()) / "data-set.dcm";
    std::ofstream(dataSet, std::ios::binary) << bytes.substr(144 + groupLength);
    return test::RunCommand(std::string(kDcmdump) + "-f -ti '" + dataSet.string() +
                            "' 2>/dev/null");
}

bool HaveDcmtk() {
    static const bool have = test::HaveProgram("dcmdump") && test::HaveProgram("dcmconv") &&
                             test::HaveProgram("dcmcjpeg") && test::HaveProgram("dcmcrle") &&
                             test::HaveProgram("dcmcjpls");
    return have;
}

class DcmdumpOracleTest : public testing::TestWithParam<OracleCase> {
public:
    static void TearDownTestSuite() {
        for (const auto& [name, count] : UsedDifferences()) {
            std::printf("intended difference %s: %d elements\n", name.c_str(), count);
        }
        UsedDifferences().clear();
        for (const auto& [kind, count] : ComparedValues()) {
            std::printf("compared %s values: %d\n", kind.c_str(), count);
        }
        ComparedValues().clear();
    }
};

TEST_P(DcmdumpOracleTest, ElementsAgreeWithDcmdump) {
    const OracleCase& param = GetParam();
    if (!HaveDcmtk()) GTEST_SKIP() << "DCMTK command-line tools are not on PATH";
    fs::path path;
    std::string dump;
    if (param.phantom) {
        const PhantomFiles phantoms = PhantomFor(param.path);
        const auto error = phantoms.errors.find(param.path);
        ASSERT_TRUE(error == phantoms.errors.end()) << error->second;
        path = phantoms.files.at(param.path);
        const auto found = phantoms.dumps.find(path.string());
        if (found != phantoms.dumps.end()) dump = found->second;
    } else {
        VEXEL_REQUIRE_TESTDATA();
        ASSERT_FALSE(param.path.empty()) << "manifest lists no files";
        path = test::TestDataDir() / param.path;
    }
    const DamagedFile* damaged = param.phantom ? nullptr : FindDamaged(param.path);
    const bool mislabelled = !param.phantom && IsMislabelled(param.path);
    const std::vector<DumpRow> theirs =
        test::ParseDcmdump(mislabelled     ? DumpDataSetImplicit(path)
                           : param.phantom ? dump
                                           : CorpusDump(param.path));

    for (const bool deferred : {true, false}) {
        SCOPED_TRACE(path.string() + (deferred ? " (deferred values)" : " (values loaded)"));
        CDicomFile file;
        file.SetDeferredValues(deferred);
        const ReadStatus status = ReadDicomFile(file, path.string());
        if (damaged != nullptr && damaged->outcome == Outcome::Fails) {
            EXPECT_EQ(status, damaged->status)
                << damaged->reason << "; got " << ReadStatusText(status);
            continue;
        }
        ASSERT_EQ(status, ReadStatus::Ok) << ReadStatusText(status);
        if (damaged != nullptr) {
            EXPECT_LT(TreeSize(file.Root()), theirs.size()) << damaged->reason;
            continue;
        }
        ASSERT_FALSE(theirs.empty()) << "dcmdump printed no elements";
        const std::string problem = CompareWithDump(file, theirs, mislabelled);
        EXPECT_TRUE(problem.empty()) << path.string() << "\n" << problem;
    }
}

// The listing above catches these only in a fresh process: once any file has loaded a tag,
// deferred reads load it at parse time too. The meta group must not depend on that: it is
// little endian in a big-endian file, and its offsets are useless once a deflated data set
// is read from memory.
class MetaGroupTest : public testing::TestWithParam<const char*> {};

TEST_P(MetaGroupTest, ValuesAreLoadedAndInLittleEndian) {
    VEXEL_REQUIRE_TESTDATA();
    if (!HaveDcmtk()) GTEST_SKIP() << "DCMTK command-line tools are not on PATH";
    const fs::path path = test::TestDataDir() / GetParam();
    CDicomFile file;
    file.SetDeferredValues(true);
    ASSERT_EQ(ReadDicomFile(file, path.string()), ReadStatus::Ok);
    int metaElements = 0;
    for (CDicomElement* e = file.Root()->firstChild; e; e = e->nextSibling) {
        if (e->group != 0x0002 || e->length == 0) continue;
        ++metaElements;
        EXPECT_TRUE(e->HasValue()) << std::hex << e->Tag();
    }
    EXPECT_GE(metaElements, 5);
    const std::vector<DumpRow> theirs =
        test::ParseDcmdump(DumpFiles(test::TestDataDir(), {GetParam()})[GetParam()]);
    ASSERT_FALSE(theirs.empty());
    ASSERT_EQ(theirs.front().element, 0x0000);
    EXPECT_EQ(std::to_string(file.Integer(tags::kFileMetaGroupLength, -1)), theirs.front().value);
}

INSTANTIATE_TEST_SUITE_P(Files, MetaGroupTest,
                         testing::Values("pydicom/test_files/image_dfl.dcm",
                                         "pydicom/test_files/MR_small_bigendian.dcm"));

std::string CaseName(const testing::TestParamInfo<OracleCase>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, DcmdumpOracleTest, testing::ValuesIn(CorpusCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Phantom, DcmdumpOracleTest, testing::ValuesIn(PhantomCases()), CaseName);

}  // namespace
}  // namespace vexel
