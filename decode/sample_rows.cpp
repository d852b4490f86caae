// Converts OpenJPEG's 32-bit component samples into bottom-up DIB rows.
#include "sample_rows.h"

#include <pthread.h>

namespace {

const int kMaxRowThreads = 16;
const uint64_t kPixelsPerThread = 1u << 18; // below this a thread is not worth starting

inline uint8_t SampleByte(int32_t value, uint32_t mask, uint32_t shift)
{
    return (uint8_t)(((uint32_t)value & mask) >> shift);
}

// How many of the row's pixels starting at sample k0 the source still covers.
uint32_t AvailableInRow(const SampleSource* source, uint64_t k0, uint32_t width)
{
    if (source->samples == 0 || k0 >= source->count) {
        return 0;
    }
    uint64_t left = source->count - k0;
    return left < width ? (uint32_t)left : width;
}

// One byte per pixel, `Step` bytes apart, through `map`; pixels past the
// source's end get map(0). Both callers inline this with their own map, so
// each keeps a loop as tight as a hand-written one.
template <uint32_t Step, typename ByteMap>
inline void WriteSampleBytes(uint8_t* row, const SampleSource* source, uint64_t k0, uint32_t width, ByteMap map)
{
    uint32_t available = AvailableInRow(source, k0, width);
    const int32_t* in = available != 0 ? source->samples + k0 : 0;
    uint32_t mask = source->mask;
    uint32_t shift = source->shift;
    uint32_t x = 0;
    for (; x < available; ++x) {
        row[Step * x] = map(SampleByte(in[x], mask, shift));
    }
    for (; x < width; ++x) {
        row[Step * x] = map(0);
    }
}

void WriteGreyRow(uint8_t* row, const SampleSource* source, const uint8_t* greyTable, uint64_t k0, uint32_t width)
{
    WriteSampleBytes<1>(row, source, k0, width, [greyTable](uint8_t byte) { return greyTable[byte]; });
}

// One channel of a 24-bit row (every third byte), zero past the source's end.
void WriteChannel(uint8_t* row, const SampleSource* source, uint64_t k0, uint32_t width)
{
    WriteSampleBytes<3>(row, source, k0, width, [](uint8_t byte) { return byte; });
}

void WriteColourRow(uint8_t* row, const SampleSource bgr[3], uint64_t k0, uint32_t width)
{
    if (AvailableInRow(&bgr[0], k0, width) != width || AvailableInRow(&bgr[1], k0, width) != width ||
        AvailableInRow(&bgr[2], k0, width) != width) {
        for (int c = 0; c < 3; ++c) {
            WriteChannel(row + c, &bgr[c], k0, width);
        }
        return;
    }
    // Common case: every channel covers the whole row; one pass.
    const int32_t* b = bgr[0].samples + k0;
    const int32_t* g = bgr[1].samples + k0;
    const int32_t* r = bgr[2].samples + k0;
    uint32_t bm = bgr[0].mask, gm = bgr[1].mask, rm = bgr[2].mask;
    uint32_t bs = bgr[0].shift, gs = bgr[1].shift, rs = bgr[2].shift;
    if ((bs | gs | rs) == 0) {
        // Samples of up to 8 bits (nearly every file): the masked sample is
        // the byte; without the variable shifts the loop is a fifth faster.
        for (uint32_t x = 0; x < width; ++x, row += 3) {
            row[0] = (uint8_t)((uint32_t)b[x] & bm);
            row[1] = (uint8_t)((uint32_t)g[x] & gm);
            row[2] = (uint8_t)((uint32_t)r[x] & rm);
        }
        return;
    }
    for (uint32_t x = 0; x < width; ++x, row += 3) {
        row[0] = SampleByte(b[x], bm, bs);
        row[1] = SampleByte(g[x], gm, gs);
        row[2] = SampleByte(r[x], rm, rs);
    }
}

void WriteRowRange(const RowJob* job, uint32_t begin, uint32_t end)
{
    uint32_t width = job->target.width;
    uint8_t* row = job->target.lastRow - (uint64_t)begin * job->target.stride;
    for (uint32_t y = begin; y < end; ++y, row -= job->target.stride) {
        uint64_t k0 = (uint64_t)y * width;
        uint32_t rowBytes = width;
        if (job->greyTable != 0) {
            WriteGreyRow(row, &job->sources[0], job->greyTable, k0, width);
        } else {
            WriteColourRow(row, job->sources, k0, width);
            rowBytes = 3 * width;
        }
        // Pad bytes are zeroed: the block is written to files and the
        // clipboard whole, and must not carry stale heap contents there.
        for (uint32_t pad = rowBytes; pad < job->target.stride; ++pad) {
            row[pad] = 0;
        }
    }
}

void WriteJobRows(void* context, int, uint32_t begin, uint32_t end)
{
    WriteRowRange((const RowJob*)context, begin, end);
}

struct RowRange {
    RowWorker worker;
    void* context;
    int part;
    uint32_t begin;
    uint32_t end;
};

void* RunRowRange(void* parameter)
{
    const RowRange* range = (const RowRange*)parameter;
    range->worker(range->context, range->part, range->begin, range->end);
    return 0;
}

} // namespace

int CountRowParts(uint32_t width, uint32_t height, int threadCount)
{
    uint64_t useful = (uint64_t)width * height / kPixelsPerThread;
    int parts = threadCount < 1 ? 1 : (threadCount > kMaxRowThreads ? kMaxRowThreads : threadCount);
    if ((uint64_t)parts > useful) {
        parts = useful < 1 ? 1 : (int)useful;
    }
    return parts;
}

void SplitRows(uint32_t width, uint32_t height, int threadCount, RowWorker worker, void* context)
{
    int parts = CountRowParts(width, height, threadCount);
    RowRange ranges[kMaxRowThreads];
    pthread_t threads[kMaxRowThreads];
    int started[kMaxRowThreads] = {0};
    for (int i = 0; i < parts; ++i) {
        ranges[i].worker = worker;
        ranges[i].context = context;
        ranges[i].part = i;
        ranges[i].begin = (uint32_t)((uint64_t)height * i / parts);
        ranges[i].end = (uint32_t)((uint64_t)height * (i + 1) / parts);
    }
    // Helpers take the upper parts; a helper that cannot start leaves its
    // part to this thread.
    for (int i = 1; i < parts; ++i) {
        started[i] = pthread_create(&threads[i], 0, RunRowRange, &ranges[i]) == 0;
    }
    RunRowRange(&ranges[0]);
    for (int i = 1; i < parts; ++i) {
        if (started[i]) {
            pthread_join(threads[i], 0);
        } else {
            RunRowRange(&ranges[i]);
        }
    }
}

void WriteDibRows(const RowJob* job, int threadCount)
{
    SplitRows(job->target.width, job->target.height, threadCount, WriteJobRows, (void*)job);
}
