// Why a decode failed, in the words both the plug-in and j2k2bmp give.
#include "jpeg2000.h"

namespace {

struct FailureText {
    int failure;
    const char* text;
};

const FailureText FailureTexts[] = {
    {DecodeFailureNotJpeg2000, "not a JPEG 2000 file"},
    {DecodeFailureKindNotDecoded, "a kind of JPEG 2000 file this plug-in does not show (3-D)"},
    {DecodeFailureCorrupt, "damaged or truncated"},
    {DecodeFailureTooLarge, "too large for this plug-in"},
    {DecodeFailureOutOfMemory, "out of memory"},
};

}  // namespace

const char* DescribeDecodeFailure(int failure) {
    for (const FailureText& entry : FailureTexts) {
        if (entry.failure == failure) return entry.text;
    }
    return "cannot be decoded";
}
