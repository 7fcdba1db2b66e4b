#include "lossless_scan.h"

#include "jpeg_bit_reader.h"
#include "jpeg_frame_header.h"
#include "vexel_codec.h"

namespace vexel {

namespace {

// H.1.2.1, Table H.1; arithmetic as the IJG lossless decoder does it (int, shifts of
// signed values), every result taken modulo 2^16.
template <int kPredictor>
inline int Predict(int ra, int rb, int rc) {
    if constexpr (kPredictor == 1) return ra;
    if constexpr (kPredictor == 2) return rb;
    if constexpr (kPredictor == 3) return rc;
    if constexpr (kPredictor == 4) return ra + rb - rc;
    if constexpr (kPredictor == 5) return ra + ((rb - rc) >> 1);
    if constexpr (kPredictor == 6) return rb + ((ra - rc) >> 1);
    if constexpr (kPredictor == 7) return (ra + rb) >> 1;
    return 0;
}

inline int NextDifference(CJpegBitReader& reader, const CHuffmanTable& table) {
    reader.Fill();
    return table.DecodeDifference(reader);
}

// The first row of a scan or of a restart interval: the initial prediction, then Ra.
void FirstRow(CJpegBitReader& reader, const LosslessScan& scan, uint32_t row) {
    const size_t offset = static_cast<size_t>(row) * scan.columns;
    int ra[4];
    for (int c = 0; c < scan.componentCount; ++c) {
        ra[c] = (scan.initialPrediction + NextDifference(reader, *scan.tables[c])) & 0xFFFF;
        scan.planes[c][offset] = static_cast<uint16_t>(ra[c]);
    }
    for (uint32_t x = 1; x < scan.columns; ++x) {
        for (int c = 0; c < scan.componentCount; ++c) {
            ra[c] = (ra[c] + NextDifference(reader, *scan.tables[c])) & 0xFFFF;
            scan.planes[c][offset + x] = static_cast<uint16_t>(ra[c]);
        }
    }
}

template <int kPredictor>
void SingleRow(CJpegBitReader& reader, const CHuffmanTable& table, uint16_t* cur,
               const uint16_t* prev, uint32_t columns) {
    int rb = prev[0];
    int ra = (rb + NextDifference(reader, table)) & 0xFFFF;
    cur[0] = static_cast<uint16_t>(ra);
    for (uint32_t x = 1; x < columns; ++x) {
        const int rc = rb;
        rb = prev[x];
        ra = (Predict<kPredictor>(ra, rb, rc) + NextDifference(reader, table)) & 0xFFFF;
        cur[x] = static_cast<uint16_t>(ra);
    }
}

template <int kPredictor>
void InterleavedRow(CJpegBitReader& reader, const LosslessScan& scan, uint32_t row) {
    const size_t offset = static_cast<size_t>(row) * scan.columns;
    const int n = scan.componentCount;
    int ra[4];
    int rb[4];
    for (int c = 0; c < n; ++c) {
        rb[c] = scan.planes[c][offset - scan.columns];
        ra[c] = (rb[c] + NextDifference(reader, *scan.tables[c])) & 0xFFFF;
        scan.planes[c][offset] = static_cast<uint16_t>(ra[c]);
    }
    for (uint32_t x = 1; x < scan.columns; ++x) {
        for (int c = 0; c < n; ++c) {
            const int rc = rb[c];
            rb[c] = scan.planes[c][offset - scan.columns + x];
            const int prediction = Predict<kPredictor>(ra[c], rb[c], rc);
            ra[c] = (prediction + NextDifference(reader, *scan.tables[c])) & 0xFFFF;
            scan.planes[c][offset + x] = static_cast<uint16_t>(ra[c]);
        }
    }
}

template <int kPredictor>
void Row(CJpegBitReader& reader, const LosslessScan& scan, uint32_t row) {
    if (scan.componentCount == 1) {
        uint16_t* cur = scan.planes[0] + static_cast<size_t>(row) * scan.columns;
        SingleRow<kPredictor>(reader, *scan.tables[0], cur, cur - scan.columns, scan.columns);
    } else {
        InterleavedRow<kPredictor>(reader, scan, row);
    }
}

using RowFunction = void (*)(CJpegBitReader&, const LosslessScan&, uint32_t);
constexpr RowFunction kRows[8] = {nullptr, Row<1>, Row<2>, Row<3>, Row<4>, Row<5>, Row<6>, Row<7>};

}  // namespace

int32_t DecodeLosslessScan(const uint8_t* data, size_t size, size_t* position,
                           const LosslessScan& scan) {
    if (scan.predictor < 1 || scan.predictor > 7) return VEXEL_CODEC_CORRUPT;
    if (scan.rows == 0 || scan.columns == 0) return VEXEL_CODEC_CORRUPT;
    uint32_t rowsPerInterval = scan.rows;
    if (scan.restartInterval != 0) {
        // Lossless restart intervals are counted in MCUs; we handle whole rows only.
        if (scan.restartInterval % scan.columns != 0) return VEXEL_CODEC_UNSUPPORTED;
        rowsPerInterval = scan.restartInterval / scan.columns;
    }
    const RowFunction row = kRows[scan.predictor];
    CJpegBitReader reader(data, size, *position);
    int expectedRestart = 0;
    for (uint32_t y = 0; y < scan.rows; ++y) {
        const bool startsInterval = y % rowsPerInterval == 0;
        if (startsInterval && y != 0) {
            size_t pos = reader.Position();
            if (NextJpegMarker(data, size, &pos) != 0xD0 + expectedRestart) {
                return VEXEL_CODEC_CORRUPT;
            }
            expectedRestart = (expectedRestart + 1) & 7;
            reader.SetPosition(pos);
        }
        if (startsInterval) {
            FirstRow(reader, scan, y);
        } else {
            row(reader, scan, y);
        }
        if (reader.Failed()) return VEXEL_CODEC_CORRUPT;
    }
    *position = reader.Position();
    return VEXEL_CODEC_OK;
}

}  // namespace vexel
