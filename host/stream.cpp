// Stream reception into the instance's received-bytes store, and handing
// the file to the decode queue.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

const int32_t WriteReadyBytes = 268435455;
// Less room than a browser's usual block is offered as none: a plug-in
// process writes its whole block whatever NPP_WriteReady said.
const int32_t LeastWriteRoom = 64 << 10;
// Progress repaints while a file arrives: a few per second at most.
const DWORD ProgressRepaintMilliseconds = 250;

const UiText OutOfMemoryFormat = {"Cannot allocate memory for image (%d, %d, %p",
                                  "画像用のメモリを確保できません (%d, %d, %p"};

// Drops the image, the comments and the bytes of an earlier stream. Only
// called on the UI thread once the pipeline's table took the new stream: a
// job of the last one still running reads only its own views and publishes
// nothing more.
void ReleaseReception(PluginInstance* record) {
    ClearPicture(record);
    ResetSequence(record);
    ReleaseRegionBitmaps(record);
    ReleasePartialPictures(record);
    CloseReceivedBytes(&record->reception.store);
    ReleaseBytesView(&record->reception.file);
    record->reception.stream = NULL;
    record->reception.announcedLength = 0;
    record->reception.failedLength = 0;
}

// The bytes could not be stored (no memory or address space): they are
// dropped, and the window tells the user once the browser's call has
// returned: a message box inside NPP_Write would hold the browser (and its
// hang watchdog) until the user answers. Without a window there is nobody
// to tell; the stream just stops.
void FailWrite(PluginInstance* record, int32_t offset, int32_t len, void* buffer) {
    CloseReceivedBytes(&record->reception.store);
    NoteFailureReason(record, DecodeFailureOutOfMemory, 0);
    record->reception.failedOffset = offset;
    record->reception.failedLength = len;
    record->reception.failedBuffer = buffer;
    if (record->window.hwnd) {
        PostMessageA(record->window.hwnd, AllocationFailedMessage(), 0, 0);
    }
}

}  // namespace

void FreeReception(PluginInstance* record) {
    free(record->reception.url);
    CloseReceivedBytes(&record->reception.store);
    ReleaseBytesView(&record->reception.file);
}

const uint8_t* ReceivedSoFar(const PluginInstance* record, uint32_t* lengthOut) {
    const Reception* reception = &record->reception;
    int receiving = LoadAcquire(&reception->loadState) == LoadStateReceiving;
    *lengthOut = receiving ? reception->store.length : reception->file.length;
    const uint8_t* data = receiving ? ReceivedBytesData(&reception->store) : reception->file.data;
    if (!data) {
        *lengthOut = 0;
    }
    return data;
}

int TakeReceivedView(BytesView* viewOut, const PluginInstance* record, uint32_t length) {
    const Reception* reception = &record->reception;
    if (LoadAcquire(&reception->loadState) == LoadStateReceiving) {
        return TakeBytesView(viewOut, &reception->store, length);
    }
    const BytesView* file = &reception->file;
    if (length > file->length) {
        memset(viewOut, 0, sizeof *viewOut);
        return 0;
    }
    // The file's sections mapped once more: the handles are duplicated so
    // that this view closes only its own.
    HANDLE sections[ReceivedSectionLimit] = {};
    int32_t count = 0;
    while (count < file->sectionCount &&
           DuplicateHandle(GetCurrentProcess(), file->sections[count], GetCurrentProcess(), &sections[count], 0,
                           FALSE, DUPLICATE_SAME_ACCESS)) {
        ++count;
    }
    if (count == file->sectionCount && MapSectionsSideBySide(viewOut, sections, file->capacities, count, length)) {
        return 1;
    }
    for (int32_t i = 0; i < count; ++i) {
        CloseHandle(sections[i]);
    }
    return 0;
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
    // A job of the last stream still waiting is dropped, a running one
    // killed: it keeps reading its own view of the last file (the table
    // takes the file's over for it) and publishes nothing from now on.
    if (!OpenStreamDecode(record, &record->reception.file)) {
        return NPERR_GENERIC_ERROR;
    }
    // The whole address, however long: View Image and Copy Image Location
    // must not use a cut one. Without memory for it there is none.
    free(record->reception.url);
    record->reception.url = stream && stream->url ? _strdup(stream->url) : NULL;
    ReleaseReception(record);
    record->reception.stream = stream;
    uint32_t announced = stream ? stream->end : 0;
    record->reception.announcedLength = announced <= (uint32_t)INT32_MAX ? (int32_t)announced : INT32_MAX;
    OpenReceivedBytes(&record->reception.store, announced);
    StoreRelease(&record->reception.loadState, (int32_t)LoadStateReceiving);
    if (stype) {
        *stype = NP_NORMAL;
    }
    // The box said "waiting" (or showed an earlier image) until now: without
    // a repaint it would go on saying so for the whole download. The
    // progress repaints of NPP_Write follow this one at their pace.
    record->reception.progressPaintTick = GetTickCount();
    if (record->window.hwnd) {
        InvalidateRect(record->window.hwnd, NULL, TRUE);
    }
    return NPERR_NO_ERROR;
}

int32_t NPP_WriteReady(NPP instance, NPStream* stream) {
    // The room the store has ready, where a write only copies; with none
    // ready yet the browser waits a moment and asks again, rather than
    // holding its thread while memory is committed. Any other stream gets
    // what it asks for, and NPP_Write refuses it.
    PluginInstance* record = instance ? (PluginInstance*)instance->pdata : NULL;
    if (!record || stream != record->reception.stream ||
        LoadAcquire(&record->reception.loadState) != LoadStateReceiving) {
        return WriteReadyBytes;
    }
    int32_t room = ReceivedBytesRoom(&record->reception.store);
    if (room < LeastWriteRoom) {
        return 0;
    }
    return room < WriteReadyBytes ? room : WriteReadyBytes;
}

int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer) {
    if (!instance || !instance->pdata) {
        return -1;
    }
    PluginInstance* record = (PluginInstance*)instance->pdata;
    if (len <= 0) {
        return len;
    }
    // Only the stream being received is written, only while it is (the
    // pipeline's table says whether it is open), never after its bytes could
    // not be stored, before its start or past a 32-bit end.
    if (stream != record->reception.stream || LoadAcquire(&record->reception.loadState) != LoadStateReceiving ||
        record->reception.failedLength != 0 || !buffer || offset < 0 || offset > INT32_MAX - len ||
        !MayStoreBytes(record)) {
        return -1;
    }
    if ((uint32_t)offset < record->reception.store.length) {
        ForgetPrefixMeasure(record);
    }
    // The store's addresses are read (to write, and to measure what can be
    // decoded) only inside one use: its preparer may move them meanwhile.
    ReceivedBytes* store = &record->reception.store;
    BeginStoreUse(store);
    int stored = WriteReceivedBytes(store, (uint32_t)offset, buffer, (uint32_t)len);
    if (stored) {
        ConsiderPartialDecode(record, 0);
    }
    EndStoreUse(store);
    if (!stored) {
        FailWrite(record, offset, len, buffer);
        return -1;
    }
    DWORD now = GetTickCount();
    if (record->window.hwnd && now - record->reception.progressPaintTick >= ProgressRepaintMilliseconds) {
        record->reception.progressPaintTick = now;
        InvalidateRect(record->window.hwnd, NULL, FALSE);
    }
    return len;
}

NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason) {
    if (!instance || !instance->pdata) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    PluginInstance* record = (PluginInstance*)instance->pdata;
    // Only the end of the open stream counts: a repeated end, or the end of
    // a refused or replaced stream, must not start a second decode over a
    // published image.
    if (stream != record->reception.stream || LoadAcquire(&record->reception.loadState) != LoadStateReceiving) {
        return NPERR_NO_ERROR;
    }
    // From now on every decode reads this view; the writable store goes.
    // Without address space for the view the bytes are lost.
    ReceivedBytes* store = &record->reception.store;
    BeginStoreUse(store);
    int viewed = TakeBytesView(&record->reception.file, store, store->length);
    EndStoreUse(store);
    CloseReceivedBytes(store);
    StoreRelease(&record->reception.loadState, (int32_t)LoadStateEnded);
    // The progress bar goes with the stream.
    if (record->window.hwnd) {
        InvalidateRect(record->window.hwnd, NULL, FALSE);
    }
    if (!viewed) {
        NoteStreamBroken(record);
        PublishFailure(record, DecodeFailureOutOfMemory, 0);
        return NPERR_NO_ERROR;
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
