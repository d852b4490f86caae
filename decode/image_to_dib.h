// Internal: the conversion step alone, for the benchmark that times it.
#ifndef DECODE_IMAGE_TO_DIB_H
#define DECODE_IMAGE_TO_DIB_H

#include <openjpeg.h>
#include <stdint.h>

// Packs a decoded OpenJPEG image into a new DIB in *dibOut (null on failure);
// yields a DecodeFailure value (DecodeFailureNone on success).
int ConvertImageToPackedDib(uint8_t** dibOut, const opj_image_t* image);

#endif
