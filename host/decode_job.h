// One decode as the queue hands it to whoever runs it: a decoder process of
// its own when one can be had, else this process. The queue decides what to
// decode and when; this decides only where, and reports how it ended.
//
// Call order, on a decode queue worker:
//   1. fill a DecodeJob (the bytes as a view taken when the job was queued)
//   2. RunDecodeJob(&job, &result, &cancel)   blocks until the job ended
//   3. use result.dib / result.section / result.comments, then
//      FreePictureBlock / FreePictureSection / free them (or hand them on:
//      whoever holds a block frees it so)
// CancelDecodeJob (any thread, typically the UI thread in NPP_Destroy, at a
// new stream, or at unload) ends a running job at once: the worker's
// RunDecodeJob then returns DecodeFailureCancelled.
#ifndef HOST_DECODE_JOB_H
#define HOST_DECODE_JOB_H

#include <stdint.h>

#include "decode/composition.h"
#include "decode/jpeg2000.h"
#include "host/received_bytes.h"

// Why a job ended that CancelDecodeJob ended (beside the DecodeFailure
// values): nobody shows it, the job's record is going.
enum { DecodeFailureCancelled = 101 };

struct PictureSection;  // host/picture_section.h

enum DecodeJobKind {
    DecodeJobPlan = 0,      // classify and plan; a preview at previewReduce when > 0
    DecodeJobLevel = 1,     // the picture at `reduce`
    DecodeJobPrefix = 2,    // the decodable part of a file still arriving, at `reduce`
    DecodeJobRegion = 3,    // `region` (full-resolution pixels) at `reduce`
    DecodeJobComments = 4,  // the codestream's comments
};

struct DecodeJob {
    int32_t kind;      // DecodeJobKind
    int32_t fileKind;  // as classified (a plan job classifies for itself)
    const BytesView* bytes;  // read: bytes->data[0, length); a decoder maps its sections
    uint32_t length;
    int32_t reduce;
    int32_t previewReduce;
    int32_t threads;           // codec threads this job was given
    PictureRegion region;
    uint64_t plannedBytes;     // the job's memory limit in a decoder process
    uint32_t timeLimitMs;      // a decoder's time for the job; 0: chosen from plannedBytes
    uint32_t picture;          // plan and level jobs: the page or frame (0: the first)
    // Level jobs: a bitmap a decoder process makes that is larger than this
    // stays in its section (result.section), never mapped whole here; 0:
    // every bitmap is mapped.
    uint32_t sectionAbove;
};

struct DecodeJobResult {
    int32_t failure;   // DecodeFailureNone, else why (see decode/jpeg2000.h)
    int32_t fileKind;  // plan jobs
    DecodePlan plan;   // plan jobs
    uint8_t* dib;      // packed DIB (level, prefix, region, a plan's preview)
    PictureSection* section;  // instead of dib: a level left in a decoder's section (sectionAbove)
    PictureRegion level;  // region jobs: where the bitmap lies in the level
    uint8_t* comments;    // comment jobs: malloc'ed, zero-terminated
    uint32_t commentsLength;
    ComposedPicture composed;  // plan jobs: the pictures the file holds
    uint32_t notes;            // level jobs: what composing left out (ComposeNote*)
    uint64_t decoderProcessorTime;  // a decoder process's processor time for the job (100 ns); 0 in process
};

// A running job's handle for CancelDecodeJob; zero-filled before the job.
struct DecodeJobCancel {
    volatile long state;
    void* decoder;
};

int RunDecodeJob(const DecodeJob* job, DecodeJobResult* resultOut, DecodeJobCancel* cancel);
// 1 when a job would now run in a decoder process wider than this one (a
// 64-bit decoder beside a 32-bit plug-in): the codec's memory is then the
// decoder's, and only the bitmap comes here.
int CodecRunsElsewhere();
// The finest level of the planned picture (of compressedBytes) a command can
// have where jobs run now: within the cap of the decoder that runs them (a
// 64-bit one's is wider than the plan's) and the physical memory free;
// the plan's shownReduce where nothing finer fits.
int ChooseCommandReduce(const DecodePlan* plan, uint32_t compressedBytes);
void CancelDecodeJob(DecodeJobCancel* cancel);

// Frees a picture block a job gave (a malloc'ed block, or a view of a
// section a decoder process filled); null is fine.
void FreePictureBlock(uint8_t* block);

#endif
