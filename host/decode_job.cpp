// One decode job: in a decoder process when one can be had
// (decoder_pool.cpp), else run here through a thin switch over the job's
// kind calling the decode core on the job's bytes, as the decoder does.
#include <stdlib.h>
#include <windows.h>

#include "decode/composition.h"
#include "decode/jpeg2000.h"
#include "host/decode_job.h"
#include "host/decoder_pool.h"
#include "host/picture_section.h"

namespace {

int IsCancelled(const DecodeJobCancel* cancel) {
    return cancel && __atomic_load_n(&cancel->state, __ATOMIC_ACQUIRE) != 0;
}

// The pictures a planned file holds: one, unless its kind composes several.
int DescribePictures(const DecodeJob* job, DecodeJobResult* result) {
    result->composed.count = 1;
    return !KindMayCompose(result->fileKind) ||
           DescribeComposedPicture(&result->composed, &result->failure, result->fileKind, job->bytes->data,
                                   (int32_t)job->length, job->picture);
}

int RunPlan(const DecodeJob* job, DecodeJobResult* result) {
    const uint8_t* data = job->bytes->data;
    result->fileKind = ClassifyFileKind(data, job->length);
    if (!PlanPictureDecode(&result->plan, &result->failure, result->fileKind, data, (int32_t)job->length,
                           job->picture)) {
        return 0;
    }
    if (!DescribePictures(job, result)) {
        return 0;
    }
    // A preview that cannot be made is no failure: the level follows.
    if (job->previewReduce > 0 && !DecodeLevelToPackedDib(&result->dib, NULL, result->fileKind, data,
                                                          (int32_t)job->length, job->previewReduce, job->threads)) {
        result->dib = NULL;
    }
    return 1;
}

// The kinds that may compose their pictures go through the composer, which
// also says what it left out; the others decode their one codestream.
int RunLevel(const DecodeJob* job, DecodeJobResult* result) {
    const uint8_t* data = job->bytes->data;
    int32_t length = (int32_t)job->length;
    int kind = job->fileKind;
    if (KindMayCompose(kind)) {
        return ComposePictureToPackedDib(&result->dib, &result->notes, &result->failure, kind, data, length,
                                         job->picture, job->reduce, job->threads);
    }
    return DecodeLevelToPackedDib(&result->dib, &result->failure, kind, data, length, job->reduce, job->threads);
}

int RunJobOfKind(const DecodeJob* job, DecodeJobResult* result) {
    const uint8_t* data = job->bytes->data;
    int32_t length = (int32_t)job->length;
    switch (job->kind) {
    case DecodeJobPlan:
        return RunPlan(job, result);
    case DecodeJobLevel:
        return RunLevel(job, result);
    case DecodeJobPrefix:
        return DecodePrefixToPackedDib(&result->dib, &result->failure, job->fileKind, data, length, job->reduce,
                                       job->threads);
    case DecodeJobRegion:
        return DecodeRegionToPackedDib(&result->dib, &result->level, &result->failure, job->fileKind, data, length,
                                       job->reduce, job->region, job->threads);
    case DecodeJobComments:
        if (ExtractCodestreamCommentsOfKind(&result->comments, &result->commentsLength, job->fileKind, data,
                                            job->length)) {
            return 1;
        }
        // Only the comments' own block can fail once the picture decoded.
        result->failure = DecodeFailureOutOfMemory;
        return 0;
    default:
        result->failure = DecodeFailureArguments;
        return 0;
    }
}

}  // namespace

int CodecRunsElsewhere() { return DecoderIsWider(); }

int ChooseCommandReduce(const DecodePlan* plan, uint32_t compressedBytes) {
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    uint64_t budget = GlobalMemoryStatusEx(&memory) ? memory.ullAvailPhys : 0;
    return ChooseFullReduce(plan, DecoderSampleLimit(), budget, compressedBytes);
}

int RunDecodeJob(const DecodeJob* job, DecodeJobResult* resultOut, DecodeJobCancel* cancel) {
    *resultOut = DecodeJobResult();
    resultOut->fileKind = job->fileKind;
    int done = 0;
    if (!job->bytes || !job->bytes->data) {
        resultOut->failure = DecodeFailureNotJpeg2000;
    } else if (!IsCancelled(cancel)) {
        // In a decoder process when one can be had; here otherwise.
        int inDecoder = RunJobInDecoder(job, resultOut, cancel);
        done = inDecoder ? resultOut->failure == DecodeFailureNone : RunJobOfKind(job, resultOut);
    }
    // The codec cannot be stopped inside this process: a cancel is seen
    // before the job starts, and its result is dropped after it.
    if (IsCancelled(cancel)) {
        FreePictureBlock(resultOut->dib);
        FreePictureSection(resultOut->section);
        free(resultOut->comments);
        *resultOut = DecodeJobResult();
        resultOut->failure = DecodeFailureCancelled;
        done = 0;
    } else if (!done && resultOut->failure == DecodeFailureNone) {
        resultOut->failure = DecodeFailureCorrupt;
    }
    return done;
}

void CancelDecodeJob(DecodeJobCancel* cancel) {
    __atomic_store_n(&cancel->state, 1L, __ATOMIC_RELEASE);
    // A decoder running the job ends now, not when the codec is done.
    CancelJobInDecoder(cancel);
}

void FreePictureBlock(uint8_t* block) {
    if (!ReleaseDecoderBlock(block)) {
        free(block);
    }
}
