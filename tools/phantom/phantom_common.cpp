#include "phantom/phantom_common.h"

#include <unistd.h>
#include <cstdio>

#include "phantom/dicom_file_writer.h"

namespace vexel::phantom::detail {

std::string MakeUid(const std::string& root, std::initializer_list<int> parts) {
    std::string uid = root;
    for (int part : parts)
        uid += "." + std::to_string(part);
    return uid;
}

std::string FormatDs(double value) {
    // PS3.5 6.2: a DS value holds at most 16 characters.
    char buffer[64];
    for (int precision = 16; precision > 0; --precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::string_view(buffer).size() <= 16) break;
    }
    return buffer;
}

std::string FormatDs(std::initializer_list<double> values) {
    std::string text;
    for (double value : values) {
        if (!text.empty()) text += '\\';
        text += FormatDs(value);
    }
    return text;
}

std::string EncodeText(std::string_view utf8, TextCharset charset) {
    if (charset == TextCharset::kUtf8) return std::string(utf8);
    std::string latin1;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            latin1 += static_cast<char>(lead);
        } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size()) {
            // U+0080..U+00FF: the Latin-1 byte is the code point itself.
            const auto next = static_cast<unsigned char>(utf8[++i]);
            latin1 += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
        } else {
            // Anything else has no Latin-1 form: one '?' per character.
            latin1 += '?';
            while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80)
                ++i;
        }
    }
    return latin1;
}

void AddPatientAndStudy(CElementSet& set, const PhantomOptions& options) {
    const bool utf8 = options.charset == TextCharset::kUtf8;
    const TextCharset cs = options.charset;
    set.SetString(0x00080005, "CS", utf8 ? "ISO_IR 192" : "ISO_IR 100");
    set.SetString(0x00080020, "DA", kStudyDate);
    set.SetString(0x00080030, "TM", kStudyTime);
    set.SetString(0x00080050, "SH", "ACC20240315");
    set.SetString(0x00080070, "LO", "Vexel");
    set.SetString(0x00080080, "LO", EncodeText(utf8 ? "Κλινική Νότου" : "Klinikum Süd", cs));
    set.SetString(0x00080090, "PN", "");
    set.SetString(0x00081030, "LO",
                  EncodeText(utf8 ? "胸部 CT Θώρακας" : "Thorax-Abdomen Übersicht", cs));
    set.SetString(0x00081090, "LO", "Phantom");
    set.SetString(0x00100010, "PN",
                  EncodeText(utf8 ? "Yamada^Tarou=山田^太郎=やまだ^たろう" : "Müller^Jürgen", cs));
    set.SetString(0x00100020, "LO", "PHANTOM001");
    set.SetString(0x00100030, "DA", "19650412");
    set.SetString(0x00100040, "CS", "M");
    set.SetString(0x00101010, "AS", "058Y");
    set.SetString(0x00101020, "DS", FormatDs(options.pet.heightM));
    set.SetString(0x00101030, "DS", FormatDs(options.pet.weightKg));
    set.SetString(0x00181020, "LO", "1.0");
    set.SetString(0x0020000D, "UI", MakeUid(options.uidRoot, {1}));
    set.SetString(0x00200010, "SH", "1");
}

void AddSeriesAndInstance(CElementSet& set, const PhantomOptions& options, const SeriesInfo& series,
                          int instanceNumber) {
    set.SetString(0x00080016, "UI", series.sopClassUid);
    set.SetString(0x00080018, "UI",
                  MakeUid(options.uidRoot, {4, series.seriesNumber, instanceNumber}));
    for (uint32_t dateTag : {0x00080021u, 0x00080022u, 0x00080023u})
        set.SetString(dateTag, "DA", kStudyDate);
    for (uint32_t timeTag : {0x00080031u, 0x00080032u, 0x00080033u})
        set.SetString(timeTag, "TM", series.seriesTime);
    set.SetString(0x00080060, "CS", series.modality);
    set.SetString(0x0008103E, "LO", series.description);
    set.SetString(0x0020000E, "UI", MakeUid(options.uidRoot, {2, series.seriesNumber}));
    set.SetString(0x00200011, "IS", std::to_string(series.seriesNumber));
    set.SetString(0x00200012, "IS", "1");
    set.SetString(0x00200013, "IS", std::to_string(instanceNumber));
}

void AddImagePlane(CElementSet& set, const PhantomOptions& options, const VolumeGeometry& geometry,
                   int slice) {
    const Vec3 position = geometry.SlicePosition(slice);
    set.SetString(0x00180050, "DS", FormatDs(geometry.sliceSpacingMm));
    set.SetString(0x00180088, "DS", FormatDs(geometry.sliceSpacingMm));
    set.SetString(0x00185100, "CS", "HFS");
    set.SetString(0x00200032, "DS", FormatDs({position.x, position.y, position.z}));
    set.SetString(0x00200037, "DS", "1\\0\\0\\0\\1\\0");
    set.SetString(0x00200052, "UI", MakeUid(options.uidRoot, {3}));
    set.SetString(0x00201040, "LO", "");
    set.SetString(0x00201041, "DS", FormatDs(position.z));
    set.SetString(0x00280030, "DS", FormatDs({geometry.RowSpacing(), geometry.pixelSpacingMm}));
}

void AddGrayPixelModule(CElementSet& set, int rows, int columns, bool isSigned) {
    set.SetUS(0x00280002, 1);
    set.SetString(0x00280004, "CS", "MONOCHROME2");
    set.SetUS(0x00280010, static_cast<uint16_t>(rows));
    set.SetUS(0x00280011, static_cast<uint16_t>(columns));
    set.SetUS(0x00280100, 16);
    set.SetUS(0x00280101, 16);
    set.SetUS(0x00280102, 15);
    set.SetUS(0x00280103, isSigned ? 1 : 0);
}

std::vector<uint8_t> LittleEndianBytes(std::span<const uint16_t> values) {
    std::vector<uint8_t> bytes(values.size() * 2);
    for (size_t i = 0; i < values.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(values[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(values[i] >> 8);
    }
    return bytes;
}

std::vector<uint8_t> LittleEndianBytes(std::span<const int16_t> values) {
    return LittleEndianBytes(
        std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(values.data()), values.size()));
}

bool WriteInstance(const std::filesystem::path& file, const CElementSet& set,
                   const PhantomOptions& options, std::string* error) {
    CDataSetWriter writer(options.encoding);
    writer.Reserve(4096);
    set.Encode(writer);
    FileMeta meta;
    meta.sopClassUid = set.Text(0x00080016);
    meta.sopInstanceUid = set.Text(0x00080018);
    return WriteDicomFile(file, meta, writer, error);
}

CSeriesStage::CSeriesStage(std::filesystem::path seriesDir) : m_seriesDir(std::move(seriesDir)) {
    if (m_seriesDir.filename().empty()) m_seriesDir = m_seriesDir.parent_path();
    m_stageDir = m_seriesDir.parent_path() /
                 ("." + m_seriesDir.filename().string() + ".partial-" + std::to_string(::getpid()));
}

CSeriesStage::~CSeriesStage() {
    if (m_begun && !m_committed) {
        std::error_code ec;
        std::filesystem::remove_all(m_stageDir, ec);
    }
}

bool CSeriesStage::Begin(std::string* error) {
    std::error_code ec;
    std::filesystem::remove_all(m_stageDir, ec);
    if (!std::filesystem::create_directories(m_stageDir, ec) || ec) {
        if (error) *error = "cannot create " + m_stageDir.string() + ": " + ec.message();
        return false;
    }
    m_begun = true;
    return true;
}

std::filesystem::path CSeriesStage::FilePath(const std::string& prefix, int number) const {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.dcm", number);
    return m_stageDir / (prefix + name);
}

bool CSeriesStage::Commit(std::string* error) {
    std::error_code ec;
    // The old series moves aside first, so the final name only ever holds a whole series.
    const std::filesystem::path old = m_stageDir.string() + ".old";
    std::filesystem::remove_all(old, ec);
    if (std::filesystem::exists(m_seriesDir, ec)) {
        std::filesystem::rename(m_seriesDir, old, ec);
        if (ec) {
            if (error) *error = "cannot replace " + m_seriesDir.string() + ": " + ec.message();
            return false;
        }
    }
    std::filesystem::rename(m_stageDir, m_seriesDir, ec);
    if (ec) {
        if (error) *error = "cannot rename into " + m_seriesDir.string() + ": " + ec.message();
        std::error_code ignored;
        if (std::filesystem::exists(old, ignored))
            std::filesystem::rename(old, m_seriesDir, ignored);
        return false;
    }
    m_committed = true;
    std::filesystem::remove_all(old, ec);
    return true;
}

}  // namespace vexel::phantom::detail
