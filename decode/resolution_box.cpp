// The resolution a JP2-family file states for its picture: the "res "
// superbox inside the header box, its default display resolution (resd)
// before its capture resolution (resc).
#include "jpeg2000.h"
#include "box_walk.h"
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

int ReadResolutionBox(PictureResolution* resolutionOut, uint32_t type, BoxRun res)
{
    Box box;
    if (!FindBox(&box, res, type) || box.payloadLength < kResolutionFieldsLength) {
        return 0;
    }
    const uint8_t* fields = box.payload;
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
    Box header;
    Box res;
    if (data == nullptr || kind == FileKindCodestream || kind == FileKindInvalid ||
        !FindBox(&header, MakeBoxRun(data, length), kBoxJp2h) || !FindBox(&res, ContentsOf(&header), kBoxRes)) {
        return 0;
    }
    BoxRun run = ContentsOf(&res);
    return ReadResolutionBox(resolutionOut, kBoxResd, run) || ReadResolutionBox(resolutionOut, kBoxResc, run);
}
