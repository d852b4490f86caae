// Motion JPEG 2000: the video track's samples and their durations, from the sample tables.
#include "codestream_image.h"
#include "compose_layers.h"
#include "compose_readers.h"
#include "byte_order.h"
#include "dib_layout.h"
#include "image_to_dib.h"
#include "jpeg2000.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Fields of a visual sample entry before its boxes.
const uint64_t kVisualEntryFields = 78;
// Field order: the field stored second holds the topmost line (1: the first).
const uint8_t kSecondFieldOnTop = 6;

// The boxes of a video track that locate and time its samples.
struct Track {
    uint32_t timescale;
    Box stsz, stsc, stts, offsets;
    int wideOffsets; // co64 rather than stco
    CodestreamPlace colour;
    uint32_t fields;   // codestreams a sample holds: 1, or 2 interlaced fields
    int secondOnTop;   // the second field holds the topmost line
};

int FindPath(Box* out, BoxRun run, const uint32_t* types, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (!FindBox(out, run, types[i])) {
            return 0;
        }
        run = ContentsOf(out);
    }
    return 1;
}

// A full box's entry count, with room for `entryBytes` each; 0 when short.
uint32_t EntryCount(const Box* box, uint32_t fieldsBefore, uint32_t entryBytes)
{
    if (box->payloadLength < fieldsBefore + 4) {
        return 0;
    }
    uint32_t count = ReadBig32(box->payload + fieldsBefore);
    return (box->payloadLength - fieldsBefore - 4) / entryBytes < count ? 0 : count;
}

// The sample description's colour (the first entry's header box) and
// fields (its field coding box: a count of 2 and the order).
void ReadTrackDescription(Track* track, const Box* stbl)
{
    Box stsd;
    Box entry;
    Box box;
    track->fields = 1;
    if (!FindBox(&stsd, ContentsOf(stbl), BoxType("stsd")) || stsd.payloadLength < 8) {
        return;
    }
    BoxRun entries = MakeBoxRun(stsd.payload + 8, stsd.payloadLength - 8);
    if (!NextBox(&entries, &entry) || entry.payloadLength <= kVisualEntryFields) {
        return;
    }
    BoxRun boxes = MakeBoxRun(entry.payload + kVisualEntryFields, entry.payloadLength - kVisualEntryFields);
    if (FindBox(&box, boxes, BoxType("jp2h"))) {
        TakeColourBoxes(&track->colour, ContentsOf(&box));
    }
    if (FindBox(&box, boxes, BoxType("fiel")) && box.payloadLength >= 2 && box.payload[0] == 2) {
        track->fields = 2;
        track->secondOnTop = box.payload[1] == kSecondFieldOnTop;
    }
}

int ReadVideoTrack(Track* track, const uint8_t* data, uint64_t length)
{
    Box moov;
    Box trak;
    memset(track, 0, sizeof(*track));
    if (!FindBox(&moov, MakeBoxRun(data, length), BoxType("moov"))) {
        return 0;
    }
    BoxRun traks = ContentsOf(&moov);
    while (FindBox(&trak, traks, BoxType("trak"))) {
        traks.at = trak.payload + trak.payloadLength;
        Box hdlr, mdhd, stbl;
        const uint32_t toHandler[] = {BoxType("mdia"), BoxType("hdlr")};
        const uint32_t toHeader[] = {BoxType("mdia"), BoxType("mdhd")};
        const uint32_t toTables[] = {BoxType("mdia"), BoxType("minf"), BoxType("stbl")};
        if (!FindPath(&hdlr, ContentsOf(&trak), toHandler, 2) || hdlr.payloadLength < 12 ||
            ReadBig32(hdlr.payload + 8) != BoxType("vide") || !FindPath(&mdhd, ContentsOf(&trak), toHeader, 2) ||
            !FindPath(&stbl, ContentsOf(&trak), toTables, 3)) {
            continue;
        }
        uint32_t at = mdhd.payloadLength >= 1 && mdhd.payload[0] == 1 ? 20 : 12;
        track->timescale = mdhd.payloadLength >= at + 4 ? ReadBig32(mdhd.payload + at) : 0;
        BoxRun tables = ContentsOf(&stbl);
        track->wideOffsets = !FindBox(&track->offsets, tables, BoxType("stco"));
        if ((track->wideOffsets && !FindBox(&track->offsets, tables, BoxType("co64"))) ||
            !FindBox(&track->stsz, tables, BoxType("stsz")) || !FindBox(&track->stsc, tables, BoxType("stsc")) ||
            !FindBox(&track->stts, tables, BoxType("stts")) || track->stsz.payloadLength < 12) {
            return 0;
        }
        ReadTrackDescription(track, &stbl);
        return 1;
    }
    return 0;
}

uint32_t SampleCount(const Track* track)
{
    uint32_t fixed = ReadBig32(track->stsz.payload + 4);
    return fixed != 0 ? ReadBig32(track->stsz.payload + 8) : EntryCount(&track->stsz, 8, 4);
}

uint32_t SampleSize(const Track* track, uint32_t sample)
{
    uint32_t fixed = ReadBig32(track->stsz.payload + 4);
    return fixed != 0 ? fixed : ReadBig32(track->stsz.payload + 12 + 4ull * sample);
}

// Where sample `wanted` lies: its chunk from the sample-to-chunk runs, then
// past the samples before it in that chunk.
int LocateSample(uint64_t* offsetOut, const Track* track, uint32_t wanted)
{
    uint32_t runs = EntryCount(&track->stsc, 4, 12);
    uint32_t chunks = EntryCount(&track->offsets, 4, track->wideOffsets ? 8 : 4);
    uint32_t sample = 0;
    for (uint32_t run = 0; run < runs; ++run) {
        const uint8_t* entry = track->stsc.payload + 8 + 12ull * run;
        uint64_t first = ReadBig32(entry);
        uint64_t end = run + 1 < runs ? ReadBig32(entry + 12) : (uint64_t)chunks + 1;
        uint32_t perChunk = ReadBig32(entry + 4);
        if (first == 0 || end <= first || perChunk == 0 || end > (uint64_t)chunks + 1) {
            return 0;
        }
        uint64_t inRun = (end - first) * perChunk;
        if ((uint64_t)wanted - sample >= inRun) {
            sample += (uint32_t)inRun;
            continue;
        }
        uint64_t chunk = first - 1 + (wanted - sample) / perChunk;
        const uint8_t* at = track->offsets.payload + 8 + (track->wideOffsets ? 8 : 4) * chunk;
        uint64_t offset = track->wideOffsets ? ReadBig64(at) : ReadBig32(at);
        for (uint32_t s = wanted - (uint32_t)((wanted - sample) % perChunk); s < wanted; ++s) {
            offset += SampleSize(track, s);
        }
        *offsetOut = offset;
        return 1;
    }
    return 0;
}

// Ticks of sample `wanted` from the time-to-sample runs; 0 when none say.
uint32_t SampleTicks(const Track* track, uint32_t wanted)
{
    uint32_t runs = EntryCount(&track->stts, 4, 8);
    uint64_t sample = 0;
    for (uint32_t run = 0; run < runs; ++run) {
        sample += ReadBig32(track->stts.payload + 8 + 8ull * run);
        if (wanted < sample) {
            return ReadBig32(track->stts.payload + 12 + 8ull * run);
        }
    }
    return 0;
}

// Codestream `field` of sample `index`: that contiguous codestream box in
// the sample, or the sample's bytes when they are the codestream itself.
// When the file is `arriving`, the sample may be cut short: the codestream
// is cut to what the codec can decode, `patch` saying what came of its last
// tile-part, and 0 while none of it can be.
int FindSampleCodestream(StreamSegment* segment, StreamPatch* patch, const Track* track, const uint8_t* data,
                         uint64_t length, uint32_t index, uint32_t field, int arriving)
{
    uint64_t offset = 0;
    uint64_t size = SampleSize(track, index);
    memset(patch, 0, sizeof(*patch));
    if (index >= SampleCount(track) || !LocateSample(&offset, track, index) || offset > length) {
        return 0;
    }
    if (size > length - offset && !arriving) {
        return 0;
    }
    size = size > length - offset ? length - offset : size;
    Box jp2c;
    segment->data = data + offset;
    segment->length = size;
    if (field == 0 && size >= 2 && data[offset] == 0xFF && data[offset + 1] == 0x4F) {
        return !arriving || MeasureArrivingSource(segment, patch);
    }
    BoxRun run = MakeBoxRun(data + offset, size);
    int found = arriving ? FindNthBoxArriving(&jp2c, run, BoxType("jp2c"), field)
                         : FindNthBox(&jp2c, run, BoxType("jp2c"), field);
    if (!found || jp2c.payloadLength == 0) {
        return 0;
    }
    segment->data = jp2c.payload;
    segment->length = jp2c.payloadLength;
    return !arriving || MeasureArrivingSource(segment, patch);
}

// The picture sample `index` shows: its codestream's size, or with two
// fields their width and their heights together, and the halvings both
// allow. Arriving, each field must be decodable in part.
int ReadSampleHeader(CodestreamHeader* header, const Track* track, const uint8_t* data, uint64_t length, uint32_t index,
                     int arriving)
{
    for (uint32_t field = 0; field < track->fields; ++field) {
        StreamSegment segment;
        StreamPatch patch;
        CodestreamHeader one;
        if (!FindSampleCodestream(&segment, &patch, track, data, length, index, field, arriving)) {
            return DecodeFailureCorrupt;
        }
        int failure = ReadCodestreamHeader(&one, &segment, 1);
        if (failure != DecodeFailureNone) {
            return failure;
        }
        if (field == 0) {
            *header = one;
        } else if (one.width != header->width) {
            return DecodeFailureCorrupt;
        } else {
            header->height += one.height; // each below 2^31
            header->maxReduce = one.maxReduce < header->maxReduce ? one.maxReduce : header->maxReduce;
        }
    }
    return DecodeFailureNone;
}

// Field `field` of sample `index` decoded into a bitmap at `reduce` halvings.
int DecodeField(uint8_t** dibOut, const Track* track, const ComposeRequest* request, uint32_t field)
{
    StreamSegment segment;
    StreamPatch patch;
    opj_image_t* image = NULL;
    LentColour lent;
    *dibOut = NULL;
    if (!FindSampleCodestream(&segment, &patch, track, request->data, request->length, request->index, field,
                              request->arriving)) {
        return DecodeFailureCorrupt;
    }
    int failure = request->arriving
                      ? DecodeCutCodestreamImage(&image, &segment, 1, request->reduce, request->threads, &patch)
                      : DecodeCodestreamImage(&image, &segment, 1, request->reduce, request->threads);
    if (failure == DecodeFailureNone) {
        failure = MapLayerChannels(&image, &track->colour);
    }
    if (failure == DecodeFailureNone) {
        DescribeImageColour(image, &track->colour, &lent);
        failure = PackImageToDib(dibOut, image, ResolveCodecThreads(request->threads), NULL, 0);
        ForgetImageColour(image);
    }
    opj_image_destroy(image);
    return failure;
}

// Two fields' bitmaps of one width and depth as one frame of `height`
// rows: the top field's rows on the even lines, the other's on the odd
// ones (a reduced level may leave a row more than the frame's).
int InterlaceFields(uint8_t** frameOut, const uint8_t* top, const uint8_t* bottom, uint32_t height)
{
    uint32_t width = ReadLittle32(top + 4);
    uint32_t topRows = ReadLittle32(top + 8);
    uint32_t bottomRows = ReadLittle32(bottom + 8);
    uint32_t bitCount = ReadLittle16(top + 14);
    DibLayout layout;
    *frameOut = NULL;
    if (ReadLittle32(bottom + 4) != width || ReadLittle16(bottom + 14) != bitCount ||
        (height + 1) / 2 > topRows || height / 2 > bottomRows) {
        return DecodeFailureCorrupt;
    }
    if (!ComputeDibLayout(width, height, bitCount, &layout)) {
        return DecodeFailureTooLarge;
    }
    uint8_t* frame = AllocateBitmapBlock(layout.blockSize);
    if (frame == NULL) {
        return DecodeFailureOutOfMemory;
    }
    memcpy(frame, top, 40 + layout.paletteSize);
    WriteLittle32(frame + 8, height);
    WriteLittle32(frame + 20, layout.imageSize);
    uint8_t* bits = frame + 40 + layout.paletteSize;
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* field = r % 2 == 0 ? top : bottom;
        uint32_t rows = r % 2 == 0 ? topRows : bottomRows;
        memcpy(bits + (uint64_t)(height - 1 - r) * layout.stride,
               PackedDibBits(field) + (uint64_t)(rows - 1 - r / 2) * layout.stride, layout.stride);
    }
    *frameOut = frame;
    return DecodeFailureNone;
}

int Describe(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index, int arriving)
{
    Track track;
    CodestreamHeader header = {};
    memset(pictureOut, 0, sizeof(*pictureOut));
    if (!ReadVideoTrack(&track, data, length) || SampleCount(&track) == 0) {
        return DecodeFailureNone; // no track to play: the first codestream
    }
    pictureOut->count = SampleCount(&track);
    if (index >= pictureOut->count) {
        return DecodeFailureArguments;
    }
    int failure = ReadSampleHeader(&header, &track, data, length, index, arriving);
    if (failure != DecodeFailureNone) {
        return failure;
    }
    uint64_t ms = track.timescale == 0 ? 0 : (uint64_t)SampleTicks(&track, index) * 1000 / track.timescale;
    pictureOut->composed = 1;
    pictureOut->width = header.width;
    pictureOut->height = header.height;
    pictureOut->maxReduce = header.maxReduce;
    pictureOut->durationMs = ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)ms;
    pictureOut->loops = 1;
    return DecodeFailureNone;
}

} // namespace

int DescribeMj2Frame(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index)
{
    return Describe(pictureOut, data, length, index, 0);
}

int DescribeArrivingMj2Frame(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index)
{
    return Describe(pictureOut, data, length, index, 1);
}

int ComposeMj2Frame(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request)
{
    Track track;
    CodestreamHeader header = {};
    uint8_t* fields[2] = {NULL, NULL};
    *dibOut = NULL;
    *notesOut = 0;
    if (!ReadVideoTrack(&track, request->data, request->length) || request->index >= SampleCount(&track)) {
        return DecodeFailureArguments;
    }
    int failure = ReadSampleHeader(&header, &track, request->data, request->length, request->index, request->arriving);
    for (uint32_t field = 0; failure == DecodeFailureNone && field < track.fields; ++field) {
        failure = DecodeField(&fields[field], &track, request, field);
    }
    if (failure == DecodeFailureNone && track.fields == 1) {
        *dibOut = fields[0];
        fields[0] = NULL;
    } else if (failure == DecodeFailureNone) {
        uint32_t height = (uint32_t)(((uint64_t)header.height + (1ull << request->reduce) - 1) >> request->reduce);
        failure = InterlaceFields(dibOut, fields[track.secondOnTop ? 1 : 0], fields[track.secondOnTop ? 0 : 1], height);
    }
    ReleaseBitmapBlock(fields[0]);
    ReleaseBitmapBlock(fields[1]);
    return failure;
}
