// Recognises JPEG 2000 codestreams and JP2-family files and walks top-level boxes.
#include "jpeg2000.h"
#include "byte_order.h"

#include <stddef.h>

namespace {

const uint8_t kCodestreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};
const uint8_t kJp2Signature[10] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A};

const uint32_t kBoxFtyp = 0x66747970;
const uint32_t kBoxMdat = 0x6D646174;
const uint32_t kBoxJp2c = 0x6A703263;

struct BrandKind {
    uint32_t brand;
    int kind;
};

const BrandKind kBrandKinds[] = {
    {0x6A703220, FileKindJp2}, // "jp2 "
    {0x6A707820, FileKindJpx}, // "jpx "
    {0x6D6A3220, FileKindMj2}, // "mj2 "
    {0x6D6A7032, FileKindMj2}, // "mjp2"
    {0x6A706D20, FileKindJpm}, // "jpm "
    {0x6A336420, FileKindJ3d}, // "j3d "
    {0x6A706820, FileKindJph}, // "jph "
};

int StartsWith(const uint8_t* data, uint32_t length, const uint8_t* prefix, uint32_t prefixLength)
{
    if (length < prefixLength) {
        return 0;
    }
    for (uint32_t i = 0; i < prefixLength; ++i) {
        if (data[i] != prefix[i]) {
            return 0;
        }
    }
    return 1;
}

} // namespace

int HasJpeg2000Signature(const uint8_t* data, uint32_t length)
{
    if (data == NULL) {
        return 0;
    }
    return StartsWith(data, length, kCodestreamStart, 4) || StartsWith(data, length, kJp2Signature, 10);
}

int ClassifyFileKind(const uint8_t* data, uint32_t length)
{
    if (data == NULL || length < 10) {
        return FileKindInvalid;
    }
    if (StartsWith(data, length, kCodestreamStart, 4)) {
        return FileKindCodestream;
    }
    if (!StartsWith(data, length, kJp2Signature, 10)) {
        return FileKindInvalid;
    }
    BoxLocation ftyp;
    if (!FindTopLevelBox(&ftyp, kBoxFtyp, data, length)) {
        return FileKindJp2;
    }
    // A brand field that would lie past the data counts as a box too short to hold one.
    uint64_t brandEnd = (uint64_t)(ftyp.start - data) + ftyp.headerLength + 4;
    if (ftyp.length < ftyp.headerLength + 4 || brandEnd > length) {
        return FileKindInvalid;
    }
    uint32_t brand = ReadBig32(ftyp.start + ftyp.headerLength);
    for (size_t i = 0; i < sizeof(kBrandKinds) / sizeof(kBrandKinds[0]); ++i) {
        if (kBrandKinds[i].brand == brand) {
            return kBrandKinds[i].kind;
        }
    }
    return FileKindInvalid;
}

int FindTopLevelBox(BoxLocation* location, uint32_t boxType, const uint8_t* data, uint32_t length)
{
    if (location == NULL || data == NULL || length == 0) {
        return 0;
    }
    location->length = 0;
    location->headerLength = 0;
    location->start = NULL;
    // 64-bit positions and lengths: a length that would wrap a position ends
    // the walk instead of sending it backwards. A box is looked at while its
    // header and at least one byte after it could be there.
    uint64_t pos = 0;
    while (pos + 8 < length) {
        uint64_t boxLength = ReadBig32(data + pos);
        uint32_t type = ReadBig32(data + pos + 4);
        uint32_t headerLength = 8;
        if (boxLength == 1) {
            if (pos + 16 > length) {
                return 0;
            }
            boxLength = ReadBig64(data + pos + 8);
            headerLength = 16;
        }
        // The box sought may run past the data: a file still arriving.
        if (type == boxType) {
            location->length = boxLength;
            location->headerLength = headerLength;
            location->start = data + pos;
            return 1;
        }
        // "mdat" is entered rather than stepped over, so a codestream box at
        // its start is found. A box running to the end of the file, shorter
        // than its own header or past the data ends the walk.
        if (type == kBoxMdat) {
            pos += headerLength;
        } else if (boxLength < headerLength || boxLength > length - pos) {
            return 0;
        } else {
            pos += boxLength;
        }
    }
    return 0;
}

uint32_t CodestreamOffset(const uint8_t* data, uint32_t length)
{
    return data == NULL ? 0 : CodestreamOffsetOfKind(ClassifyFileKind(data, length), data, length);
}

uint32_t CodestreamOffsetOfKind(int kind, const uint8_t* data, uint32_t length)
{
    if (data == NULL) {
        return 0;
    }
    if (kind == FileKindCodestream || kind == FileKindInvalid) {
        return 0;
    }
    BoxLocation jp2c;
    if (!FindTopLevelBox(&jp2c, kBoxJp2c, data, length)) {
        return 0;
    }
    return (uint32_t)(jp2c.start - data) + jp2c.headerLength;
}
