// A packed DIB shrunk by averaging: each new pixel is the mean of the source
// area it covers, the pixels cut by its edges weighted by the part inside,
// as a system's filtered stretch gives it. Done here because that stretch
// can cost more than decoding the picture did (under Wine, 300-480 ms for a
// 960x540 video frame drawn at 800x450 in a 32-bit process).
#include "jpeg2000.h"
#include "byte_order.h"
#include "dib_layout.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Along one axis: the first source pixel each new pixel covers, and the
// weights of `taps` source pixels from there (summing to 1).
struct AxisWeights {
    uint32_t taps;
    uint32_t* first;
    float* weights;
};

void FreeAxis(AxisWeights* axis)
{
    free(axis->first);
    free(axis->weights);
}

int BuildAxis(AxisWeights* axis, uint32_t source, uint32_t target)
{
    memset(axis, 0, sizeof(*axis));
    // An area of source / target pixels touches at most one more than its
    // length rounded up.
    axis->taps = (source + target - 1) / target + 1;
    uint64_t count = (uint64_t)target * axis->taps;
    if (count > (uint64_t)SIZE_MAX / sizeof(float)) {
        return 0;
    }
    axis->first = (uint32_t*)malloc((size_t)target * sizeof(uint32_t));
    axis->weights = (float*)calloc((size_t)count, sizeof(float));
    if (axis->first == NULL || axis->weights == NULL) {
        return 0;
    }
    double scale = (double)source / target;
    for (uint32_t i = 0; i < target; ++i) {
        double low = i * scale, high = (i + 1) * scale;
        uint32_t first = (uint32_t)low;
        axis->first[i] = first;
        for (uint32_t t = 0; t < axis->taps && first + t < source && first + t < high; ++t) {
            double left = low > first + t ? low : first + t;
            double right = high < first + t + 1.0 ? high : first + t + 1.0;
            axis->weights[(uint64_t)i * axis->taps + t] = (float)((right - left) / scale);
        }
    }
    return 1;
}

struct SourceDib {
    uint32_t width, height, stride, pixelBytes;
    const uint8_t* palette; // 8-bit pictures: blue, green, red of each index
    const uint8_t* bits;
};

int ReadSource(SourceDib* source, const uint8_t* dib)
{
    int32_t width = (int32_t)ReadLittle32(dib + 4);
    int32_t height = (int32_t)ReadLittle32(dib + 8);
    uint32_t bitCount = ReadLittle16(dib + 14);
    DibLayout layout;
    if (ReadLittle32(dib) != 40 || ReadLittle32(dib + 16) != 0 || width <= 0 || height == 0 ||
        height == INT32_MIN || (bitCount != 8 && bitCount != 24 && bitCount != 32) ||
        !ComputeDibLayout((uint32_t)width, (uint32_t)(height < 0 ? -height : height), bitCount, &layout)) {
        return 0;
    }
    source->width = (uint32_t)width;
    source->height = (uint32_t)(height < 0 ? -height : height);
    source->stride = layout.stride;
    source->pixelBytes = bitCount / 8;
    source->palette = bitCount == 8 ? dib + 40 : NULL;
    source->bits = PackedDibBits(dib);
    return 1;
}

// One source row averaged across into out (blue, green, red per new pixel).
void ShrinkRow(float* out, const SourceDib* source, uint32_t row, const AxisWeights* across, uint32_t width)
{
    const uint8_t* line = source->bits + (uint64_t)row * source->stride;
    for (uint32_t i = 0; i < width; ++i) {
        float blue = 0, green = 0, red = 0;
        const float* weights = across->weights + (uint64_t)i * across->taps;
        for (uint32_t t = 0; t < across->taps && weights[t] > 0; ++t) {
            uint32_t x = across->first[i] + t;
            const uint8_t* pixel = source->palette ? source->palette + 4 * line[x] : line + x * source->pixelBytes;
            blue += weights[t] * pixel[0];
            green += weights[t] * pixel[1];
            red += weights[t] * pixel[2];
        }
        out[3 * i] = blue;
        out[3 * i + 1] = green;
        out[3 * i + 2] = red;
    }
}

} // namespace

int ShrinkPackedDib(uint8_t** dibOut, const uint8_t* dib, uint32_t width, uint32_t height)
{
    *dibOut = NULL;
    SourceDib source;
    DibLayout layout;
    if (dib == NULL || !ReadSource(&source, dib) || width == 0 || height == 0 || width > source.width ||
        height > source.height || !ComputeDibLayout(width, height, 24, &layout)) {
        return 0;
    }
    AxisWeights across, down;
    int built = BuildAxis(&across, source.width, width) & BuildAxis(&down, source.height, height);
    uint64_t rowFloats = (uint64_t)width * 3;
    float* rows = built && rowFloats * 2 <= (uint64_t)SIZE_MAX / sizeof(float)
                      ? (float*)malloc((size_t)(rowFloats * 2) * sizeof(float))
                      : NULL;
    uint8_t* shrunk = rows ? AllocateBitmapBlock(layout.blockSize) : NULL;
    if (shrunk != NULL) {
        memset(shrunk, 0, 40);
        WriteLittle32(shrunk + 0, 40);
        WriteLittle32(shrunk + 4, width);
        // The source's row order is kept: the areas are the same either way.
        WriteLittle32(shrunk + 8, (int32_t)ReadLittle32(dib + 8) < 0 ? (uint32_t)-(int64_t)height : height);
        WriteLittle16(shrunk + 12, 1);
        WriteLittle16(shrunk + 14, 24);
        WriteLittle32(shrunk + 20, layout.imageSize);
        float* sum = rows;
        float* acrossRow = rows + rowFloats;
        for (uint32_t y = 0; y < height; ++y) {
            memset(sum, 0, (size_t)rowFloats * sizeof(float));
            const float* weights = down.weights + (uint64_t)y * down.taps;
            for (uint32_t t = 0; t < down.taps && weights[t] > 0; ++t) {
                ShrinkRow(acrossRow, &source, down.first[y] + t, &across, width);
                for (uint64_t k = 0; k < rowFloats; ++k) {
                    sum[k] += weights[t] * acrossRow[k];
                }
            }
            uint8_t* out = shrunk + 40 + (uint64_t)y * layout.stride;
            for (uint64_t k = 0; k < rowFloats; ++k) {
                float value = sum[k] + 0.5f;
                out[k] = value >= 255.0f ? 255 : (uint8_t)value;
            }
            memset(out + rowFloats, 0, layout.stride - (uint32_t)rowFloats);
        }
    }
    free(rows);
    FreeAxis(&across);
    FreeAxis(&down);
    *dibOut = shrunk;
    return shrunk != NULL;
}
