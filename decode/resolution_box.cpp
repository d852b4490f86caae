// The resolution a JP2-family file states for its picture: the "res "
// superbox inside the header box, its default display resolution (resd)
// before its capture resolution (resc).
#include "jpeg2000.h"
#include "byte_order.h"

#include <math.h>

namespace {

const uint32_t kBoxJp2h = 0x6A703268;
const uint32_t kBoxRes = 0x72657320;
const uint32_t kBoxResd = 0x72657364;
const uint32_t kBoxResc = 0x72657363;
// VR_N, VR_D, HR_N, HR_D (16 bits each), VR_E, HR_E (signed bytes).
const uint64_t kResolutionFieldsLength = 10;
// Past these a stated resolution is taken for a broken field, not a size.
const double kFewestPixelsPerMetre = 1.0;
const double kMostPixelsPerMetre = 1e9;

// The contents of box `type` inside the box at `outer` (whose contents must
// lie inside the data); 0 when it is not there or runs past its container.
int FindInnerBox(const uint8_t** contentsOut, uint64_t* lengthOut, uint32_t type, const uint8_t* outer,
                 uint64_t outerContentsLength)
{
    BoxLocation box;
    if (outerContentsLength == 0 || outerContentsLength > UINT32_MAX ||
        !FindTopLevelBox(&box, type, outer, (uint32_t)outerContentsLength)) {
        return 0;
    }
    uint64_t offset = (uint64_t)(box.start - outer);
    if (box.length < box.headerLength || box.length > outerContentsLength - offset) {
        return 0;
    }
    *contentsOut = box.start + box.headerLength;
    *lengthOut = box.length - box.headerLength;
    return 1;
}

double ReadOneResolution(const uint8_t* fields, int numerator, int denominator, int exponent)
{
    uint32_t n = ReadBig16(fields + numerator);
    uint32_t d = ReadBig16(fields + denominator);
    if (n == 0 || d == 0) {
        return 0;
    }
    double value = (double)n / d * pow(10.0, (double)(int8_t)fields[exponent]);
    return value >= kFewestPixelsPerMetre && value <= kMostPixelsPerMetre ? value : 0;
}

int ReadResolutionBox(PictureResolution* resolutionOut, uint32_t type, const uint8_t* res, uint64_t resLength)
{
    const uint8_t* fields = nullptr;
    uint64_t length = 0;
    if (!FindInnerBox(&fields, &length, type, res, resLength) || length < kResolutionFieldsLength) {
        return 0;
    }
    resolutionOut->pixelsPerMetreY = ReadOneResolution(fields, 0, 2, 8);
    resolutionOut->pixelsPerMetreX = ReadOneResolution(fields, 4, 6, 9);
    if (resolutionOut->pixelsPerMetreX == 0 || resolutionOut->pixelsPerMetreY == 0) {
        *resolutionOut = PictureResolution();
        return 0;
    }
    return 1;
}

} // namespace

int ReadPictureResolution(PictureResolution* resolutionOut, int kind, const uint8_t* data, uint32_t length)
{
    *resolutionOut = PictureResolution();
    BoxLocation header;
    if (data == nullptr || kind == FileKindCodestream || kind == FileKindInvalid ||
        !FindTopLevelBox(&header, kBoxJp2h, data, length)) {
        return 0;
    }
    uint64_t offset = (uint64_t)(header.start - data);
    if (header.length < header.headerLength || header.length > length - offset) {
        return 0;
    }
    const uint8_t* res = nullptr;
    uint64_t resLength = 0;
    if (!FindInnerBox(&res, &resLength, kBoxRes, header.start + header.headerLength,
                      header.length - header.headerLength)) {
        return 0;
    }
    return ReadResolutionBox(resolutionOut, kBoxResd, res, resLength) ||
           ReadResolutionBox(resolutionOut, kBoxResc, res, resLength);
}
