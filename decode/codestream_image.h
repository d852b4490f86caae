// Internal: one codestream, contiguous or in pieces, read in place: its
// header alone, or decoded into an OpenJPEG image at a level, for pictures
// composed of several codestreams.
#ifndef DECODE_CODESTREAM_IMAGE_H
#define DECODE_CODESTREAM_IMAGE_H

#include "jpeg2000.h"
#include "memory_stream.h"

#include <openjpeg.h>
#include <stdint.h>

struct CodestreamHeader {
    uint32_t width;  // of the first component at full resolution
    uint32_t height;
    int maxReduce;   // halvings the codestream holds
};

// A DecodeFailure value; *headerOut is filled on DecodeFailureNone.
int ReadCodestreamHeader(CodestreamHeader* headerOut, const StreamSegment* segments, uint32_t count);

// The codestream decoded at `reduce` halvings (within its own, and within
// the sample cap) with `threadCount` codec threads (0: the process-wide
// count); *imageOut is the caller's to destroy, null on failure. A
// DecodeFailure value.
int DecodeCodestreamImage(opj_image_t** imageOut, const StreamSegment* segments, uint32_t count, int reduce,
                          int threadCount);

// The same for a codestream cut short (a file still arriving): the codec
// decodes as far as the bytes go, reading `patch` (may be null) over them.
int DecodeCutCodestreamImage(opj_image_t** imageOut, const StreamSegment* segments, uint32_t count, int reduce,
                             int threadCount, const StreamPatch* patch);

// The first codestream of a file as PlanDecode and DecodeLevelToPackedDib
// show a file that composes nothing.
int PlanFirstCodestream(DecodePlan* planOut, int* failureOut, int kind, const uint8_t* data, int32_t length);
int DecodeFirstCodestreamLevel(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                               int reduce, int threadCount);

// 1 when the file's first picture is composed (composition.cpp).
int IsComposedFile(int kind, const uint8_t* data, int32_t length);

// What the bytes received so far of a file still arriving show as its
// picture 0 (composition.cpp): nothing yet (the boxes that say whether and
// how it composes have not all come), its first codestream, or a composition.
enum ArrivingShow {
    ArrivingNothing = 0,
    ArrivingFirstCodestream = 1,
    ArrivingComposed = 2,
};
int ClassifyArrivingFile(int kind, const uint8_t* data, uint32_t length);

// Picture 0 of a composed file from the `length` bytes received so far:
// each codestream drawn from its decodable part or left out, the rest the
// page's colour. DecodeFailureCorrupt while nothing can be drawn.
int ComposeArrivingPicture(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                           int reduce, int threadCount);

// Threads a decode asked for `requested` threads gets (0: the process-wide count).
int ResolveCodecThreads(int requested);

#endif
