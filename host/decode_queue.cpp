// The decode queue: each picture decoded at the level its view needs (a
// coarser preview first when that level is large), a larger level decoded
// in the background when the view grows, the full picture when a command
// asks for it, the part in view of a zoomed picture past the sample cap;
// decodes admitted by memory with the codec threads shared
// among them, in the order their streams ended; one more try, alone, for a
// decode that ran out of memory while others ran; partial decodes of files
// still arriving behind all of them, on one codec thread.
#include <stddef.h>
#include <stdlib.h>
#include <windows.h>

#include "decode/admission.h"
#include "decode/jpeg2000.h"
#include "host/decode_job.h"
#include "host/host_internal.h"
#include "host/plugin.h"

namespace {

// What a queued record waits for; the lists are taken in this order.
enum JobKind {
    JobCommand = 0,  // the full picture, for a command the user waits on
    JobRegion = 1,   // the part in view, finer than the picture shown
    JobPlan = 2,     // classify, plan, and a preview when the level is large
    JobLevel = 3,    // the level the view needs
    JobRetry = 4,    // a decode that ran out of memory, run alone
    JobPartial = 5,  // the part of a file received so far (queue.partial)
    JobKindCount = 6,
};

struct JobKindRule {
    int byOrder;    // kept in the order the streams ended
    int alone;      // runs only when nothing else does, and holds back the rest
    int admitted;   // waits for memory (a plan's memory is not known before)
    int oneThread;  // one codec thread, whatever is free
};

const JobKindRule JobKinds[JobKindCount] = {
    {0, 0, 1, 0},
    {0, 0, 0, 0},
    {0, 0, 0, 0},
    {1, 0, 1, 0},
    {0, 1, 1, 0},
    {0, 0, 0, 1},
};

// Level not yet decoded or wanted.
const int32_t NoLevel = 99;
// Address space left to the browser beside the decodes (capped at this, and
// at an eighth of the process's whole space).
const uint64_t BrowserMarginBytes = 256ull << 20;

// A record waits in at most one list, linked through queue.next. Every list,
// the counters, the records' queue fields and every change of a queued
// record's queue.running are guarded by the lock.
struct DecodeQueue {
    CRITICAL_SECTION lock;
    PluginInstance* lists[JobKindCount];
    int32_t workers;  // threads alive, each running at most one job
    int32_t busy;     // of which running a job
    int32_t threadsInUse;
    uint64_t committedBytes;
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

// What the process may still take: free address space less the browser's
// margin, and no more than the free physical memory.
uint64_t MeasureFreeBytes() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return 0;
    }
    uint64_t margin = status.ullTotalVirtual / 8 < BrowserMarginBytes ? status.ullTotalVirtual / 8 : BrowserMarginBytes;
    uint64_t space = status.ullAvailVirtual > margin ? status.ullAvailVirtual - margin : 0;
    return space < status.ullAvailPhys ? space : status.ullAvailPhys;
}

// Appends, or for kinds kept in order inserts by the order the streams ended.
void InsertRecord(int kind, PluginInstance* record) {
    PluginInstance** list = &Queue.lists[kind];
    while (*list && (!JobKinds[kind].byOrder || (*list)->queue.order <= record->queue.order)) {
        list = &(*list)->queue.next;
    }
    record->queue.stage = kind;
    record->queue.next = *list;
    *list = record;
}

PluginInstance* PopRecord(int kind) {
    PluginInstance* record = Queue.lists[kind];
    if (record) {
        Queue.lists[kind] = record->queue.next;
        record->queue.next = NULL;
    }
    return record;
}

int UnlinkRecord(int kind, PluginInstance* record) {
    for (PluginInstance** list = &Queue.lists[kind]; *list; list = &(*list)->queue.next) {
        if (*list == record) {
            *list = record->queue.next;
            record->queue.next = NULL;
            return 1;
        }
    }
    return 0;
}

// Under the lock: what the head of a list may start with, from the memory
// free now and what the running decodes were admitted with.
Admission AdmitRecord(int kind, const PluginInstance* record, int cores) {
    DecodeBudget budget = {MeasureFreeBytes(), Queue.committedBytes, cores, Queue.busy, Queue.threadsInUse};
    if (!JobKinds[kind].admitted) {
        Admission free = {Queue.busy < cores ? AdmissionStart : AdmissionWait, record->queue.targetReduce, 0, 0};
        free.threads = cores - Queue.threadsInUse > 1 && !JobKinds[kind].oneThread ? cores - Queue.threadsInUse : 1;
        return free;
    }
    return AdmitDecode(&budget, &record->queue.plan, record->queue.targetReduce, record->reception.file.length);
}

// Under the lock: the next job for a worker that has none, or null when it
// should end (nothing to do, or what is next waits for a running decode).
// Only the head of each list is considered, so a large decode waiting for
// memory is not overtaken for ever. A job run alone holds back the rest
// until the running ones have ended, and keeps its level.
PluginInstance* TakeJob() {
    int cores = CountCores();
    int kind = 0;
    while (kind < JobKindCount && !(JobKinds[kind].alone && Queue.lists[kind])) {
        ++kind;
    }
    Admission admission = {AdmissionStart, 0, cores, 0};
    if (kind < JobKindCount) {
        if (Queue.busy > 0) {
            return NULL;
        }
        admission.reduce = Queue.lists[kind]->queue.jobReduce;
    } else {
        for (kind = 0; kind < JobKindCount && !Queue.lists[kind]; ++kind) {
        }
        if (kind == JobKindCount) {
            return NULL;
        }
        admission = AdmitRecord(kind, Queue.lists[kind], cores);
        if (admission.verdict == AdmissionWait) {
            return NULL;
        }
        // No level larger than the one decoded fits: nothing to decode.
        const QueueLink& head = Queue.lists[kind]->queue;
        // (For a step down: no level coarser than the one decoded is asked.)
        int nothing = head.coarser ? admission.reduce <= head.decodedReduce : admission.reduce >= head.decodedReduce;
        if (JobKinds[kind].admitted && nothing) {
            admission = Admission{AdmissionTooLarge, admission.reduce, 0, 0};
        }
    }
    PluginInstance* record = PopRecord(kind);
    if (kind == JobPartial) {
        StoreRelease(&record->queue.partial.state, (int32_t)PartialRunning);
    }
    record->queue.jobReduce = admission.verdict == AdmissionStart ? admission.reduce : -1;
    record->queue.jobCoarser = record->queue.coarser;
    record->queue.coarser = 0;
    // A coarser level than asked is still one step down: the job is not short.
    record->queue.jobShort = JobKinds[kind].admitted && !record->queue.jobCoarser &&
                             record->queue.jobReduce != record->queue.targetReduce;
    record->queue.jobThreads = admission.threads;
    record->queue.jobBytes = admission.plannedBytes;
    Queue.busy++;
    Queue.threadsInUse += admission.threads;
    Queue.committedBytes += admission.plannedBytes;
    return record;
}

// What a decode-finished message says: the status changed (a decode began),
// or a picture, a preview, a level or an error was published.
enum { PostedStatus = 0, PostedPicture = 1 };

void PostToWindow(PluginInstance* record, WPARAM what) {
    // The fence pairs with the one in AttachWindow: either this load sees a
    // newly attached window, or AttachWindow's own update sees what was
    // published. A full message queue refuses the post; the window is then
    // at least marked for repainting (neither waits for the UI thread).
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    HWND window = LoadAcquire(&record->window.hwnd);
    if (window && !PostMessageA(window, DecodeFinishedMessage(), what, 0)) {
        InvalidateRect(window, NULL, TRUE);
    }
}

// Where a record goes after its job.
enum JobOutcome {
    OutcomeDone = 0,     // published (or failed for good); more only if the target moved
    OutcomeLevel = 1,    // planned, a preview published: its level comes next
    OutcomePlanned = 2,  // planned, nothing published: its level comes next
    OutcomeRetry = 3,    // ran out of memory beside others: once more, alone
    OutcomeGaveUp = 4,   // a larger level could not be had; the shown one stays
    OutcomeRegion = 5,   // a part in view decoded (or left coarser)
    OutcomePartial = 6,  // a partial picture published
    OutcomeNoPartial = 7, // the part received could not be decoded yet
};

// The file's comments once its picture decoded, and the outcome published.
void PublishOutcome(PluginInstance* record, int failure) {
    DecodeJobResult result = {};
    if (failure == DecodeFailureNone) {
        DecodeJob job = {};
        job.kind = DecodeJobComments;
        job.fileKind = LoadAcquire(&record->picture.fileKind);
        if (!RunRecordJob(record, &job, &result)) {
            failure = result.failure;
        }
    }
    PublishEnd(record, failure, result.comments, result.commentsLength);
}

// The level admitted for the record (jobReduce; -1 when none fits in memory).
int RunLevelJob(PluginInstance* record) {
    DecodeJobResult result = {};
    result.failure = DecodeFailureOutOfMemory;
    int first = LoadAcquire(&record->picture.dib) == NULL;
    DecodeJob job = {};
    job.kind = DecodeJobLevel;
    job.fileKind = LoadAcquire(&record->picture.fileKind);
    job.reduce = record->queue.jobReduce;
    if (record->queue.jobReduce >= 0 && RunRecordJob(record, &job, &result)) {
        if (PublishLevel(record, result.dib, record->queue.jobReduce)) {
            PublishOutcome(record, DecodeFailureNone);
        }
        // A level refused earlier (memory was short then) no longer stops the
        // view from asking for larger ones.
        if (!record->queue.jobCoarser) {
            PublishLevelFailure(record, 0);
        }
        return OutcomeDone;
    }
    int failure = result.failure;
    // A step down that fails leaves the full picture shown; no larger level
    // was refused.
    if (record->queue.jobCoarser) {
        return OutcomeGaveUp;
    }
    if (failure == DecodeFailureOutOfMemory && !record->queue.retried && record->queue.jobReduce >= 0) {
        record->queue.retried = 1;
        return OutcomeRetry;
    }
    if (!first) {
        PublishLevelFailure(record, failure);
        return OutcomeGaveUp;
    }
    PublishOutcome(record, failure);
    return OutcomeDone;
}

// The level a record should end at: the one a command waits for, else the
// one covering the size its view was drawn at (the full picture when that is
// not known).
int ChooseTargetReduce(const PluginInstance* record) {
    const DecodePlan& plan = record->queue.plan;
    int32_t width = LoadAcquire(&record->queue.viewWidth);
    int32_t height = LoadAcquire(&record->queue.viewHeight);
    if (record->queue.commandWanted) {
        return record->queue.commandReduce > plan.shownReduce ? record->queue.commandReduce : plan.shownReduce;
    }
    if (width <= 0 || height <= 0) {
        return plan.shownReduce;
    }
    return ChooseViewReduce(plan.fullWidth, plan.fullHeight, (uint32_t)width, (uint32_t)height, plan.shownReduce,
                            plan.maxReduce);
}

// Classifies and plans; publishes the geometry, then a preview when the
// level the view needs is large.
int RunPlanJob(PluginInstance* record) {
    DecodeJob job = {};
    job.kind = DecodeJobPlan;
    job.fileKind = FileKindInvalid;
    DecodeJobResult result = {};
    int planned = RunRecordJob(record, &job, &result);
    PublishFileKind(record, result.fileKind);
    if (!planned) {
        PublishOutcome(record, result.failure);
        return OutcomeDone;
    }
    const DecodePlan plan = result.plan;
    PublishPictureSize(record, &plan);
    PublishLevelRange(record, &plan);
    EnterCriticalSection(&Queue.lock);
    record->queue.plan = plan;
    record->queue.planned = 1;
    record->queue.targetReduce = ChooseTargetReduce(record);
    int target = record->queue.targetReduce;
    LeaveCriticalSection(&Queue.lock);
    // A preview is worth it only well below the level to come.
    if (plan.previewReduce < target + 2) {
        return OutcomePlanned;
    }
    job.kind = DecodeJobLevel;
    job.fileKind = result.fileKind;
    job.reduce = plan.previewReduce;
    if (!RunRecordJob(record, &job, &result)) {
        return OutcomePlanned;
    }
    PublishPreview(record, result.dib);
    return OutcomeLevel;
}

int RunJob(PluginInstance* record) {
    if (record->queue.stage == JobPartial) {
        return RunPartialStage(record) ? OutcomePartial : OutcomeNoPartial;
    }
    // A part in view is decoded under a picture already painted: no status
    // to show, and a repaint per pan would only flicker.
    if (record->queue.stage == JobRegion) {
        RunRegionJob(record);
        return OutcomeRegion;
    }
    StoreRelease(&record->queue.decoding, 1);
    // The status box now says it is decoding.
    PostToWindow(record, PostedStatus);
    int outcome = record->queue.stage == JobPlan ? RunPlanJob(record) : RunLevelJob(record);
    StoreRelease(&record->queue.decoding, 0);
    return outcome;
}

// Under the lock: the kind of job a planned record needs next, or -1 when
// its level is there (or nothing more can come).
int NextLevelJob(const PluginInstance* record) {
    const QueueLink& link = record->queue;
    if (!link.planned || LoadAcquire(&record->picture.decodeError) || link.targetReduce >= link.decodedReduce) {
        return -1;
    }
    return link.commandWanted ? JobCommand : JobLevel;
}

// Under the lock: a partial decode is over, run or taken out of the queue;
// its view of the bytes goes with it.
void EndPartialJob(PluginInstance* record) {
    ReleaseBytesView(&record->queue.partial.bytes);
    StoreRelease(&record->queue.partial.state, (int32_t)PartialIdle);
}

// Under the lock: a partial decode still waiting is dropped.
void DropQueuedPartial(PluginInstance* record) {
    if (UnlinkRecord(JobPartial, record)) {
        ReleaseBytesView(&record->queue.partial.followUp);
        EndPartialJob(record);
    }
}

// Under the lock, after a partial decode: the last one of an interrupted
// stream or the stream's own decode, queued while it ran, follows it.
void SettlePartial(PluginInstance* record) {
    EndPartialJob(record);
    if (record->queue.partial.followUp.length > 0) {
        record->queue.partial.bytes = record->queue.partial.followUp;
        record->queue.partial.followUp = BytesView{};
        StoreRelease(&record->queue.partial.state, (int32_t)PartialQueued);
        InsertRecord(JobPartial, record);
    } else if (record->queue.partial.finalWaiting) {
        record->queue.partial.finalWaiting = 0;
        InsertRecord(JobPlan, record);
    }
}

// Under the lock, after a job: the record goes back into a list, or its
// decode is over. An instance destroyed meanwhile left the record to this
// thread; 1 tells the caller to release it.
int SettleRecord(PluginInstance* record, int outcome) {
    Queue.busy--;
    Queue.threadsInUse -= record->queue.jobThreads;
    Queue.committedBytes -= record->queue.jobBytes;
    if (record->queue.stage == JobPartial) {
        if (LoadAcquire(&record->queue.running) == DecodeOrphaned) {
            ReleaseBytesView(&record->queue.partial.followUp);
            EndPartialJob(record);
            return 1;
        }
        SettlePartial(record);
        return 0;
    }
    if (LoadAcquire(&record->queue.running) == DecodeOrphaned) {
        return 1;
    }
    if (record->queue.stage != JobPlan && record->queue.stage != JobRegion && outcome == OutcomeDone &&
        record->queue.jobReduce >= 0) {
        record->queue.decodedReduce = record->queue.jobReduce;
    }
    // Memory allowed only a smaller level than wanted (or none larger than
    // the one shown): that is where the record stays.
    if (outcome == OutcomeGaveUp || record->queue.jobShort) {
        record->queue.targetReduce = record->queue.decodedReduce;
    }
    if (record->queue.jobShort) {
        PublishLevelFailure(record, DecodeFailureOutOfMemory);
    }
    int next = outcome == OutcomeRetry ? JobRetry : NextLevelJob(record);
    if (next < 0 && RegionJobWanted(record)) {
        next = JobRegion;
    }
    if (next < 0) {
        StoreRelease(&record->queue.running, (int32_t)DecodeIdle);
    } else {
        InsertRecord(next, record);
    }
    return 0;
}

void StartWorkers();

void RunWorker() {
    EnterCriticalSection(&Queue.lock);
    PluginInstance* record;
    while ((record = TakeJob()) != NULL) {
        // The running job's cancel lives here; NPP_Destroy finds it through
        // the record while the job runs.
        DecodeJobCancel cancel = {};
        record->queue.cancel = &cancel;
        LeaveCriticalSection(&Queue.lock);
        int outcome = RunJob(record);
        // The window hears of a preview, a level, a part or an error; a
        // record whose instance is gone has no window (DetachWindow cleared it).
        if (outcome != OutcomeRetry && outcome != OutcomePlanned && outcome != OutcomeNoPartial) {
            PostToWindow(record, PostedPicture);
        }
        EnterCriticalSection(&Queue.lock);
        record->queue.cancel = NULL;
        if (SettleRecord(record, outcome)) {
            LeaveCriticalSection(&Queue.lock);
            ReleaseRecord(record);
            EnterCriticalSection(&Queue.lock);
        }
        // Jobs that waited for this one's memory may now run side by side.
        StartWorkers();
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

// Under the lock: a worker for each queued job that might run beside the
// running ones, up to one per core; a worker that finds its job must wait
// for memory ends, and a job's end starts them again.
void StartWorkers() {
    int cores = CountCores();
    int idle = Queue.workers - Queue.busy;
    int waiting = 0;
    for (PluginInstance* list : Queue.lists) {
        for (PluginInstance* record = list; record; record = record->queue.next) {
            ++waiting;
        }
    }
    while (idle < waiting && Queue.workers < cores && StartWorker()) {
        ++idle;
    }
}

// Under the lock: queues a job for a record no job is queued or running
// for; 0 when no worker exists nor could be made (nobody would take it).
int QueueJob(PluginInstance* record, int kind) {
    StoreRelease(&record->queue.running, (int32_t)DecodeRunning);
    InsertRecord(kind, record);
    StartWorkers();
    if (Queue.workers == 0) {
        UnlinkRecord(kind, record);
        StoreRelease(&record->queue.running, (int32_t)DecodeIdle);
        return 0;
    }
    return 1;
}

}  // namespace

int RunRecordJob(PluginInstance* record, DecodeJob* job, DecodeJobResult* resultOut) {
    // A partial job reads the view it was queued with, the others the file's.
    const BytesView* bytes =
        record->queue.stage == JobPartial ? &record->queue.partial.bytes : &record->reception.file;
    job->bytes = bytes;
    job->length = bytes->length;
    job->threads = record->queue.jobThreads;
    job->plannedBytes = record->queue.jobBytes;
    return RunDecodeJob(job, resultOut, record->queue.cancel);
}

int QueueDecode(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    record->queue.retried = 0;
    record->queue.planned = 0;
    record->queue.targetReduce = NoLevel;
    record->queue.decodedReduce = NoLevel;
    record->queue.order = Queue.nextOrder++;
    // The decode supersedes a partial one still waiting, and follows one
    // already running (which queues it when it ends).
    DropQueuedPartial(record);
    int queued = 1;
    if (LoadAcquire(&record->queue.partial.state) == PartialRunning) {
        StoreRelease(&record->queue.running, (int32_t)DecodeRunning);
        record->queue.partial.finalWaiting = 1;
    } else {
        queued = QueueJob(record, JobPlan);
    }
    LeaveCriticalSection(&Queue.lock);
    return queued;
}

int QueuePartialDecode(PluginInstance* record, int kind, BytesView* bytes, int32_t viewWidth, int32_t viewHeight,
                       int last) {
    EnterCriticalSection(&Queue.lock);
    int idle = LoadAcquire(&record->queue.partial.state) == PartialIdle;
    int queued = idle && LoadAcquire(&record->queue.running) == DecodeIdle;
    if (!idle && last) {
        ReleaseBytesView(&record->queue.partial.followUp);
        record->queue.partial.followUp = *bytes;
        *bytes = BytesView{};
        queued = 1;
    }
    if (queued && idle) {
        record->queue.partial.bytes = *bytes;
        *bytes = BytesView{};
        record->queue.partial.kind = kind;
        record->queue.partial.viewWidth = viewWidth;
        record->queue.partial.viewHeight = viewHeight;
        StoreRelease(&record->queue.partial.state, (int32_t)PartialQueued);
        InsertRecord(JobPartial, record);
        StartWorkers();
        if (Queue.workers == 0) {
            UnlinkRecord(JobPartial, record);
            EndPartialJob(record);
            queued = 0;
        }
    }
    LeaveCriticalSection(&Queue.lock);
    // A view not queued goes now.
    ReleaseBytesView(bytes);
    return queued;
}

int CancelQueuedPartialDecode(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    DropQueuedPartial(record);
    int idle = LoadAcquire(&record->queue.partial.state) == PartialIdle;
    LeaveCriticalSection(&Queue.lock);
    return idle;
}

int LeaveDecodeQueue(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    int owned = 0;
    int listed = 0;
    DropQueuedPartial(record);
    for (int kind = 0; kind < JobPartial && !listed; ++kind) {
        listed = UnlinkRecord(kind, record);
    }
    if (listed) {
        StoreRelease(&record->queue.running, (int32_t)DecodeIdle);
    } else if (LoadAcquire(&record->queue.running) == DecodeRunning ||
               LoadAcquire(&record->queue.partial.state) == PartialRunning) {
        StoreRelease(&record->queue.running, (int32_t)DecodeOrphaned);
        if (record->queue.cancel) {
            CancelDecodeJob(record->queue.cancel);
        }
        owned = 1;
    }
    LeaveCriticalSection(&Queue.lock);
    return owned;
}

void QueueRegionDecode(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    // No worker: the coarser level stays painted.
    if (LoadAcquire(&record->queue.running) == DecodeIdle) {
        QueueJob(record, JobRegion);
    }
    LeaveCriticalSection(&Queue.lock);
}

void RequestViewSize(PluginInstance* record, int32_t deviceWidth, int32_t deviceHeight) {
    if (!record || deviceWidth <= 0 || deviceHeight <= 0) {
        return;
    }
    StoreRelease(&record->queue.viewWidth, deviceWidth);
    StoreRelease(&record->queue.viewHeight, deviceHeight);
    EnterCriticalSection(&Queue.lock);
    // A view finer than a picture past the cap allows is served by decoding
    // the part in view (region_view.cpp), not the whole capped picture.
    const DecodePlan& plan = record->queue.plan;
    int finerThanCap = record->queue.planned && plan.shownReduce > 0 &&
                       ChooseViewReduce(plan.fullWidth, plan.fullHeight, (uint32_t)deviceWidth, (uint32_t)deviceHeight,
                                        0, plan.maxReduce) < plan.shownReduce;
    if (record->queue.planned && !finerThanCap && !LoadAcquire(&record->picture.levelFailure)) {
        int target = ChooseTargetReduce(record);
        if (target < record->queue.targetReduce) {
            record->queue.targetReduce = target;
            // A record with a job queued or running gets its level after it.
            if (LoadAcquire(&record->queue.running) == DecodeIdle && NextLevelJob(record) >= 0) {
                QueueJob(record, NextLevelJob(record));
            }
        }
    }
    LeaveCriticalSection(&Queue.lock);
}

void QueueCommandLevel(PluginInstance* record, int reduce) {
    EnterCriticalSection(&Queue.lock);
    record->queue.commandWanted = 1;
    record->queue.commandReduce = reduce;
    record->queue.coarser = 0;
    // A finer level the view already waits for serves the command too.
    if (record->queue.planned && ChooseTargetReduce(record) < record->queue.targetReduce) {
        record->queue.targetReduce = ChooseTargetReduce(record);
    }
    if (LoadAcquire(&record->queue.running) == DecodeIdle) {
        if (NextLevelJob(record) >= 0) {
            QueueJob(record, JobCommand);
        }
    } else if (UnlinkRecord(JobLevel, record)) {
        InsertRecord(JobCommand, record);
    }
    LeaveCriticalSection(&Queue.lock);
}

void EndCommandWait(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    record->queue.commandWanted = 0;
    LeaveCriticalSection(&Queue.lock);
}

void QueueViewLevel(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    QueueLink* link = &record->queue;
    if (link->planned && !link->commandWanted && LoadAcquire(&link->running) == DecodeIdle) {
        int target = ChooseTargetReduce(record);
        if (target > link->decodedReduce) {
            link->targetReduce = target;
            link->coarser = 1;
            QueueJob(record, JobLevel);
        }
    }
    LeaveCriticalSection(&Queue.lock);
}
