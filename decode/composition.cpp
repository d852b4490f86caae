// Which reader composes the pictures of each kind, and the fallback to the first codestream.
#include "composition.h"
#include "box_walk.h"
#include "codestream_image.h"
#include "compose_readers.h"
#include "jpeg2000.h"

#include <stddef.h>
#include <string.h>

namespace {

struct ComposedKind {
    int kind;
    int (*describe)(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index);
    int (*compose)(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request);
    // Describes a picture of a file still arriving when the picture needs
    // all its codestreams begun (null: `describe` copes): a failure there
    // shows nothing yet rather than the first codestream.
    int (*describeArriving)(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index);
    // While the file arrives: 1 when whether it composes is known only once
    // a top-level codestream box has begun (the header boxes before it are
    // then whole); 0 when its description may come at any point.
    int decidedAtCodestream;
};

// Until its picture 0 can be described, a file arriving shows its first
// codestream, as a plain file would: a track's frame 0 is that codestream,
// and a document whose page comes after its codestreams shows the first
// of them until then. A track's frame is described once each of its
// fields can be decoded in part: a frame of two fields shown before, as its
// first field alone, would be half its height and jump to full height.
const ComposedKind kComposedKinds[] = {
    {FileKindJpm, DescribeJpmPage, ComposeJpmPage, NULL, 1},
    {FileKindJpx, DescribeJpxFrame, ComposeJpxFrame, NULL, 1},
    {FileKindMj2, DescribeMj2Frame, ComposeMj2Frame, DescribeArrivingMj2Frame, 0},
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
    if (!PlanFirstCodestream(&plan, &failure, kind, data, length)) {
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

int Describe(ComposedPicture* pictureOut, int kind, const uint8_t* data, int32_t length, uint32_t index,
             int arriving)
{
    if (pictureOut == NULL || data == NULL || length < 0) {
        return DecodeFailureArguments;
    }
    const ComposedKind* reader = FindComposedKind(kind);
    if (reader != NULL) {
        int (*describe)(ComposedPicture*, const uint8_t*, uint64_t, uint32_t) =
            arriving && reader->describeArriving != NULL ? reader->describeArriving : reader->describe;
        int failure = describe(pictureOut, data, (uint64_t)length, index);
        if (failure != DecodeFailureNone || pictureOut->composed) {
            return failure;
        }
    }
    return DescribeFirstCodestream(pictureOut, kind, data, length, index);
}

// A top-level codestream box whose header has come, whole or not.
int CodestreamBoxBegun(const uint8_t* data, uint64_t length)
{
    BoxRun run = MakeBoxRun(data, length);
    Box box;
    int cut = 0;
    while (NextBoxArriving(&run, &box, &cut)) {
        if (box.type == BoxType("jp2c") || box.type == BoxType("ftbl")) {
            return 1;
        }
    }
    return 0;
}

int Compose(uint8_t** dibOut, uint32_t* notesOut, int* failureOut, const ComposeRequest* request, int kind)
{
    ComposedPicture picture;
    uint32_t notes = 0;
    int failure = DecodeFailureArguments;
    if (dibOut != NULL) {
        *dibOut = NULL;
        failure = request->reduce < 0 || request->reduce > 32
                      ? DecodeFailureArguments
                      : Describe(&picture, kind, request->data, (int32_t)request->length, request->index,
                                 request->arriving);
    }
    if (failure == DecodeFailureNone && picture.composed) {
        failure = FindComposedKind(kind)->compose(dibOut, &notes, request);
    } else if (failure == DecodeFailureNone) {
        DecodeFirstCodestreamLevel(dibOut, &failure, kind, request->data, (int32_t)request->length, request->reduce,
                                   request->threads);
    }
    if (notesOut != NULL) {
        *notesOut = notes;
    }
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

// The plan of a composed picture: composed whole at the level that fits
// the cap, no preview (a coarser composition costs the same decodes).
int PlanComposed(DecodePlan* planOut, const ComposedPicture* picture)
{
    int shown = ComposedShownReduce(picture);
    if (shown > 32) {
        return DecodeFailureTooLarge;
    }
    memset(planOut, 0, sizeof(*planOut));
    planOut->fullWidth = picture->width;
    planOut->fullHeight = picture->height;
    planOut->shownReduce = shown;
    planOut->shownWidth = (uint32_t)(((uint64_t)picture->width + (1ull << shown) - 1) >> shown);
    planOut->shownHeight = (uint32_t)(((uint64_t)picture->height + (1ull << shown) - 1) >> shown);
    planOut->maxReduce = picture->maxReduce > shown ? picture->maxReduce : shown;
    planOut->componentCount = 3;
    planOut->bitCount = 24;
    return DecodeFailureNone;
}

} // namespace

int IsComposedFile(int kind, const uint8_t* data, int32_t length)
{
    ComposedPicture picture;
    const ComposedKind* reader = FindComposedKind(kind);
    return reader != NULL && data != NULL && length >= 0 &&
           reader->describe(&picture, data, (uint64_t)length, 0) == DecodeFailureNone && picture.composed;
}

int PlanPictureDecode(DecodePlan* planOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                      uint32_t index)
{
    ComposedPicture picture;
    int failure = DecodeFailureArguments;
    if (planOut != NULL && FindComposedKind(kind) == NULL && index == 0) {
        return PlanFirstCodestream(planOut, failureOut, kind, data, length);
    }
    if (planOut != NULL) {
        failure = Describe(&picture, kind, data, length, index, 0);
    }
    if (failure == DecodeFailureNone && picture.composed) {
        failure = PlanComposed(planOut, &picture);
    } else if (failure == DecodeFailureNone) {
        return PlanFirstCodestream(planOut, failureOut, kind, data, length);
    }
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

int PlanDecode(DecodePlan* planOut, int* failureOut, int kind, const uint8_t* data, int32_t length)
{
    return PlanPictureDecode(planOut, failureOut, kind, data, length, 0);
}

int DecodeLevelToPackedDib(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                           int reduce, int threadCount)
{
    if (FindComposedKind(kind) == NULL) {
        return DecodeFirstCodestreamLevel(dibOut, failureOut, kind, data, length, reduce, threadCount);
    }
    return ComposePictureToPackedDib(dibOut, NULL, failureOut, kind, data, length, 0, reduce, threadCount);
}

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

int KindMayCompose(int kind)
{
    return FindComposedKind(kind) != NULL;
}

int DescribeComposedPicture(ComposedPicture* pictureOut, int* failureOut, int kind, const uint8_t* data,
                            int32_t length, uint32_t index)
{
    int failure = Describe(pictureOut, kind, data, length, index, 0);
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

int ComposePictureToPackedDib(uint8_t** dibOut, uint32_t* notesOut, int* failureOut, int kind, const uint8_t* data,
                              int32_t length, uint32_t index, int reduce, int threadCount)
{
    ComposeRequest request = {data, (uint64_t)length, index, reduce, threadCount, 0};
    return Compose(dibOut, notesOut, failureOut, &request, kind);
}

int ClassifyArrivingFile(int kind, const uint8_t* data, uint32_t length)
{
    const ComposedKind* reader = FindComposedKind(kind);
    if (reader == NULL) {
        return ArrivingFirstCodestream;
    }
    if (reader->decidedAtCodestream && !CodestreamBoxBegun(data, length)) {
        return ArrivingNothing;
    }
    ComposedPicture picture;
    if (reader->describeArriving != NULL) {
        int failure = reader->describeArriving(&picture, data, length, 0);
        return failure != DecodeFailureNone ? ArrivingNothing
                                            : picture.composed ? ArrivingComposed : ArrivingFirstCodestream;
    }
    if (reader->describe(&picture, data, length, 0) == DecodeFailureNone && picture.composed) {
        return ArrivingComposed;
    }
    return ArrivingFirstCodestream;
}

int ComposeArrivingPicture(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                           int reduce, int threadCount)
{
    ComposeRequest request = {data, (uint64_t)length, 0, reduce, threadCount, 1};
    if (data != NULL && length >= 0 && ClassifyArrivingFile(kind, data, (uint32_t)length) == ArrivingComposed) {
        return Compose(dibOut, NULL, failureOut, &request, kind);
    }
    if (dibOut != NULL) {
        *dibOut = NULL;
    }
    if (failureOut != NULL) {
        *failureOut = DecodeFailureCorrupt;
    }
    return 0;
}
