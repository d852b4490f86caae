// The received-bytes store: pagefile-backed sections committed ahead of the
// bytes by a preparer thread, laid side by side in one writable view for the
// UI thread, and read-only views of them for the decodes that outlive the store.
#include "host/received_bytes.h"

#include <stdlib.h>
#include <string.h>

#include "host/thread_name.h"

namespace {

// An unannounced length starts with this, then each section doubles the
// whole; a multiple of the allocation granularity. A reservation costs
// only addresses until bytes come, and a 64-bit process has plenty: there
// one section holds any file of up to a gigabyte, so a long arrival adds
// none. A 32-bit one starts small and doubles.
const uint32_t FirstStep = sizeof(void*) >= 8 ? 1u << 30 : 1u << 20;
// A write past the room commits this much beyond itself: a fixed step, as
// a commit is a call into the system that Wine, under load, answers slower
// the more it commits (a step growing with the store made single writes
// wait tens of milliseconds late in a large arrival).
const uint32_t CommitAhead = 1u << 20;
// The preparer commits in steps of this much, so that a close waits for
// one short call at most, and keeps a quarter of what arrived ready ahead,
// within these bounds: a small file commits little beyond itself, a large
// one keeps a few writes' worth whatever the browser's pace.
const uint32_t PrepareStepBytes = 1u << 20;
const uint32_t LeastRoom = 1u << 20;
const uint32_t MostRoom = 8u << 20;
// The preparer looks again this often even unwoken: a wake can pass while
// it is deciding to sleep.
const DWORD PreparerNapMs = 50;
const SIZE_T PreparerStackBytes = 64 << 10;
// The smallest page of the systems the plug-in runs on.
const uint32_t PageBytes = 4096;
// An announced length is reserved at once only while it takes at most this
// share of the free address space (a 32-bit browser has little); beyond, it
// grows by steps as the bytes really come.
const uint64_t TrustedShareOfFreeSpace = 4;
// A block starting this far past the furthest byte received is refused:
// the gap before it would be committed (it reads as zeros), whatever the
// reservation, and a browser sends blocks in order.
const uint64_t LongestGap = 64u << 20;
// A store growing by sections holds the addresses after its views for the
// sections to come: only addresses, so that the views need not move as it
// grows, which only the UI thread could do. Room for a few doublings, up to
// this much (a 32-bit browser has few addresses to spare); failing that,
// for the next section alone.
const uint64_t HeldGrowth = 8;
const uint64_t MostHeld = 256u << 20;

// How much to hold after a store of `whole` bytes: the choices, best first.
void ChooseHeld(uint64_t choicesOut[2], uint64_t whole) {
    uint64_t ample = whole * HeldGrowth < MostHeld ? whole * HeldGrowth : MostHeld;
    choicesOut[0] = ample > whole ? ample : whole;
    choicesOut[1] = whole;  // the next section doubles the whole
}
// Tries to lay sections side by side when another thread takes the
// addresses between the reservation's probe and the mapping.
const int SideBySideAttempts = 8;

uint64_t RoundUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

uint32_t Granularity() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwAllocationGranularity ? system.dwAllocationGranularity : 65536;
}

uint64_t FreeAddressSpace() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullAvailVirtual : 0;
}

void UnmapSideBySide(uint8_t* base, const uint32_t* sizes, int32_t count) {
    uint64_t offset = 0;
    for (int32_t i = 0; i < count; ++i) {
        UnmapViewOfFile(base + offset);
        offset += sizes[i];
    }
}

// Maps the sections at consecutive addresses, each `sizes[i]` bytes (all but
// the last a multiple of the allocation granularity): a free range is found
// by reserving and releasing it, then each view is mapped at its place; a
// thread that took part of the range meanwhile makes it try again elsewhere.
// The range found is `free` bytes longer than the views, so that what comes
// next can lie right after them. The base, or null.
uint8_t* MapSideBySide(const HANDLE* sections, const uint32_t* sizes, int32_t count, DWORD access, uint64_t free) {
    uint64_t total = 0;
    for (int32_t i = 0; i < count; ++i) {
        total += sizes[i];
    }
    if (count <= 0 || total == 0 || total + free > (SIZE_T)-1) {
        return NULL;
    }
    if (count == 1 && free == 0) {
        return (uint8_t*)MapViewOfFile(sections[0], access, 0, 0, sizes[0]);
    }
    for (int attempt = 0; attempt < SideBySideAttempts; ++attempt) {
        uint8_t* base = (uint8_t*)VirtualAlloc(NULL, (SIZE_T)(total + free), MEM_RESERVE, PAGE_NOACCESS);
        if (!base) {
            return NULL;
        }
        VirtualFree(base, 0, MEM_RELEASE);
        int32_t mapped = 0;
        uint64_t offset = 0;
        while (mapped < count && MapViewOfFileEx(sections[mapped], access, 0, 0, sizes[mapped], base + offset)) {
            offset += sizes[mapped];
            ++mapped;
        }
        if (mapped == count) {
            return base;
        }
        UnmapSideBySide(base, sizes, mapped);
    }
    return NULL;
}

uint64_t StoreCapacity(const ReceivedBytes* store) {
    uint64_t total = 0;
    for (int32_t i = 0; i < store->sectionCount; ++i) {
        total += store->sections[i].capacity;
    }
    return total;
}

// A store of `count` sections adds more as bytes come: it had no length
// announced, or more came than announced.
int GrowsBySections(const ReceivedBytes* store, int32_t count) { return !store->announced || count > 1; }

// How views may move to make room for a section: not at all, at once (the
// UI thread, between its own uses of them), or once the UI thread is done
// with the old ones (the preparer: they are retired, and dropped later).
enum ViewMove { MoveNot = 0, MoveAtOnce = 1, MoveAfterUse = 2 };

// The store's writable views again side by side, elsewhere: the next section
// could not be mapped right after the others. The old views go only once the
// new ones are there, so a failure leaves the store as it was.
int RelayWritableViews(ReceivedBytes* store, int32_t count, int move) {
    HANDLE sections[ReceivedSectionLimit] = {};
    uint32_t sizes[ReceivedSectionLimit] = {};
    uint64_t whole = 0;
    for (int32_t i = 0; i < count; ++i) {
        sections[i] = store->sections[i].section;
        sizes[i] = store->sections[i].capacity;
        whole += sizes[i];
    }
    // A store growing by sections keeps room after its views for the ones
    // to come.
    uint8_t* base = NULL;
    uint64_t choices[2];
    ChooseHeld(choices, whole);
    for (uint64_t held : choices) {
        if (!base && GrowsBySections(store, count)) {
            base = MapSideBySide(sections, sizes, count, FILE_MAP_WRITE, held);
        }
    }
    if (!base) {
        base = MapSideBySide(sections, sizes, count, FILE_MAP_WRITE, 0);
    }
    if (!base) {
        return 0;
    }
    if (store->sectionCount > 0 && move == MoveAtOnce) {
        UnmapSideBySide(store->sections[0].writable, sizes, store->sectionCount);
    } else if (store->sectionCount > 0) {
        store->retired = store->sections[0].writable;
        store->retiredCount = store->sectionCount;
        for (int32_t i = 0; i < store->sectionCount; ++i) {
            store->retiredSizes[i] = sizes[i];
        }
    }
    uint64_t offset = 0;
    for (int32_t i = 0; i < count; ++i) {
        store->sections[i].writable = base + offset;
        offset += sizes[i];
    }
    return 1;
}

void ReleaseHeldAddresses(ReceivedBytes* store) {
    if (store->held) {
        VirtualFree(store->held, 0, MEM_RELEASE);
        store->held = NULL;
    }
}

// The addresses right after the writable views, held (reserved, nothing
// committed) for the next section of a store that grows by sections, so that
// no other mapping lands there meanwhile and the preparer can add it without
// moving the views. Without room for them nothing is held.
void HoldNextAddresses(ReceivedBytes* store) {
    ReleaseHeldAddresses(store);
    if (store->sectionCount == 0 || !GrowsBySections(store, store->sectionCount)) {
        return;
    }
    const ReceivedSection* last = &store->sections[store->sectionCount - 1];
    uint64_t choices[2];
    ChooseHeld(choices, StoreCapacity(store));
    for (uint64_t held : choices) {
        if (!store->held && held <= (SIZE_T)-1) {
            store->held = VirtualAlloc(last->writable + last->capacity, (SIZE_T)held, MEM_RESERVE, PAGE_NOACCESS);
        }
    }
}

// One more section of `capacity` bytes after the others; 0 with the store
// unchanged when it cannot be had. `move` says whether the views already
// there may move to make room (ViewMove); the preparer may not while it has
// views retired.
int AddSection(ReceivedBytes* store, uint32_t capacity, int move) {
    if (store->sectionCount >= ReceivedSectionLimit) {
        return 0;
    }
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE | SEC_RESERVE, 0, capacity, NULL);
    if (!section) {
        return 0;
    }
    ReceivedSection* added = &store->sections[store->sectionCount];
    added->section = section;
    added->capacity = capacity;
    added->committed = 0;
    added->writable = NULL;
    if (store->sectionCount > 0) {
        const ReceivedSection* last = &store->sections[store->sectionCount - 1];
        uint8_t* end = last->writable + last->capacity;
        if (store->held == end) {
            ReleaseHeldAddresses(store);
        }
        added->writable = (uint8_t*)MapViewOfFileEx(section, FILE_MAP_WRITE, 0, 0, capacity, end);
    }
    if (move == MoveAfterUse && store->retired) {
        move = MoveNot;
    }
    if (!added->writable && (move == MoveNot || !RelayWritableViews(store, store->sectionCount + 1, move))) {
        CloseHandle(section);
        added->section = NULL;
        return 0;
    }
    store->sectionCount++;
    HoldNextAddresses(store);
    return 1;
}

// Sections until `end` bytes fit: each new one at least doubles the whole.
int ReserveUpTo(ReceivedBytes* store, uint64_t end, int move) {
    uint64_t capacity = StoreCapacity(store);
    while (capacity < end) {
        uint64_t step = end - capacity > capacity ? end - capacity : capacity;
        step = RoundUp(step > FirstStep ? step : FirstStep, Granularity());
        if (capacity + step > UINT32_MAX) {
            step = RoundUp(end - capacity, Granularity());
        }
        if (capacity + step > (uint64_t)UINT32_MAX + 1 || step > UINT32_MAX ||
            !AddSection(store, (uint32_t)step, move)) {
            return 0;
        }
        capacity += step;
    }
    return 1;
}

// Commits each section's pages up to `end`, rounded up to whole pages of
// the allocation granularity. Fresh pages read as zeros, so a gap left by a
// block arriving out of order does too. `touch` writes each fresh page once
// (its zero again), so that the system gives it its memory now, not in the
// write that copies into it (a page fault the UI thread would wait for).
int CommitUpTo(ReceivedBytes* store, uint64_t end, int touch) {
    uint64_t start = 0;
    for (int32_t i = 0; i < store->sectionCount && start < end; ++i) {
        ReceivedSection* section = &store->sections[i];
        uint64_t wanted = RoundUp(end - start, Granularity());
        wanted = wanted < section->capacity ? wanted : section->capacity;
        if (wanted > section->committed) {
            if (!VirtualAlloc(section->writable + section->committed, (SIZE_T)(wanted - section->committed),
                              MEM_COMMIT, PAGE_READWRITE)) {
                return 0;
            }
            for (uint64_t at = section->committed; touch && at < wanted; at += PageBytes) {
                ((volatile uint8_t*)section->writable)[at] = 0;
            }
            section->committed = (uint32_t)wanted;
        }
        start += section->capacity;
    }
    return 1;
}

// Under the lock, after any change: the bytes from the start committed,
// and where they lie, for writes that take no lock.
void PublishReady(ReceivedBytes* store) {
    uint64_t ready = 0;
    for (int32_t i = 0; i < store->sectionCount; ++i) {
        ready += store->sections[i].committed;
        if (store->sections[i].committed < store->sections[i].capacity) {
            break;
        }
    }
    // Sequentially consistent, as the UI thread's use marks are: see
    // DropRetiredViews.
    __atomic_store_n(&store->base, store->sectionCount > 0 ? store->sections[0].writable : NULL, __ATOMIC_SEQ_CST);
    __atomic_store_n(&store->ready, (uint32_t)(ready < UINT32_MAX ? ready : UINT32_MAX), __ATOMIC_RELEASE);
}

uint64_t RoomWanted(uint32_t length) {
    uint64_t room = length / 4;
    return room < LeastRoom ? LeastRoom : room > MostRoom ? MostRoom : room;
}

// Under the lock: one step of the preparer. 1 when it made room, 0 when
// there was none to make, -1 when it could not (the writes then make their
// own). An announced length is not reserved past: the room ends with the file.
int PrepareStep(ReceivedBytes* store) {
    uint32_t length = __atomic_load_n(&store->length, __ATOMIC_RELAXED);
    uint64_t target = (uint64_t)length + RoomWanted(length);
    uint64_t capacity = StoreCapacity(store);
    if (length <= store->announced && target > capacity) {
        target = capacity;
    }
    target = target < UINT32_MAX ? target : UINT32_MAX;
    if (store->ready >= target) {
        return 0;
    }
    uint64_t ready = store->ready;
    int made = capacity < target ? ReserveUpTo(store, target, MoveAfterUse)
                                 : CommitUpTo(store, ready + PrepareStepBytes < target ? ready + PrepareStepBytes : target, 1);
    PublishReady(store);
    return made ? 1 : -1;
}

// The store's read-only view of every section, shared by reference.
struct SharedView {
    LONG references;
    BytesView view;  // owns the mapping and the handles
};

// A view of the first `count` sections whole: `length` their capacity.
int ViewSections(BytesView* viewOut, const ReceivedBytes* store, int32_t count, uint32_t length);

void DropSharedView(void* shared) {
    SharedView* core = (SharedView*)shared;
    if (core && InterlockedDecrement(&core->references) == 0) {
        ReleaseBytesView(&core->view);
        free(core);
    }
}

// Under the lock: a shared view of every section, once the sections are
// laid out anew (the old one retired). Without the addresses for it, views
// are mapped one by one as before.
void RenewSharedView(ReceivedBytes* store) {
    const SharedView* current = (const SharedView*)store->shared;
    uint64_t capacity = StoreCapacity(store);
    if (store->retiredShared || store->sectionCount == 0 || capacity > UINT32_MAX ||
        (current && current->view.sectionCount == store->sectionCount)) {
        return;
    }
    SharedView* core = (SharedView*)calloc(1, sizeof *core);
    if (!core || !ViewSections(&core->view, store, store->sectionCount, (uint32_t)capacity)) {
        free(core);
        return;
    }
    core->references = 1;
    store->retiredShared = store->shared;
    __atomic_store_n(&store->shared, (void*)core, __ATOMIC_SEQ_CST);
}

// Under the lock: unmaps the views the preparer retired once the UI thread
// cannot be using them, 1 then (or when there were none). The UI thread marks
// each use (BeginStoreUse, EndStoreUse: odd while inside) before it reads
// `base`; the preparer published the new base before it read the marks, both
// sequentially consistent: either that use read the new base, or the marks
// read were odd and the old views stay until they change.
int DropRetiredViews(ReceivedBytes* store) {
    if (!store->retired && !store->retiredShared) {
        return 1;
    }
    if ((store->retiredUse & 1) && __atomic_load_n(&store->useMarks, __ATOMIC_SEQ_CST) == store->retiredUse) {
        return 0;
    }
    if (store->retired) {
        UnmapSideBySide((uint8_t*)store->retired, store->retiredSizes, store->retiredCount);
    }
    DropSharedView(store->retiredShared);
    store->retired = NULL;
    store->retiredShared = NULL;
    store->retiredCount = 0;
    return 1;
}

void RunPreparer(ReceivedBytes* store) {
    AcquireSRWLockExclusive(&store->lock);
    // It ends once the whole announced length is ready, or with the store.
    while (!store->closing && !(store->announced && store->ready >= store->announced)) {
        if (!DropRetiredViews(store)) {
            SleepConditionVariableSRW(&store->wake, &store->lock, 1, 0);
            continue;
        }
        int step = store->stopped ? 0 : PrepareStep(store);
        RenewSharedView(store);
        if (store->retired || store->retiredShared) {
            // Read after the new views were published.
            store->retiredUse = __atomic_load_n(&store->useMarks, __ATOMIC_SEQ_CST);
        }
        if (step < 0) {
            __atomic_store_n(&store->stopped, 1, __ATOMIC_RELEASE);
        }
        if (step <= 0) {
            SleepConditionVariableSRW(&store->wake, &store->lock, PreparerNapMs, 0);
        } else {
            // Between steps the UI thread may take the layout.
            ReleaseSRWLockExclusive(&store->lock);
            AcquireSRWLockExclusive(&store->lock);
        }
    }
    ReleaseSRWLockExclusive(&store->lock);
}

// The thread holds a reference on the module that holds its code and drops
// it with FreeLibraryAndExitThread, as the decode workers do.
DWORD WINAPI PreparerEntry(void* context) {
    NameCurrentThread(L"npkavrel store");
    RunPreparer((ReceivedBytes*)context);
    HMODULE module = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)(void*)&PreparerEntry, &module);
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

void StartPreparer(ReceivedBytes* store) {
    HMODULE module = NULL;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCSTR)(void*)&PreparerEntry, &module)) {
        return;
    }
    // A small stack: a page of many pictures has one preparer per download.
    store->preparer = CreateThread(NULL, PreparerStackBytes, PreparerEntry, store, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (!store->preparer) {
        FreeLibrary(module);
        return;
    }
    // Above the browser's threads: the UI thread may wait for the lock it
    // holds across a system call.
    SetThreadPriority(store->preparer, THREAD_PRIORITY_ABOVE_NORMAL);
}

}  // namespace

int OpenReceivedBytes(ReceivedBytes* store, uint32_t announcedLength) {
    memset(store, 0, sizeof *store);
    InitializeSRWLock(&store->lock);
    InitializeConditionVariable(&store->wake);
    // A length that cannot be reserved (or a hostile one) is not an error:
    // the bytes then come in steps.
    uint64_t capacity = RoundUp(announcedLength, Granularity());
    if (announcedLength > 0 && (uint64_t)announcedLength <= FreeAddressSpace() / TrustedShareOfFreeSpace &&
        capacity <= UINT32_MAX && AddSection(store, (uint32_t)capacity, MoveAtOnce)) {
        store->announced = announcedLength;
    }
    // The first room now, so that the browser's first NPP_WriteReady has
    // some to offer; the preparer keeps it ahead from then on.
    uint64_t first = store->announced && StoreCapacity(store) < LeastRoom ? StoreCapacity(store) : LeastRoom;
    if (ReserveUpTo(store, first, MoveAtOnce)) {
        CommitUpTo(store, first, 0);
    }
    PublishReady(store);
    // A file announced and all ready (the usual small picture) needs none.
    if (!store->announced || store->ready < store->announced) {
        StartPreparer(store);
    }
    return 1;
}

int32_t ReceivedBytesRoom(ReceivedBytes* store) {
    // Without a preparer, or with all the announced length ready, nothing
    // more will be prepared: every write is taken.
    uint32_t ready = __atomic_load_n(&store->ready, __ATOMIC_ACQUIRE);
    if (!store->preparer || __atomic_load_n(&store->stopped, __ATOMIC_ACQUIRE) ||
        (store->announced && ready >= store->announced)) {
        return INT32_MAX;
    }
    uint32_t room = ready > store->length ? ready - store->length : 0;
    if (room < RoomWanted(store->length) / 2) {
        WakeConditionVariable(&store->wake);
    }
    return room < (uint32_t)INT32_MAX ? (int32_t)room : INT32_MAX;
}

int WriteReceivedBytes(ReceivedBytes* store, uint32_t offset, const void* bytes, uint32_t length) {
    uint64_t end = (uint64_t)offset + length;
    if (end > UINT32_MAX || offset > store->length + LongestGap) {
        return 0;
    }
    if (end <= __atomic_load_n(&store->ready, __ATOMIC_ACQUIRE)) {
        store->preparedWrites++;
    } else {
        AcquireSRWLockExclusive(&store->lock);
        int made = ReserveUpTo(store, end, MoveAtOnce);
        if (made) {
            uint64_t capacity = StoreCapacity(store);
            made = CommitUpTo(store, end + CommitAhead < capacity ? end + CommitAhead : capacity, 0);
        }
        PublishReady(store);
        // The views may have moved where there is room to grow: the preparer
        // takes up again from here.
        if (made) {
            __atomic_store_n(&store->stopped, 0, __ATOMIC_RELEASE);
        }
        ReleaseSRWLockExclusive(&store->lock);
        if (!made) {
            return 0;
        }
    }
    memcpy(__atomic_load_n(&store->base, __ATOMIC_SEQ_CST) + offset, bytes, length);
    store->copied += length;
    if (end > store->length) {
        __atomic_store_n(&store->length, (uint32_t)end, __ATOMIC_RELAXED);
    }
    ReceivedBytesRoom(store);
    return 1;
}

const uint8_t* ReceivedBytesData(const ReceivedBytes* store) {
    return __atomic_load_n(&store->base, __ATOMIC_SEQ_CST);
}

void BeginStoreUse(ReceivedBytes* store) { __atomic_add_fetch(&store->useMarks, 1, __ATOMIC_SEQ_CST); }

void EndStoreUse(ReceivedBytes* store) { __atomic_add_fetch(&store->useMarks, 1, __ATOMIC_SEQ_CST); }

int TakeBytesView(BytesView* viewOut, const ReceivedBytes* store, uint32_t length) {
    memset(viewOut, 0, sizeof *viewOut);
    if (length > store->length) {
        return 0;
    }
    // The preparer's shared view, when it covers the bytes: no call into
    // the system (the caller is inside a use, so it is not dropped meanwhile).
    SharedView* core = (SharedView*)__atomic_load_n(&store->shared, __ATOMIC_SEQ_CST);
    if (core && length > 0 && length <= core->view.length) {
        InterlockedIncrement(&core->references);
        *viewOut = core->view;
        viewOut->length = length;
        viewOut->mapping = NULL;
        viewOut->shared = core;
        // Only the sections the bytes lie in, as a view of its own would
        // name them: a decoder process is given these and maps no more.
        uint64_t covered = 0;
        int32_t count = 0;
        while (covered < length) {
            covered += viewOut->capacities[count++];
        }
        viewOut->sectionCount = count;
        return 1;
    }
    // The sections holding bytes already written never change (the preparer
    // only adds after them), so they are read without the lock.
    int32_t count = 0;
    uint64_t covered = 0;
    while (covered < length) {
        covered += store->sections[count++].capacity;
    }
    return ViewSections(viewOut, store, count, length);
}

namespace {

int ViewSections(BytesView* viewOut, const ReceivedBytes* store, int32_t count, uint32_t length) {
    HANDLE sections[ReceivedSectionLimit] = {};
    uint32_t capacities[ReceivedSectionLimit] = {};
    int32_t duplicated = 0;
    while (duplicated < count && DuplicateHandle(GetCurrentProcess(), store->sections[duplicated].section,
                                                 GetCurrentProcess(), &sections[duplicated], FILE_MAP_READ, FALSE, 0)) {
        capacities[duplicated] = store->sections[duplicated].capacity;
        ++duplicated;
    }
    if (duplicated == count && MapSectionsSideBySide(viewOut, sections, capacities, count, length)) {
        return 1;
    }
    for (int32_t i = 0; i < duplicated; ++i) {
        CloseHandle(sections[i]);
    }
    return 0;
}

}  // namespace

int MapSectionsSideBySide(BytesView* viewOut, const HANDLE* sections, const uint32_t* capacities, int32_t count,
                          uint32_t length) {
    memset(viewOut, 0, sizeof *viewOut);
    if (count < 0 || count > ReceivedSectionLimit) {
        return 0;
    }
    // Every section but the last is mapped whole, so the next lies right
    // after it; the last only as far as the view reaches.
    uint32_t sizes[ReceivedSectionLimit];
    uint64_t before = 0;
    for (int32_t i = 0; i < count; ++i) {
        sizes[i] = capacities[i];
        if (i == count - 1) {
            sizes[i] = length > before ? (uint32_t)(length - before) : 0;
        }
        before += capacities[i];
    }
    if (before < length || (count > 0 && sizes[count - 1] == 0) || (count == 0 && length > 0)) {
        return 0;
    }
    uint8_t* base = count > 0 ? MapSideBySide(sections, sizes, count, FILE_MAP_READ, 0) : NULL;
    if (count > 0 && !base) {
        return 0;
    }
    viewOut->data = base;
    viewOut->length = length;
    viewOut->mapping = base;
    viewOut->sectionCount = count;
    for (int32_t i = 0; i < count; ++i) {
        viewOut->sections[i] = sections[i];
        viewOut->capacities[i] = capacities[i];
    }
    return 1;
}

void ReleaseBytesView(BytesView* view) {
    if (view->shared) {
        DropSharedView(view->shared);
        memset(view, 0, sizeof *view);
        return;
    }
    if (view->mapping) {
        uint64_t offset = 0;
        for (int32_t i = 0; i < view->sectionCount; ++i) {
            UnmapViewOfFile((uint8_t*)view->mapping + offset);
            offset += view->capacities[i];
        }
    }
    for (int32_t i = 0; i < view->sectionCount; ++i) {
        CloseHandle(view->sections[i]);
    }
    memset(view, 0, sizeof *view);
}

void CloseReceivedBytes(ReceivedBytes* store) {
    // The preparer ends first (after its step under way, one short call).
    if (store->preparer) {
        AcquireSRWLockExclusive(&store->lock);
        store->closing = 1;
        WakeConditionVariable(&store->wake);
        ReleaseSRWLockExclusive(&store->lock);
        WaitForSingleObject(store->preparer, INFINITE);
        CloseHandle(store->preparer);
    }
    ReleaseHeldAddresses(store);
    if (store->retired) {
        UnmapSideBySide((uint8_t*)store->retired, store->retiredSizes, store->retiredCount);
    }
    DropSharedView(store->retiredShared);
    DropSharedView(store->shared);
    for (int32_t i = 0; i < store->sectionCount; ++i) {
        UnmapViewOfFile(store->sections[i].writable);
        CloseHandle(store->sections[i].section);
    }
    memset(store, 0, sizeof *store);
}

int ShareBytesView(HANDLE* handlesOut, int32_t limit, const BytesView* view, HANDLE process) {
    if (view->sectionCount > limit) {
        return -1;
    }
    for (int32_t i = 0; i < view->sectionCount; ++i) {
        if (!DuplicateHandle(GetCurrentProcess(), view->sections[i], process, &handlesOut[i], FILE_MAP_READ, FALSE,
                             0)) {
            // The handles already given are taken back from the process.
            for (int32_t given = 0; given < i; ++given) {
                DuplicateHandle(process, handlesOut[given], NULL, NULL, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
            }
            return -1;
        }
    }
    return view->sectionCount;
}
