// The decode queue: at most one decode per core at a time, the part in view
// of a zoomed picture past the sample cap first, previews of large pictures
// ahead of full decodes, full decodes in the order their streams ended, one
// more try for a decode that ran out of memory while others ran; and what a
// decode publishes into the instance record.
#include <stddef.h>
#include <stdlib.h>
#include <windows.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"
#include "host/plugin.h"

namespace {

// What a queued record's next job is.
enum {
    StagePlan = 0,  // classify, plan, and a preview when the picture is large
    StageFull = 1,  // the picture shown
    StageRegion = 2,  // the part in view, finer than the picture shown
};

// A record waits in exactly one list, linked through queueNext. Every list,
// the counters and every change of a queued record's decodeThread.running
// are guarded by QueueLock. Records waiting for a retry run only when no
// other decode runs, so they get the memory a crowd of decodes had taken.
struct DecodeQueue {
    CRITICAL_SECTION lock;
    PluginInstance* regions;
    PluginInstance* plans;
    PluginInstance* fulls;
    PluginInstance* retries;
    int32_t workers;  // threads alive, each running at most one job
    int32_t busy;     // of which running a job
    uint32_t nextOrder;
};

DecodeQueue Queue;

// The lock must exist before any instance can queue, and for test programs
// that link the plug-in's code without going through DllMain. It goes when
// the library is unloaded, which no worker outlives (each holds a reference
// until its last instruction outside the lock).
struct QueueLockSetup {
    QueueLockSetup() { InitializeCriticalSection(&Queue.lock); }
    ~QueueLockSetup() { DeleteCriticalSection(&Queue.lock); }
};
QueueLockSetup LockSetup;

int CountCores() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwNumberOfProcessors > 0 ? (int)system.dwNumberOfProcessors : 1;
}

// Appends, or for full decodes inserts by the order the streams ended.
void InsertRecord(PluginInstance** list, PluginInstance* record, int byOrder) {
    while (*list && (!byOrder || (*list)->queueOrder <= record->queueOrder)) {
        list = &(*list)->queueNext;
    }
    record->queueNext = *list;
    *list = record;
}

PluginInstance* PopRecord(PluginInstance** list) {
    PluginInstance* record = *list;
    if (record) {
        *list = record->queueNext;
        record->queueNext = NULL;
    }
    return record;
}

int UnlinkRecord(PluginInstance** list, PluginInstance* record) {
    for (; *list; list = &(*list)->queueNext) {
        if (*list == record) {
            *list = record->queueNext;
            record->queueNext = NULL;
            return 1;
        }
    }
    return 0;
}

// Under the lock: the next job for a worker that has none, or null when it
// should end. A pending retry holds back everything else until the running
// decodes have ended.
PluginInstance* TakeJob() {
    if (Queue.retries) {
        return Queue.busy == 0 ? PopRecord(&Queue.retries) : NULL;
    }
    // The part in view first: the user is looking at its coarser level.
    PluginInstance* record = PopRecord(&Queue.regions);
    record = record ? record : PopRecord(&Queue.plans);
    return record ? record : PopRecord(&Queue.fulls);
}

// What a decode-finished message says: the status changed (a decode began),
// or a picture, a preview or an error was published.
enum { PostedStatus = 0, PostedPicture = 1 };

void PostToWindow(PluginInstance* record, WPARAM what) {
    // The fence pairs with the one in AttachWindow: either this load sees a
    // newly attached window, or AttachWindow's own update sees what was
    // published. A full message queue refuses the post; the window is then
    // at least marked for repainting (neither waits for the UI thread).
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    HWND window = LoadAcquire(&record->hwnd);
    if (window && !PostMessageA(window, DecodeFinishedMessage(), what, 0)) {
        InvalidateRect(window, NULL, TRUE);
    }
}

// Publishes the outcome of the whole decode (`failure` a DecodeFailure
// value): comments after their length, then loadState, all with release
// stores.
void PublishEnd(PluginInstance* record, int failure) {
    int failed = failure != DecodeFailureNone;
    if (!failed) {
        uint8_t* comments = NULL;
        uint32_t count = 0;
        if (ExtractCodestreamCommentsOfKind(&comments, &count, LoadAcquire(&record->fileKind), record->data,
                                            (uint32_t)record->dataSize)) {
            StoreRelease(&record->commentsLength, count);
            StoreRelease(&record->comments, comments);
        } else {
            free(comments);
            failed = 1;
        }
    }
    if (failed) {
        if (failure != DecodeFailureNone) {
            StoreRelease(&record->failureReason, (int32_t)failure);
        }
        StoreRelease(&record->decodeError, 1);
    }
    StoreRelease(&record->loadState, (int32_t)LoadStateEnded);
}

// The picture shown; 1 when done (published or failed for good), 0 when it
// ran out of memory and earns one more try.
int RunFullStage(PluginInstance* record) {
    uint8_t* dib = NULL;
    int failure = DecodeFailureNone;
    if (DecodeReducedToPackedDib(&dib, &failure, LoadAcquire(&record->fileKind), record->data, record->dataSize,
                                 record->shownReduce)) {
        StoreRelease(&record->dib, dib);
        StoreRelease(&record->dibHeader, (BITMAPINFOHEADER*)dib);
        StoreRelease(&record->dibBits, dib + sizeof(BITMAPINFOHEADER) + PackedDibPaletteSize(dib));
        PublishEnd(record, DecodeFailureNone);
        return 1;
    }
    if (failure == DecodeFailureOutOfMemory && !record->retried) {
        record->retried = 1;
        return 0;
    }
    PublishEnd(record, failure);
    return 1;
}

// Classifies and plans; publishes the geometry, then the preview when the
// picture is large. 1 when the record needs its full stage next.
int RunPlanStage(PluginInstance* record) {
    const uint8_t* data = record->data;
    int32_t size = record->dataSize;
    DecodePlan plan;
    int failure = DecodeFailureNotJpeg2000;
    if (!data || size <= 0) {
        StoreRelease(&record->fileKind, (int32_t)FileKindInvalid);
        PublishEnd(record, failure);
        return 0;
    }
    int kind = ClassifyFileKind(data, (uint32_t)size);
    StoreRelease(&record->fileKind, (int32_t)kind);
    if (!PlanDecode(&plan, &failure, kind, data, size)) {
        PublishEnd(record, failure);
        return 0;
    }
    StoreRelease(&record->fullWidth, (int32_t)plan.fullWidth);
    StoreRelease(&record->fullHeight, (int32_t)plan.fullHeight);
    StoreRelease(&record->shownWidth, (int32_t)plan.shownWidth);
    StoreRelease(&record->shownHeight, (int32_t)plan.shownHeight);
    StoreRelease(&record->shownReduce, (int32_t)plan.shownReduce);
    uint8_t* preview = NULL;
    if (plan.previewReduce > 0 && DecodeReducedToPackedDib(&preview, NULL, kind, data, size, plan.previewReduce)) {
        StoreRelease(&record->preview, preview);
        return 1;
    }
    // No preview: the full decode follows at once rather than waiting behind
    // the previews of other pictures.
    return RunFullStage(record) ? 0 : 2;
}

// Runs one job and says where the record goes next: 0 done, 1 full stage,
// 2 retry.
int RunJob(PluginInstance* record) {
    // A part in view is decoded under a picture already painted: no status
    // to show, and a repaint per pan would only flicker.
    if (record->decodeStage == StageRegion) {
        RunRegionJob(record);
        return 0;
    }
    StoreRelease(&record->decoding, 1);
    // The status box now says it is decoding.
    PostToWindow(record, PostedStatus);
    int next = record->decodeStage == StagePlan ? RunPlanStage(record) : (RunFullStage(record) ? 0 : 2);
    StoreRelease(&record->decoding, 0);
    return next;
}

// Under the lock, after a job: the record goes back into a list, or its
// decode is over. An instance destroyed meanwhile left the record to this
// thread; 1 tells the caller to release it.
int SettleRecord(PluginInstance* record, int next) {
    if (LoadAcquire(&record->decodeThread.running) == DecodeOrphaned) {
        return 1;
    }
    if (next == 0 && RegionJobWanted(record)) {
        record->decodeStage = StageRegion;
        InsertRecord(&Queue.regions, record, 0);
    } else if (next == 0) {
        StoreRelease(&record->decodeThread.running, (int32_t)DecodeIdle);
    } else if (next == 1) {
        record->decodeStage = StageFull;
        InsertRecord(&Queue.fulls, record, 1);
    } else {
        record->decodeStage = StageFull;
        InsertRecord(&Queue.retries, record, 0);
    }
    return 0;
}

void RunWorker() {
    EnterCriticalSection(&Queue.lock);
    PluginInstance* record;
    while ((record = TakeJob()) != NULL) {
        Queue.busy++;
        LeaveCriticalSection(&Queue.lock);
        int next = RunJob(record);
        // The window hears of a preview, a picture or an error; a record
        // whose instance is gone has no window (DetachWindow cleared it).
        if (next != 2) {
            PostToWindow(record, PostedPicture);
        }
        EnterCriticalSection(&Queue.lock);
        Queue.busy--;
        if (SettleRecord(record, next)) {
            LeaveCriticalSection(&Queue.lock);
            ReleaseRecord(record);
            EnterCriticalSection(&Queue.lock);
        }
    }
    Queue.workers--;
    LeaveCriticalSection(&Queue.lock);
}

// The thread takes a reference on the module that holds its code before it
// exists and drops it with FreeLibraryAndExitThread, whose last instructions
// are in KERNEL32: a browser that unloads the library right after
// NP_Shutdown while a decode still runs does not pull the code from under
// it. CreateThread rather than the C runtime's _beginthreadex because the
// thread ends through FreeLibraryAndExitThread, never through the runtime's
// own thread exit; nothing here needs the runtime's per-thread start-up.
DWORD WINAPI WorkerEntry(void*) {
    RunWorker();
    HMODULE module = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)(void*)&WorkerEntry, &module);
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Under the lock: one more worker; 0 when no thread could be made.
int StartWorker() {
    HMODULE module = NULL;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCSTR)(void*)&WorkerEntry, &module)) {
        return 0;
    }
    HANDLE thread = CreateThread(NULL, 0, WorkerEntry, NULL, 0, NULL);
    if (!thread) {
        FreeLibrary(module);
        return 0;
    }
    CloseHandle(thread);
    Queue.workers++;
    return 1;
}

}  // namespace

int QueueDecode(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    record->decodeStage = StagePlan;
    record->retried = 0;
    record->queueOrder = Queue.nextOrder++;
    StoreRelease(&record->decodeThread.running, (int32_t)DecodeRunning);
    InsertRecord(&Queue.plans, record, 0);
    int queued = 1;
    if (Queue.workers < CountCores() && !StartWorker() && Queue.workers == 0) {
        // Nobody would ever take it: the user would wait forever.
        UnlinkRecord(&Queue.plans, record);
        StoreRelease(&record->decodeThread.running, (int32_t)DecodeIdle);
        queued = 0;
    }
    LeaveCriticalSection(&Queue.lock);
    return queued;
}

void QueueRegionDecode(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    if (LoadAcquire(&record->decodeThread.running) == DecodeIdle) {
        record->decodeStage = StageRegion;
        StoreRelease(&record->decodeThread.running, (int32_t)DecodeRunning);
        InsertRecord(&Queue.regions, record, 0);
        if (Queue.workers < CountCores() && !StartWorker() && Queue.workers == 0) {
            // No worker: the coarser level stays painted.
            UnlinkRecord(&Queue.regions, record);
            StoreRelease(&record->decodeThread.running, (int32_t)DecodeIdle);
        }
    }
    LeaveCriticalSection(&Queue.lock);
}

int LeaveDecodeQueue(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    int owned = 0;
    if (UnlinkRecord(&Queue.regions, record) || UnlinkRecord(&Queue.plans, record) || UnlinkRecord(&Queue.fulls, record) ||
        UnlinkRecord(&Queue.retries, record)) {
        StoreRelease(&record->decodeThread.running, (int32_t)DecodeIdle);
    } else if (LoadAcquire(&record->decodeThread.running) == DecodeRunning) {
        StoreRelease(&record->decodeThread.running, (int32_t)DecodeOrphaned);
        owned = 1;
    }
    LeaveCriticalSection(&Queue.lock);
    return owned;
}
