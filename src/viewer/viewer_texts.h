// The texts the viewer draws, by id. Higher layers install the language look-up through
// ViewportServices; without one the built-in English is used.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vexel {

using TextLookup = std::function<std::string(uint32_t id)>;

// The English text of one of the viewer's own ids (9001-9027) or of the measurement labels
// (6001-6012), empty for any other.
const char* BuiltInViewerText(uint32_t id);

namespace textid {
inline constexpr uint32_t kImageNumber = 9001;  // "Im: %d/%d"
inline constexpr uint32_t kFrameRate = 9002;    // "%d fps"
inline constexpr uint32_t kSeries = 9003;       // "Se: "
inline constexpr uint32_t kMrLine = 9004;       // "TR: %.1f TE: %.1f"
inline constexpr uint32_t kFieldStrength = 9005;
inline constexpr uint32_t kThickness = 9006;  // "T: %.1fmm"
inline constexpr uint32_t kLocation = 9007;   // "L: %.1fmm"
inline constexpr uint32_t kWindowPreset = 9008;
inline constexpr uint32_t kWindow = 9009;
inline constexpr uint32_t kPosition = 9010;  // "X: %d Y: %d"
inline constexpr uint32_t kValue = 9011;     // "Val: "
inline constexpr uint32_t kLetterL = 9012;   // L R S I A P follow in this order
inline constexpr uint32_t kAge = 9018;  // "%dy"
inline constexpr uint32_t kNegative = 9019;
inline constexpr uint32_t kRotation = 9020;  // "R: "
inline constexpr uint32_t kRotate90 = 9021;
inline constexpr uint32_t kRotate270 = 9022;
inline constexpr uint32_t kRotate180 = 9023;
inline constexpr uint32_t kFlip = 9024;  // "F: "
inline constexpr uint32_t kFlipH = 9025;
inline constexpr uint32_t kFlipV = 9026;
inline constexpr uint32_t kDegrees = 9027;  // "%.01f°"
inline constexpr uint32_t kPixels = 6001;   // "px"; mm, Area, cm², px², Mean, Min, Max follow
inline constexpr uint32_t kMillimetres = 6002;
inline constexpr uint32_t kArea = 6003;
inline constexpr uint32_t kSquareCm = 6004;
inline constexpr uint32_t kSquarePixels = 6005;
inline constexpr uint32_t kMean = 6006;
inline constexpr uint32_t kMin = 6007;
inline constexpr uint32_t kMax = 6008;
inline constexpr uint32_t kSuvBw = 6009;        // "SUVbw"
inline constexpr uint32_t kGramsPerMl = 6010;   // "g/ml"
inline constexpr uint32_t kBqPerMl = 6011;      // "Bq/ml"
inline constexpr uint32_t kInterpolatedWarning = 6012;
}  // namespace textid

}  // namespace vexel
