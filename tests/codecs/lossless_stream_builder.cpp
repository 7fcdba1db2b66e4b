#include "lossless_stream_builder.h"

#include <cstdlib>

namespace vexel::test {

namespace {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            m_byte = static_cast<uint8_t>(m_byte << 1 | ((bits >> i) & 1));
            if (++m_bits == 8) Flush();
        }
    }
    // Pads the last byte with one bits (F.1.2.3).
    void Align() {
        while (m_bits != 0)
            Put(1, 1);
    }

private:
    void Flush() {
        m_out.push_back(m_byte);
        if (m_byte == 0xFF) m_out.push_back(0x00);
        m_byte = 0;
        m_bits = 0;
    }
    std::vector<uint8_t>& m_out;
    uint8_t m_byte = 0;
    int m_bits = 0;
};

struct Code {
    uint32_t bits;
    int length;
};

// Categories 0..16. Short: every category 5 bits, code = category. Long: category 0 is
// "0", the others 16-bit codes "1000000000000000" + (category - 1).
std::vector<uint8_t> Counts(bool longCodes) {
    std::vector<uint8_t> counts(16, 0);
    if (longCodes) {
        counts[0] = 1;
        counts[15] = 16;
    } else {
        counts[4] = 17;
    }
    return counts;
}

Code CodeFor(int category, bool longCodes) {
    if (!longCodes) return {static_cast<uint32_t>(category), 5};
    if (category == 0) return {0, 1};
    return {0x8000u + static_cast<uint32_t>(category - 1), 16};
}

// The seven predictors of the lossless process (predictor 0 is not used here).
int Predict(int predictor, int ra, int rb, int rc) {
    const int predictions[] = {0, ra, rb, rc, ra + rb - rc, ra + ((rb - rc) >> 1),
                               rb + ((ra - rc) >> 1), (ra + rb) >> 1};
    return predictions[predictor];
}

void PutDifference(BitWriter& writer, int difference, bool longCodes) {
    int d = difference & 0xFFFF;  // modulo 2^16, then into -32767 .. 32768
    if (d > 32768) d -= 65536;
    int category = 0;
    for (int magnitude = std::abs(d); magnitude != 0; magnitude >>= 1)
        ++category;
    const Code code = CodeFor(category, longCodes);
    writer.Put(code.bits, code.length);
    if (category == 0 || category == 16) return;  // 32768 has no extra bits (H.1.2.2)
    const int extra = d > 0 ? d : d - 1;
    writer.Put(static_cast<uint32_t>(extra) & ((1u << category) - 1), category);
}

void Marker(std::vector<uint8_t>& out, uint8_t code) {
    out.push_back(0xFF);
    out.push_back(code);
}

void Put16(std::vector<uint8_t>& out, int v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void EncodeScan(std::vector<uint8_t>& out, const std::vector<uint16_t>& samples, int rows,
                int columns, const std::vector<int>& components, const LosslessEncodeOptions& o) {
    const size_t plane = static_cast<size_t>(rows) * columns;
    const int pt = o.pointTransform;
    auto at = [&](int c, int y, int x) { return samples[plane * c + y * columns + x] >> pt; };
    BitWriter writer(out);
    int restartIndex = 0;
    for (int y = 0; y < rows; ++y) {
        const bool interval = o.restartRows > 0 && y % o.restartRows == 0;
        if (interval && y != 0) {
            writer.Align();
            Marker(out, static_cast<uint8_t>(0xD0 + (restartIndex++ & 7)));
        }
        const bool firstRow = y == 0 || interval;
        for (int x = 0; x < columns; ++x) {
            for (int c : components) {
                int prediction;
                if (firstRow) {
                    prediction = x == 0 ? 1 << (o.precision - pt - 1) : at(c, y, x - 1);
                } else if (x == 0) {
                    prediction = at(c, y - 1, x);
                } else {
                    prediction =
                        Predict(o.predictor, at(c, y, x - 1), at(c, y - 1, x), at(c, y - 1, x - 1));
                }
                PutDifference(writer, at(c, y, x) - prediction, o.longCodes);
            }
        }
    }
    writer.Align();
}

}  // namespace

std::vector<uint8_t> EncodeLosslessJpeg(const std::vector<uint16_t>& samples, int rows, int columns,
                                        int components, const LosslessEncodeOptions& o) {
    std::vector<uint8_t> out;
    Marker(out, 0xD8);
    Marker(out, 0xC4);  // one table for every component
    const std::vector<uint8_t> counts = Counts(o.longCodes);
    Put16(out, 2 + 17 + 17);
    out.push_back(0x00);
    out.insert(out.end(), counts.begin(), counts.end());
    for (int category = 0; category <= 16; ++category) {
        out.push_back(static_cast<uint8_t>(category));
    }
    if (o.restartRows > 0) {
        Marker(out, 0xDD);
        Put16(out, 4);
        Put16(out, o.restartRows * columns);
    }
    Marker(out, 0xC3);
    Put16(out, 8 + 3 * components);
    out.push_back(static_cast<uint8_t>(o.precision));
    Put16(out, rows);
    Put16(out, columns);
    out.push_back(static_cast<uint8_t>(components));
    for (int c = 0; c < components; ++c) {
        out.push_back(static_cast<uint8_t>(c + 1));
        out.push_back(0x11);
        out.push_back(0x00);
    }
    std::vector<std::vector<int>> scans(o.separateScans ? components : 1);
    for (int c = 0; c < components; ++c) scans[o.separateScans ? c : 0].push_back(c);
    for (const auto& scan : scans) {
        Marker(out, 0xDA);
        Put16(out, 6 + 2 * static_cast<int>(scan.size()));
        out.push_back(static_cast<uint8_t>(scan.size()));
        for (int c : scan) {
            out.push_back(static_cast<uint8_t>(c + 1));
            out.push_back(0x00);
        }
        out.push_back(static_cast<uint8_t>(o.predictor));
        out.push_back(0x00);
        out.push_back(static_cast<uint8_t>(o.pointTransform));
        EncodeScan(out, samples, rows, columns, scan, o);
    }
    Marker(out, 0xD9);
    return out;
}

}  // namespace vexel::test
