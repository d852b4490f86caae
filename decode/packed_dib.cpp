// Packed DIB geometry: palette and block sizes, and the bitmap file header.
#include "jpeg2000.h"
#include "byte_order.h"
#include "dib_layout.h"

#include <atomic>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

const uint64_t kMaxDibBytes = 0x7FFFFFFFu;

uint8_t* AllocateWithMalloc(uint32_t size)
{
    return (uint8_t*)malloc(size);
}

void ReleaseWithFree(uint8_t* block)
{
    free(block);
}

std::atomic<AllocateBitmapFunction> gAllocateBitmap(AllocateWithMalloc);
std::atomic<ReleaseBitmapFunction> gReleaseBitmap(ReleaseWithFree);

} // namespace

int ComputeDibLayout(uint32_t width, uint32_t height, uint32_t bitCount, DibLayout* layoutOut)
{
    memset(layoutOut, 0, sizeof(*layoutOut));
    uint64_t stride = ((uint64_t)width * bitCount + 31) / 32 * 4;
    uint64_t paletteSize = bitCount <= 8 ? 4ull << bitCount : 0;
    uint64_t imageSize = stride * height; // both below 2^33: no 64-bit overflow
    uint64_t blockSize = 40 + paletteSize + imageSize;
    if (stride > kMaxDibBytes || imageSize > kMaxDibBytes || blockSize > kMaxDibBytes) {
        return 0;
    }
    layoutOut->stride = (uint32_t)stride;
    layoutOut->paletteSize = (uint32_t)paletteSize;
    layoutOut->imageSize = (uint32_t)imageSize;
    layoutOut->blockSize = (uint32_t)blockSize;
    return 1;
}

int PackedDibPaletteSize(const uint8_t* dib)
{
    if (dib == NULL) {
        return 0;
    }
    uint32_t bitCount = ReadLittle16(dib + 14);
    return bitCount <= 8 ? 4 << bitCount : 0;
}

const uint8_t* PackedDibBits(const uint8_t* dib)
{
    return dib == NULL ? NULL : dib + 40 + PackedDibPaletteSize(dib);
}

int PackedDibSize(const uint8_t* dib)
{
    if (dib == NULL) {
        return 0;
    }
    int64_t bitCount = ReadLittle16(dib + 14);
    int64_t width = (int32_t)ReadLittle32(dib + 4);
    int64_t height = (int32_t)ReadLittle32(dib + 8);
    // Computed from the header fields, not biSizeImage; a header whose sizes
    // cannot be a 32-bit block yields 0 rather than a wrapped size.
    if (width < 0 || height < 0) {
        return 0;
    }
    int64_t rowBytes = (bitCount * width + 31) / 32 * 4;
    if ((uint64_t)rowBytes > kMaxDibBytes) {
        return 0;
    }
    int64_t size = 40 + PackedDibPaletteSize(dib) + rowBytes * height;
    if ((uint64_t)size > kMaxDibBytes) {
        return 0;
    }
    return (int)size;
}

// Without a DIB the sizes reduce to the header alone: bfSize 14, bfOffBits 54.
void BuildBitmapFileHeader(uint8_t headerOut[14], const uint8_t* dib)
{
    memset(headerOut, 0, 14);
    headerOut[0] = 'B';
    headerOut[1] = 'M';
    WriteLittle32(headerOut + 2, 14u + (uint32_t)PackedDibSize(dib));
    WriteLittle32(headerOut + 10, 54u + (uint32_t)PackedDibPaletteSize(dib));
}

void SetBitmapAllocator(AllocateBitmapFunction allocate, ReleaseBitmapFunction release)
{
    int custom = allocate != NULL && release != NULL;
    gAllocateBitmap.store(custom ? allocate : AllocateWithMalloc);
    gReleaseBitmap.store(custom ? release : ReleaseWithFree);
}

uint8_t* AllocateBitmapBlock(uint32_t size)
{
    return gAllocateBitmap.load()(size);
}

void ReleaseBitmapBlock(uint8_t* block)
{
    if (block != NULL) {
        gReleaseBitmap.load()(block);
    }
}
