// Internal: a decoded OpenJPEG image into a packed DIB, the picture a careful
// viewer shows (see colour_rows.h); also used alone by the benchmark.
#ifndef DECODE_IMAGE_TO_DIB_H
#define DECODE_IMAGE_TO_DIB_H

#include <openjpeg.h>
#include <stdint.h>

// Bits per pixel (8 or 24) of the bitmap the image becomes. From a header
// alone it is a forecast: a palette or channel definitions come later.
uint32_t PictureBitCount(const opj_image_t* image);

// Packs the image into `block` (blockSize bytes, may be null) when that is
// the bitmap's size, else into a new block; `block` is consumed either way.
// Rows are split over up to threadCount threads. *dibOut is the bitmap or
// null; yields a DecodeFailure value.
int PackImageToDib(uint8_t** dibOut, const opj_image_t* image, int threadCount, uint8_t* block, uint32_t blockSize);

// PackImageToDib into a new block, for a layer of a composition: an image
// with opacity gets its colour as it is (premultiplied or not, as
// *opacityKindOut says, an OpacityKind) and its opacity apart in
// *opacityOut (a byte a pixel, top row first; null without opacity), both
// the caller's to free.
int PackLayerToDib(uint8_t** dibOut, uint8_t** opacityOut, int* opacityKindOut, const opj_image_t* image,
                   int threadCount);

#endif
