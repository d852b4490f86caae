// How much of a file still arriving the codec may be given: the codec copes
// with a codestream cut inside a tile-part's data, never with one cut inside
// a header, so the walk ends where the headers seen so far vouch for.
#include "codestream_prefix.h"
#include "byte_order.h"
#include "codestream_image.h"
#include "jpeg2000.h"

#include <stddef.h>

namespace {

const uint32_t kBoxJp2c = 0x6A703263;
const uint32_t kMarkerSoc = 0xFF4F;
const uint32_t kMarkerSot = 0xFF90;
const uint32_t kMarkerSod = 0xFF93;
const uint32_t kMarkerEoc = 0xFFD9;
// SOT: marker, Lsot (10), Isot, Psot, TPsot, TNsot.
const uint32_t kSotSegmentBytes = 12;

// Steps over marker segments from *pos until `stop` (left at *pos); 0 when
// the bytes end first or a segment is malformed. 64-bit positions: a length
// near 2^32 cannot wrap.
int SkipSegmentsUntil(uint64_t* pos, uint32_t stop, const uint8_t* c, uint64_t n)
{
    while (*pos + 2 <= n) {
        uint32_t marker = ReadBig16(c + *pos);
        if (marker == stop) {
            return 1;
        }
        if ((marker >> 8) != 0xFF || *pos + 4 > n || ReadBig16(c + *pos + 2) < 2) {
            return 0;
        }
        *pos += 2 + ReadBig16(c + *pos + 2);
    }
    return 0;
}

// Bytes of the codestream (c, n) whose headers are whole, up to the end of
// the received data of the last tile-part; 0 while no tile data is there.
// *cutOut is where the SOT of a last tile-part whose Psot runs past those
// bytes starts, 0 when none does. The walk resumes from `measure` and leaves
// in it the first tile-part not wholly received: a tile-part received whole
// stays so as more bytes come, so only the bytes since need reading.
uint64_t MeasureCodestreamPrefix(PrefixMeasure* measure, const uint8_t* c, uint64_t n, uint64_t* cutOut)
{
    *cutOut = 0;
    if (measure->pos == 0) {
        uint64_t first = 2;
        if (n < 4 || ReadBig16(c) != kMarkerSoc || !SkipSegmentsUntil(&first, kMarkerSot, c, n)) {
            return 0;
        }
        measure->pos = first;
        measure->vouched = 0;
    }
    uint64_t pos = measure->pos;
    uint64_t vouched = measure->vouched;
    while (pos + kSotSegmentBytes <= n && ReadBig16(c + pos) == kMarkerSot) {
        uint64_t psot = ReadBig32(c + pos + 6);
        uint64_t sod = pos + kSotSegmentBytes;
        if (!SkipSegmentsUntil(&sod, kMarkerSod, c, n)) {
            break;
        }
        uint64_t dataStart = sod + 2;
        // Psot 0: the last tile-part, running to the end of the codestream.
        uint64_t end = psot == 0 ? n : pos + psot;
        if (end < dataStart) {
            break;
        }
        if (end >= n) {
            if (n > dataStart) {
                vouched = n;
                *cutOut = end > n ? pos : 0;
            }
            break;
        }
        vouched = end;
        pos = end;
        measure->pos = pos;
        measure->vouched = vouched;
    }
    if (pos + 2 <= n && ReadBig16(c + pos) == kMarkerEoc) {
        vouched = pos + 2;
    }
    return vouched;
}

}  // namespace

uint64_t MeasureCodestreamBytes(const uint8_t* c, uint64_t n, uint64_t* cutOut)
{
    PrefixMeasure fresh = {};
    return MeasureCodestreamPrefix(&fresh, c, n, cutOut);
}

uint32_t MeasureDecodablePrefix(int kind, const uint8_t* data, uint32_t length)
{
    uint32_t cut = 0;
    return MeasureDecodablePrefixCut(kind, data, length, &cut);
}

uint32_t MeasureDecodablePrefixCut(int kind, const uint8_t* data, uint32_t length, uint32_t* cutOut)
{
    PrefixMeasure fresh = {};
    return ResumeDecodablePrefix(&fresh, kind, data, length, cutOut);
}

uint32_t MeasureDecodablePrefixFrom(PrefixMeasure* measure, int kind, const uint8_t* data, uint32_t length)
{
    uint32_t cut = 0;
    return ResumeDecodablePrefix(measure, kind, data, length, &cut);
}

uint32_t ResumeDecodablePrefix(PrefixMeasure* measure, int kind, const uint8_t* data, uint32_t length,
                               uint32_t* cutOut)
{
    *cutOut = 0;
    if (data == NULL) {
        return 0;
    }
    // A composed picture measures each of its codestreams as it composes
    // them: every byte received counts once its layout is known.
    int shows = ClassifyArrivingFile(kind, data, length);
    if (shows != ArrivingFirstCodestream) {
        return shows == ArrivingComposed ? length : 0;
    }
    // Another kind is another file as far as the walk knows.
    if (measure->found && measure->kind != kind) {
        *measure = PrefixMeasure{};
    }
    if (!measure->found) {
        uint32_t offset = 0;
        if (kind != FileKindCodestream) {
            // The boxes before the codestream are whole once its box has begun.
            BoxLocation jp2c;
            if (kind == FileKindInvalid || !FindTopLevelBox(&jp2c, kBoxJp2c, data, length)) {
                return 0;
            }
            offset = (uint32_t)(jp2c.start - data) + jp2c.headerLength;
            if (offset > length) {
                return 0;
            }
        }
        measure->found = 1;
        measure->kind = kind;
        measure->codestream = offset;
    }
    uint32_t offset = measure->codestream;
    if (offset > length) {
        return 0;
    }
    uint64_t cut = 0;
    uint64_t prefix = MeasureCodestreamPrefix(measure, data + offset, length - offset, &cut);
    if (prefix == 0) {
        return 0;
    }
    *cutOut = cut != 0 ? offset + (uint32_t)cut : 0;
    return offset + (uint32_t)prefix;
}
