// Fuzz entry: every reader of untrusted bytes in the decode core, on one
// input, in the order the plug-in runs them: kind, plan, the reduced preview,
// the picture shown, a part of it at full resolution, the comments, the
// stated resolution a print reads, then the composed first and last page or
// frame.
#include "composition.h"
#include "jpeg2000.h"

#include <stdint.h>
#include <stdlib.h>

namespace {

// Touches every byte the size functions promise, then frees the bitmap.
void TouchAndFree(uint8_t* dib)
{
    int size = PackedDibSize(dib);
    volatile uint8_t sink = 0;
    for (int i = 0; i < size; i += 97) {
        sink = (uint8_t)(sink + dib[i]);
    }
    sink = (uint8_t)(sink + dib[size - 1]);
    free(dib);
}

// A decode either hands out a bitmap or none, never both a failure and one.
void CheckDecodeOutcome(int ok, uint8_t* dib, int failure)
{
    if (ok) {
        if (dib == NULL || failure != DecodeFailureNone) {
            abort();
        }
        TouchAndFree(dib);
    } else if (dib != NULL || failure == DecodeFailureNone) {
        abort();
    }
}

void FuzzComments(int kind, const uint8_t* data, uint32_t length)
{
    uint8_t* comments = NULL;
    uint32_t count = 0;
    if (ExtractCodestreamCommentsOfKind(&comments, &count, kind, data, length)) {
        if (comments != NULL && comments[count] != 0) {
            abort();
        }
        free(comments);
    } else if (comments != NULL || count != 0) {
        abort();
    }
}

// The part in view of a picture zoomed to full size: its middle, which the
// bitmap must hold exactly where it says, inside the picture.
void FuzzRegion(const DecodePlan* plan, int kind, const uint8_t* data, uint32_t length)
{
    PictureRegion middle = {plan->fullWidth / 4, plan->fullHeight / 4, plan->fullWidth / 4 + plan->fullWidth / 2 + 1,
                            plan->fullHeight / 4 + plan->fullHeight / 2 + 1};
    PictureRegion level = {0, 0, 0, 0};
    uint8_t* dib = NULL;
    int failure = DecodeFailureNone;
    int ok = DecodeRegionToPackedDib(&dib, &level, &failure, kind, data, (int32_t)length, 0, middle, 1);
    if (ok && (level.left >= level.right || level.top >= level.bottom || level.right > plan->fullWidth ||
               level.bottom > plan->fullHeight || level.left > middle.left || level.top > middle.top ||
               dib[4] + (dib[5] << 8) + (dib[6] << 16) + ((uint32_t)dib[7] << 24) != level.right - level.left)) {
        abort();
    }
    CheckDecodeOutcome(ok, dib, failure);
}

// The first picture at the level shown in full, the last at its coarsest:
// each either a bitmap of the size described or a failure.
void FuzzComposition(int kind, const uint8_t* data, uint32_t length)
{
    ComposedPicture picture;
    int failure = DecodeFailureNone;
    if (!DescribeComposedPicture(&picture, &failure, kind, data, (int32_t)length, 0)) {
        if (failure == DecodeFailureNone) {
            abort();
        }
        return;
    }
    if (picture.count == 0 || picture.maxReduce < 0) {
        abort();
    }
    const uint32_t indices[2] = {0, picture.count - 1};
    for (int i = 0; i < 2; ++i) {
        if (i == 1 && !DescribeComposedPicture(&picture, NULL, kind, data, (int32_t)length, indices[1])) {
            return;
        }
        int reduce = i == 0 ? ComposedShownReduce(&picture) : picture.maxReduce;
        uint8_t* dib = NULL;
        uint32_t notes = 0;
        failure = DecodeFailureNone;
        int ok = ComposePictureToPackedDib(&dib, &notes, &failure, kind, data, (int32_t)length, indices[i], reduce, 1);
        uint64_t width = ((uint64_t)picture.width + (1ull << reduce) - 1) >> reduce;
        if (ok && picture.composed && kind != FileKindMj2 &&
            dib[4] + (dib[5] << 8) + (dib[6] << 16) + ((uint32_t)dib[7] << 24) != width) {
            abort();
        }
        CheckDecodeOutcome(ok, dib, failure);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Keep single inputs small and fast; the cap logic itself is exercised all the same.
    SetDecodeSampleLimit(1u << 22);
    SetDecodeThreadCount(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x7FFFFFFF) {
        return 0;
    }
    uint32_t length = (uint32_t)size;
    int kind = ClassifyFileKind(data, length);
    uint32_t offset = CodestreamOffsetOfKind(kind, data, length);
    if (offset > length || (offset != 0 && (kind == FileKindInvalid || kind == FileKindCodestream))) {
        abort();
    }
    DecodePlan plan;
    int failure = DecodeFailureNone;
    if (PlanDecode(&plan, &failure, kind, data, (int32_t)length)) {
        if (plan.shownReduce < 0 || plan.shownReduce > plan.maxReduce ||
            (plan.previewReduce != 0 && plan.previewReduce < plan.shownReduce + 2)) {
            abort();
        }
        uint8_t* dib = NULL;
        if (plan.previewReduce > 0) {
            failure = DecodeFailureNone;
            int ok = DecodeReducedToPackedDib(&dib, &failure, kind, data, (int32_t)length, plan.previewReduce);
            CheckDecodeOutcome(ok, dib, failure);
            dib = NULL;
        }
        failure = DecodeFailureNone;
        int ok = DecodeReducedToPackedDib(&dib, &failure, kind, data, (int32_t)length, plan.shownReduce);
        CheckDecodeOutcome(ok, dib, failure);
        FuzzRegion(&plan, kind, data, length);
    } else if (failure == DecodeFailureNone) {
        abort();
    }
    FuzzComments(kind, data, length);
    PictureResolution resolution;
    if (ReadPictureResolution(&resolution, kind, data, length) !=
        (resolution.pixelsPerMetreX > 0 && resolution.pixelsPerMetreY > 0)) {
        abort();
    }
    FuzzComposition(kind, data, length);
    if (MeasureDecodablePrefix(kind, data, length) > length) {
        abort();
    }
    // The input as a file still arriving: the codec accepts a cut codestream.
    uint8_t* dib = NULL;
    if (DecodePrefixToPackedDib(&dib, NULL, kind, data, (int32_t)length, 0, 1)) {
        TouchAndFree(dib);
    } else if (dib != NULL) {
        abort();
    }
    return 0;
}
