// OpenJPEG stream callbacks over the caller's bytes, in one piece or several.
#include "memory_stream.h"

#include <string.h>

namespace {

// Moves the piece cursor onto the piece holding stream->pos (or past the
// last one at the end of the run).
void FindSegment(MemoryStream* stream)
{
    if (stream->pos < stream->segmentStart) {
        stream->segment = 0;
        stream->segmentStart = 0;
    }
    while (stream->segment < stream->count &&
           stream->pos - stream->segmentStart >= stream->segments[stream->segment].length) {
        stream->segmentStart += stream->segments[stream->segment].length;
        ++stream->segment;
    }
}

OPJ_SIZE_T ReadMemoryStream(void* buffer, OPJ_SIZE_T size, void* userData)
{
    MemoryStream* stream = (MemoryStream*)userData;
    if (stream->pos >= stream->length) {
        return (OPJ_SIZE_T)-1;
    }
    OPJ_SIZE_T done = 0;
    while (done < size && stream->pos < stream->length) {
        FindSegment(stream);
        const StreamSegment* piece = &stream->segments[stream->segment];
        uint64_t within = stream->pos - stream->segmentStart;
        uint64_t available = piece->length - within;
        OPJ_SIZE_T count = available < size - done ? (OPJ_SIZE_T)available : size - done;
        memcpy((uint8_t*)buffer + done, piece->data + within, count);
        done += count;
        stream->pos += count;
    }
    // The patch's bytes that fall in what was read replace the file's.
    uint64_t first = stream->pos - done;
    const StreamPatch* patch = &stream->patch;
    for (uint32_t i = 0; i < patch->length; ++i) {
        if (patch->at + i >= first && patch->at + i < stream->pos) {
            ((uint8_t*)buffer)[patch->at + i - first] = patch->bytes[i];
        }
    }
    return done;
}

// OpenJPEG retries a short skip, so the end of the data must answer -1,
// never 0, or it would loop.
OPJ_OFF_T SkipMemoryStream(OPJ_OFF_T size, void* userData)
{
    MemoryStream* stream = (MemoryStream*)userData;
    if (size < 0) {
        if ((uint64_t)(-size) > stream->pos) {
            return -1;
        }
        stream->pos -= (uint64_t)(-size);
        return size;
    }
    if (stream->pos >= stream->length) {
        return -1;
    }
    uint64_t available = stream->length - stream->pos;
    uint64_t count = available < (uint64_t)size ? available : (uint64_t)size;
    stream->pos += count;
    return (OPJ_OFF_T)count;
}

OPJ_BOOL SeekMemoryStream(OPJ_OFF_T offset, void* userData)
{
    MemoryStream* stream = (MemoryStream*)userData;
    if (offset < 0 || (uint64_t)offset > stream->length) {
        return OPJ_FALSE;
    }
    stream->pos = (uint64_t)offset;
    return OPJ_TRUE;
}

}  // namespace

opj_stream_t* OpenSegmentStream(MemoryStream* state, const StreamSegment* segments, uint32_t count,
                                const StreamPatch* patch)
{
    state->patch = patch != NULL ? *patch : StreamPatch{0, {0, 0, 0, 0}, 0};
    if (state->patch.length > sizeof state->patch.bytes) {
        state->patch.length = sizeof state->patch.bytes;
    }
    state->segments = segments;
    state->count = count;
    state->length = 0;
    state->pos = 0;
    state->segment = 0;
    state->segmentStart = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // Pieces come from 32-bit lengths: their sum cannot wrap.
        state->length += segments[i].length;
    }
    OPJ_SIZE_T chunk =
        state->length < OPJ_J2K_STREAM_CHUNK_SIZE ? (OPJ_SIZE_T)state->length : OPJ_J2K_STREAM_CHUNK_SIZE;
    opj_stream_t* stream = opj_stream_create(chunk, OPJ_TRUE);
    if (stream == NULL) {
        return NULL;
    }
    opj_stream_set_user_data(stream, state, NULL);
    opj_stream_set_user_data_length(stream, state->length);
    opj_stream_set_read_function(stream, ReadMemoryStream);
    opj_stream_set_skip_function(stream, SkipMemoryStream);
    opj_stream_set_seek_function(stream, SeekMemoryStream);
    return stream;
}

opj_stream_t* OpenMemoryStream(MemoryStream* state, const uint8_t* data, uint64_t length, const StreamPatch* patch)
{
    state->single.data = data;
    state->single.length = length;
    return OpenSegmentStream(state, &state->single, 1, patch);
}
