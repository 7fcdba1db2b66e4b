// One measurement on one frame, computed as the viewer computes it, so that values can be
// checked against other tools and kept in scripts.
#include "cli/measure_command.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/option_number.h"
#include "engine/memory_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "measure/measure_geometry.h"
#include "measure/measurement_labels.h"

namespace vexel::cli {
namespace {

struct Kind {
    const char* option;
    size_t numbers;
};
constexpr Kind kKinds[] = {{"--length", 4}, {"--ellipse", 4}, {"--angle", 6}, {"--cobb", 8}};

struct MeasureOptions {
    std::string path;
    long frame = 0;
    const Kind* kind = nullptr;
    std::vector<ImagePoint> points;
    bool json = false;
};

bool ParsePoints(const std::string& text, size_t count, std::vector<ImagePoint>& points) {
    std::vector<float> numbers;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        float value = 0;
        if (!ParseFloatOption(text.substr(start, comma - start).c_str(), value)) return false;
        numbers.push_back(value);
        start = comma + 1;
    }
    if (numbers.size() != count) return false;
    for (size_t i = 0; i < count; i += 2) points.push_back({numbers[i], numbers[i + 1]});
    return true;
}

bool ParseOptions(int argc, char** argv, MeasureOptions& options) {
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        const size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const auto next = [&]() -> bool {
            if (equals != std::string::npos) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        if (arg == "--json" && equals == std::string::npos) {
            options.json = true;
        } else if (arg == "--frame") {
            char* end = nullptr;
            errno = 0;
            if (!next()) return false;
            options.frame = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || options.frame < 0) return false;
        } else if (arg.rfind("--", 0) == 0) {
            const Kind* kind = nullptr;
            for (const Kind& k : kKinds) {
                if (arg == k.option) kind = &k;
            }
            if (kind == nullptr || options.kind != nullptr || !next()) return false;
            options.kind = kind;
            if (!ParsePoints(value, kind->numbers, options.points)) return false;
        } else if (options.path.empty()) {
            options.path = arg;
        } else {
            return false;
        }
    }
    return !options.path.empty() && options.kind != nullptr;
}

// Full precision; null for what is not a number.
std::string Number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void PrintJson(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string out = "{";
    for (size_t i = 0; i < fields.size(); ++i)
        out += (i ? ", " : "") + JsonQuoted(fields[i].first) + ": " + fields[i].second;
    std::printf("%s}\n", out.c_str());
}

}  // namespace

int RunMeasure(int argc, char** argv, CMemoryManager& files) {
    MeasureOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vexel measure FILE [--frame N] (--length X1,Y1,X2,Y2 | "
                     "--ellipse X1,Y1,X2,Y2 | --angle AX,AY,BX,BY,CX,CY | "
                     "--cobb X1,Y1,X2,Y2,X3,Y3,X4,Y4) [--json]\n");
        return 2;
    }
    const auto [file, status] = files.Open(options.path);
    if (status != ReadStatus::Ok) {
        std::fprintf(stderr, "vexel: %s: %s\n", options.path.c_str(), ReadStatusText(status));
        return 1;
    }
    CDicomImage* image = CDicomImage::Of(*file);
    CDicomFrame* frame = image == nullptr ? nullptr : image->Frame(size_t(options.frame));
    if (frame == nullptr) {
        std::fprintf(stderr, "vexel: %s: no frame %ld\n", options.path.c_str(), options.frame);
        return 1;
    }
    const Calibration calibration = CalibrationOf(*image);
    const std::vector<ImagePoint>& p = options.points;
    const TextLookup texts;
    const std::string source = JsonQuoted(CalibrationSourceText(calibration.source));
    const std::string lengthUnit = JsonQuoted(calibration.Valid() ? "mm" : "px");
    std::string label;
    std::vector<std::pair<std::string, std::string>> fields;
    if (std::strcmp(options.kind->option, "--length") == 0) {
        const double length = LengthOf(p[0], p[1], calibration);
        label = LengthLabel(length, calibration, texts);
        fields = {{"value", Number(length)}, {"unit", lengthUnit}, {"source", source}};
    } else if (std::strcmp(options.kind->option, "--ellipse") == 0) {
        const EllipseStatistics stats = frame->Ellipse(p[0].x, p[0].y, p[1].x, p[1].y);
        const SuvInfo suv = ComputeSuv(image->File());
        const ValueUnits units = ValueUnitsOf(suv, texts);
        label = EllipseLabel(stats, calibration, frame->IsColour(), frame->InMemory(), texts,
                             units);
        const bool area = calibration.Valid();
        const double areaMm2 = AreaSquareMm(stats.areaPixels, calibration);
        fields = {{"value", Number(area ? areaMm2 : stats.areaPixels)},
                  {"unit", JsonQuoted(area ? "mm2" : "px2")},
                  {"source", source},
                  {"pixels", std::to_string(stats.pixelCount)}};
        if (!frame->IsColour()) {
            fields.insert(fields.end(), {{"min", Number(stats.minimum)},
                                         {"max", Number(stats.maximum)},
                                         {"mean", Number(stats.mean)},
                                         {"stddev", Number(stats.stddev)}});
            // PET: the same statistics as SUV, when the image allows it.
            if (suv.state == SuvState::Suv)
                fields.insert(fields.end(),
                              {{"suvUnit", JsonQuoted(SuvUnitText(suv))},
                               {"suvMin", Number(stats.minimum * units.factor)},
                               {"suvMax", Number(stats.maximum * units.factor)},
                               {"suvMean", Number(stats.mean * units.factor)}});
        }
        fields.push_back({"areaPixels", Number(stats.areaPixels)});
        if (area) fields.push_back({"areaMm2", Number(areaMm2)});
    } else {
        std::optional<double> degrees;
        if (std::strcmp(options.kind->option, "--angle") == 0) {
            degrees = AngleAt(p[0], p[1], p[2], calibration);
        } else if (auto cobb = CobbAngleOf(p[0], p[1], p[2], p[3], calibration)) {
            degrees = cobb->degrees;
        }
        label = AngleLabel(degrees, texts);
        fields = {{"value", degrees ? Number(*degrees) : "null"},
                  {"unit", JsonQuoted("deg")},
                  {"source", source}};
    }
    if (options.json) {
        PrintJson(fields);
    } else {
        std::printf("%s\n", label.c_str());
    }
    return 0;
}

}  // namespace vexel::cli
