// The pool of decoder processes: started at the first instance, about one
// per processor within the memory budget, each running one job at a time.
// A decoder that dies or is killed costs only its job; the next job that
// needs one starts a fresh one. Where no decoder can start, jobs are
// decoded in this process (decode_job.cpp) and About says why.
#include "host/decoder_pool.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "decoder/job_protocol.h"
#include "host/decoder_process.h"
#include "host/host_internal.h"
#include "host/picture_section.h"

namespace {

static_assert((int)DecodeJobPlan == JobKindPlan && (int)DecodeJobLevel == JobKindLevel &&
                  (int)DecodeJobPrefix == JobKindPrefix && (int)DecodeJobRegion == JobKindRegion &&
                  (int)DecodeJobComments == JobKindComments,
              "the queue's jobs and the protocol's are numbered alike");

enum { DecoderLimit = 16 };
// A decode may take this long and this much more per MiB of its planned
// peak (ten times what a slow machine needs) before it is killed.
const DWORD TimeLimitBaseMs = 20000;
const DWORD TimeLimitPerMiBMs = 100;
// A decoder that has not said it is ready by then is given up.
const DWORD StartReportMs = 10000;
// Each decoder process beside the browser costs about this much when idle.
const uint64_t IdleDecoderBytes = 8ull << 20;
// A 64-bit decoder's sample cap: 4 GiB of the codec's samples, a bitmap of
// at most 1.5 GiB (under the packed DIB's 2 GiB). The plan's own cap (the
// picture shown) stays the plug-in's; only a command asks for a level
// finer than that (ChooseCommandReduce).
const uint32_t WideSampleLimit = 1u << 30;

enum SlotState { SlotEmpty = 0, SlotFree = 1, SlotBusy = 2 };

struct Slot {
    int32_t state;
    DecoderProcess decoder;
    uint32_t sequence;
};

struct Pool {
    CRITICAL_SECTION lock;
    Slot slots[DecoderLimit];
    int32_t size;      // slots used: about one per processor
    int32_t started;   // StartDecoderPool ran
    int32_t absence;   // DecoderAbsence of the last start
    uint32_t confinement;
    int32_t bits;
    uint32_t stopped;
    // The last decoder that got ready is wider than this process, and its
    // pointer width (0: none); read without the lock (admission asks under
    // the queue's lock, and this lock is held while a decoder starts).
    int32_t wider;
    int32_t readyBits;
    wchar_t path[MAX_PATH];
};

Pool Decoders;

struct PoolLockSetup {
    PoolLockSetup() { InitializeCriticalSection(&Decoders.lock); }
    ~PoolLockSetup() { DeleteCriticalSection(&Decoders.lock); }
};
PoolLockSetup LockSetup;

const wchar_t DecoderName[] = L"npkavrel-decoder.exe";

// A 32-bit plug-in on 64-bit Windows prefers the 64-bit decoder, whose
// address space holds what a 32-bit process cannot: in the folder beside
// its own that the installer (x86 -> x64) or the build (win -> win64) puts
// the 64-bit plug-in in.
struct SiblingFolder {
    const wchar_t* own;
    const wchar_t* wide;
};
const SiblingFolder SiblingFolders[] = {{L"x86", L"x64"}, {L"win", L"win64"}};

int RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 4 && IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// `folder` (ending in a backslash, `length` characters) with the decoder's
// name into pathOut; 1 when it fits and the file is there.
int JoinDecoderPath(wchar_t* pathOut, const wchar_t* folder, size_t length, const wchar_t* sibling) {
    size_t siblingLength = sibling ? wcslen(sibling) + 1 : 0;
    if (length + siblingLength + sizeof DecoderName / sizeof DecoderName[0] > MAX_PATH) return 0;
    wmemcpy(pathOut, folder, length);
    pathOut[length] = 0;
    if (sibling) {
        wcscat(pathOut, sibling);
        wcscat(pathOut, L"\\");
    }
    wcscat(pathOut, DecoderName);
    return GetFileAttributesW(pathOut) != INVALID_FILE_ATTRIBUTES;
}

// The decoder for this module: the 64-bit sibling's when it applies and is
// there, else the one beside the module (which may be missing: the start
// then says so). The folder's own name is compared without its backslash.
void FindDecoderPath(wchar_t* pathOut) {
    wchar_t module[MAX_PATH];
    pathOut[0] = 0;
    DWORD length = GetModuleFileNameW(ModuleHandle, module, MAX_PATH);
    wchar_t* slash = length > 0 && length < MAX_PATH ? wcsrchr(module, L'\\') : NULL;
    if (!slash) return;
    size_t folderLength = (size_t)(slash - module) + 1;
    slash[0] = 0;
    wchar_t* parentSlash = wcsrchr(module, L'\\');
    const wchar_t* own = parentSlash ? parentSlash + 1 : module;
    size_t parentLength = parentSlash ? (size_t)(parentSlash - module) + 1 : 0;
    int wow64 = RunsUnderWow64();
    for (const SiblingFolder& sibling : SiblingFolders) {
        if (wow64 && _wcsicmp(own, sibling.own) == 0 && JoinDecoderPath(pathOut, module, parentLength, sibling.wide)) {
            return;
        }
    }
    slash[0] = L'\\';
    JoinDecoderPath(pathOut, module, folderLength, NULL);
}

// About one decoder per processor, fewer when idle ones would crowd the memory.
int32_t ChoosePoolSize() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int32_t size = system.dwNumberOfProcessors > 0 ? (int32_t)system.dwNumberOfProcessors : 1;
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory) && memory.ullAvailPhys / 16 / IdleDecoderBytes < (uint64_t)size) {
        size = (int32_t)(memory.ullAvailPhys / 16 / IdleDecoderBytes);
    }
    return size < 1 ? 1 : size > DecoderLimit ? DecoderLimit : size;
}

void NoteWidth(int32_t bits) {
    __atomic_store_n(&Decoders.readyBits, bits, __ATOMIC_RELEASE);
    __atomic_store_n(&Decoders.wider, bits > (int32_t)(sizeof(void*) * 8), __ATOMIC_RELEASE);
}

// The sample cap of a decoder of `bits` (0: this process).
uint32_t SampleLimitOfBits(int32_t bits) {
    return bits == 64 && WideSampleLimit > DecodeSampleLimit() ? WideSampleLimit : DecodeSampleLimit();
}

// Under the lock: a slot's decoder started, the slot then in state `then`
// (the start does not wait for the decoder to be ready); 1 when it runs.
int FillSlot(Slot* slot, int32_t then) {
    int absence = DecoderRefused;
    int ok = StartDecoderProcess(&slot->decoder, Decoders.path, &absence);
    Decoders.absence = absence;
    if (!ok) NoteWidth(0);
    slot->state = ok ? then : SlotEmpty;
    return ok;
}

// Under the lock: an empty slot, or null.
Slot* FindEmptySlot() {
    for (int32_t i = 0; i < Decoders.size && Decoders.started && Decoders.path[0]; ++i) {
        if (Decoders.slots[i].state == SlotEmpty) return &Decoders.slots[i];
    }
    return NULL;
}

// A free decoder (or a fresh one in an empty slot), marked busy and ready:
// the first job a decoder gets waits for its start report. Null when none
// can be had.
Slot* TakeDecoder() {
    Slot* taken = NULL;
    EnterCriticalSection(&Decoders.lock);
    for (int32_t i = 0; i < Decoders.size && !taken; ++i) {
        if (Decoders.slots[i].state == SlotFree) taken = &Decoders.slots[i];
    }
    if (!taken && (taken = FindEmptySlot()) != NULL && !FillSlot(taken, SlotBusy)) {
        taken = NULL;
    }
    if (taken) taken->state = SlotBusy;
    LeaveCriticalSection(&Decoders.lock);
    if (!taken || AwaitStartReport(&taken->decoder, StartReportMs)) {
        if (taken) NoteWidth(taken->decoder.bits);
        return taken;
    }
    EnterCriticalSection(&Decoders.lock);
    Decoders.absence = DecoderSilent;
    NoteWidth(0);
    EndDecoderProcess(&taken->decoder);
    taken->state = SlotEmpty;
    LeaveCriticalSection(&Decoders.lock);
    return NULL;
}

// Under the lock, once a decoder said it is ready: what About shows.
void NoteReadyDecoder(const Slot* slot) {
    Decoders.absence = DecoderPresent;
    Decoders.confinement = slot->decoder.confinement;
    Decoders.bits = slot->decoder.bits;
}

// After a job: the decoder goes back, or (dead, killed, or answering
// garbage) its slot is emptied for a fresh one.
void GiveBackDecoder(Slot* slot, DecodeJobCancel* cancel, int keep) {
    EnterCriticalSection(&Decoders.lock);
    cancel->decoder = NULL;
    NoteReadyDecoder(slot);
    if (keep) {
        slot->state = SlotFree;
    } else {
        EndDecoderProcess(&slot->decoder);
        slot->state = SlotEmpty;
    }
    LeaveCriticalSection(&Decoders.lock);
}

DWORD ChooseTimeLimit(const DecodeJob* job) {
    if (job->timeLimitMs) return job->timeLimitMs < INFINITE ? job->timeLimitMs : INFINITE - 1;
    uint64_t ms = TimeLimitBaseMs + (job->plannedBytes >> 20) * TimeLimitPerMiBMs;
    return ms < INFINITE ? (DWORD)ms : INFINITE - 1;
}

int FillRequest(JobRequest* request, const DecodeJob* job, Slot* slot) {
    memset(request, 0, sizeof *request);
    HANDLE sections[JobSectionLimit];
    int count = ShareBytesView(sections, JobSectionLimit, job->bytes, slot->decoder.process);
    if (count <= 0) return 0;
    request->magic = JobMagic;
    request->version = JobProtocolVersion;
    request->sequence = ++slot->sequence;
    request->kind = job->kind;
    request->fileKind = job->fileKind;
    request->length = job->length;
    request->reduce = job->reduce;
    request->previewReduce = job->previewReduce;
    request->threads = job->threads > 0 ? job->threads : 1;
    // The plan is of the picture shown, whoever decodes it; the other jobs
    // are within the cap of the process that decodes them.
    request->sampleLimit = job->kind == DecodeJobPlan ? DecodeSampleLimit() : SampleLimitOfBits(slot->decoder.bits);
    request->picture = job->picture;
    request->region = job->region;
    request->sectionCount = count;
    for (int i = 0; i < count; ++i) {
        request->sections[i] = (uint64_t)(uintptr_t)sections[i];
        request->capacities[i] = job->bytes->capacities[i];
    }
    return 1;
}

// The block a checked reply names, taken from the decoder and mapped here
// copy-on-write with its header made this process's own before it is
// checked: the decoder can change the pixels after, never the sizes. The
// failure: out of memory when it cannot be mapped here (a full address
// space), the decoder stopped when it is not what the reply said.
// A level larger than the job's sectionAbove stays in the section instead
// (picture_section.cpp), only its header and palette copied here.
int TakeBlock(uint8_t** blockOut, PictureSection** sectionOut, const Slot* slot, const JobReply* reply,
              const DecodeJob* job) {
    HANDLE section = NULL;
    int32_t kind = job->kind;
    *blockOut = NULL;
    if (!DuplicateHandle(slot->decoder.process, (HANDLE)(uintptr_t)reply->block, GetCurrentProcess(), &section, 0,
                         FALSE, DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) {
        return DecodeFailureDecoderStopped;
    }
    if (kind == DecodeJobLevel && job->sectionAbove && reply->blockBytes > job->sectionAbove) {
        return TakePictureSection(sectionOut, section, reply, kind);
    }
    uint8_t* view = (uint8_t*)MapViewOfFile(section, FILE_MAP_COPY, 0, 0, 0);
    CloseHandle(section);
    if (!view) {
        return DecodeFailureOutOfMemory;
    }
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(view, &region, sizeof region) && region.RegionSize >= reply->blockBytes) {
        // The header and palette (at most 1064 bytes) lie in the first page:
        // written once, it is this process's own copy.
        volatile uint8_t* first = view;
        first[0] = first[0];
        if (CheckJobBlock(view, reply->blockBytes, reply, kind)) {
            *blockOut = view;
            return DecodeFailureNone;
        }
    }
    UnmapViewOfFile(view);
    return DecodeFailureDecoderStopped;
}

// A checked reply into the queue's result; comments are copied into a
// block of their own (small, and freed with free()).
void FillResult(DecodeJobResult* result, const Slot* slot, const JobReply* reply, const DecodeJob* job) {
    int32_t kind = job->kind;
    result->failure = reply->failure;
    result->fileKind = reply->fileKind;
    result->plan = reply->plan;
    result->level = reply->level;
    result->composed = reply->composed;
    result->notes = reply->notes;
    result->decoderProcessorTime = reply->processorTime;
    if (reply->failure != DecodeFailureNone || reply->block == 0) {
        return;
    }
    uint8_t* block = NULL;
    result->failure = TakeBlock(&block, &result->section, slot, reply, job);
    if (!block) {
        return;
    }
    if (kind != DecodeJobComments) {
        result->dib = block;
        return;
    }
    result->comments = (uint8_t*)malloc(reply->blockBytes);
    if (result->comments) {
        memcpy(result->comments, block, reply->blockBytes);
        result->commentsLength = reply->blockBytes - 1;
    }
    UnmapViewOfFile(block);
    result->failure = result->comments ? DecodeFailureNone : DecodeFailureOutOfMemory;
}

void CountStoppedDecoder() {
    EnterCriticalSection(&Decoders.lock);
    Decoders.stopped++;
    LeaveCriticalSection(&Decoders.lock);
}

// Sends the request and waits for the reply, the decoder's end, or the time
// limit; 1 when the decoder may take further jobs.
int ExchangeJob(Slot* slot, const DecodeJob* job, const JobRequest* request, DecodeJobResult* result,
                DecodeJobCancel* cancel) {
    DecoderProcess* decoder = &slot->decoder;
    LimitDecoderMemory(decoder, job->plannedBytes);
    memcpy(decoder->view + JobRequestOffset, request, sizeof *request);
    SetEvent(decoder->request);
    HANDLE waits[2] = {decoder->reply, decoder->process};
    DWORD waited = WaitForMultipleObjects(2, waits, FALSE, ChooseTimeLimit(job));
    if (waited == WAIT_OBJECT_0) {
        // A decoder that answers what cannot be used is taken for one that stopped.
        JobReply reply;
        result->failure = ReadJobReply(&reply, decoder->view, JobPageBytes, request);
        if (result->failure != DecodeFailureNone) {
            return result->failure != DecodeFailureDecoderStopped;
        }
        // The block is taken under the lock a cancel or the pool's stop ends
        // decoders under, and not once either came: taking a handle from a
        // process being ended waited for ever under Wine.
        EnterCriticalSection(&Decoders.lock);
        int ending = __atomic_load_n(&cancel->state, __ATOMIC_ACQUIRE) || !Decoders.started;
        if (!ending) FillResult(result, slot, &reply, job);
        LeaveCriticalSection(&Decoders.lock);
        if (ending) {
            result->failure = DecodeFailureCancelled;
            return 0;
        }
        return result->failure != DecodeFailureDecoderStopped;
    }
    if (__atomic_load_n(&cancel->state, __ATOMIC_ACQUIRE)) {
        result->failure = DecodeFailureCancelled;
    } else {
        result->failure = waited == WAIT_TIMEOUT ? DecodeFailureTimedOut : DecodeFailureDecoderStopped;
        CountStoppedDecoder();
    }
    return 0;
}

// A request that cannot be made: the bytes' handles cannot be given to a
// decoder that has ended (killed while idle), which is that decoder's
// stop, not a lack of memory here; 1 when the decoder may take further jobs.
int RefuseRequest(const Slot* slot, DecodeJobResult* result) {
    if (WaitForSingleObject(slot->decoder.process, 0) == WAIT_OBJECT_0) {
        result->failure = DecodeFailureDecoderStopped;
        CountStoppedDecoder();
        return 0;
    }
    result->failure = DecodeFailureOutOfMemory;
    return 1;
}

}  // namespace

void StartDecoderPool() {
    EnterCriticalSection(&Decoders.lock);
    if (!Decoders.started) {
        Decoders.started = 1;
        FindDecoderPath(Decoders.path);
        Decoders.size = ChoosePoolSize();
        Decoders.absence = Decoders.path[0] ? DecoderNotStarted : DecoderMissing;
        // One now, so that it gets ready while the file downloads; the rest
        // as jobs come.
        Slot* first = FindEmptySlot();
        if (first) FillSlot(first, SlotFree);
        if (Decoders.absence == DecoderPresent) Decoders.absence = DecoderNotStarted;
    }
    LeaveCriticalSection(&Decoders.lock);
}

void StopDecoderPool() {
    EnterCriticalSection(&Decoders.lock);
    for (Slot& slot : Decoders.slots) {
        // A busy decoder's worker sees it end and empties the slot itself.
        if (slot.state == SlotFree) {
            EndDecoderProcess(&slot.decoder);
            slot.state = SlotEmpty;
        } else if (slot.state == SlotBusy) {
            TerminateProcess(slot.decoder.process, 1);
        }
    }
    Decoders.started = 0;
    LeaveCriticalSection(&Decoders.lock);
}

int DecoderIsWider() { return __atomic_load_n(&Decoders.wider, __ATOMIC_ACQUIRE); }

uint32_t DecoderSampleLimit() { return SampleLimitOfBits(__atomic_load_n(&Decoders.readyBits, __ATOMIC_ACQUIRE)); }

void ReadDecoderReport(DecoderReport* reportOut) {
    EnterCriticalSection(&Decoders.lock);
    // An idle decoder that has got ready since is shown as it is.
    for (Slot& slot : Decoders.slots) {
        if (slot.state == SlotFree && AwaitStartReport(&slot.decoder, 0)) NoteReadyDecoder(&slot);
    }
    reportOut->absence = Decoders.started ? Decoders.absence : DecoderNotStarted;
    reportOut->bits = Decoders.bits;
    reportOut->confinement = Decoders.confinement;
    reportOut->stopped = Decoders.stopped;
    reportOut->running = 0;
    for (const Slot& slot : Decoders.slots) {
        reportOut->running += slot.state != SlotEmpty;
    }
    LeaveCriticalSection(&Decoders.lock);
}

int RunJobInDecoder(const DecodeJob* job, DecodeJobResult* resultOut, DecodeJobCancel* cancel) {
    // A job nobody can cancel still needs a place for its decoder.
    DecodeJobCancel uncancellable = {};
    if (!cancel) cancel = &uncancellable;
    if (!job->bytes || !job->bytes->data || job->bytes->sectionCount <= 0) {
        return 0;
    }
    Slot* slot = TakeDecoder();
    if (!slot) {
        return 0;
    }
    EnterCriticalSection(&Decoders.lock);
    cancel->decoder = slot;
    LeaveCriticalSection(&Decoders.lock);
    JobRequest request;
    int keep = 0;
    if (__atomic_load_n(&cancel->state, __ATOMIC_ACQUIRE)) {
        resultOut->failure = DecodeFailureCancelled;
        keep = 1;
    } else if (!FillRequest(&request, job, slot)) {
        keep = RefuseRequest(slot, resultOut);
    } else {
        keep = ExchangeJob(slot, job, &request, resultOut, cancel);
    }
    GiveBackDecoder(slot, cancel, keep);
    return 1;
}

void CancelJobInDecoder(DecodeJobCancel* cancel) {
    if (!cancel) return;
    EnterCriticalSection(&Decoders.lock);
    Slot* slot = (Slot*)cancel->decoder;
    if (slot && slot->state == SlotBusy) {
        TerminateProcess(slot->decoder.process, 1);
    }
    LeaveCriticalSection(&Decoders.lock);
}

int ListDecoderProcesses(DWORD* idsOut, int limit) {
    int count = 0;
    EnterCriticalSection(&Decoders.lock);
    for (const Slot& slot : Decoders.slots) {
        if (slot.state != SlotEmpty && count < limit) idsOut[count++] = slot.decoder.id;
    }
    LeaveCriticalSection(&Decoders.lock);
    return count;
}

int ReleaseDecoderBlock(uint8_t* block) {
    MEMORY_BASIC_INFORMATION region = {};
    if (!block || !VirtualQuery(block, &region, sizeof region) || region.Type != MEM_MAPPED ||
        region.AllocationBase != block) {
        return 0;
    }
    UnmapViewOfFile(block);
    return 1;
}
