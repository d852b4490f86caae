// Lays out the packed DIB of a decoded image and fills its rows.
#include "image_to_dib.h"
#include "byte_order.h"
#include "colour_rows.h"
#include "dib_layout.h"
#include "jpeg2000.h"
#include "picture_plan.h"
#include "sample_rows.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Grey level per sample byte. Precision 1 uses the general factor 255 / 1:
// a two-level image shows black and white rather than all black. A signed
// component's byte has its sign bit flipped, so zero is mid-grey.
void BuildGreyLevelTable(uint8_t table[256], const opj_image_comp_t* comp)
{
    uint32_t precision = comp->prec == 0 ? 1 : (comp->prec > 32 ? 32 : comp->prec);
    uint32_t bits = precision > 8 ? 8 : precision;
    uint32_t factor = 255u / ((1u << bits) - 1u);
    uint32_t signBit = comp->sgnd ? 1u << (bits - 1) : 0;
    for (uint32_t i = 0; i < 256; ++i) {
        table[i] = (uint8_t)(factor * ((i ^ signBit) & 0xFF));
    }
}

// The component's byte: its top 8 bits, or all of it below 8 bits.
SampleSource MakeSampleSource(const opj_image_comp_t* comp)
{
    SampleSource source = {NULL, 0, 0, 0};
    uint32_t precision = comp->prec == 0 ? 1 : (comp->prec > 32 ? 32 : comp->prec);
    source.mask = precision >= 32 ? 0xFFFFFFFFu : (1u << precision) - 1u;
    source.shift = precision > 8 ? precision - 8 : 0;
    // A component the codec left without samples reads as zeros.
    if (comp->data != NULL) {
        source.samples = comp->data;
        source.count = (uint64_t)comp->w * comp->h;
    }
    return source;
}

// Components that go to the bitmap as they are: grey through the level
// table, or red, green and blue bytes.
void WriteSampleRows(const RowTarget* target, const opj_image_t* image, const PicturePlan* plan, int threadCount)
{
    RowJob job;
    uint8_t table[256];
    SampleSource none = {NULL, 0, 0, 0};
    job.target = *target;
    job.greyTable = NULL;
    if (plan->bitCount == 8) {
        BuildGreyLevelTable(table, &image->comps[plan->colour[0]]);
        job.greyTable = table;
        job.sources[0] = MakeSampleSource(&image->comps[plan->colour[0]]);
        job.sources[1] = job.sources[2] = none;
    } else {
        // Blue, green, red.
        for (int c = 0; c < 3; ++c) {
            job.sources[c] = MakeSampleSource(&image->comps[plan->colour[2 - c]]);
        }
    }
    WriteDibRows(&job, threadCount);
}

// Fills the header, palette and rows of a block laid out by `layout`.
int WritePackedDib(uint8_t* dib, const DibLayout* layout, const opj_image_t* image, const PicturePlan* plan,
                   int threadCount, uint8_t* opacityRows)
{
    uint32_t width = image->comps[0].w;
    uint32_t height = image->comps[0].h;
    memset(dib, 0, 40);
    WriteLittle32(dib + 0, 40);
    WriteLittle32(dib + 4, width);
    WriteLittle32(dib + 8, height);
    WriteLittle16(dib + 12, 1);
    WriteLittle16(dib + 14, plan->bitCount);
    WriteLittle32(dib + 20, layout->imageSize);
    WriteLittle32(dib + 32, plan->bitCount == 8 ? 256 : 0);
    if (plan->bitCount == 8) {
        uint8_t* palette = dib + 40;
        for (uint32_t i = 0; i < 256; ++i) {
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = (uint8_t)i;
            palette[4 * i + 3] = 0xFF;
        }
    }
    RowTarget target;
    target.lastRow = dib + 40 + layout->paletteSize + (uint64_t)layout->stride * (height - 1);
    target.stride = layout->stride;
    target.width = width;
    target.height = height;
    if (plan->fastPath) {
        WriteSampleRows(&target, image, plan, threadCount);
        return DecodeFailureNone;
    }
    return WriteColourRows(image, plan, &target, threadCount, opacityRows);
}

} // namespace

uint32_t PictureBitCount(const opj_image_t* image)
{
    PicturePlan plan;
    PlanPicture(image, &plan);
    return plan.bitCount;
}

namespace {

// PackImageToDib, keeping the opacity apart in a new plane when
// `opacityOut` is given and the image has opacity.
int PackWithOpacity(uint8_t** dibOut, uint8_t** opacityOut, int* opacityKindOut, const opj_image_t* image,
                    int threadCount, uint8_t* block, uint32_t blockSize)
{
    int failure = DecodeFailureNone;
    PicturePlan plan;
    DibLayout layout;
    uint8_t* opacity = NULL;
    *dibOut = NULL;
    if (image->numcomps == 0 || image->comps[0].w == 0 || image->comps[0].h == 0) {
        failure = DecodeFailureCorrupt;
        goto done;
    }
    PlanPicture(image, &plan);
    if (image->comps[0].w > 0x7FFFFFFFu || image->comps[0].h > 0x7FFFFFFFu ||
        !ComputeDibLayout(image->comps[0].w, image->comps[0].h, plan.bitCount, &layout)) {
        failure = DecodeFailureTooLarge;
        goto done;
    }
    if (block == NULL || blockSize != layout.blockSize) {
        ReleaseBitmapBlock(block);
        block = AllocateBitmapBlock(layout.blockSize);
        if (block == NULL) {
            failure = DecodeFailureOutOfMemory;
            goto done;
        }
    }
    // The plane is no larger than the bitmap, whose size was checked.
    if (opacityOut != NULL && plan.opacityKind != OpacityNone) {
        opacity = (uint8_t*)malloc((size_t)image->comps[0].w * image->comps[0].h);
        if (opacity == NULL) {
            failure = DecodeFailureOutOfMemory;
            goto done;
        }
    }
    failure = WritePackedDib(block, &layout, image, &plan, threadCount, opacity);
    if (failure == DecodeFailureNone) {
        *dibOut = block;
        block = NULL;
        if (opacityOut != NULL) {
            *opacityOut = opacity;
            *opacityKindOut = opacity != NULL ? plan.opacityKind : OpacityNone;
            opacity = NULL;
        }
    }
done:
    free(opacity);
    ReleaseBitmapBlock(block);
    return failure;
}

} // namespace

int PackImageToDib(uint8_t** dibOut, const opj_image_t* image, int threadCount, uint8_t* block, uint32_t blockSize)
{
    return PackWithOpacity(dibOut, NULL, NULL, image, threadCount, block, blockSize);
}

int PackLayerToDib(uint8_t** dibOut, uint8_t** opacityOut, int* opacityKindOut, const opj_image_t* image,
                   int threadCount)
{
    *opacityOut = NULL;
    *opacityKindOut = OpacityNone;
    return PackWithOpacity(dibOut, opacityOut, opacityKindOut, image, threadCount, NULL, 0);
}
