// Collects the COM payloads of a codestream's main header without decoding.
#include "jpeg2000.h"
#include "byte_order.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Spare bytes allocated after the terminating zero; readers of the buffer
// have always been given this much room.
const uint32_t kCommentSlack = 10;

struct CommentScan {
    int sawComment;      // a COM segment was met, even an empty one
    uint64_t byteCount;  // comment bytes gathered
};

// Walks the main header from `start`; copies payloads to `buffer` when it is
// not null (the buffer then holds at least scan->byteCount bytes). A segment
// whose length field or payload would lie past the data, or a COM shorter
// than its own fixed fields, ends the walk like a missing marker does.
void ScanMainHeader(const uint8_t* data, uint32_t length, uint32_t start, uint8_t* buffer, CommentScan* scan)
{
    scan->sawComment = 0;
    scan->byteCount = 0;
    uint64_t last = (uint64_t)length - 1;
    uint64_t pos = start;
    if (length == 0 || pos >= last) {
        return;
    }
    pos += 2; // SOC, not examined
    while (pos < last && data[pos] == 0xFF) {
        uint8_t code = data[pos + 1];
        if (code == 0x90 || code == 0x93 || code == 0xD9) { // SOT, SOD, EOC
            return;
        }
        if (pos + 4 > length) {
            return;
        }
        uint64_t segmentLength = ReadBig16(data + pos + 2);
        if (code == 0x64) { // COM: Lcom, Rcom, then the comment bytes
            if (segmentLength < 4 || pos + 2 + segmentLength > length) {
                return;
            }
            uint64_t n = segmentLength - 4;
            if (buffer != NULL) {
                memcpy(buffer + scan->byteCount, data + pos + 6, (size_t)n);
            }
            scan->byteCount += n;
            scan->sawComment = 1;
        }
        pos += segmentLength + 2;
    }
}

} // namespace

int ExtractCodestreamComments(uint8_t** bufferOut, uint32_t* countOut, const uint8_t* data, uint32_t length)
{
    int kind = data != NULL ? ClassifyFileKind(data, length) : FileKindInvalid;
    return ExtractCodestreamCommentsOfKind(bufferOut, countOut, kind, data, length);
}

int ExtractCodestreamCommentsOfKind(uint8_t** bufferOut, uint32_t* countOut, int kind, const uint8_t* data,
                                    uint32_t length)
{
    if (bufferOut == NULL || countOut == NULL) {
        return 0;
    }
    *bufferOut = NULL;
    *countOut = 0;
    if (data == NULL || kind == FileKindInvalid) {
        return 0;
    }
    uint32_t start = CodestreamOffsetOfKind(kind, data, length);
    // Two passes: the first sizes the buffer so it is allocated once, at the
    // size the growing buffer would have reached (count + 10).
    CommentScan scan;
    ScanMainHeader(data, length, start, NULL, &scan);
    if (!scan.sawComment) {
        return 1;
    }
    uint8_t* buffer = (uint8_t*)malloc((size_t)scan.byteCount + kCommentSlack);
    if (buffer == NULL) {
        return 0;
    }
    ScanMainHeader(data, length, start, buffer, &scan);
    buffer[scan.byteCount] = 0;
    *bufferOut = buffer;
    *countOut = (uint32_t)scan.byteCount;
    return 1;
}
