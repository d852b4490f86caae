// Internal: walking the boxes inside a run of a file's bytes, each one
// whole within the run or the walk ends there.
#ifndef DECODE_BOX_WALK_H
#define DECODE_BOX_WALK_H

#include <stdint.h>

// Boxes left to walk: [at, end) of the caller's bytes.
struct BoxRun {
    const uint8_t* at;
    const uint8_t* end;
};

// One box: its type, its first byte, and its contents.
struct Box {
    uint32_t type;
    const uint8_t* start;
    const uint8_t* payload;
    uint64_t payloadLength;
};

BoxRun MakeBoxRun(const uint8_t* data, uint64_t length);

// The next box of the run into *boxOut and 1; 0 at the run's end or at a
// box whose header or length does not fit in what is left (a box of
// length 0 runs to the end of the run).
int NextBox(BoxRun* run, Box* boxOut);

// NextBox over the bytes of a file still arriving: a box whose header is
// whole but whose length runs past the run comes back cut at the run's end,
// with *cutOut 1 (0 for a whole box), and ends the walk.
int NextBoxArriving(BoxRun* run, Box* boxOut, int* cutOut);

// The first box of `type` in the run; 0 when there is none.
int FindBox(Box* boxOut, BoxRun run, uint32_t type);

// The `index`th box of `type` in the run (counted from 0).
int FindNthBox(Box* boxOut, BoxRun run, uint32_t type, uint32_t index);
// FindNthBox over a file still arriving: a box cut at the run's end counts,
// as far as it has come (NextBoxArriving).
int FindNthBoxArriving(Box* boxOut, BoxRun run, uint32_t type, uint32_t index);
uint32_t CountBoxes(BoxRun run, uint32_t type);

inline BoxRun ContentsOf(const Box* box)
{
    return MakeBoxRun(box->payload, box->payloadLength);
}

// Box types as their four letters read big-endian.
constexpr uint32_t BoxType(const char (&name)[5])
{
    return (uint32_t)(uint8_t)name[0] << 24 | (uint32_t)(uint8_t)name[1] << 16 | (uint32_t)(uint8_t)name[2] << 8 |
           (uint32_t)(uint8_t)name[3];
}

#endif
