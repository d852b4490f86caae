// Internal: sizes of a packed DIB, computed with overflow checks.
#ifndef DECODE_DIB_LAYOUT_H
#define DECODE_DIB_LAYOUT_H

#include <stdint.h>

struct DibLayout {
    uint32_t stride;       // bytes per row, padded to 4
    uint32_t paletteSize;  // bytes of RGBQUAD entries
    uint32_t imageSize;    // stride * height (biSizeImage)
    uint32_t blockSize;    // 40 + paletteSize + imageSize
};

// 1 when every size of a width x height bitmap at bitCount bits per pixel
// fits in 2^31 - 1, with the sizes in *layoutOut; 0 (layout zeroed) otherwise.
int ComputeDibLayout(uint32_t width, uint32_t height, uint32_t bitCount, DibLayout* layoutOut);

#endif
