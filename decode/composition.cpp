// Which reader composes the pictures of each kind, and the fallback to the first codestream.
#include "composition.h"
#include "compose_readers.h"
#include "jpeg2000.h"

#include <stddef.h>
#include <string.h>

namespace {

struct ComposedKind {
    int kind;
    int (*describe)(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index);
    int (*compose)(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request);
};

const ComposedKind kComposedKinds[] = {
    {FileKindJpm, DescribeJpmPage, ComposeJpmPage},
    {FileKindJpx, DescribeJpxFrame, ComposeJpxFrame},
    {FileKindMj2, DescribeMj2Frame, ComposeMj2Frame},
};

const ComposedKind* FindComposedKind(int kind)
{
    for (const ComposedKind& entry : kComposedKinds) {
        if (entry.kind == kind) {
            return &entry;
        }
    }
    return NULL;
}

// The picture a file shows when nothing is composed: its first codestream.
int DescribeFirstCodestream(ComposedPicture* pictureOut, int kind, const uint8_t* data, int32_t length,
                            uint32_t index)
{
    DecodePlan plan;
    int failure = DecodeFailureNone;
    if (!PlanDecode(&plan, &failure, kind, data, length)) {
        return failure;
    }
    if (index != 0) {
        return DecodeFailureArguments;
    }
    memset(pictureOut, 0, sizeof(*pictureOut));
    pictureOut->count = 1;
    pictureOut->width = plan.fullWidth;
    pictureOut->height = plan.fullHeight;
    pictureOut->maxReduce = plan.maxReduce;
    pictureOut->loops = 1;
    return DecodeFailureNone;
}

int Describe(ComposedPicture* pictureOut, int kind, const uint8_t* data, int32_t length, uint32_t index)
{
    if (pictureOut == NULL || data == NULL || length < 0) {
        return DecodeFailureArguments;
    }
    const ComposedKind* reader = FindComposedKind(kind);
    if (reader != NULL) {
        int failure = reader->describe(pictureOut, data, (uint64_t)length, index);
        if (failure != DecodeFailureNone || pictureOut->composed) {
            return failure;
        }
    }
    return DescribeFirstCodestream(pictureOut, kind, data, length, index);
}

} // namespace

int ComposedMaxReduce(uint32_t width, uint32_t height)
{
    uint32_t shorter = width < height ? width : height;
    int reduce = 0;
    while (reduce < 8 && (shorter >> (reduce + 1)) >= 64) {
        ++reduce;
    }
    return reduce;
}

int ComposedShownReduce(const ComposedPicture* picture)
{
    int reduce = 0;
    while (reduce <= 32) {
        uint64_t width = ((uint64_t)picture->width + (1ull << reduce) - 1) >> reduce;
        uint64_t height = ((uint64_t)picture->height + (1ull << reduce) - 1) >> reduce;
        if (width * height * 3 <= DecodeSampleLimit()) {
            break;
        }
        ++reduce;
    }
    return reduce;
}

int DescribeComposedPicture(ComposedPicture* pictureOut, int* failureOut, int kind, const uint8_t* data,
                            int32_t length, uint32_t index)
{
    int failure = Describe(pictureOut, kind, data, length, index);
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

int ComposePictureToPackedDib(uint8_t** dibOut, uint32_t* notesOut, int* failureOut, int kind, const uint8_t* data,
                              int32_t length, uint32_t index, int reduce, int threadCount)
{
    ComposedPicture picture;
    uint32_t notes = 0;
    int failure = DecodeFailureArguments;
    if (dibOut != NULL) {
        *dibOut = NULL;
        failure = reduce < 0 || reduce > 32 ? DecodeFailureArguments : Describe(&picture, kind, data, length, index);
    }
    if (failure == DecodeFailureNone && picture.composed) {
        ComposeRequest request = {data, (uint64_t)length, index, reduce, threadCount};
        failure = FindComposedKind(kind)->compose(dibOut, &notes, &request);
    } else if (failure == DecodeFailureNone) {
        DecodeLevelToPackedDib(dibOut, &failure, kind, data, length, reduce, threadCount);
    }
    if (notesOut != NULL) {
        *notesOut = notes;
    }
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}
