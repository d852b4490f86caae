// The job protocol's checks on both sides, and the decode a request asks
// for: the same calls the plug-in makes when it decodes in its own process.
#include "decoder/job_protocol.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

static_assert(sizeof(JobRequest) <= JobReplyOffset - JobRequestOffset, "the request fits its half of the page");
static_assert(sizeof(JobReply) <= JobPageBytes - JobReplyOffset, "the reply fits its half of the page");
static_assert(sizeof(DecodePlan) == 36 && sizeof(PictureRegion) == 16 && sizeof(ComposedPicture) == 32,
              "the layout is the same on every target");

const int32_t MaxReduce = 32;
const uint32_t MaxComponents = 16384;
const uint32_t DibHeaderBytes = 40;
const uint32_t KnownComposeNotes = ComposeNoteExternalData;

uint32_t ReadLittleEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

int InRange(int32_t value, int32_t low, int32_t high) {
    return value >= low && value <= high;
}

int RegionIsOrdered(const PictureRegion* region) {
    return region->left < region->right && region->top < region->bottom;
}

int FileKindIsKnown(int32_t kind) {
    static const int32_t Known[] = {FileKindInvalid, FileKindCodestream, FileKindJp2, FileKindJpx,         FileKindMj2,
                                    FileKindJpm,     FileKindJ3d,        FileKindJph, FileKindUnclassified};
    for (int32_t known : Known) {
        if (kind == known) return 1;
    }
    return 0;
}

// A plan the queue may size its decodes by.
int PlanIsSane(const DecodePlan* plan) {
    return plan->fullWidth > 0 && plan->fullHeight > 0 && plan->shownWidth > 0 && plan->shownHeight > 0 &&
           plan->shownWidth <= plan->fullWidth && plan->shownHeight <= plan->fullHeight &&
           InRange(plan->maxReduce, 0, MaxReduce) && InRange(plan->shownReduce, 0, plan->maxReduce) &&
           InRange(plan->previewReduce, 0, MaxReduce) && plan->componentCount > 0 &&
           plan->componentCount <= MaxComponents && (plan->bitCount == 8 || plan->bitCount == 24);
}

// What a successful reply of each kind carries.
int SuccessIsWhole(const JobReply* reply, const JobRequest* request) {
    switch (request->kind) {
    case JobKindPlan:
        return FileKindIsKnown(reply->fileKind) && PlanIsSane(&reply->plan) && reply->composed.count >= 1 &&
               (reply->block == 0 || request->previewReduce > 0);
    case JobKindLevel:
        return reply->block != 0 && (reply->notes & ~KnownComposeNotes) == 0;
    case JobKindPrefix:
        return reply->block != 0;
    case JobKindRegion:
        return reply->block != 0 && RegionIsOrdered(&reply->level);
    case JobKindComments:
        return (reply->block == 0) == (reply->blockBytes == 0);
    default:
        return 0;
    }
}

// Into a bitmap block, so that the comments travel as a bitmap does.
uint8_t* MoveCommentsToBlock(uint8_t* comments, uint32_t length, uint32_t* blockBytesOut) {
    uint8_t* block = length < UINT32_MAX ? AllocateBitmapBlock(length + 1) : NULL;
    *blockBytesOut = 0;
    if (block != NULL) {
        memcpy(block, comments, length);
        block[length] = 0;
        *blockBytesOut = length + 1;
    }
    free(comments);
    return block;
}

void ServePlan(JobReply* reply, uint8_t** blockOut, const JobRequest* request, const uint8_t* data) {
    int32_t length = (int32_t)request->length;
    reply->fileKind = ClassifyFileKind(data, request->length);
    reply->composed.count = 1;
    if (!PlanPictureDecode(&reply->plan, &reply->failure, reply->fileKind, data, length, request->picture)) {
        return;
    }
    if (KindMayCompose(reply->fileKind) && !DescribeComposedPicture(&reply->composed, &reply->failure,
                                                                     reply->fileKind, data, length, request->picture)) {
        return;
    }
    // A preview that cannot be made is no failure: the level follows.
    if (request->previewReduce > 0 && !DecodeLevelToPackedDib(blockOut, NULL, reply->fileKind, data, length,
                                                              request->previewReduce, request->threads)) {
        *blockOut = NULL;
    }
}

void ServeComments(JobReply* reply, uint8_t** blockOut, const JobRequest* request, const uint8_t* data) {
    uint8_t* comments = NULL;
    uint32_t length = 0;
    if (!ExtractCodestreamCommentsOfKind(&comments, &length, request->fileKind, data, request->length)) {
        reply->failure = DecodeFailureOutOfMemory;
        return;
    }
    if (comments != NULL) {
        *blockOut = MoveCommentsToBlock(comments, length, &reply->blockBytes);
        reply->failure = *blockOut != NULL ? DecodeFailureNone : DecodeFailureOutOfMemory;
    }
}

}  // namespace

int ReadJobRequest(JobRequest* requestOut, const uint8_t* page, uint32_t pageBytes) {
    if (pageBytes < JobRequestOffset + sizeof(JobRequest)) {
        memset(requestOut, 0, sizeof *requestOut);
        return 0;
    }
    memcpy(requestOut, page + JobRequestOffset, sizeof *requestOut);
    const JobRequest* r = requestOut;
    return r->magic == JobMagic && r->version == JobProtocolVersion && InRange(r->kind, 0, JobProtocolKindCount - 1) &&
           r->length > 0 && r->length <= INT32_MAX && InRange(r->sectionCount, 1, JobSectionLimit) &&
           InRange(r->reduce, 0, MaxReduce) && InRange(r->previewReduce, 0, MaxReduce) && r->threads >= 1 &&
           (r->kind != JobKindRegion || RegionIsOrdered(&r->region));
}

void ServeJobRequest(JobReply* replyOut, uint8_t** blockOut, const JobRequest* request, const uint8_t* data) {
    memset(replyOut, 0, sizeof *replyOut);
    replyOut->magic = JobMagic;
    replyOut->version = JobProtocolVersion;
    replyOut->sequence = request->sequence;
    replyOut->fileKind = request->fileKind;
    *blockOut = NULL;
    SetDecodeSampleLimit(request->sampleLimit);
    int32_t length = (int32_t)request->length;
    int32_t* failure = &replyOut->failure;
    switch (request->kind) {
    case JobKindPlan:
        ServePlan(replyOut, blockOut, request, data);
        break;
    case JobKindLevel:
        if (KindMayCompose(request->fileKind)) {
            ComposePictureToPackedDib(blockOut, &replyOut->notes, failure, request->fileKind, data, length,
                                      request->picture, request->reduce, request->threads);
        } else {
            DecodeLevelToPackedDib(blockOut, failure, request->fileKind, data, length, request->reduce,
                                   request->threads);
        }
        break;
    case JobKindPrefix:
        DecodePrefixToPackedDib(blockOut, failure, request->fileKind, data, length, request->reduce, request->threads);
        break;
    case JobKindRegion:
        DecodeRegionToPackedDib(blockOut, &replyOut->level, failure, request->fileKind, data, length, request->reduce,
                                request->region, request->threads);
        break;
    case JobKindComments:
        ServeComments(replyOut, blockOut, request, data);
        break;
    default:
        *failure = DecodeFailureArguments;
        break;
    }
    if (*blockOut != NULL && request->kind != JobKindComments) {
        replyOut->blockBytes = (uint32_t)PackedDibSize(*blockOut);
    }
}

int ReadJobReply(JobReply* replyOut, const uint8_t* page, uint32_t pageBytes, const JobRequest* request) {
    if (pageBytes < JobReplyOffset + sizeof(JobReply)) {
        memset(replyOut, 0, sizeof *replyOut);
        return DecodeFailureDecoderStopped;
    }
    memcpy(replyOut, page + JobReplyOffset, sizeof *replyOut);
    const JobReply* r = replyOut;
    int framed = r->magic == JobMagic && r->version == JobProtocolVersion && r->sequence == request->sequence;
    int whole = 0;
    if (framed && r->failure == DecodeFailureNone) {
        whole = SuccessIsWhole(r, request);
    } else if (framed) {
        // A failed job hands nothing over, and says why in words the plug-in has.
        whole = r->block == 0 && InRange(r->failure, DecodeFailureArguments, DecodeFailureOutOfMemory);
    }
    // A block claims bytes it has; a DIB at least its header.
    if (whole && r->block != 0) {
        whole = request->kind == JobKindComments ? r->blockBytes > 0 : r->blockBytes >= DibHeaderBytes;
    }
    return whole ? DecodeFailureNone : DecodeFailureDecoderStopped;
}

int CheckJobBlock(const uint8_t* block, uint32_t mappedBytes, const JobReply* reply, int32_t kind) {
    if (block == NULL || reply->blockBytes == 0 || reply->blockBytes > mappedBytes) {
        return 0;
    }
    if (kind == JobKindComments) {
        return block[reply->blockBytes - 1] == 0;
    }
    uint32_t headerBytes = ReadLittleEndian(block, 4);
    int32_t width = (int32_t)ReadLittleEndian(block + 4, 4);
    int32_t height = (int32_t)ReadLittleEndian(block + 8, 4);
    uint32_t bitCount = ReadLittleEndian(block + 14, 2);
    // The size the header's own width, height and depth give is what was announced.
    return headerBytes == DibHeaderBytes && width > 0 && height > 0 && (bitCount == 8 || bitCount == 24) &&
           (uint32_t)PackedDibSize(block) == reply->blockBytes;
}
