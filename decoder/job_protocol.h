// What the plug-in and a decoder process say to each other about one decode:
// a request and a reply in one shared page, of a fixed layout that both
// architectures read alike (no pointers; handles as 64-bit values). Each
// side copies what it reads out of the page before checking it, so the
// other side changing the page afterwards changes nothing; the plug-in
// trusts no field of a reply it has not checked. Platform-free.
//
// One job:
//   plug-in: fills a JobRequest (handles valid in the decoder), writes it
//            at JobRequestOffset, signals the decoder
//   decoder: ReadJobRequest, maps the file's sections, ServeJobRequest,
//            writes the JobReply at JobReplyOffset, signals back
//   plug-in: ReadJobReply, maps the block the reply names (a section the
//            decoder made), CheckJobBlock, uses the bitmap in place
#ifndef DECODER_JOB_PROTOCOL_H
#define DECODER_JOB_PROTOCOL_H

#include <stdint.h>

#include "decode/composition.h"
#include "decode/jpeg2000.h"

enum {
    JobPageBytes = 4096,
    JobRequestOffset = 0,
    JobReplyOffset = 2048,
    JobMagic = 0x4A4B504E,  // "NPKJ"
    JobProtocolVersion = 3,
    JobSectionLimit = 24,   // sections of one file's bytes, as the store holds them
};

// The jobs the queue gives out, numbered as host/decode_job.h numbers them.
enum JobKind {
    JobKindPlan = 0,      // classify and plan; a preview at previewReduce when > 0
    JobKindLevel = 1,     // the picture at `reduce`
    JobKindPrefix = 2,    // the decodable part of a file still arriving
    JobKindRegion = 3,    // `region` (full-resolution pixels) at `reduce`
    JobKindComments = 4,  // the codestream's comments
    JobProtocolKindCount = 5,
};

struct JobRequest {
    uint32_t magic;
    uint32_t version;
    uint32_t sequence;  // answered in the reply: a late reply to an earlier job is refused
    int32_t kind;       // JobKind
    int32_t fileKind;
    uint32_t length;    // bytes of the file mapped from the sections
    int32_t reduce;
    int32_t previewReduce;
    int32_t threads;
    uint32_t sampleLimit;  // the sample cap the decode follows
    uint32_t picture;      // plan and level jobs: the page or frame (0: the first)
    PictureRegion region;
    int32_t sectionCount;
    uint32_t capacities[JobSectionLimit];
    uint64_t sections[JobSectionLimit];  // handle values in the decoder
};

struct JobReply {
    uint32_t magic;
    uint32_t version;
    uint32_t sequence;
    int32_t failure;   // DecodeFailureNone, else why
    int32_t fileKind;  // plan jobs
    DecodePlan plan;   // plan jobs
    PictureRegion level;  // region jobs: where the bitmap lies in the level
    ComposedPicture composed;  // plan jobs: the pictures the file holds (count 1 for a kind that composes none)
    uint32_t notes;            // level jobs: what composing left out (ComposeNote* flags)
    uint32_t blockBytes;  // bytes of the block: the packed DIB, or the comments and their zero
    uint64_t block;       // the block's section, a handle value in the decoder; 0 for none
    // The decoder's processor time over the job (100 ns units), which the
    // plug-in's thread waiting for it does not spend; filled by the decoder
    // around ServeJobRequest.
    uint64_t processorTime;
};

// What a decoder says once, when it has started, at DecoderStartOffset: the
// mitigation policies it could set on itself, and its pointer width.
enum { DecoderStartOffset = 3584 };
enum DecoderStartFlag {
    DecoderStartNoDynamicCode = 1,
    DecoderStartStrictHandles = 2,
    DecoderStartNoExtensionPoints = 4,
    DecoderStartImageLoads = 8,
};
struct DecoderStart {
    uint32_t magic;
    uint32_t mitigations;  // DecoderStartFlag bits
    uint32_t bits;         // 32 or 64
};

// Decoder side: the request in the page copied to *requestOut; 1 when it is
// one this decoder can serve (sizes and counts in range), else 0.
int ReadJobRequest(JobRequest* requestOut, const uint8_t* page, uint32_t pageBytes);

// Decoder side: the decode the request asks for on the file's bytes
// (data[0, request->length)). The reply is filled but for `block`; the
// bitmap (from the place SetBitmapAllocator chose) or the comments (copied
// into a bitmap block too, so that they travel the same way) in *blockOut,
// null when none.
void ServeJobRequest(JobReply* replyOut, uint8_t** blockOut, const JobRequest* request, const uint8_t* data);

// Plug-in side: the reply in the page copied to *replyOut and checked
// against the request it answers: DecodeFailureNone when it may be used,
// else DecodeFailureDecoderStopped (a decoder that answers garbage is taken
// for one that stopped).
int ReadJobReply(JobReply* replyOut, const uint8_t* page, uint32_t pageBytes, const JobRequest* request);

// Plug-in side: 1 when the `mappedBytes` mapped of the block a checked reply
// names hold what it says: a packed DIB whose size from its own header is
// blockBytes, or comments ending in their zero. The caller has made the
// block's header its own first (the decoder could still write to it).
int CheckJobBlock(const uint8_t* block, uint32_t mappedBytes, const JobReply* reply, int32_t kind);

#endif
