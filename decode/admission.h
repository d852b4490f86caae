// Which decode may start now: a decode starts when its planned peak memory
// fits what is free beside the decodes already running, and the codec
// threads are shared so that all running decodes together use about one per
// processor. Platform-free: the caller measures the memory and counts.
#ifndef DECODE_ADMISSION_H
#define DECODE_ADMISSION_H

#include <stdint.h>

#include "jpeg2000.h"

// What is running now. freeBytes is what the process may still take (free
// address space less a margin for the browser, bounded by physical memory),
// measured now; committedBytes what the running decodes were charged (part
// of which they may already hold, so the rule errs on waiting).
// peakElsewhere: the codec works in another process of its own memory limit
// (a 64-bit decoder beside a 32-bit plug-in), so this process is charged
// only the bitmap it maps (PeakElsewhere), or, for a bitmap left in that
// process and read here a view at a time, a view (PeakAndBitmapElsewhere).
enum {
    PeakHere = 0,
    PeakElsewhere = 1,
    PeakAndBitmapElsewhere = 2,
};
// The most of a bitmap left elsewhere that is mapped here at once.
const uint32_t BitmapViewBytes = 4u << 20;

struct DecodeBudget {
    uint64_t freeBytes;
    uint64_t committedBytes;
    int processors;
    int runningDecodes;
    int threadsInUse;
    int peakElsewhere;
};

// The verdict for one candidate.
enum {
    AdmissionWait = 0,     // start it once a running decode has ended
    AdmissionStart = 1,    // start it now at `reduce` with `threads`
    AdmissionTooLarge = 2, // no level fits even alone: give up with a reason
};

struct Admission {
    int verdict;
    int reduce;  // the wanted level, or a smaller one when that cannot fit alone
    int threads;
    uint64_t plannedBytes;  // the decode's peak, wherever it runs
    uint64_t chargedBytes;  // what it takes of this process's freeBytes
};

// The verdict for decoding the planned picture at `wantedReduce` (of
// `compressedBytes` bytes). Alone (nothing running), a decode that does not
// fit is started at the largest level that does.
Admission AdmitDecode(const DecodeBudget* budget, const DecodePlan* plan, int wantedReduce, uint32_t compressedBytes);

#endif
