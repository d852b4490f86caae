// A decoder's bitmap kept in its section and read a view at a time: the
// browser's process never maps more of it than one view, whatever its size.
#include "host/picture_section.h"

#include <stdlib.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "decoder/job_protocol.h"

namespace {

// The header (40 bytes) and the largest palette (256 entries).
const uint32_t MostHeadBytes = 40 + 256 * 4;

uint32_t AllocationGranularity() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwAllocationGranularity ? system.dwAllocationGranularity : 65536;
}

// A read-only view of `count` bytes from `offset` (a multiple of the
// granularity); null when the section is shorter or there is no room.
const uint8_t* MapPart(HANDLE section, uint32_t offset, uint32_t count) {
    return (const uint8_t*)MapViewOfFile(section, FILE_MAP_READ, 0, offset, count);
}

// 1 when the section holds at least `bytes`: its last part maps (a view
// past a section's end is refused), without mapping the rest.
int HoldsBytes(HANDLE section, uint32_t bytes) {
    uint32_t last = (bytes - 1) / AllocationGranularity() * AllocationGranularity();
    const uint8_t* tail = MapPart(section, last, bytes - last);
    if (tail) UnmapViewOfFile(tail);
    return tail != NULL;
}

// The header and palette copied from the section's first view into
// *headOut (malloc'ed, headBytes long); a DecodeFailure value.
int CopyHead(uint8_t** headOut, uint32_t* headBytesOut, HANDLE section, const JobReply* reply) {
    uint32_t count = reply->blockBytes < MostHeadBytes ? reply->blockBytes : MostHeadBytes;
    uint8_t* head = (uint8_t*)malloc(MostHeadBytes);
    const uint8_t* first = head ? MapPart(section, 0, count) : NULL;
    if (!first) {
        free(head);
        return DecodeFailureOutOfMemory;
    }
    memset(head, 0, MostHeadBytes);
    memcpy(head, first, count);
    UnmapViewOfFile(first);
    *headOut = head;
    *headBytesOut = (uint32_t)(PackedDibBits(head) - head);
    return DecodeFailureNone;
}

}  // namespace

int TakePictureSection(PictureSection** pictureOut, HANDLE section, const JobReply* reply, int32_t kind) {
    *pictureOut = NULL;
    uint8_t* head = NULL;
    uint32_t headBytes = 0;
    int failure = DecodeFailureDecoderStopped;
    if (reply->blockBytes == 0 || !HoldsBytes(section, reply->blockBytes)) {
        goto cleanup;
    }
    failure = CopyHead(&head, &headBytes, section, reply);
    if (failure != DecodeFailureNone) {
        goto cleanup;
    }
    // Checked on this process's copy: the sizes it gives are the ones used.
    failure = DecodeFailureDecoderStopped;
    if (!CheckJobBlock(head, reply->blockBytes, reply, kind)) {
        goto cleanup;
    }
    failure = DecodeFailureOutOfMemory;
    *pictureOut = (PictureSection*)malloc(sizeof(PictureSection));
    if (*pictureOut) {
        **pictureOut = PictureSection{section, head, headBytes, reply->blockBytes};
        return DecodeFailureNone;
    }
cleanup:
    free(head);
    CloseHandle(section);
    return failure;
}

int ReadPictureSection(const PictureSection* picture, PictureBytesSink sink, void* context) {
    if (!sink(context, picture->head, picture->headBytes)) {
        return 0;
    }
    // Each view starts on the granularity at or below the next byte wanted
    // and ends a view's size further, or at the bitmap's end; where a
    // crowded address space has no room for a whole view, a smaller one.
    uint32_t granularity = AllocationGranularity();
    for (uint32_t at = picture->headBytes; at < picture->bytes;) {
        uint32_t start = at / granularity * granularity;
        uint32_t end = start;
        const uint8_t* view = NULL;
        for (uint32_t size = PictureViewBytes; !view && size >= granularity; size /= 2) {
            end = picture->bytes - start > size ? start + size : picture->bytes;
            view = MapPart(picture->handle, start, end - start);
        }
        int taken = view && sink(context, view + (at - start), end - at);
        if (view) UnmapViewOfFile(view);
        if (!taken) {
            return 0;
        }
        at = end;
    }
    return 1;
}

void FreePictureSection(PictureSection* picture) {
    if (!picture) return;
    CloseHandle(picture->handle);
    free(picture->head);
    free(picture);
}
