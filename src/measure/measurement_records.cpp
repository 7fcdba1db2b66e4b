#include "measure/measurement_records.h"

#include <bit>
#include <cstring>

namespace vexel {
namespace {

template <class T>
void Put(std::string& out, T value) {
    static_assert(std::endian::native == std::endian::little);
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

template <class T>
T Get(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

constexpr size_t kHeader = 8;
constexpr size_t kPencilHeader = 12;
constexpr size_t kPencilPoint = 24;

// Fixed record sizes: header, points, flag, label.
size_t FixedSize(MeasurementKind kind) {
    return kHeader + PointCountOf(kind) * 8 + 4 + 8;
}

bool Known(uint32_t kind) {
    return kind >= uint32_t(MeasurementKind::Length) && kind <= uint32_t(MeasurementKind::Cobb);
}

}  // namespace

size_t PointCountOf(MeasurementKind kind) {
    switch (kind) {
        case MeasurementKind::Length:
        case MeasurementKind::Ellipse:
            return 2;
        case MeasurementKind::Angle:
            return 3;
        case MeasurementKind::Cobb:
            return 4;
        default:
            return 0;
    }
}

bool AppendRecord(std::string& stream, const MeasurementRecord& record) {
    const size_t points = record.points.size();
    if (record.kind == MeasurementKind::Pencil) {
        if (points == 0 || points > (UINT32_MAX - kPencilHeader) / kPencilPoint) return false;
        Put<uint32_t>(stream, uint32_t(kPencilHeader + kPencilPoint * points));
        Put<uint32_t>(stream, uint32_t(record.kind));
        Put<uint32_t>(stream, uint32_t(points));
        for (size_t i = 0; i < points; ++i) {
            Put<float>(stream, record.points[i].x);
            Put<float>(stream, record.points[i].y);
            const bool screen = record.screenXY.size() == 2 * points;
            Put<double>(stream, screen ? record.screenXY[2 * i] : 0.0);
            Put<double>(stream, screen ? record.screenXY[2 * i + 1] : 0.0);
        }
        return true;
    }
    if (!Known(uint32_t(record.kind)) || points != PointCountOf(record.kind)) return false;
    Put<uint32_t>(stream, uint32_t(FixedSize(record.kind)));
    Put<uint32_t>(stream, uint32_t(record.kind));
    for (const ImagePoint& p : record.points) {
        Put<float>(stream, p.x);
        Put<float>(stream, p.y);
    }
    Put<uint32_t>(stream, record.labelMoved ? 1 : 0);
    Put<float>(stream, record.label.x);
    Put<float>(stream, record.label.y);
    return true;
}

std::string WriteRecords(const std::vector<MeasurementRecord>& records) {
    std::string body;
    uint32_t count = 0;
    for (const MeasurementRecord& record : records) count += AppendRecord(body, record) ? 1 : 0;
    std::string stream;
    Put<uint32_t>(stream, count);
    return stream + body;
}

std::vector<MeasurementRecord> ReadRecords(std::span<const uint8_t> stream) {
    std::vector<MeasurementRecord> records;
    if (stream.size() < 4) return records;
    const uint32_t count = Get<uint32_t>(stream.data());
    size_t at = 4;
    for (uint32_t n = 0; n < count; ++n) {
        const size_t left = stream.size() - at;
        if (left < kHeader) break;
        const uint8_t* record = stream.data() + at;
        const uint32_t size = Get<uint32_t>(record);
        const uint32_t kind = Get<uint32_t>(record + 4);
        if (size < kHeader || size > left) break;
        at += size;
        if (!Known(kind)) continue;
        MeasurementRecord read;
        read.kind = MeasurementKind(kind);
        if (read.kind == MeasurementKind::Pencil) {
            if (size < kPencilHeader) break;
            const uint32_t points = Get<uint32_t>(record + 8);
            if ((size - kPencilHeader) % kPencilPoint != 0 ||
                (size - kPencilHeader) / kPencilPoint != points) {
                break;
            }
            if (points == 0) continue;
            read.points.reserve(points);  // bounded by the record's size, checked above
            read.screenXY.reserve(size_t(points) * 2);
            for (uint32_t i = 0; i < points; ++i) {
                const uint8_t* point = record + kPencilHeader + size_t(i) * kPencilPoint;
                read.points.push_back({Get<float>(point), Get<float>(point + 4)});
                read.screenXY.push_back(Get<double>(point + 8));
                read.screenXY.push_back(Get<double>(point + 16));
            }
        } else {
            if (size != FixedSize(read.kind)) break;
            const size_t points = PointCountOf(read.kind);
            for (size_t i = 0; i < points; ++i)
                read.points.push_back({Get<float>(record + 8 + 8 * i), Get<float>(record + 12 + 8 * i)});
            const uint8_t* tail = record + kHeader + 8 * points;
            read.labelMoved = Get<uint32_t>(tail) != 0;
            read.label = {Get<float>(tail + 4), Get<float>(tail + 8)};
        }
        records.push_back(std::move(read));
    }
    return records;
}

}  // namespace vexel
