// Fuzz entry: every reader of untrusted bytes in the decode core, on one input.
#include "jpeg2000.h"

#include <stdint.h>
#include <stdlib.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Keep single inputs small and fast; the cap logic itself is exercised all the same.
    SetDecodeSampleLimit(1u << 22);
    SetDecodeThreadCount(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x7FFFFFFF) {
        return 0;
    }
    uint32_t length = (uint32_t)size;
    int kind = ClassifyFileKind(data, length);
    uint32_t offset = CodestreamOffset(data, length);
    if (offset > length || (offset != 0 && (kind == FileKindInvalid || kind == FileKindCodestream))) {
        abort();
    }
    uint8_t* comments = NULL;
    uint32_t count = 0;
    if (ExtractCodestreamComments(&comments, &count, data, length)) {
        if (comments != NULL && comments[count] != 0) {
            abort();
        }
        free(comments);
    } else if (comments != NULL || count != 0) {
        abort();
    }
    if (MeasureDecodablePrefix(kind, data, length) > length) {
        abort();
    }
    // The input as a file still arriving: the codec accepts a cut codestream.
    uint8_t* dib = NULL;
    if (DecodePrefixToPackedDib(&dib, NULL, kind, data, (int32_t)length, 0, 1)) {
        free(dib);
    } else if (dib != NULL) {
        abort();
    }
    dib = NULL;
    if (DecodeToPackedDib(&dib, data, (int32_t)length)) {
        // Touch every byte the size functions promise.
        int size = PackedDibSize(dib);
        volatile uint8_t sink = 0;
        for (int i = 0; i < size; i += 97) {
            sink = (uint8_t)(sink + dib[i]);
        }
        sink = (uint8_t)(sink + dib[size - 1]);
        free(dib);
    } else if (dib != NULL) {
        abort();
    }
    return 0;
}
