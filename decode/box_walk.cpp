// Steps from box to box inside a run of bytes, never past its end.
#include "box_walk.h"
#include "byte_order.h"

#include <stddef.h>

BoxRun MakeBoxRun(const uint8_t* data, uint64_t length)
{
    BoxRun run = {data, data + length};
    return run;
}

namespace {

// The box at the run's start; a box running past the run is refused, or,
// when `cutOut` is given, cut at the run's end.
int ReadNextBox(BoxRun* run, Box* boxOut, int* cutOut)
{
    uint64_t left = (uint64_t)(run->end - run->at);
    if (run->at == NULL || left < 8) {
        return 0;
    }
    uint64_t length = ReadBig32(run->at);
    uint64_t header = 8;
    if (length == 1) {
        if (left < 16) {
            return 0;
        }
        length = ReadBig64(run->at + 8);
        header = 16;
    } else if (length == 0) {
        length = left;
    }
    int cut = cutOut != NULL && length > left;
    if (length < header || (length > left && !cut)) {
        run->at = run->end;
        return 0;
    }
    length = cut ? left : length;
    boxOut->type = ReadBig32(run->at + 4);
    boxOut->start = run->at;
    boxOut->payload = run->at + header;
    boxOut->payloadLength = length - header;
    run->at += length;
    if (cutOut != NULL) {
        *cutOut = cut;
    }
    return 1;
}

} // namespace

int NextBox(BoxRun* run, Box* boxOut)
{
    return ReadNextBox(run, boxOut, NULL);
}

int NextBoxArriving(BoxRun* run, Box* boxOut, int* cutOut)
{
    return ReadNextBox(run, boxOut, cutOut);
}

namespace {

int FindNth(Box* boxOut, BoxRun run, uint32_t type, uint32_t index, int arriving)
{
    Box box;
    int cut = 0;
    while (ReadNextBox(&run, &box, arriving ? &cut : NULL)) {
        if (box.type == type && index-- == 0) {
            *boxOut = box;
            return 1;
        }
    }
    return 0;
}

} // namespace

int FindNthBox(Box* boxOut, BoxRun run, uint32_t type, uint32_t index)
{
    return FindNth(boxOut, run, type, index, 0);
}

int FindNthBoxArriving(Box* boxOut, BoxRun run, uint32_t type, uint32_t index)
{
    return FindNth(boxOut, run, type, index, 1);
}

int FindBox(Box* boxOut, BoxRun run, uint32_t type)
{
    return FindNthBox(boxOut, run, type, 0);
}

uint32_t CountBoxes(BoxRun run, uint32_t type)
{
    Box box;
    uint32_t count = 0;
    while (NextBox(&run, &box)) {
        count += box.type == type && count < UINT32_MAX;
    }
    return count;
}
