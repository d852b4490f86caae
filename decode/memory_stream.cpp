// OpenJPEG stream callbacks over the caller's bytes.
#include "memory_stream.h"

#include <string.h>

namespace {

OPJ_SIZE_T ReadMemoryStream(void* buffer, OPJ_SIZE_T size, void* userData)
{
    MemoryStream* stream = (MemoryStream*)userData;
    if (stream->pos >= stream->length) {
        return (OPJ_SIZE_T)-1;
    }
    uint64_t available = stream->length - stream->pos;
    OPJ_SIZE_T count = available < size ? (OPJ_SIZE_T)available : size;
    memcpy(buffer, stream->data + stream->pos, count);
    // The patch's bytes that fall in what was read replace the file's.
    const StreamPatch* patch = &stream->patch;
    for (uint32_t i = 0; i < patch->length; ++i) {
        if (patch->at + i >= stream->pos && patch->at + i < stream->pos + count) {
            ((uint8_t*)buffer)[patch->at + i - stream->pos] = patch->bytes[i];
        }
    }
    stream->pos += count;
    return count;
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

opj_stream_t* OpenMemoryStream(MemoryStream* state, const uint8_t* data, uint64_t length, const StreamPatch* patch)
{
    state->data = data;
    state->length = length;
    state->pos = 0;
    state->patch = patch != NULL ? *patch : StreamPatch{0, {0, 0, 0, 0}, 0};
    if (state->patch.length > sizeof state->patch.bytes) {
        state->patch.length = sizeof state->patch.bytes;
    }
    OPJ_SIZE_T chunk = length < OPJ_J2K_STREAM_CHUNK_SIZE ? (OPJ_SIZE_T)length : OPJ_J2K_STREAM_CHUNK_SIZE;
    opj_stream_t* stream = opj_stream_create(chunk, OPJ_TRUE);
    if (stream == NULL) {
        return NULL;
    }
    opj_stream_set_user_data(stream, state, NULL);
    opj_stream_set_user_data_length(stream, length);
    opj_stream_set_read_function(stream, ReadMemoryStream);
    opj_stream_set_skip_function(stream, SkipMemoryStream);
    opj_stream_set_seek_function(stream, SeekMemoryStream);
    return stream;
}
