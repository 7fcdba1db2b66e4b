// phantom: writes the synthetic study used by tests, benchmarks and the sample viewer run.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "phantom/geometry_series.h"
#include "phantom/phantom_writer.h"

namespace {

using namespace vexel::phantom;

constexpr const char* kUsage = R"(usage: phantom --out DIR [options]

Writes a synthetic DICOM study (deterministic UIDs and dates). Series folders:
DIR/CT/CT0001.dcm..., DIR/PT/PT0001.dcm..., DIR/MF/MF0001.dcm, DIR/RGB/RGB0001.dcm,
DIR/MK/MK0001.dcm.
Each series folder is built aside and renamed into place, replacing an older one.

  --out DIR              study folder (created if needed)
  --ct                   CT series, one file per slice (16-bit signed, HU = value - 1024)
  --pet                  PET series over the same frame of reference (Bq/ml, SUV attributes)
  --multiframe           one multi-frame file of CT slices (cine, Frame Time 100 ms)
  --rgb                  one 8-bit RGB secondary capture image
  --markers              one image of single bright pixels on black, CT size (geometry checks)
  --all                  all four; with none of these, CT and PET are written
  --syntax S             explicit (default) or implicit VR little endian
  --size CxRxS           CT columns x rows x slices (default 256x256x160); PET is half
  --pixel-spacing MM     CT pixel spacing, or ROW\COL (default 0.8); PET doubles it
  --slice-spacing MM     CT slice spacing and thickness (default 1.25); PET doubles it
  --frames N             frames of the multi-frame file (default 10)
  --charset C            latin1 (ISO_IR 100, default) or utf8 (ISO_IR 192)
  --scanner-headers      CT slices also carry a scanner's headers: about 270 elements,
                         private blocks with large OB, OW and UN values
  --uid-root ROOT        root of all UIDs (default 2.25.271828182845904523536028747135)
  --quiet                print nothing on success
  -h, --help             this text

Geometry series of exact, known geometry (for volume and reformatting tests), each in
DIR/GEO-<case>/IM0001.dcm... (series 10 + the case's place in the list below). A field of
100.8 mm centred on the patient origin: 112 x 84 pixels of 0.9 (between columns) x 1.2 mm
(between rows), 67 slices 1.5 mm apart; 0 HU background, a 50 mm cube of 500 HU centred at
(-12,-12,-12), spheres of 1000 HU and radius 4 mm at (25,25,0), (25,-10,28), (-10,28,25)
and (0,0,30). Values are sampled at pixel centres, without blending.
  --geometry CASE        adds one case (repeatable); with only these, no CT or PET:
                         axial     1\0\0\0\1\0
                         coronal   1\0\0\0\0\-1
                         sagittal  0\1\0\0\0\-1
                         oblique   axial turned 30 deg about z, columns 20 deg about the row
                         tilted    columns (0, cos 18.5, sin 18.5), Gantry Tilt 18.5 deg,
                                   slices stepping along +z (not along the normal)
                         gaps      axial, a 6 mm gap (slices 10 to 12 left out)
  --order O              listing: ascending (default), descending or shuffled positions;
                         files and instance numbers follow the writing order
  --pixels P             monochrome2 (default), monochrome1 or rgb (8-bit colour)
  --alternate-slopes     images alternate Rescale Slope 1 and 2, same values
  --slice-thickness MM   Slice Thickness (default the 1.5 mm spacing; 0 allowed)
  --spacing-between-slices MM
                         write Spacing Between Slices with this value (even a wrong one)
  --frame-of-reference UID
                         another Frame of Reference UID (default ROOT.3, the CT's)
  --no-frame-of-reference
                         leave Frame of Reference UID out
)";

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

bool ParseSize(std::string_view text, PhantomOptions* options) {
    const size_t first = text.find('x');
    const size_t second = first == std::string_view::npos ? first : text.find('x', first + 1);
    if (second == std::string_view::npos) return false;
    return ParseNumber(text.substr(0, first), &options->columns) &&
           ParseNumber(text.substr(first + 1, second - first - 1), &options->rows) &&
           ParseNumber(text.substr(second + 1), &options->slices);
}

// "MM" for both directions, or "ROW\COL" as Pixel Spacing writes them.
bool ParseSpacing(std::string_view text, PhantomOptions* options) {
    const size_t slash = text.find('\\');
    if (slash == std::string_view::npos) {
        options->rowSpacingMm = 0;
        return ParseNumber(text, &options->pixelSpacingMm);
    }
    return ParseNumber(text.substr(0, slash), &options->rowSpacingMm) &&
           ParseNumber(text.substr(slash + 1), &options->pixelSpacingMm);
}

// What the geometry flags change in every case chosen.
struct GeometryFlags {
    std::vector<GeometryCase> cases;
    ListingOrder order = ListingOrder::kAscending;
    GeometryPixels pixels = GeometryPixels::kMonochrome2;
    bool alternateSlopes = false;
    std::optional<double> sliceThicknessMm;
    std::optional<double> spacingBetweenSlicesMm;
    std::string frameOfReferenceUid;
    bool writeFrameOfReference = true;
};

bool ParseGeometryFlag(std::string_view arg, std::string_view* v,
                       const std::function<bool(std::string_view*)>& value, GeometryFlags* flags) {
    double number = 0;
    if (arg == "--geometry" && value(v) && ParseGeometryCase(*v)) {
        flags->cases.push_back(*ParseGeometryCase(*v));
    } else if (arg == "--order" && value(v) &&
               (*v == "ascending" || *v == "descending" || *v == "shuffled")) {
        flags->order = *v == "ascending"    ? ListingOrder::kAscending
                       : *v == "descending" ? ListingOrder::kDescending
                                            : ListingOrder::kShuffled;
    } else if (arg == "--pixels" && value(v) &&
               (*v == "monochrome2" || *v == "monochrome1" || *v == "rgb")) {
        flags->pixels = *v == "monochrome2"   ? GeometryPixels::kMonochrome2
                        : *v == "monochrome1" ? GeometryPixels::kMonochrome1
                                              : GeometryPixels::kRgb;
    } else if (arg == "--alternate-slopes") {
        flags->alternateSlopes = true;
    } else if (arg == "--slice-thickness" && value(v) && ParseNumber(*v, &number)) {
        flags->sliceThicknessMm = number;
    } else if (arg == "--spacing-between-slices" && value(v) && ParseNumber(*v, &number)) {
        flags->spacingBetweenSlicesMm = number;
    } else if (arg == "--frame-of-reference" && value(v)) {
        flags->frameOfReferenceUid = *v;
    } else if (arg == "--no-frame-of-reference") {
        flags->writeFrameOfReference = false;
    } else {
        return false;
    }
    return true;
}

GeometrySeriesOptions CaseOptions(GeometryCase which, const GeometryFlags& flags,
                                  const PhantomOptions& options) {
    GeometrySeriesOptions o = GeometryCaseOptions(which);
    o.order = flags.order;
    o.pixels = flags.pixels;
    if (flags.alternateSlopes) o.rescales = {{1, -1024}, {2, -1024}};
    o.sliceThicknessMm = flags.sliceThicknessMm;
    o.spacingBetweenSlicesMm = flags.spacingBetweenSlicesMm;
    o.frameOfReferenceUid = flags.frameOfReferenceUid;
    o.writeFrameOfReference = flags.writeFrameOfReference;
    o.encoding = options.encoding;
    o.charset = options.charset;
    o.uidRoot = options.uidRoot;
    return o;
}

struct Command {
    std::string outDir;
    StudyParts parts{false, false, false, false};
    PhantomOptions options;
    GeometryFlags geometry;
    bool quiet = false;
    bool help = false;
};

// Returns an empty string on success, else what was wrong.
std::string ParseArguments(int argc, char** argv, Command* command) {
    bool anyPart = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string_view v;
        if (arg == "-h" || arg == "--help") {
            command->help = true;
        } else if (arg == "--ct" || arg == "--pet" || arg == "--multiframe" || arg == "--rgb" ||
                   arg == "--markers" || arg == "--all") {
            anyPart = true;
            StudyParts& p = command->parts;
            p.ct |= arg == "--ct" || arg == "--all";
            p.pet |= arg == "--pet" || arg == "--all";
            p.multiFrame |= arg == "--multiframe" || arg == "--all";
            p.rgb |= arg == "--rgb" || arg == "--all";
            p.markers |= arg == "--markers";
        } else if (arg == "--scanner-headers") {
            command->options.scannerHeaders = true;
        } else if (arg == "--quiet") {
            command->quiet = true;
        } else if (arg == "--out" && value(&v)) {
            command->outDir = v;
        } else if (arg == "--syntax" && value(&v) && (v == "explicit" || v == "implicit")) {
            command->options.encoding =
                v == "explicit" ? VrEncoding::kExplicit : VrEncoding::kImplicit;
        } else if (arg == "--charset" && value(&v) && (v == "latin1" || v == "utf8")) {
            command->options.charset = v == "utf8" ? TextCharset::kUtf8 : TextCharset::kLatin1;
        } else if (arg == "--size" && value(&v) && ParseSize(v, &command->options)) {
        } else if (arg == "--pixel-spacing" && value(&v) && ParseSpacing(v, &command->options)) {
        } else if (arg == "--slice-spacing" && value(&v) &&
                   ParseNumber(v, &command->options.sliceSpacingMm)) {
        } else if (arg == "--frames" && value(&v) && ParseNumber(v, &command->options.frames)) {
        } else if (arg == "--uid-root" && value(&v)) {
            command->options.uidRoot = v;
        } else if (ParseGeometryFlag(arg, &v, value, &command->geometry)) {
            anyPart |= arg == "--geometry";
        } else {
            return "bad or incomplete argument: " + std::string(arg);
        }
    }
    if (!anyPart) command->parts = StudyParts{true, true, false, false};
    if (command->outDir.empty() && !command->help) return "--out DIR is required";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    Command command;
    if (const std::string problem = ParseArguments(argc, argv, &command); !problem.empty()) {
        std::fprintf(stderr, "phantom: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }
    if (command.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!WriteStudy(command.outDir, command.parts, command.options, &error)) {
        std::fprintf(stderr, "phantom: %s\n", error.c_str());
        return 1;
    }
    for (const GeometryCase which : command.geometry.cases) {
        const std::string folder = std::string("GEO-") + GeometryCaseName(which);
        if (!WriteGeometrySeries(std::filesystem::path(command.outDir) / folder,
                                 CaseOptions(which, command.geometry, command.options), &error)) {
            std::fprintf(stderr, "phantom: %s: %s\n", folder.c_str(), error.c_str());
            return 1;
        }
    }
    if (!command.quiet) {
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("phantom: wrote %s in %.2f s\n", command.outDir.c_str(), took.count());
    }
    return 0;
}
