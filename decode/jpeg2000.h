// Platform-free JPEG 2000 reading: file-kind detection, decoding into a packed
// Windows DIB, and collection of codestream comments. Shared by the plug-in
// DLL and the native j2k2bmp tool.
//
// Call order for one received file:
//   1. ClassifyFileKind(data, length)            -> what the bytes are
//   2. DecodeToPackedDib(&dib, data, length)     -> owned PackedDib or failure
//   3. ExtractCodestreamComments(&buf, &n, data, length)
// Every function reads the caller's bytes in place, never past `length`,
// keeps no state between calls and prints nothing.
#ifndef DECODE_JPEG2000_H
#define DECODE_JPEG2000_H

#include <stdint.h>

// Signed classification of received bytes; the numbers follow the ISO/IEC
// 15444 part that defines each format.
enum {
    FileKindInvalid = -1,
    FileKindCodestream = 0,
    FileKindJp2 = 1,
    FileKindJpx = 2,
    FileKindMj2 = 3,
    FileKindJpm = 6,
    FileKindJ3d = 10,
    FileKindUnclassified = 255,
};

// Where a box search landed: the length field as stored and the first byte
// of the box inside the caller's data.
struct BoxLocation {
    uint32_t length;
    const uint8_t* start;
};

uint32_t SwapBytes32(uint32_t word);
uint32_t SwapBytes16(uint16_t word);

int HasJpeg2000Signature(const uint8_t* data, uint32_t length);
int ClassifyFileKind(const uint8_t* data, uint32_t length);
int FindTopLevelBox(BoxLocation* location, uint32_t boxType, const uint8_t* data, uint32_t length);
uint32_t CodestreamOffset(const uint8_t* data, uint32_t length);

// On success *dibOut is a malloc'ed packed DIB (BITMAPINFOHEADER, grey
// palette for 8-bit images, bottom-up rows padded to 4 bytes) that the caller
// frees; on failure it is null and nothing stays allocated.
int DecodeToPackedDib(uint8_t** dibOut, const uint8_t* data, int32_t length);
int PackedDibPaletteSize(const uint8_t* dib);
int PackedDibSize(const uint8_t* dib);

// The 14-byte BITMAPFILEHEADER that turns a PackedDib into a .bmp file.
void BuildBitmapFileHeader(uint8_t headerOut[14], const uint8_t* dib);

// Main-header COM payloads, concatenated and zero-terminated; null and 0 when
// there are none. The caller frees the buffer.
int ExtractCodestreamComments(uint8_t** bufferOut, uint32_t* countOut, const uint8_t* data, uint32_t length);

#endif
