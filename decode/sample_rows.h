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

// 8-bit rows: greyTable[sample byte].
void WriteGreyRows(const RowTarget* target, const SampleSource* source, const uint8_t greyTable[256]);

// 24-bit rows from three sources in blue, green, red order.
void WriteColourRows(const RowTarget* target, const SampleSource bgr[3]);

#endif
