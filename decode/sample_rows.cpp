// Converts OpenJPEG's 32-bit component samples into bottom-up DIB rows.
#include "sample_rows.h"

namespace {

inline uint8_t SampleByte(int32_t value, uint32_t mask, uint32_t shift)
{
    return (uint8_t)(((uint32_t)value & mask) >> shift);
}

// How many of the row's pixels starting at sample k0 the source still covers.
uint32_t AvailableInRow(const SampleSource* source, uint64_t k0, uint32_t width)
{
    if (source->samples == 0 || k0 >= source->count) {
        return 0;
    }
    uint64_t left = source->count - k0;
    return left < width ? (uint32_t)left : width;
}

// One channel of a 24-bit row (every third byte), zero past the source's end.
void WriteChannel(uint8_t* row, const SampleSource* source, uint64_t k0, uint32_t width)
{
    uint32_t available = AvailableInRow(source, k0, width);
    const int32_t* in = available != 0 ? source->samples + k0 : 0;
    uint32_t mask = source->mask;
    uint32_t shift = source->shift;
    uint32_t x = 0;
    for (; x < available; ++x) {
        row[3 * x] = SampleByte(in[x], mask, shift);
    }
    for (; x < width; ++x) {
        row[3 * x] = 0;
    }
}

} // namespace

void WriteGreyRows(const RowTarget* target, const SampleSource* source, const uint8_t greyTable[256])
{
    uint32_t width = target->width;
    uint32_t mask = source->mask;
    uint32_t shift = source->shift;
    uint8_t* row = target->lastRow;
    for (uint32_t y = 0; y < target->height; ++y, row -= target->stride) {
        uint64_t k0 = (uint64_t)y * width;
        uint32_t available = AvailableInRow(source, k0, width);
        const int32_t* in = available != 0 ? source->samples + k0 : 0;
        uint32_t x = 0;
        for (; x < available; ++x) {
            row[x] = greyTable[SampleByte(in[x], mask, shift)];
        }
        for (; x < width; ++x) {
            row[x] = greyTable[0];
        }
    }
}

void WriteColourRows(const RowTarget* target, const SampleSource bgr[3])
{
    uint32_t width = target->width;
    uint8_t* row = target->lastRow;
    for (uint32_t y = 0; y < target->height; ++y, row -= target->stride) {
        uint64_t k0 = (uint64_t)y * width;
        if (AvailableInRow(&bgr[0], k0, width) == width && AvailableInRow(&bgr[1], k0, width) == width &&
            AvailableInRow(&bgr[2], k0, width) == width) {
            // Common case: every channel has the whole row; one pass.
            const int32_t* b = bgr[0].samples + k0;
            const int32_t* g = bgr[1].samples + k0;
            const int32_t* r = bgr[2].samples + k0;
            uint32_t bm = bgr[0].mask, gm = bgr[1].mask, rm = bgr[2].mask;
            uint32_t bs = bgr[0].shift, gs = bgr[1].shift, rs = bgr[2].shift;
            uint8_t* out = row;
            for (uint32_t x = 0; x < width; ++x, out += 3) {
                out[0] = SampleByte(b[x], bm, bs);
                out[1] = SampleByte(g[x], gm, gs);
                out[2] = SampleByte(r[x], rm, rs);
            }
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            WriteChannel(row + c, &bgr[c], k0, width);
        }
    }
}
