#include "lossless_jpeg_decoder.h"

#include "vexel_codec.h"

namespace vexel {

namespace {

uint32_t Read16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] << 8 | p[1]);
}

}  // namespace

CLosslessJpegDecoder::CLosslessJpegDecoder() = default;
CLosslessJpegDecoder::~CLosslessJpegDecoder() = default;

int32_t CLosslessJpegDecoder::ReadHuffmanTables(const uint8_t* p, size_t length) {
    while (length > 0) {
        if (length < 17) return VEXEL_CODEC_CORRUPT;
        const int tableClass = p[0] >> 4;
        const int slot = p[0] & 15;
        int count = 0;
        for (int i = 1; i <= 16; ++i)
            count += p[i];
        if (slot > 3 || tableClass > 1 || length < 17 + static_cast<size_t>(count)) {
            return VEXEL_CODEC_CORRUPT;
        }
        // Lossless scans use the DC (class 0) tables only; AC tables are skipped.
        if (tableClass == 0) {
            if (!m_tables[slot]) m_tables[slot] = std::make_unique<CHuffmanTable>();
            if (!m_tables[slot]->Build(p + 1, p + 17, count)) {
                m_tables[slot].reset();
                return VEXEL_CODEC_CORRUPT;
            }
        }
        p += 17 + count;
        length -= 17 + static_cast<size_t>(count);
    }
    return VEXEL_CODEC_OK;
}

int32_t CLosslessJpegDecoder::ReadFrame(const uint8_t* p, size_t length, uint8_t marker) {
    if (m_frame.sofMarker != 0) return VEXEL_CODEC_CORRUPT;  // a second frame header
    if (length < 6) return VEXEL_CODEC_CORRUPT;
    m_frame.sofMarker = marker;
    m_frame.precision = p[0];
    m_frame.rows = Read16(p + 1);
    m_frame.columns = Read16(p + 3);
    m_frame.components = p[5];
    if (marker != 0xC3) return VEXEL_CODEC_UNSUPPORTED;
    const uint32_t n = m_frame.components;
    if (n == 0 || length != 6 + 3 * static_cast<size_t>(n) || m_frame.columns == 0 ||
        m_frame.precision < 2 || m_frame.precision > 16) {
        return VEXEL_CODEC_CORRUPT;
    }
    // Rows defined later by a DNL marker, and more than four components, are not used by
    // DICOM encoders.
    if (m_frame.rows == 0 || n > 4) return VEXEL_CODEC_UNSUPPORTED;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* c = p + 6 + 3 * i;
        m_components[i].id = c[0];
        for (uint32_t j = 0; j < i; ++j) {
            if (m_components[j].id == c[0]) return VEXEL_CODEC_CORRUPT;
        }
        // Subsampled components change the sample grid: only equal factors are handled.
        if (c[1] != p[6 + 1] || (c[1] >> 4) == 0 || (c[1] & 15) == 0) {
            return (c[1] >> 4) == 0 || (c[1] & 15) == 0 ? VEXEL_CODEC_CORRUPT
                                                        : VEXEL_CODEC_UNSUPPORTED;
        }
    }
    return VEXEL_CODEC_OK;
}

int32_t CLosslessJpegDecoder::ReadScanHeader(const uint8_t* p, size_t length, LosslessScan* scan,
                                             int* pointTransform, int* indices) {
    if (length < 1) return VEXEL_CODEC_CORRUPT;
    const int n = p[0];
    if (n < 1 || n > 4 || length != 4 + 2 * static_cast<size_t>(n)) return VEXEL_CODEC_CORRUPT;
    for (int i = 0; i < n; ++i) {
        const uint8_t id = p[1 + 2 * i];
        const int table = p[2 + 2 * i] >> 4;
        int index = -1;
        for (uint32_t k = 0; k < m_frame.components; ++k) {
            if (m_components[k].id == id) index = static_cast<int>(k);
        }
        if (index < 0 || m_components[index].decoded || table > 3 || !m_tables[table]) {
            return VEXEL_CODEC_CORRUPT;
        }
        for (int j = 0; j < i; ++j) {
            if (indices[j] == index) return VEXEL_CODEC_CORRUPT;
        }
        indices[i] = index;
        scan->tables[i] = m_tables[table].get();
    }
    const uint8_t* tail = p + 1 + 2 * n;
    scan->predictor = tail[0];
    *pointTransform = tail[2] & 15;
    // Se is not checked: it has no meaning here and some encoders leave it non-zero.
    if (scan->predictor < 1 || scan->predictor > 7 || (tail[2] >> 4) != 0) {
        return VEXEL_CODEC_CORRUPT;
    }
    if (static_cast<uint32_t>(*pointTransform) >= m_frame.precision) return VEXEL_CODEC_CORRUPT;
    scan->componentCount = n;
    scan->rows = m_frame.rows;
    scan->columns = m_frame.columns;
    scan->restartInterval = m_restartInterval;
    scan->initialPrediction = 1 << (m_frame.precision - static_cast<uint32_t>(*pointTransform) - 1);
    return VEXEL_CODEC_OK;
}

void CLosslessJpegDecoder::ApplyPointTransform(uint16_t* plane, int pointTransform) const {
    const uint32_t mask = m_frame.precision <= 8 ? 0xFFu : 0xFFFFu;
    if (pointTransform == 0 && mask == 0xFFFF) return;
    const size_t count = static_cast<size_t>(m_frame.rows) * m_frame.columns;
    for (size_t i = 0; i < count; ++i) {
        plane[i] =
            static_cast<uint16_t>((static_cast<uint32_t>(plane[i]) << pointTransform) & mask);
    }
}

int32_t CLosslessJpegDecoder::DecodeScan(const uint8_t* data, size_t size, size_t* position,
                                         size_t length) {
    if (m_frame.sofMarker == 0) return VEXEL_CODEC_CORRUPT;
    LosslessScan scan;
    int pointTransform = 0;
    int indices[4] = {};
    int32_t status = ReadScanHeader(data + *position, length, &scan, &pointTransform, indices);
    if (status != VEXEL_CODEC_OK) return status;
    const size_t planeSize = static_cast<size_t>(m_frame.rows) * m_frame.columns;
    for (int i = 0; i < scan.componentCount; ++i) {
        scan.planes[i] = m_samples + planeSize * static_cast<size_t>(indices[i]);
    }
    *position += length;
    status = DecodeLosslessScan(data, size, position, scan);
    if (status != VEXEL_CODEC_OK) return status;
    for (int i = 0; i < scan.componentCount; ++i) {
        m_components[indices[i]].decoded = true;
        ApplyPointTransform(scan.planes[i], pointTransform);
    }
    return VEXEL_CODEC_OK;
}

int32_t CLosslessJpegDecoder::Decode(const uint8_t* data, size_t size, uint16_t* samples,
                                     size_t sampleCount) {
    if (data == nullptr || size < 2 || data[0] != 0xFF || data[1] != 0xD8) {
        return VEXEL_CODEC_CORRUPT;
    }
    m_samples = samples;
    size_t pos = 2;
    for (;;) {
        const uint8_t marker = NextJpegMarker(data, size, &pos);
        if (marker == 0 || marker == 0xD9) break;  // end of data or EOI
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD8) return VEXEL_CODEC_CORRUPT;
        if (size - pos < 2) return VEXEL_CODEC_CORRUPT;
        const size_t length = Read16(data + pos);
        if (length < 2 || size - pos < length) return VEXEL_CODEC_CORRUPT;
        const uint8_t* segment = data + pos + 2;
        pos += 2;
        int32_t status = VEXEL_CODEC_OK;
        if (marker == 0xC4) {
            status = ReadHuffmanTables(segment, length - 2);
        } else if (marker == 0xDD) {
            status = length == 4 ? VEXEL_CODEC_OK : VEXEL_CODEC_CORRUPT;
            if (length == 4) m_restartInterval = Read16(segment);
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xCC) {
            status = ReadFrame(segment, length - 2, marker);
            if (status == VEXEL_CODEC_OK &&
                static_cast<size_t>(m_frame.rows) * m_frame.columns * m_frame.components >
                    sampleCount) {
                status = VEXEL_CODEC_OUTPUT_TOO_SMALL;
            }
        } else if (marker == 0xDA) {
            status = DecodeScan(data, size, &pos, length - 2);
            if (status != VEXEL_CODEC_OK) return status;
            continue;  // pos is past the scan's data
        } else if (marker == 0xCC) {
            return VEXEL_CODEC_UNSUPPORTED;  // arithmetic coding
        }
        if (status != VEXEL_CODEC_OK) return status;
        pos += length - 2;
    }
    if (m_frame.sofMarker == 0) return VEXEL_CODEC_CORRUPT;
    for (uint32_t i = 0; i < m_frame.components; ++i) {
        if (!m_components[i].decoded) return VEXEL_CODEC_CORRUPT;  // data ended early
    }
    return VEXEL_CODEC_OK;
}

}  // namespace vexel
