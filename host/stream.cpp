// Stream reception into the instance's buffer, and handing it to the
// decode queue.
#include <malloc.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

const int32_t GrowthStep = 131072;
// An announced length is only a promise: up to this much is reserved at
// once, and a larger file grows the buffer as its bytes really arrive.
const uint32_t TrustedAnnouncedLength = 16 * 1024 * 1024;
const int32_t WriteReadyBytes = 268435455;
// Progress repaints while a file arrives: a few per second at most.
const DWORD ProgressRepaintMilliseconds = 250;

const UiText OutOfMemoryFormat = {"Cannot allocate memory for image (%d, %d, %p",
                                  "Cannot allocate memory for image (%d, %d, %p"};

// Drops the image, the comments and the buffer of an earlier stream. Only
// called on the UI thread while no decode runs, so nothing reads them
// concurrently.
void ReleaseReception(PluginInstance* record) {
    ClearPicture(record);
    ReleaseRegionBitmaps(record);
    ReleasePartialPictures(record);
    LetGoOfStreamBlock(record, record->reception.data);
    record->reception.data = NULL;
    record->reception.dataSize = 0;
    record->reception.dataLength = 0;
    record->reception.dataCapacity = 0;
    record->reception.announcedLength = 0;
}

// The heap block behind the buffer: at least `capacity` bytes. A realloc of
// a large block copies it, so growing it by 128 KiB each time costs O(n^2)
// (measured under Wine: 2 MiB/s for a 64 MiB stream). The block therefore
// grows by half its size when it must move, while dataCapacity still follows
// the 128 KiB steps; the bytes past dataCapacity are never used.
uint8_t* ReserveStreamBlock(uint8_t* data, int32_t capacity) {
    size_t held = data ? _msize(data) : 0;
    if (held >= (size_t)capacity) {
        return data;
    }
    size_t ample = held + held / 2;
    if (ample > (size_t)capacity && ample <= (size_t)INT32_MAX) {
        uint8_t* grown = (uint8_t*)realloc(data, ample);
        if (grown) {
            return grown;
        }
    }
    return (uint8_t*)realloc(data, (size_t)capacity);
}

// The same while a prefix job reads the block: the bytes move to a new one
// and the old one is left to that job, which must not see it move.
uint8_t* MoveStreamBlock(PluginInstance* record, int32_t capacity) {
    uint8_t* moved = (uint8_t*)malloc((size_t)capacity);
    if (moved) {
        memcpy(moved, record->reception.data, (size_t)record->reception.dataLength);
        LetGoOfStreamBlock(record, record->reception.data);
    }
    return moved;
}

// Grows the buffer to the next 128 KiB step strictly above end; on failure
// drops the buffer, returns 0 and has the window tell the user once the
// browser's call has returned: a message box inside NPP_Write would hold the
// browser (and its hang watchdog) until the user answers. Without a window
// there is nobody to tell; the stream just stops.
int GrowStreamBuffer(PluginInstance* record, int32_t end, int32_t offset, int32_t len, void* buffer) {
    if (end <= INT32_MAX - GrowthStep) {
        int32_t capacity =
            end > record->reception.dataCapacity ? (end / GrowthStep + 1) * GrowthStep : record->reception.dataCapacity;
        uint8_t* grown = PrefixJobReadsBlock(record) ? MoveStreamBlock(record, capacity)
                                                     : ReserveStreamBlock(record->reception.data, capacity);
        if (grown) {
            record->reception.data = grown;
            record->reception.dataCapacity = capacity;
            return 1;
        }
    }
    LetGoOfStreamBlock(record, record->reception.data);
    record->reception.data = NULL;
    record->reception.dataLength = 0;
    record->reception.dataCapacity = 0;
    record->reception.dataSize = 0;
    NoteFailureReason(record, DecodeFailureOutOfMemory, 0);
    record->reception.failedOffset = offset;
    record->reception.failedLength = len;
    record->reception.failedBuffer = buffer;
    if (record->window.hwnd) {
        PostMessageA(record->window.hwnd, AllocationFailedMessage(), 0, 0);
    }
    return 0;
}

}  // namespace

void FreeReception(PluginInstance* record) {
    free(record->reception.url);
    free(record->reception.data);
}

// Registered once; both threads may race to store the same value.
static UINT RegisteredMessage(UINT* slot, const char* name) {
    UINT value = LoadAcquire(slot);
    if (value == 0) {
        value = RegisterWindowMessageA(name);
        StoreRelease(slot, value);
    }
    return value;
}

UINT DecodeProgressMessage() {
    static UINT message = 0;
    return RegisteredMessage(&message, "npkavrel decode progress");
}

static void ShowAllocationWarning(PluginInstance* record, void*) {
    ShowPluginMessage(record, UiString(OutOfMemoryFormat), record->reception.failedOffset,
                      record->reception.failedLength, record->reception.failedBuffer);
}

void WarnAllocationFailed(PluginInstance* record) { RunCommand(record, ShowAllocationWarning, NULL); }

UINT AllocationFailedMessage() {
    static UINT message = 0;
    return RegisteredMessage(&message, "npkavrel allocation failed");
}

NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype) {
    (void)type;
    (void)seekable;
    if (!instance) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    PluginInstance* record = (PluginInstance*)instance->pdata;
    if (!record) {
        return NPERR_GENERIC_ERROR;
    }
    // A later stream while a menu or dialog of this instance is open is
    // refused: the About and comments dialogs read the image and the
    // comments until they close, and the menu's command runs on what it was
    // built for. The first stream is taken: browsers open it from their
    // event loop after the instance exists, so it can arrive inside any of
    // these loops, and a refused stream is never offered again.
    if (record->modal.depth > 0 && LoadAcquire(&record->reception.loadState) != LoadStateWaiting) {
        return NPERR_GENERIC_ERROR;
    }
    // Likewise while a decode job holds the buffer (the pipeline's table
    // says which): replacing it would free it under the job.
    if (!OpenStreamDecode(record)) {
        return NPERR_GENERIC_ERROR;
    }
    // The whole address, however long: View Image and Copy Image Location
    // must not use a cut one. Without memory for it there is none.
    free(record->reception.url);
    record->reception.url = stream && stream->url ? _strdup(stream->url) : NULL;
    ReleaseReception(record);
    if (stream && stream->end > 0) {
        record->reception.announcedLength = stream->end <= (uint32_t)INT32_MAX ? (int32_t)stream->end : INT32_MAX;
        uint32_t reserved = stream->end < TrustedAnnouncedLength ? stream->end : TrustedAnnouncedLength;
        record->reception.data = (uint8_t*)malloc(reserved);
        if (record->reception.data) {
            record->reception.dataCapacity = (int32_t)reserved;
        }
    }
    StoreRelease(&record->reception.loadState, (int32_t)LoadStateReceiving);
    if (stype) {
        *stype = NP_NORMAL;
    }
    // The box said "waiting" (or showed an earlier image) until now: without
    // a repaint it would go on saying so for the whole download.
    if (record->window.hwnd) {
        InvalidateRect(record->window.hwnd, NULL, TRUE);
    }
    return NPERR_NO_ERROR;
}

int32_t NPP_WriteReady(NPP instance, NPStream* stream) {
    (void)instance;
    (void)stream;
    return WriteReadyBytes;
}

int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer) {
    (void)stream;
    if (!instance || !instance->pdata) {
        return -1;
    }
    PluginInstance* record = (PluginInstance*)instance->pdata;
    if (len <= 0) {
        return len;
    }
    // Only into an open stream (never where a decode reads), not before the
    // buffer, nor past a 32-bit end.
    if (!buffer || offset < 0 || offset > INT32_MAX - len || !MayStoreBytes(record)) {
        return -1;
    }
    int32_t end = offset + len;
    // A prefix job reads the block below its length: a block arriving out
    // of order there goes into a copy.
    int overwrites = offset < record->queue.prefix.queued.length && PrefixJobReadsBlock(record);
    if ((end > record->reception.dataCapacity || overwrites) && !GrowStreamBuffer(record, end, offset, len, buffer)) {
        return -1;
    }
    // Blocks may arrive out of order: the file ends at the furthest byte
    // written, and a gap not yet filled reads as zeros, never as stale heap.
    if (offset > record->reception.dataLength) {
        memset(record->reception.data + record->reception.dataLength, 0,
               (size_t)(offset - record->reception.dataLength));
    }
    memcpy(record->reception.data + offset, buffer, (size_t)len);
    if (end > record->reception.dataLength) {
        record->reception.dataLength = end;
    }
    ConsiderPartialDecode(record, 0);
    DWORD now = GetTickCount();
    if (record->window.hwnd && now - record->reception.progressPaintTick >= ProgressRepaintMilliseconds) {
        record->reception.progressPaintTick = now;
        InvalidateRect(record->window.hwnd, NULL, FALSE);
    }
    return len;
}

NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason) {
    (void)stream;
    if (!instance || !instance->pdata) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    PluginInstance* record = (PluginInstance*)instance->pdata;
    // Only the end of an open stream counts: a repeated end, or the end of a
    // refused stream, must not start a second decode over a published image.
    if (LoadAcquire(&record->reception.loadState) != LoadStateReceiving) {
        return NPERR_NO_ERROR;
    }
    record->reception.dataSize = record->reception.dataLength;
    StoreRelease(&record->reception.loadState, (int32_t)LoadStateEnded);
    // The progress bar goes with the stream.
    if (record->window.hwnd) {
        InvalidateRect(record->window.hwnd, NULL, FALSE);
    }
    if (reason != NPRES_DONE) {
        NoteStreamBroken(record);
        // Without this the loading text would stay up for good. A failed
        // buffer growth has already given its own reason.
        PublishFailure(record, FailureInterrupted, 1);
        // What arrived stays on screen, as complete as it can be.
        ConsiderPartialDecode(record, 1);
        if (record->window.hwnd) {
            InvalidateRect(record->window.hwnd, NULL, TRUE);
        }
        return NPERR_NO_ERROR;
    }
    if (!QueueDecode(record)) {
        // The user would otherwise wait forever on the loading text.
        PublishFailure(record, DecodeFailureOutOfMemory, 0);
        if (record->window.hwnd) {
            InvalidateRect(record->window.hwnd, NULL, TRUE);
        }
    }
    return NPERR_NO_ERROR;
}
