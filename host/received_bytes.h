// The bytes of one stream, stored once and never moved: pagefile-backed
// sections (so that a decoder process can map them read-only), committed as
// the bytes come. Growing never copies what has arrived.
//
// Call order, all on the UI thread except the views:
//   1. OpenReceivedBytes(&store, announced)   at NPP_NewStream
//   2. ReceivedBytesRoom(&store)              at each NPP_WriteReady
//   3. WriteReceivedBytes(&store, offset, …)  at each NPP_Write
//   4. TakeBytesView(&view, &store, length)   when a decode is queued: a
//      read-only, contiguous view of the first `length` bytes that lives
//      until ReleaseBytesView, whatever the store does meanwhile (it may grow,
//      or be closed by a new stream or NPP_Destroy). Any thread may read and
//      release a view.
//   5. CloseReceivedBytes(&store)             at a new stream or the record's end
// A store of several sections (an unannounced or understated length) is read
// through one view mapping them side by side, so every reader sees one
// contiguous block; the UI thread's own writable views lie side by side too
// (ReceivedBytesData). Committed pages read as zeros until written, so a gap
// left by a block arriving out of order reads as zeros.
//
// Each store has a preparer: a thread of its own, from open to close, that
// reserves sections and commits pages ahead of the bytes, so that a write
// into the room it prepared only copies (a commit or a mapping is a call
// into the system, which Wine answers from another process). The room is
// what NPP_WriteReady offers the browser. A write past it prepares what it
// needs itself, as does every write when no preparer could be started.
// Who may touch what:
//  - the layout (sections, their writable views, what is committed)
//    changes only under the `lock`, held exclusively across each system
//    call that changes it, by the preparer one step at a time and by the UI
//    thread when a write outruns the room.
//  - `ready` and `base` (the bytes from the start that are committed, and
//    where they lie for the UI thread) are published after each change, so
//    a write inside the room reads them without the lock; `length` is the
//    UI thread's, read by the preparer.
//  - views the preparer moves (elsewhere in the address space, when the
//    next section cannot lie after them) stay mapped until the UI thread is
//    done with the old addresses: it marks each use of them, from its
//    first read of `base` to its last (BeginStoreUse … EndStoreUse around
//    NPP_Write's work), and the preparer waits for the marks to move.
//  - the sections holding bytes already written never change, so views
//    are taken from them without the lock; the preparer also keeps a
//    read-only view of them all, which TakeBytesView shares by reference
//    (inside a use, and replaced the same way as moved views).
#ifndef HOST_RECEIVED_BYTES_H
#define HOST_RECEIVED_BYTES_H

#include <stdint.h>
#include <windows.h>

// Sections of a store: the first holds the announced length (or a first
// step); each later one at least doubles the whole, so a few suffice.
enum { ReceivedSectionLimit = 24 };

struct ReceivedSection {
    HANDLE section;     // pagefile-backed, reserved at `capacity`
    uint8_t* writable;  // the UI thread's view, right after the previous section's
    uint32_t capacity;  // bytes, a multiple of the allocation granularity
    uint32_t committed; // bytes committed from the section's start
};

struct ReceivedBytes {
    ReceivedSection sections[ReceivedSectionLimit];
    int32_t sectionCount;
    uint32_t length;  // the furthest byte written; gaps read as zeros
    uint64_t copied;  // bytes copied in, for benchmarks: each byte once
    uint32_t announced;       // the length the stream announced, when reserved at once
    uint32_t preparedWrites;  // writes that only copied, for benchmarks
    uint32_t ready;           // bytes from the start committed
    uint8_t* base;            // the UI thread's view of them
    SRWLOCK lock;
    CONDITION_VARIABLE wake;  // the preparer waits here for room to make
    HANDLE preparer;          // its thread, or null
    void* held;               // addresses reserved for the next section
    uint32_t useMarks;        // the UI thread's uses of `base`: odd inside one
    void* retired;            // writable views the preparer moved away from
    uint32_t retiredSizes[ReceivedSectionLimit];
    int32_t retiredCount;
    uint32_t retiredUse;      // the use marks when they were retired
    void* shared;             // a read-only view of every section, made by the
                              // preparer, that views are taken from without a
                              // call into the system; the store holds a reference
    void* retiredShared;      // one replaced, its reference dropped after use
    int32_t closing;          // the preparer is to end
    int32_t stopped;          // the preparer could go no further
};

// A reader's view: data[0, length) stays mapped until ReleaseBytesView. It
// holds its own handles of the sections it maps, so a decoder process can be
// given them from any thread while the store goes on growing.
struct BytesView {
    const uint8_t* data;
    uint32_t length;
    void* mapping;  // what ReleaseBytesView unmaps (one view per section)
    int32_t sectionCount;
    HANDLE sections[ReceivedSectionLimit];
    uint32_t capacities[ReceivedSectionLimit];
    void* shared;   // or a reference on the store's shared view, which owns these
};

// 1: an announced length that cannot (or should not: more than a quarter of
// the free address space) be reserved at once is reserved in steps instead.
int OpenReceivedBytes(ReceivedBytes* store, uint32_t announcedLength);
// The bytes a write at the end may bring that are ready for it (it then
// only copies); wakes the preparer when the room runs short. Without a
// preparer (none started, or it could go no further) every write prepares
// for itself: then INT32_MAX.
int32_t ReceivedBytesRoom(ReceivedBytes* store);
// 0 when the bytes cannot be stored (no memory or address space, past
// 4 GiB, or starting more than 64 MiB past the furthest byte); the store is
// then left as it was.
int WriteReceivedBytes(ReceivedBytes* store, uint32_t offset, const void* bytes, uint32_t length);
// The first store->length bytes in one block, for the UI thread while the
// store is open (null while it holds no section). The address changes when a
// section is added; the bytes never move.
const uint8_t* ReceivedBytesData(const ReceivedBytes* store);
// The UI thread reads ReceivedBytesData's addresses, writes and takes views
// only between these (see above); never closes the store between them.
void BeginStoreUse(ReceivedBytes* store);
void EndStoreUse(ReceivedBytes* store);
// A view of no bytes has null data and maps nothing.
int TakeBytesView(BytesView* viewOut, const ReceivedBytes* store, uint32_t length);
void ReleaseBytesView(BytesView* view);
void CloseReceivedBytes(ReceivedBytes* store);

// For a decoder process: the view's sections duplicated into `process`
// read-only, in order (handles valid there); the count, or -1.
int ShareBytesView(HANDLE* handlesOut, int32_t limit, const BytesView* view, HANDLE process);
// In the decoder process: maps sections (as ShareBytesView gave them)
// side by side read-only, the same way TakeBytesView does.
int MapSectionsSideBySide(BytesView* viewOut, const HANDLE* sections, const uint32_t* capacities, int32_t count,
                          uint32_t length);

#endif
