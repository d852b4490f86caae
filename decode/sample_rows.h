// Internal: conversion of decoded component samples into packed DIB rows.
#ifndef DECODE_SAMPLE_ROWS_H
#define DECODE_SAMPLE_ROWS_H

#include <stdint.h>

// One component read in its own raster order: sample k is samples[k] while
// k < count, and byte 0 from there on (also when samples is null). Its byte
// is the most significant stored byte of the sample reduced to its precision:
// ((v & mask) >> shift) & 0xFF.
struct SampleSource {
    const int32_t* samples;
    uint64_t count;
    uint32_t mask;
    uint32_t shift;
};

// Bottom-up destination: the top image row goes to lastRow, the next one a
// stride lower in memory.
struct RowTarget {
    uint8_t* lastRow;
    uint32_t stride;
    uint32_t width;
    uint32_t height;
};

// What to write: 8-bit rows through greyTable from sources[0] when greyTable
// is set, else 24-bit rows from sources[0..2] in blue, green, red order.
struct RowJob {
    RowTarget target;
    SampleSource sources[3];
    const uint8_t* greyTable;
};

// Writes every row, splitting them over up to threadCount threads for large
// images; the bytes do not depend on the split.
void WriteDibRows(const RowJob* job, int threadCount);

// Rows [begin, end) of part `part`, on the calling thread or a helper.
typedef void (*RowWorker)(void* context, int part, uint32_t begin, uint32_t end);

// Parts a width x height picture is split into for up to threadCount
// threads (at least 1): small pictures are not worth a thread.
int CountRowParts(uint32_t width, uint32_t height, int threadCount);

// Runs worker over CountRowParts(width, height, threadCount) consecutive
// row ranges, the first on the calling thread; returns when all are done.
void SplitRows(uint32_t width, uint32_t height, int threadCount, RowWorker worker, void* context);

#endif
