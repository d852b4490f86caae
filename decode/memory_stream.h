// A read-only OpenJPEG stream over bytes the caller keeps alive: the codec
// reads the file in place, nothing is copied up front.
#ifndef DECODE_MEMORY_STREAM_H
#define DECODE_MEMORY_STREAM_H

#include <openjpeg.h>
#include <stdint.h>

// Bytes the codec reads in place of the caller's at `at` (a field patched
// without copying the file); `length` 0 for none.
struct StreamPatch {
    uint64_t at;
    uint8_t bytes[4];
    uint32_t length;
};

// The stream's position in the caller's bytes; lives as long as the stream.
struct MemoryStream {
    const uint8_t* data;
    uint64_t length;
    uint64_t pos;
    StreamPatch patch;
};

// An input stream reading (data, length) through `state`, with `patch` (may
// be null) over them; null when OpenJPEG cannot allocate it. Release it with
// opj_stream_destroy.
opj_stream_t* OpenMemoryStream(MemoryStream* state, const uint8_t* data, uint64_t length,
                               const StreamPatch* patch = NULL);

#endif
