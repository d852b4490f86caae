// A read-only OpenJPEG stream over bytes the caller keeps alive: the codec
// reads the file in place, nothing is copied up front. The bytes may lie in
// pieces (a codestream stored in fragments), read as one run.
#ifndef DECODE_MEMORY_STREAM_H
#define DECODE_MEMORY_STREAM_H

#include <openjpeg.h>
#include <stdint.h>

// One piece of the run: `length` bytes at `data`.
struct StreamSegment {
    const uint8_t* data;
    uint64_t length;
};

// Bytes the codec reads in place of the run's at `at` (a field patched
// without copying the file); `length` 0 for none.
struct StreamPatch {
    uint64_t at;
    uint8_t bytes[4];
    uint32_t length;
};

// The stream's position in the caller's pieces; lives as long as the stream.
// `single` holds the one piece of a contiguous run.
struct MemoryStream {
    StreamSegment single;
    const StreamSegment* segments;
    uint32_t count;
    uint64_t length;   // of all pieces together
    uint64_t pos;
    uint32_t segment;  // the piece holding pos, with its start in the run
    uint64_t segmentStart;
    StreamPatch patch;
};

// An input stream reading (data, length) through `state`, with `patch` (may
// be null) read over them; null when OpenJPEG cannot allocate it. Release it
// with opj_stream_destroy.
opj_stream_t* OpenMemoryStream(MemoryStream* state, const uint8_t* data, uint64_t length,
                               const StreamPatch* patch = NULL);

// The same over `count` pieces read one after the other (`patch` at a
// position of the whole run); the array must outlive the stream.
opj_stream_t* OpenSegmentStream(MemoryStream* state, const StreamSegment* segments, uint32_t count,
                                const StreamPatch* patch = NULL);

#endif
