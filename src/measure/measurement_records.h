// The record stream that keeps an image's measurements in the series state store: a u32
// count, then records back to back, each starting with its u32 byte size and u32 kind,
// little endian. Length and ellipse (36 bytes): two points, the label-moved flag (u32) and
// the label position. Angle (44): three points, flag, label. Cobb angle (52): four points,
// flag, label. Pencil (12 + 24 n): the point count n, then per point f32 x, y in image
// coordinates and f64 x, y on screen when saved (ignored when read).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "measure/measure_geometry.h"
#include "viewer/measurement_host.h"

namespace vexel {

struct MeasurementRecord {
    MeasurementKind kind = MeasurementKind::Length;
    std::vector<ImagePoint> points;
    bool labelMoved = false;
    ImagePoint label;
    // Pencil only: the screen position of each point when saved (may be left empty).
    std::vector<double> screenXY;
    friend bool operator==(const MeasurementRecord&, const MeasurementRecord&) = default;
};

// How many points a kind stores; 0 for a pencil (any positive count).
size_t PointCountOf(MeasurementKind kind);

// False (and nothing appended) for a record whose point count does not fit its kind.
bool AppendRecord(std::string& stream, const MeasurementRecord& record);
// The whole stream: the count, then the records.
std::string WriteRecords(const std::vector<MeasurementRecord>& records);

// Reads up to the stream's count of records. A record must hold 8 <= size <= the bytes left,
// the fixed size of its kind, or 12 + 24 n for a pencil; reading stops at the first record
// that does not. Unknown kinds are skipped by their size; an empty pencil creates nothing.
std::vector<MeasurementRecord> ReadRecords(std::span<const uint8_t> stream);

}  // namespace vexel
