// The decode queue: each picture decoded at the level its view needs (a
// coarser preview first when that level is large), a larger level decoded
// in the background when the view grows, the full picture when a command
// asks for it, the part in view of a zoomed picture past the sample cap;
// every job admitted by memory with the codec threads shared among them,
// levels in the order their streams ended; one more try, alone, for a level
// that ran out of memory while others ran; pictures of files still arriving
// behind all of them, on one codec thread. Each record's state is stepped by
// the pipeline's table (pipeline_table.cpp); this file carries out its
// actions.
#include <stddef.h>
#include <stdlib.h>
#include <windows.h>

#include "decode/admission.h"
#include "decode/jpeg2000.h"
#include "host/decode_job.h"
#include "host/host_internal.h"
#include "host/plugin.h"
#include "host/thread_name.h"

namespace {

// Level not yet decoded or wanted.
const int32_t NoLevel = 99;
// Address space left to the browser beside the decodes (capped at this, and
// at an eighth of the process's whole space).
const uint64_t BrowserMarginBytes = 256ull << 20;

// A record waits in at most one list, linked through queue.next. Every list,
// the counters, the records' queue fields and every change of a record's
// queue.state are guarded by the lock.
struct DecodeQueue {
    CRITICAL_SECTION lock;
    PluginInstance* lists[JobKindCount];
    int32_t workers;  // threads alive, each running at most one job
    int32_t busy;     // of which running a job
    int32_t threadsInUse;
    uint64_t committedBytes;
    int32_t aloneRunning;  // a job that runs alone runs
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

// Appends, or for the views' levels inserts by the order the streams ended.
void InsertRecord(int kind, PluginInstance* record) {
    PluginInstance** list = &Queue.lists[kind];
    while (*list && (kind != JobLevel || (*list)->queue.order <= record->queue.order)) {
        list = &(*list)->queue.next;
    }
    record->queue.list = kind;
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

// Under the lock: the prefix job no longer reads its view of the bytes.
void EndPrefixJob(PluginInstance* record) {
    ReleaseBytesView(&record->queue.prefix.bytes);
}

// Under the lock: no prefix job, queued or noted, reads the bytes any more.
void DropPrefixJobs(PluginInstance* record) {
    ReleaseBytesView(&record->queue.prefix.bytes);
    ReleaseBytesView(&record->queue.prefix.lastBytes);
}

// Under the lock: a new stream; nothing of the last one's plan stays.
void ForgetPlan(PluginInstance* record) {
    QueueLink* link = &record->queue;
    link->planned = 0;
    link->targetReduce = NoLevel;
    link->decodedReduce = NoLevel;
    link->commandWanted = 0;
    link->coarser = 0;
}

// Under the lock: the prefix job reads what the request says, through the
// view it takes over.
void SetPrefixJob(PluginInstance* record, const PrefixRequest* request, BytesView* bytes) {
    EndPrefixJob(record);
    record->queue.prefix.queued = *request;
    record->queue.prefix.bytes = *bytes;
    *bytes = BytesView{};
}

void StartWorkers();
int ChooseTargetReduce(const PluginInstance* record);
int32_t FireEvent(PluginInstance* record, int32_t event, const PrefixRequest* request = NULL,
                  BytesView* bytes = NULL);

// Under the lock: into a list, with a worker to take it; when none can be
// started the job is dropped again (the table's EvJobDropped).
void QueueRecord(PluginInstance* record, int kind) {
    InsertRecord(kind, record);
    StartWorkers();
    if (Queue.workers == 0) {
        FireEvent(record, EvJobDropped);
    }
}

// Under the lock: one event for the record. Its state changes as the
// pipeline's table says (host/pipeline_table.cpp), and the queue does its
// own part of the action (the lists, the prefix job and its views of the
// bytes, the cancel); the action is returned for the caller's part
// (refusing a browser call, freeing the record, running the job). A prefix
// event's request and view are taken over only by the actions that queue or
// note them.
int32_t FireEvent(PluginInstance* record, int32_t event, const PrefixRequest* request, BytesView* bytes) {
    QueueLink* link = &record->queue;
    PipelineStep step = StepPipeline(link->state, event);
    StoreRelease(&link->state, step.next);
    switch (step.action) {
    case ActDropQueuedOpen:
        UnlinkRecord(link->list, record);
        DropPrefixJobs(record);
        ForgetPlan(record);
        break;
    case ActKillOpen:
        // The killed job goes on reading the last file's view (its own
        // copy of it) until it ends; the stream's is the next file's.
        link->killedFile = *bytes;
        *bytes = BytesView{};
        if (link->cancel) {
            CancelDecodeJob(link->cancel);
        }
        ReleaseBytesView(&link->prefix.lastBytes);
        ForgetPlan(record);
        break;
    case ActOpenStream:
        // A running prefix job (killed) still reads its own view.
        ReleaseBytesView(&link->prefix.lastBytes);
        ForgetPlan(record);
        break;
    case ActQueuePrefix:
        SetPrefixJob(record, request, bytes);
        QueueRecord(record, JobPrefix);
        break;
    case ActExtendPrefix:
        SetPrefixJob(record, request, bytes);
        break;
    case ActNoteLastPrefix:
        ReleaseBytesView(&link->prefix.lastBytes);
        link->prefix.last = *request;
        link->prefix.lastBytes = *bytes;
        *bytes = BytesView{};
        break;
    case ActQueueLastPrefix:
        SetPrefixJob(record, &link->prefix.last, &link->prefix.lastBytes);
        QueueRecord(record, JobPrefix);
        break;
    case ActDropPrefixPlan:
        UnlinkRecord(JobPrefix, record);
        DropPrefixJobs(record);
        QueueRecord(record, JobPlan);
        break;
    case ActQueuePlan:
        QueueRecord(record, JobPlan);
        break;
    case ActQueueLevel:
        QueueRecord(record, link->commandWanted ? JobCommand : JobLevel);
        break;
    case ActQueueRetry:
        QueueRecord(record, JobRetry);
        break;
    case ActQueueRegion:
        QueueRecord(record, JobRegion);
        break;
    case ActWantLevel:
    case ActWantLevelFirst:
        link->commandWanted = 1;
        link->coarser = 0;
        // A finer level the view already waits for serves the command too.
        if (link->planned && ChooseTargetReduce(record) < link->targetReduce) {
            link->targetReduce = ChooseTargetReduce(record);
        }
        if (step.action == ActWantLevelFirst && UnlinkRecord(JobLevel, record)) {
            InsertRecord(JobCommand, record);
        }
        break;
    case ActEndCommandWait:
        link->commandWanted = 0;
        break;
    case ActUnlinkJob:
    case ActUnlinkFree:
        UnlinkRecord(link->list, record);
        DropPrefixJobs(record);
        break;
    case ActOrphan:
        // No last prefix job follows a job whose record is gone.
        ReleaseBytesView(&link->prefix.lastBytes);
        if (link->cancel) {
            CancelDecodeJob(link->cancel);
        }
        break;
    case ActFreeRecord:
        DropPrefixJobs(record);
        break;
    default:
        break;
    }
    return step.action;
}

// Under the lock: the memory of the job at the head of a list, as admission
// sees it.
JobCandidate CandidateOf(int kind, const PluginInstance* record) {
    const QueueLink& link = record->queue;
    uint32_t size = record->reception.file.length;
    JobCandidate head = {1, &link.plan, link.targetReduce, 0, size, CodecRunsElsewhere()};
    // A command's level beside a level shown stays in the decoder's section.
    if (head.peakElsewhere && link.commandWanted && link.commandAside && LoadAcquire(&record->picture.dib)) {
        head.peakElsewhere = PeakAndBitmapElsewhere;
    }
    if (kind == JobRetry) {
        head.reduce = link.jobReduce;
    } else if (kind == JobPlan) {
        head.plan = NULL;
        head.boundBytes = PlanJobBytes(size, DecodeSampleLimit());
    } else if (kind == JobRegion) {
        uint32_t width = 0, height = 0;
        int32_t reduce = 0;
        WantedRegionExtent(record, &width, &height, &reduce);
        head.plan = NULL;
        head.reduce = reduce;
        head.boundBytes = RegionJobBytes(&link.plan, width, height, reduce, size);
    } else if (kind == JobPrefix) {
        head.plan = &link.prefix.queued.plan;
        head.reduce = link.prefix.queued.reduce;
        head.compressedBytes = (uint32_t)link.prefix.queued.length;
    }
    return head;
}

// Under the lock: the next job for a worker that has none, or null when it
// should end (nothing to do, or what is next waits for memory or for a job
// that runs alone). ChooseJob (pipeline_table.cpp) decides which list.
PluginInstance* TakeJob() {
    JobCandidate heads[JobKindCount] = {};
    for (int kind = 0; kind < JobKindCount; ++kind) {
        if (Queue.lists[kind]) {
            heads[kind] = CandidateOf(kind, Queue.lists[kind]);
        }
    }
    RunningJobs running = {Queue.busy, Queue.threadsInUse, Queue.committedBytes, Queue.aloneRunning};
    JobChoice choice = ChooseJob(heads, &running, MeasureFreeBytes(), CountCores());
    if (choice.kind < 0) {
        return NULL;
    }
    Admission admission = choice.admission;
    PluginInstance* record = PopRecord(choice.kind);
    QueueLink* link = &record->queue;
    int level = choice.kind == JobCommand || choice.kind == JobLevel || choice.kind == JobRetry;
    // No level larger than the one decoded fits: nothing to decode. (For a
    // step down: no level coarser than the one decoded is asked.)
    int nothing = link->coarser ? admission.reduce <= link->decodedReduce : admission.reduce >= link->decodedReduce;
    if (level && nothing) {
        admission = Admission{AdmissionTooLarge, admission.reduce, 0, 0, 0};
    }
    link->jobKind = choice.kind == JobCommand ? JobLevel : choice.kind;
    link->jobReduce = admission.verdict == AdmissionStart ? admission.reduce : -1;
    link->jobCoarser = link->coarser;
    link->jobAside = level && link->commandWanted && link->commandAside;
    link->coarser = 0;
    // A coarser level than asked is still one step down: the job is not short.
    link->jobShort = level && !link->jobCoarser && link->jobReduce != link->targetReduce;
    link->jobThreads = admission.threads > 0 ? admission.threads : 1;
    link->jobBytes = admission.plannedBytes;
    link->jobCharged = admission.chargedBytes;
    link->decoderEnd = DecodeFailureNone;
    // The file's view stays as it is until the job ends: a new stream hands
    // it to killedFile instead of releasing it.
    link->jobView = choice.kind == JobPrefix ? link->prefix.bytes : record->reception.file;
    FireEvent(record, EvJobTaken);
    Queue.busy++;
    Queue.threadsInUse += link->jobThreads;
    Queue.committedBytes += link->jobCharged;
    Queue.aloneRunning += JobRunsAlone(link->jobKind);
    return record;
}

// What a decode-progress message says: a decode began, or a picture, a
// preview, a level or an error was published.
void PostToWindow(PluginInstance* record, WPARAM what) {
    // The fence pairs with the one in AttachWindow: either this load sees a
    // newly attached window, or AttachWindow's own update sees what was
    // published. A full message queue refuses the post; the window is then
    // at least marked for repainting (neither waits for the UI thread).
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    HWND window = LoadAcquire(&record->window.hwnd);
    if (window && !PostMessageA(window, DecodeProgressMessage(), what, 0)) {
        InvalidateRect(window, NULL, TRUE);
    }
}

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
    job.picture = record->sequence.index;
    // Beside a level shown, a command's large level stays in the decoder's
    // section: the browser's process never maps it whole.
    job.sectionAbove = record->queue.jobAside && !first ? KeptFullPictureBytes : 0;
    if (record->queue.jobReduce >= 0 && RunRecordJob(record, &job, &result)) {
        PublishSequenceNotes(record, result.notes);
        if (result.section) {
            PublishFullSection(record, result.section, record->queue.jobReduce);
            return OutcomeGaveUp;
        }
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
    // Once more, alone (the table gives each level one retry).
    if (failure == DecodeFailureOutOfMemory && record->queue.jobKind == JobLevel && record->queue.jobReduce >= 0) {
        return OutcomeRetry;
    }
    if (!first) {
        PublishLevelFailure(record, failure);
        return OutcomeGaveUp;
    }
    PublishOutcome(record, failure);
    return OutcomeFailed;
}

// The level a record should end at: the one a command waits for, else the
// one covering the size its view was drawn at (the full picture when that is
// not known).
int ChooseTargetReduce(const PluginInstance* record) {
    const DecodePlan& plan = record->queue.plan;
    int32_t width = LoadAcquire(&record->queue.viewWidth);
    int32_t height = LoadAcquire(&record->queue.viewHeight);
    if (record->queue.commandWanted) {
        int32_t full = LoadAcquire(&record->picture.fullReduce);
        return record->queue.commandReduce > full ? record->queue.commandReduce : full;
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
    job.picture = record->sequence.index;
    DecodeJobResult result = {};
    int planned = RunRecordJob(record, &job, &result);
    PublishFileKind(record, result.fileKind);
    if (!planned) {
        PublishOutcome(record, result.failure);
        return OutcomeFailed;
    }
    PublishSequence(record, &result.composed);
    const DecodePlan plan = result.plan;
    PublishPictureSize(record, &plan);
    PublishLevelRange(record, &plan, ChooseCommandReduce(&plan, record->queue.jobView.length));
    // A plan of a file a new stream replaced is not this record's.
    if (!BeginJobPublish(record)) {
        return OutcomePlanned;
    }
    record->queue.plan = plan;
    record->queue.planned = 1;
    record->queue.targetReduce = ChooseTargetReduce(record);
    int target = record->queue.targetReduce;
    EndJobPublish(record);
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
    int kind = record->queue.jobKind;
    if (kind == JobPrefix) {
        return RunPartialStage(record) ? OutcomePartial : OutcomeNoPartial;
    }
    // A part in view is decoded under a picture already painted: no status
    // to show, and a repaint per pan would only flicker.
    if (kind == JobRegion) {
        RunRegionJob(record);
        return OutcomeRegion;
    }
    StoreRelease(&record->queue.decoding, 1);
    // The status box now says it is decoding.
    PostToWindow(record, DecodeStarted);
    int outcome = kind == JobPlan ? RunPlanJob(record) : RunLevelJob(record);
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

// Under the lock, after a level job the table settled: what it decoded, and
// where memory stopped it; then more to queue (a level, a region), if any.
void SettleLevel(PluginInstance* record, int outcome) {
    QueueLink* link = &record->queue;
    if (link->jobKind != JobPlan && link->jobKind != JobRegion && outcome == OutcomeDone && link->jobReduce >= 0) {
        link->decodedReduce = link->jobReduce;
    }
    // Memory allowed only a smaller level than wanted (or none larger than
    // the one shown): that is where the record stays.
    if (outcome == OutcomeGaveUp || link->jobShort) {
        link->targetReduce = link->decodedReduce;
    }
    if (link->jobShort) {
        PublishLevelFailure(record, DecodeFailureOutOfMemory);
    }
    // A command's level put aside (or given up) leaves the level shown as
    // the one decoded: the command asks for nothing more.
    if (link->jobAside && outcome == OutcomeGaveUp) {
        link->commandWanted = 0;
    }
    if (NextLevelJob(record) >= 0) {
        FireEvent(record, EvLevelWanted);
    } else if (RegionJobWanted(record)) {
        FireEvent(record, EvRegionWanted);
    }
}

// Under the lock, after a job: the record's event, and what the table makes
// of it. An instance destroyed meanwhile left the record to this thread; 1
// tells the caller to release it.
int SettleRecord(PluginInstance* record, int outcome) {
    QueueLink* link = &record->queue;
    Queue.busy--;
    Queue.threadsInUse -= link->jobThreads;
    Queue.committedBytes -= link->jobCharged;
    Queue.aloneRunning -= JobRunsAlone(link->jobKind);
    if (link->jobKind == JobPrefix) {
        EndPrefixJob(record);
    }
    link->jobView = BytesView{};
    ReleaseBytesView(&link->killedFile);
    int32_t action = FireEvent(record, JobEndEvent(link->state, outcome, link->decoderEnd));
    if (action == ActSettle) {
        SettleLevel(record, outcome);
    }
    return action == ActFreeRecord;
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
            PostToWindow(record, DecodePublished);
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
    NameCurrentThread(L"npkavrel decode");
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
    // As a decoder process runs: below the browser's own threads.
    SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
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

}  // namespace

int RunRecordJob(PluginInstance* record, DecodeJob* job, DecodeJobResult* resultOut) {
    // A prefix job reads the view it was queued with, the others the file's.
    const BytesView* bytes = &record->queue.jobView;
    job->bytes = bytes;
    job->length = bytes->length;
    job->threads = record->queue.jobThreads;
    job->plannedBytes = record->queue.jobBytes;
    int done = RunDecodeJob(job, resultOut, record->queue.cancel);
    // A decoder's death or time limit is the table's own event; a second
    // call of the same job (a plan's preview) keeps the first.
    if (resultOut->failure == DecodeFailureDecoderStopped || resultOut->failure == DecodeFailureTimedOut) {
        record->queue.decoderEnd = record->queue.decoderEnd ? record->queue.decoderEnd : resultOut->failure;
    }
    return done;
}

int BeginJobPublish(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    if (!PipelineFacts(record->queue.state)->killed) {
        return 1;
    }
    LeaveCriticalSection(&Queue.lock);
    return 0;
}

void EndJobPublish(PluginInstance* record) {
    (void)record;
    LeaveCriticalSection(&Queue.lock);
}

namespace {

// One event from the browser's thread, the queue's lock held around it.
int32_t FireLockedEvent(PluginInstance* record, int32_t event, BytesView* bytes = NULL) {
    EnterCriticalSection(&Queue.lock);
    int32_t action = FireEvent(record, event, NULL, bytes);
    LeaveCriticalSection(&Queue.lock);
    return action;
}

}  // namespace

int OpenStreamDecode(PluginInstance* record, BytesView* file) {
    return FireLockedEvent(record, EvNewStream, file) != ActRefuse;
}

int MayStoreBytes(PluginInstance* record) { return FireLockedEvent(record, EvBytesArrived) == ActStoreBytes; }

int QueueDecode(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    record->queue.order = Queue.nextOrder++;
    // The decode supersedes a prefix job still waiting, and follows one
    // already running.
    FireEvent(record, EvStreamEnded);
    int queued = LoadAcquire(&record->queue.state) != PipeSettled;
    LeaveCriticalSection(&Queue.lock);
    return queued;
}

int QueuePictureDecode(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    int settled = LoadAcquire(&record->queue.state) == PipeSettled;
    if (settled) {
        record->queue.order = Queue.nextOrder++;
        FireEvent(record, EvNewStream);
        FireEvent(record, EvStreamEnded);
    }
    int queued = settled && LoadAcquire(&record->queue.state) != PipeSettled;
    LeaveCriticalSection(&Queue.lock);
    return queued;
}

void NoteStreamBroken(PluginInstance* record) { FireLockedEvent(record, EvStreamBroken); }

int QueuePrefixDecode(PluginInstance* record, const PrefixRequest* request, BytesView* bytes) {
    EnterCriticalSection(&Queue.lock);
    int32_t action = FireEvent(record, EvPrefixDue, request, bytes);
    int queued = action != ActNone && LoadAcquire(&record->queue.state) != PipeReceiving &&
                 LoadAcquire(&record->queue.state) != PipeBroken;
    LeaveCriticalSection(&Queue.lock);
    // A view the table did not want goes now.
    ReleaseBytesView(bytes);
    return queued;
}

int LeaveDecodeQueue(PluginInstance* record) { return FireLockedEvent(record, EvDestroy) == ActOrphan; }

// Without a worker the coarser level stays painted.
void QueueRegionDecode(PluginInstance* record) { FireLockedEvent(record, EvRegionWanted); }

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
            if (NextLevelJob(record) >= 0) {
                FireEvent(record, EvLevelWanted);
            }
        }
    }
    LeaveCriticalSection(&Queue.lock);
}

void QueueCommandLevel(PluginInstance* record, int reduce, int aside) {
    EnterCriticalSection(&Queue.lock);
    record->queue.commandReduce = reduce;
    record->queue.commandAside = aside;
    FireEvent(record, EvCommandWantsLevel);
    if (NextLevelJob(record) >= 0) {
        FireEvent(record, EvLevelWanted);
    }
    LeaveCriticalSection(&Queue.lock);
}

void EndCommandWait(PluginInstance* record) { FireLockedEvent(record, EvCommandDone); }

void QueueViewLevel(PluginInstance* record) {
    EnterCriticalSection(&Queue.lock);
    QueueLink* link = &record->queue;
    // Only a record with nothing queued or running steps down now.
    int idle = StepPipeline(link->state, EvLevelWanted).action == ActQueueLevel;
    if (link->planned && !link->commandWanted && idle) {
        int target = ChooseTargetReduce(record);
        if (target > link->decodedReduce) {
            link->targetReduce = target;
            link->coarser = 1;
            FireEvent(record, EvLevelWanted);
        }
    }
    LeaveCriticalSection(&Queue.lock);
}
