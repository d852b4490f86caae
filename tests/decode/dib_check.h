// Test helpers: decoding into an owned packed DIB and reading its pixels.
#ifndef TESTS_DIB_CHECK_H
#define TESTS_DIB_CHECK_H

#include <stdint.h>
#include <stdlib.h>
#include <memory>
#include <string>
#include <vector>

#include "test_files.h"

struct FreeDeleter {
    void operator()(uint8_t* p) const { free(p); }
};
typedef std::unique_ptr<uint8_t, FreeDeleter> DibPtr;

// DecodeToPackedDibDetailed, checking that success, the pointer and the
// reason agree; the reason goes to *failure when given.
DibPtr DecodeDib(const std::vector<uint8_t>& data, int* failure = nullptr);

struct DibView {
    uint32_t width, height, bits, stride;
    const uint8_t* rows;
    // Byte `channel` (blue, green, red) of the pixel at (x, y), y = 0 the top row.
    uint8_t At(uint32_t x, uint32_t y, uint32_t channel) const
    {
        return rows[(size_t)(height - 1 - y) * stride + x * (bits / 8) + channel];
    }
};
DibView ViewDib(const uint8_t* dib);

// 64-bit FNV-1a of the whole packed DIB.
uint64_t HashDib(const uint8_t* dib);

#endif
