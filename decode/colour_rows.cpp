// Places, widens and converts components into sRGB bitmap rows, over white.
#include "colour_rows.h"
#include "colour_engine.h"
#include "jpeg2000.h"

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Pixels converted at a time: every buffer of a chunk stays on the stack
// and in the first-level cache.
const uint32_t kChunk = 256;
const uint32_t kMaxChannels = 5; // four colour components and opacity

// OpenJPEG's CIELab parameter block: enumeration, "DEF" marker (or 0 when
// the file gave its own values), then range and offset of L*, a*, b*, and
// the illuminant.
const uint32_t kLabDefaults = 0x44454600;
const uint32_t kLabWords = 9;

// Every sample is first widened to 16 bits whose high byte is its 8-bit
// value: the top 8 bits of deeper samples, the grey table's levels of
// shallower ones.
enum Widening {
    WidenLevels = 0, // precision below 8: levels[u] << 8
    WidenUp = 1,     // 8 to 16 bits: u << shift
    WidenDown = 2,   // deeper: u >> shift
};

struct ChannelReader {
    const int32_t* samples; // null: the component reads as 0
    uint32_t sampleWidth;
    uint32_t lastRow;
    const uint32_t* columnOf; // sample column of each picture column; null: the same column
    // Sample row of picture row y: (firstOrigin + y) * firstStep / step - origin.
    uint64_t firstOrigin, firstStep, step, origin;
    uint32_t offset; // 2^(p-1) for signed components, else 0
    uint32_t mask;
    int widening;
    uint32_t shift;
    uint8_t levels[256];
    uint32_t full; // the widened value of the largest sample
};

struct Conversion {
    int model;           // the plan's, or its fallback when LittleCMS refuses the colour data
    uint32_t colourCount;
    int opacityKind;
    uint32_t channelCount; // colour channels, then opacity
    ChannelReader channels[kMaxChannels];
    RowTarget target;
    uint8_t* opacityRows; // null: opacity composited over white; else kept here, rows top-down
    uint32_t bytesPerPixel;
    int separable;             // three-channel matrix-shaper profile: the tables below
    SeparableProfile profile;
    uint8_t encoding[kLinearOne + 1];
    ColourTransform transform; // other profiles and CIELab
    float labScale[3], labBias[3];
};

uint64_t ReducedOrigin(uint32_t origin, uint32_t factor)
{
    return factor >= 32 ? (origin != 0) : ((uint64_t)origin + ((1ull << factor) - 1)) >> factor;
}

uint32_t Widen(const ChannelReader* r, uint32_t u)
{
    switch (r->widening) {
    case WidenLevels:
        return (uint32_t)r->levels[u & 0xFF] << 8;
    case WidenUp:
        return u << r->shift;
    default:
        return u >> r->shift;
    }
}

void SetUpDepth(ChannelReader* r, const opj_image_comp_t* comp)
{
    uint32_t precision = comp->prec == 0 ? 1 : (comp->prec > 32 ? 32 : comp->prec);
    r->mask = precision >= 32 ? 0xFFFFFFFFu : (1u << precision) - 1u;
    r->offset = comp->sgnd ? 1u << (precision - 1) : 0;
    if (precision < 8) {
        // The grey table's scaling: an integer factor 255 / (2^p - 1).
        uint32_t factor = 255u / r->mask;
        for (uint32_t i = 0; i < 256; ++i) {
            r->levels[i] = (uint8_t)(i <= r->mask ? factor * i : 0);
        }
        r->widening = WidenLevels;
        r->shift = 0;
    } else if (precision <= 16) {
        r->widening = WidenUp;
        r->shift = 16 - precision;
    } else {
        r->widening = WidenDown;
        r->shift = precision - 16;
    }
    r->full = Widen(r, r->mask);
}

// Positions of the component's samples on component 0's grid; *tableOut
// gets a column table (to be freed) when the columns do not line up.
int SetUpPlacement(ChannelReader* r, const opj_image_comp_t* comp, const opj_image_comp_t* first, uint32_t width,
                   uint32_t** tableOut)
{
    *tableOut = NULL;
    r->samples = comp->w != 0 && comp->h != 0 ? comp->data : NULL;
    r->sampleWidth = comp->w;
    r->lastRow = comp->h == 0 ? 0 : comp->h - 1;
    r->firstOrigin = ReducedOrigin(first->y0, first->factor);
    r->firstStep = first->dy == 0 ? 1 : first->dy;
    r->origin = ReducedOrigin(comp->y0, comp->factor);
    r->step = comp->dy == 0 ? 1 : comp->dy;
    r->columnOf = NULL;
    uint64_t firstX = ReducedOrigin(first->x0, first->factor), stepX = comp->dx == 0 ? 1 : comp->dx;
    uint64_t firstStepX = first->dx == 0 ? 1 : first->dx, originX = ReducedOrigin(comp->x0, comp->factor);
    if (r->samples == NULL || (stepX == firstStepX && originX == firstX && comp->w >= width)) {
        return 1;
    }
    if ((uint64_t)width * sizeof(uint32_t) > SIZE_MAX) {
        return 0;
    }
    uint32_t* table = (uint32_t*)malloc((size_t)width * sizeof(uint32_t));
    if (table == NULL) {
        return 0;
    }
    for (uint32_t x = 0; x < width; ++x) {
        uint64_t at = (firstX + x) * firstStepX / stepX;
        table[x] = at <= originX ? 0 : (at - originX > comp->w - 1 ? comp->w - 1 : (uint32_t)(at - originX));
    }
    r->columnOf = table;
    *tableOut = table;
    return 1;
}

// n widened samples of picture row y from column x0 on.
void FillChannel(const ChannelReader* r, uint32_t y, uint32_t x0, uint32_t n, uint16_t* out)
{
    if (r->samples == NULL) {
        memset(out, 0, n * sizeof(uint16_t));
        return;
    }
    uint64_t at = (r->firstOrigin + y) * r->firstStep / r->step;
    uint64_t row = at <= r->origin ? 0 : (at - r->origin > r->lastRow ? r->lastRow : at - r->origin);
    const int32_t* in = r->samples + row * r->sampleWidth;
    uint32_t offset = r->offset, mask = r->mask, shift = r->shift;
    const uint32_t* columnOf = r->columnOf;
    // The widening is chosen once per chunk, not per sample.
    if (r->widening == WidenUp && columnOf == NULL) {
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = (uint16_t)((((uint32_t)in[x0 + i] + offset) & mask) << shift);
        }
    } else if (r->widening == WidenUp) {
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = (uint16_t)((((uint32_t)in[columnOf[x0 + i]] + offset) & mask) << shift);
        }
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t column = columnOf == NULL ? x0 + i : columnOf[x0 + i];
            out[i] = (uint16_t)Widen(r, ((uint32_t)in[column] + offset) & mask);
        }
    }
}

int32_t ClampToByte(int32_t v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// Red, green and blue planes of a chunk into blue, green, red pixels.
void StoreBgr(uint8_t* out, const uint8_t rgb[3][kChunk], uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i, out += 3) {
        out[0] = rgb[2][i];
        out[1] = rgb[1][i];
        out[2] = rgb[0][i];
    }
}

// sYCC and e-sYCC share the YCbCr of ITU-R BT.601 at full range; the
// coefficients are scaled by 2^14. Planes first, so the arithmetic runs on
// vectors.
void ConvertYcc(uint8_t* out, const uint16_t* const in[], uint32_t n)
{
    uint8_t rgb[3][kChunk];
    for (uint32_t i = 0; i < n; ++i) {
        int32_t y = (int32_t)in[0][i] + 128, cb = (int32_t)in[1][i] - 32768, cr = (int32_t)in[2][i] - 32768;
        rgb[0][i] = (uint8_t)ClampToByte((y + ((22970 * cr + 8192) >> 14)) >> 8);
        rgb[1][i] = (uint8_t)ClampToByte((y - ((5638 * cb + 11700 * cr + 8192) >> 14)) >> 8);
        rgb[2][i] = (uint8_t)ClampToByte((y + ((29032 * cb + 8192) >> 14)) >> 8);
    }
    StoreBgr(out, rgb, n);
}

// Without a profile, ink removes light: each of red, green and blue is
// what its ink and black let through.
void ConvertCmyk(uint8_t* out, const uint16_t* const in[], uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i, out += 3) {
        uint32_t k = 255 - (in[3][i] >> 8);
        for (int c = 0; c < 3; ++c) {
            out[2 - c] = (uint8_t)(((255 - (in[c][i] >> 8)) * k + 127) / 255);
        }
    }
}

// A matrix-shaper profile: linear light adds up over the channels.
void ConvertSeparable(const Conversion* conversion, uint8_t* out, const uint16_t* const in[], uint32_t n)
{
    const SeparableProfile* profile = &conversion->profile;
    for (uint32_t i = 0; i < n; ++i, out += 3) {
        const int32_t* r = profile->tables[0][in[0][i] >> 8];
        const int32_t* g = profile->tables[1][in[1][i] >> 8];
        const int32_t* b = profile->tables[2][in[2][i] >> 8];
        for (int k = 0; k < 3; ++k) {
            int32_t v = profile->black[k] + r[k] + g[k] + b[k];
            out[k] = conversion->encoding[v < 0 ? 0 : (v > kLinearOne ? kLinearOne : v)];
        }
    }
}

void ConvertLab(const Conversion* conversion, uint8_t* out, const uint16_t* const in[], uint32_t n)
{
    float lab[3 * kChunk];
    for (uint32_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) {
            lab[3 * i + c] = (float)in[c][i] * conversion->labScale[c] - conversion->labBias[c];
        }
    }
    RunColourTransform(conversion->transform, lab, out, n);
}

void ConvertProfile(const Conversion* conversion, uint8_t* out, const uint16_t* const in[], uint32_t n)
{
    uint8_t bytes[4 * kChunk];
    uint32_t channels = conversion->colourCount;
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t i = 0; i < n; ++i) {
            bytes[channels * i + c] = (uint8_t)(in[c][i] >> 8);
        }
    }
    RunColourTransform(conversion->transform, bytes, out, n);
}

void ConvertChunk(const Conversion* conversion, uint8_t* out, const uint16_t* const in[], uint32_t n)
{
    switch (conversion->model) {
    case ColourGrey:
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = (uint8_t)(in[0][i] >> 8);
        }
        break;
    case ColourRgb:
        for (uint32_t i = 0; i < n; ++i, out += 3) {
            out[0] = (uint8_t)(in[2][i] >> 8);
            out[1] = (uint8_t)(in[1][i] >> 8);
            out[2] = (uint8_t)(in[0][i] >> 8);
        }
        break;
    case ColourYcc:
        ConvertYcc(out, in, n);
        break;
    case ColourCmyk:
        ConvertCmyk(out, in, n);
        break;
    case ColourLab:
        ConvertLab(conversion, out, in, n);
        break;
    default:
        if (conversion->separable) {
            ConvertSeparable(conversion, out, in, n);
        } else {
            ConvertProfile(conversion, out, in, n);
        }
        break;
    }
}

// Over white: plain opacity mixes colour and white; premultiplied colour
// already carries its share and white adds the rest.
void CompositeOverWhite(uint8_t* out, const uint16_t* opacity, uint32_t n, uint32_t bytesPerPixel, int premultiplied)
{
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t a = opacity[i] >> 8;
        for (uint32_t b = 0; b < bytesPerPixel; ++b, ++out) {
            uint32_t v = premultiplied ? *out + (255 - a) : (*out * a + 255 * (255 - a) + 127) / 255;
            *out = (uint8_t)(v > 255 ? 255 : v);
        }
    }
}

void WriteConvertedRange(void* context, int, uint32_t begin, uint32_t end)
{
    const Conversion* conversion = (const Conversion*)context;
    const RowTarget* target = &conversion->target;
    uint16_t planes[kMaxChannels][kChunk];
    const uint16_t* in[kMaxChannels];
    for (uint32_t c = 0; c < kMaxChannels; ++c) {
        in[c] = planes[c];
    }
    uint32_t rowBytes = target->width * conversion->bytesPerPixel;
    uint8_t* row = target->lastRow - (uint64_t)begin * target->stride;
    for (uint32_t y = begin; y < end; ++y, row -= target->stride) {
        for (uint32_t x0 = 0; x0 < target->width; x0 += kChunk) {
            uint32_t n = target->width - x0 < kChunk ? target->width - x0 : kChunk;
            for (uint32_t c = 0; c < conversion->channelCount; ++c) {
                FillChannel(&conversion->channels[c], y, x0, n, planes[c]);
            }
            uint8_t* out = row + (uint64_t)x0 * conversion->bytesPerPixel;
            ConvertChunk(conversion, out, in, n);
            if (conversion->opacityRows != NULL) {
                uint8_t* kept = conversion->opacityRows + (uint64_t)y * target->width + x0;
                for (uint32_t i = 0; i < n; ++i) {
                    kept[i] = (uint8_t)(planes[conversion->colourCount][i] >> 8);
                }
            } else if (conversion->opacityKind != OpacityNone) {
                CompositeOverWhite(out, planes[conversion->colourCount], n, conversion->bytesPerPixel,
                                   conversion->opacityKind == OpacityPremultiplied);
            }
        }
        memset(row + rowBytes, 0, target->stride - rowBytes);
    }
}

// Ranges and offsets of L*, a*, b* in the samples' own units; a file that
// gives none gets the usual ones.
void SetUpLab(Conversion* conversion, const opj_image_t* image)
{
    // The parameter block is OpenJPEG's own nine words: a profile of no
    // bytes, the only other way to a length of 0, is refused by the codec.
    uint32_t words[kLabWords];
    memcpy(words, image->icc_profile_buf, sizeof(words));
    conversion->transform = CreateLabTransform(words[8]);
    for (int c = 0; c < 3; ++c) {
        const ChannelReader* r = &conversion->channels[c];
        double largest = (double)r->mask;
        double range = words[2 + 2 * c], offset = words[3 + 2 * c];
        if (words[1] == kLabDefaults) {
            const double ranges[3] = {100, 170, 200};
            const double offsets[3] = {0, ldexp(largest + 1, -1), ldexp(largest + 1, -2) + ldexp(largest + 1, -3)};
            range = ranges[c];
            offset = offsets[c];
        }
        conversion->labScale[c] = (float)(range / r->full);
        conversion->labBias[c] = (float)(range * offset / largest);
    }
}

// What the model needs from LittleCMS: tables for a matrix-shaper profile
// of three channels, else a transform. Colour data it refuses leaves the
// components read as grey, RGB or CMYK, as without them.
void SetUpColourEngine(Conversion* conversion, const opj_image_t* image)
{
    if (conversion->model == ColourLab) {
        SetUpLab(conversion, image);
    } else if (conversion->model == ColourIcc) {
        conversion->separable = conversion->colourCount == 3 &&
                                SampleSeparableProfile(image->icc_profile_buf, image->icc_profile_len, &conversion->profile);
        if (conversion->separable) {
            BuildSrgbEncoding(conversion->encoding);
        } else {
            conversion->transform =
                CreateProfileTransform(image->icc_profile_buf, image->icc_profile_len, conversion->colourCount);
        }
    }
    if ((conversion->model == ColourLab || conversion->model == ColourIcc) && !conversion->separable &&
        conversion->transform == NULL) {
        const int byCount[5] = {ColourGrey, ColourGrey, ColourGrey, ColourRgb, ColourCmyk};
        conversion->model = byCount[conversion->colourCount];
    }
}

} // namespace

int WriteColourRows(const opj_image_t* image, const PicturePlan* plan, const RowTarget* target, int threadCount,
                    uint8_t* opacityRows)
{
    int failure = DecodeFailureNone;
    uint32_t* tables[kMaxChannels] = {NULL};
    Conversion* conversion = (Conversion*)calloc(1, sizeof(Conversion));
    if (conversion == NULL) {
        return DecodeFailureOutOfMemory;
    }
    conversion->model = plan->model;
    conversion->colourCount = plan->colourCount;
    conversion->opacityKind = plan->opacityKind;
    conversion->target = *target;
    conversion->opacityRows = plan->opacityKind != OpacityNone ? opacityRows : NULL;
    conversion->bytesPerPixel = plan->bitCount / 8;
    uint32_t components[kMaxChannels];
    memcpy(components, plan->colour, plan->colourCount * sizeof(uint32_t));
    conversion->channelCount = plan->colourCount;
    if (plan->opacityKind != OpacityNone) {
        components[conversion->channelCount++] = plan->opacity;
    }
    for (uint32_t c = 0; c < conversion->channelCount; ++c) {
        ChannelReader* r = &conversion->channels[c];
        SetUpDepth(r, &image->comps[components[c]]);
        if (!SetUpPlacement(r, &image->comps[components[c]], &image->comps[0], target->width, &tables[c])) {
            failure = DecodeFailureOutOfMemory;
            goto cleanup;
        }
    }
    SetUpColourEngine(conversion, image);
    SplitRows(target->width, target->height, threadCount, WriteConvertedRange, conversion);
cleanup:
    DeleteColourTransform(conversion->transform);
    for (uint32_t c = 0; c < kMaxChannels; ++c) {
        free(tables[c]);
    }
    free(conversion);
    return failure;
}
