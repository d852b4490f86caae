// A read-only OpenJPEG stream over bytes the caller keeps alive: the codec
// reads the file in place, nothing is copied up front.
#ifndef DECODE_MEMORY_STREAM_H
#define DECODE_MEMORY_STREAM_H

#include <openjpeg.h>
#include <stdint.h>

// The stream's position in the caller's bytes; lives as long as the stream.
struct MemoryStream {
    const uint8_t* data;
    uint64_t length;
    uint64_t pos;
};

// An input stream reading (data, length) through `state`; null when OpenJPEG
// cannot allocate it. Release it with opj_stream_destroy.
opj_stream_t* OpenMemoryStream(MemoryStream* state, const uint8_t* data, uint64_t length);

#endif
