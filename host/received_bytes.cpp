// The received-bytes store: pagefile-backed sections committed as bytes come,
// laid side by side in one writable view for the UI thread, and read-only
// views of them for the decodes that outlive the store.
#include "host/received_bytes.h"

#include <string.h>

namespace {

// An unannounced length starts with this, then each section doubles the
// whole; a multiple of the allocation granularity. A reservation costs
// only addresses until bytes come, and a 64-bit process has plenty: there
// one section holds any file of up to a gigabyte, so a long arrival adds
// none (each is a mapping made on the browser's thread). A 32-bit one
// starts small and doubles.
const uint32_t FirstStep = sizeof(void*) >= 8 ? 1u << 30 : 1u << 20;
// Commits run ahead of the bytes by this much, or by an eighth of what a
// section holds already if that is more: a commit is a call into the system
// (a round trip to the server under Wine) on the browser's thread, so a
// large arrival of small writes makes a few dozen of them, not one per
// 256 KiB; the memory committed beyond the bytes stays under an eighth.
const uint32_t CommitAhead = 256u << 10;
const uint32_t CommitAheadShare = 8;
// An announced length is reserved at once only while it takes at most this
// share of the free address space (a 32-bit browser has little); beyond, it
// grows by steps as the bytes really come.
const uint64_t TrustedShareOfFreeSpace = 4;
// A block starting this far past the furthest byte received is refused:
// the gap before it would be committed (it reads as zeros), whatever the
// reservation, and a browser sends blocks in order.
const uint64_t LongestGap = 64u << 20;
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
// The base, or null.
uint8_t* MapSideBySide(const HANDLE* sections, const uint32_t* sizes, int32_t count, DWORD access) {
    uint64_t total = 0;
    for (int32_t i = 0; i < count; ++i) {
        total += sizes[i];
    }
    if (count <= 0 || total == 0 || total > (SIZE_T)-1) {
        return NULL;
    }
    if (count == 1) {
        return (uint8_t*)MapViewOfFile(sections[0], access, 0, 0, sizes[0]);
    }
    for (int attempt = 0; attempt < SideBySideAttempts; ++attempt) {
        uint8_t* base = (uint8_t*)VirtualAlloc(NULL, (SIZE_T)total, MEM_RESERVE, PAGE_NOACCESS);
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

// The store's writable views again side by side, elsewhere: the next section
// could not be mapped right after the others. The old views go only once the
// new ones are there, so a failure leaves the store as it was.
int RelayWritableViews(ReceivedBytes* store, int32_t count) {
    HANDLE sections[ReceivedSectionLimit] = {};
    uint32_t sizes[ReceivedSectionLimit];
    for (int32_t i = 0; i < count; ++i) {
        sections[i] = store->sections[i].section;
        sizes[i] = store->sections[i].capacity;
    }
    uint8_t* base = MapSideBySide(sections, sizes, count, FILE_MAP_WRITE);
    if (!base) {
        return 0;
    }
    if (store->sectionCount > 0) {
        UnmapSideBySide(store->sections[0].writable, sizes, store->sectionCount);
    }
    uint64_t offset = 0;
    for (int32_t i = 0; i < count; ++i) {
        store->sections[i].writable = base + offset;
        offset += sizes[i];
    }
    return 1;
}

// One more section of `capacity` bytes after the others; 0 with the store
// unchanged when it cannot be had.
int AddSection(ReceivedBytes* store, uint32_t capacity) {
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
        added->writable =
            (uint8_t*)MapViewOfFileEx(section, FILE_MAP_WRITE, 0, 0, capacity, last->writable + last->capacity);
    }
    if (!added->writable && !RelayWritableViews(store, store->sectionCount + 1)) {
        CloseHandle(section);
        added->section = NULL;
        return 0;
    }
    store->sectionCount++;
    return 1;
}

// Sections until `end` bytes fit: each new one at least doubles the whole.
int ReserveUpTo(ReceivedBytes* store, uint64_t end) {
    uint64_t capacity = StoreCapacity(store);
    while (capacity < end) {
        uint64_t step = end - capacity > capacity ? end - capacity : capacity;
        step = RoundUp(step > FirstStep ? step : FirstStep, Granularity());
        if (capacity + step > UINT32_MAX) {
            step = RoundUp(end - capacity, Granularity());
        }
        if (capacity + step > (uint64_t)UINT32_MAX + 1 || step > UINT32_MAX || !AddSection(store, (uint32_t)step)) {
            return 0;
        }
        capacity += step;
    }
    return 1;
}

// Commits each section's pages up to `end` (and a little ahead). Fresh pages
// read as zeros, so a gap left by a block arriving out of order does too.
int CommitUpTo(ReceivedBytes* store, uint64_t end) {
    uint64_t start = 0;
    for (int32_t i = 0; i < store->sectionCount && start < end; ++i) {
        ReceivedSection* section = &store->sections[i];
        uint64_t filled = end - start;
        uint64_t ahead = filled / CommitAheadShare > CommitAhead ? filled / CommitAheadShare : CommitAhead;
        uint64_t wanted = RoundUp(filled + ahead, CommitAhead);
        wanted = wanted < section->capacity ? wanted : section->capacity;
        if (filled > section->committed && wanted > section->committed) {
            if (!VirtualAlloc(section->writable + section->committed, (SIZE_T)(wanted - section->committed),
                              MEM_COMMIT, PAGE_READWRITE)) {
                return 0;
            }
            section->committed = (uint32_t)wanted;
        }
        start += section->capacity;
    }
    return 1;
}

}  // namespace

int OpenReceivedBytes(ReceivedBytes* store, uint32_t announcedLength) {
    memset(store, 0, sizeof *store);
    if (announcedLength == 0 || (uint64_t)announcedLength > FreeAddressSpace() / TrustedShareOfFreeSpace) {
        return 1;
    }
    // A length that cannot be reserved (or a hostile one) is not an error:
    // the bytes then come in steps.
    uint64_t capacity = RoundUp(announcedLength, Granularity());
    if (capacity <= UINT32_MAX) {
        AddSection(store, (uint32_t)capacity);
    }
    return 1;
}

int WriteReceivedBytes(ReceivedBytes* store, uint32_t offset, const void* bytes, uint32_t length) {
    uint64_t end = (uint64_t)offset + length;
    if (end > UINT32_MAX || offset > store->length + LongestGap || !ReserveUpTo(store, end) ||
        !CommitUpTo(store, end)) {
        return 0;
    }
    memcpy(store->sections[0].writable + offset, bytes, length);
    store->copied += length;
    if (end > store->length) {
        store->length = (uint32_t)end;
    }
    return 1;
}

const uint8_t* ReceivedBytesData(const ReceivedBytes* store) {
    return store->sectionCount > 0 ? store->sections[0].writable : NULL;
}

int TakeBytesView(BytesView* viewOut, const ReceivedBytes* store, uint32_t length) {
    memset(viewOut, 0, sizeof *viewOut);
    if (length > store->length) {
        return 0;
    }
    HANDLE sections[ReceivedSectionLimit] = {};
    uint32_t capacities[ReceivedSectionLimit] = {};
    int32_t count = 0;
    uint64_t covered = 0;
    int duplicated = 1;
    while (covered < length && duplicated) {
        const ReceivedSection* section = &store->sections[count];
        duplicated = DuplicateHandle(GetCurrentProcess(), section->section, GetCurrentProcess(), &sections[count],
                                     FILE_MAP_READ, FALSE, 0);
        capacities[count] = section->capacity;
        covered += section->capacity;
        count += duplicated ? 1 : 0;
    }
    if (duplicated && MapSectionsSideBySide(viewOut, sections, capacities, count, length)) {
        return 1;
    }
    for (int32_t i = 0; i < count; ++i) {
        CloseHandle(sections[i]);
    }
    return 0;
}

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
    uint8_t* base = count > 0 ? MapSideBySide(sections, sizes, count, FILE_MAP_READ) : NULL;
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
