// Draws codestreams placed, scaled, cropped and masked onto a composed picture.
#include "compose_layers.h"
#include "byte_order.h"
#include "codestream_image.h"
#include "codestream_prefix.h"
#include "dib_layout.h"
#include "image_to_dib.h"
#include "jpeg2000.h"
#include "picture_plan.h"

#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t kFragmentEntryBytes = 14; // offset (8), length (4), data reference (2)

// One codestream decoded for drawing: its bitmap (8 or 24 bits) at `reduce`
// halvings, its opacity apart when it has one.
struct DecodedSource {
    uint8_t* dib;
    uint8_t* opacity;
    int opacityKind;
    uint32_t width, height, stride, bytesPerPixel;
    const uint8_t* bits;
    int reduce;
    uint64_t fullWidth, fullHeight;
};

// Where each column or row of a layout's rectangle reads its source: a
// column of the decoded bitmap, or -1 outside the source.
struct SourceMap {
    int32_t* columns;
    int32_t* rows;
};

struct ColourSpaceNumber {
    uint32_t enumeration;
    OPJ_COLOR_SPACE space;
};

const uint32_t kCielab = 14;
const uint32_t kCielabDefaults = 0x44454600; // "DEF"
const uint32_t kCielabD50 = 0x00443530;
const uint64_t kCielabColrBytes = 35; // method, precedence, approximation, enumeration, seven words

const ColourSpaceNumber kColourSpaces[] = {
    {16, OPJ_CLRSPC_SRGB}, {17, OPJ_CLRSPC_GRAY}, {18, OPJ_CLRSPC_SYCC}, {24, OPJ_CLRSPC_EYCC}, {12, OPJ_CLRSPC_CMYK},
};

int GeometryFits(int64_t value)
{
    return value >= -kGeometryLimit && value <= kGeometryLimit;
}

// 2^shift * value, saturating.
uint64_t ShiftUp(uint64_t value, int shift)
{
    return shift >= 64 || value > (UINT64_MAX >> shift) ? UINT64_MAX : value << shift;
}

// The smallest level pixel X >= 0 whose centre, (2X + 1) * 2^reduce in
// full-resolution half pixels, is at or past `edge2` (half pixels).
int64_t FirstCentreFrom(int64_t edge2, int reduce)
{
    int64_t unit = (int64_t)1 << reduce;
    return edge2 <= unit ? 0 : (edge2 - unit + 2 * unit - 1) / (2 * unit);
}

int LocateFragments(StreamSegment** segmentsOut, uint32_t* countOut, const Box* ftbl, const uint8_t* file,
                    uint64_t fileLength, int arriving)
{
    Box flst;
    if (!FindBox(&flst, ContentsOf(ftbl), BoxType("flst")) || flst.payloadLength < 2) {
        return DecodeFailureCorrupt;
    }
    uint32_t count = ReadBig16(flst.payload);
    if (count == 0 || flst.payloadLength < 2 + (uint64_t)count * kFragmentEntryBytes) {
        return DecodeFailureCorrupt;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (ReadBig16(flst.payload + 2 + i * kFragmentEntryBytes + 12) != 0) {
            return DecodeFailureNone; // a piece lies in another file
        }
    }
    StreamSegment* segments = (StreamSegment*)malloc(count * sizeof(StreamSegment));
    if (segments == NULL) {
        return DecodeFailureOutOfMemory;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = flst.payload + 2 + i * kFragmentEntryBytes;
        uint64_t offset = ReadBig64(entry);
        uint64_t length = ReadBig32(entry + 8);
        if (offset > fileLength || length > fileLength - offset) {
            free(segments);
            return arriving ? DecodeFailureNone : DecodeFailureCorrupt;
        }
        segments[i].data = file + offset;
        segments[i].length = length;
    }
    *segmentsOut = segments;
    *countOut = count;
    return DecodeFailureNone;
}

} // namespace

int LocateCodestream(StreamSegment** segmentsOut, uint32_t* countOut, const CodestreamPlace* place,
                     const uint8_t* file, uint64_t fileLength, int arriving)
{
    *segmentsOut = NULL;
    *countOut = 0;
    if (place->start == NULL) {
        return DecodeFailureNone;
    }
    Box box = {0, place->start, place->start, place->length};
    BoxRun run = MakeBoxRun(place->start, place->length);
    int bare = place->length >= 2 && place->start[0] == 0xFF && place->start[1] == 0x4F;
    int cut = 0;
    int found = bare || (arriving ? NextBoxArriving(&run, &box, &cut) : NextBox(&run, &box));
    if (!bare && (!found || (box.type != BoxType("jp2c") && box.type != BoxType("ftbl")))) {
        return arriving ? DecodeFailureNone : DecodeFailureCorrupt;
    }
    if (!bare && box.type == BoxType("ftbl")) {
        return cut ? DecodeFailureNone : LocateFragments(segmentsOut, countOut, &box, file, fileLength, arriving);
    }
    StreamSegment* one = (StreamSegment*)malloc(sizeof(StreamSegment));
    if (one == NULL) {
        return DecodeFailureOutOfMemory;
    }
    one->data = box.payload;
    one->length = box.payloadLength;
    *segmentsOut = one;
    *countOut = 1;
    return DecodeFailureNone;
}

// The colour boxes a header may hold, and where each one's payload goes.
struct ColourBoxField {
    uint32_t type;
    const uint8_t* CodestreamPlace::*payload;
    uint64_t CodestreamPlace::*length;
};
const ColourBoxField kColourBoxes[] = {
    {BoxType("colr"), &CodestreamPlace::colr, &CodestreamPlace::colrLength},
    {BoxType("cdef"), &CodestreamPlace::cdef, &CodestreamPlace::cdefLength},
    {BoxType("pclr"), &CodestreamPlace::pclr, &CodestreamPlace::pclrLength},
    {BoxType("cmap"), &CodestreamPlace::cmap, &CodestreamPlace::cmapLength},
};

void TakeColourBoxes(CodestreamPlace* place, BoxRun header)
{
    Box box;
    for (const ColourBoxField& field : kColourBoxes) {
        if (FindBox(&box, header, field.type)) {
            place->*field.payload = box.payload;
            place->*field.length = box.payloadLength;
        }
    }
}

namespace {

// CIELab handed to the colour rows as OpenJPEG hands over a plain file's:
// the enumeration, "DEF" (the usual ranges and offsets) or 0 and the file's
// seven words (ranges and offsets of L*, a*, b*, the illuminant), a length
// of 0. A short set of parameters is the usual one, as a plain file's is.
void DescribeCielab(opj_image_t* image, const CodestreamPlace* place, LentColour* lent)
{
    memset(lent->lab, 0, sizeof(lent->lab));
    lent->lab[0] = kCielab;
    lent->lab[1] = kCielabDefaults;
    lent->lab[8] = kCielabD50;
    if (place->colrLength == kCielabColrBytes) {
        lent->lab[1] = 0;
        for (uint32_t i = 0; i < 7; ++i) {
            lent->lab[2 + i] = ReadBig32(place->colr + 7 + 4 * i);
        }
    }
    image->icc_profile_buf = (OPJ_BYTE*)lent->lab;
    image->icc_profile_len = 0;
}

} // namespace

void DescribeImageColour(opj_image_t* image, const CodestreamPlace* place, LentColour* lent)
{
    if (place->colr != NULL && place->colrLength >= 7 && place->colr[0] == 1) {
        uint32_t enumeration = ReadBig32(place->colr + 3);
        for (const ColourSpaceNumber& entry : kColourSpaces) {
            image->color_space = entry.enumeration == enumeration ? entry.space : image->color_space;
        }
        if (enumeration == kCielab) {
            DescribeCielab(image, place, lent);
        }
    } else if (place->colr != NULL && place->colrLength > 3 && (place->colr[0] == 2 || place->colr[0] == 3) &&
               place->colrLength - 3 <= 0xFFFFFFFFu) {
        // Lent, not copied: ForgetImageColour takes it back before the image goes.
        image->icc_profile_buf = (OPJ_BYTE*)(place->colr + 3);
        image->icc_profile_len = (OPJ_UINT32)(place->colrLength - 3);
    }
    uint32_t definitions = place->cdef != NULL && place->cdefLength >= 2 ? ReadBig16(place->cdef) : 0;
    for (uint32_t i = 0; i < definitions && 2 + (uint64_t)(i + 1) * 6 <= place->cdefLength; ++i) {
        uint32_t component = ReadBig16(place->cdef + 2 + 6 * i);
        uint32_t type = ReadBig16(place->cdef + 4 + 6 * i);
        if (component < image->numcomps && (type == 1 || type == 2)) {
            image->comps[component].alpha = (OPJ_UINT16)type;
        }
    }
    if (place->lastOpacity != OpacityNone && image->numcomps > 1) {
        image->comps[image->numcomps - 1].alpha = (OPJ_UINT16)place->lastOpacity;
    }
}

void ForgetImageColour(opj_image_t* image)
{
    image->icc_profile_buf = NULL;
    image->icc_profile_len = 0;
}

// On an arriving canvas, a contiguous codestream is cut to the part that
// can be decoded, `patch` saying what arrived of its last tile-part; 0
// while none can. A whole one measures whole; one in fragments is drawn
// only once all have come (LocateCodestream).
int MeasureArrivingSource(StreamSegment* segment, StreamPatch* patch)
{
    uint64_t cut = 0;
    uint64_t usable = MeasureCodestreamBytes(segment->data, segment->length, &cut);
    memset(patch, 0, sizeof(*patch));
    segment->length = usable;
    if (cut != 0) {
        patch->at = cut + 6; // Psot, past marker, Lsot and Isot
        patch->length = 4;
        WriteBig32(patch->bytes, (uint32_t)(usable - cut));
    }
    return usable != 0;
}

namespace {

void ReleaseSource(DecodedSource* source)
{
    ReleaseBitmapBlock(source->dib);
    free(source->opacity);
    source->dib = NULL;
    source->opacity = NULL;
}

// The full-resolution crop of a placement and the size it covers on the
// picture; 0 when its geometry passes the limits.
int ResolveGeometry(SourcePlacement* placement, uint64_t sourceWidth, uint64_t sourceHeight)
{
    SourcePlacement* p = placement;
    if (p->cropWidth == 0 || p->cropHeight == 0) {
        p->cropX = p->cropY = 0;
        p->cropWidth = sourceWidth;
        p->cropHeight = sourceHeight;
    }
    if (p->fitToSize) {
        p->xNum = p->cropWidth;
        p->xDen = p->width;
        p->yNum = p->cropHeight;
        p->yDen = p->height;
    }
    if (p->xNum == 0 || p->xDen == 0 || p->yNum == 0 || p->yDen == 0 || !GeometryFits(p->x) || !GeometryFits(p->y) ||
        !GeometryFits((int64_t)p->cropWidth) || !GeometryFits((int64_t)p->cropHeight) ||
        !GeometryFits((int64_t)p->cropX) || !GeometryFits((int64_t)p->cropY) || !GeometryFits((int64_t)p->xNum) ||
        !GeometryFits((int64_t)p->xDen) || !GeometryFits((int64_t)p->yNum) || !GeometryFits((int64_t)p->yDen)) {
        return 0;
    }
    uint64_t width = (p->cropWidth * p->xDen + p->xNum - 1) / p->xNum;
    uint64_t height = (p->cropHeight * p->yDen + p->yNum - 1) / p->yNum;
    p->width = p->width == 0 || p->width > width ? width : p->width;
    p->height = p->height == 0 || p->height > height ? height : p->height;
    return GeometryFits((int64_t)p->width) && GeometryFits((int64_t)p->height);
}

// The coarsest level of the source still as fine as the canvas: 2^q source
// pixels no wider than one canvas pixel covers.
int ChooseSourceReduce(const SourcePlacement* p, int canvasReduce, int maxReduce)
{
    int q = 0;
    while (q < maxReduce && ShiftUp(p->xDen, q + 1) <= ShiftUp(p->xNum, canvasReduce) &&
           ShiftUp(p->yDen, q + 1) <= ShiftUp(p->yNum, canvasReduce)) {
        ++q;
    }
    return q;
}

int DecodeSourceImage(opj_image_t** image, const StreamSegment* segments, uint32_t count, int reduce,
                      const Canvas* canvas, const StreamPatch* patch)
{
    if (canvas->arriving) {
        return DecodeCutCodestreamImage(image, segments, count, reduce, canvas->threads, patch);
    }
    return DecodeCodestreamImage(image, segments, count, reduce, canvas->threads);
}

// The codestream behind `placement` decoded at the level the canvas needs
// (a coarser one when that passes the sample cap); source->dib stays null
// when its data lies in another file, or has not arrived far enough.
int DecodeSource(DecodedSource* source, SourcePlacement* placement, const Canvas* canvas, const uint8_t* file,
                 uint64_t fileLength)
{
    memset(source, 0, sizeof(*source));
    StreamSegment* segments = NULL;
    uint32_t count = 0;
    CodestreamHeader header;
    LentColour lent;
    StreamPatch patch;
    memset(&patch, 0, sizeof(patch));
    opj_image_t* image = NULL;
    int failure = LocateCodestream(&segments, &count, &placement->place, file, fileLength, canvas->arriving);
    if (failure != DecodeFailureNone || count == 0 ||
        (canvas->arriving && count == 1 && !MeasureArrivingSource(&segments[0], &patch))) {
        goto done;
    }
    failure = ReadCodestreamHeader(&header, segments, count);
    if (failure != DecodeFailureNone) {
        goto done;
    }
    if (!ResolveGeometry(placement, header.width, header.height)) {
        failure = DecodeFailureTooLarge;
        goto done;
    }
    source->reduce = ChooseSourceReduce(placement, canvas->reduce, header.maxReduce);
    failure = DecodeSourceImage(&image, segments, count, source->reduce, canvas, &patch);
    while (failure == DecodeFailureTooLarge && source->reduce < header.maxReduce) {
        failure = DecodeSourceImage(&image, segments, count, ++source->reduce, canvas, &patch);
    }
    if (failure != DecodeFailureNone) {
        goto done;
    }
    failure = JoinLayerCodestreams(&image, &placement->place, source->reduce, canvas->threads, file, fileLength);
    if (failure == DecodeFailureNone) {
        failure = MapLayerChannels(&image, &placement->place);
    }
    if (failure != DecodeFailureNone) {
        goto done;
    }
    DescribeImageColour(image, &placement->place, &lent);
    failure = KeyOutChroma(&image, &placement->place);
    if (failure == DecodeFailureNone) {
        failure = PackLayerToDib(&source->dib, &source->opacity, &source->opacityKind, image, canvas->threads);
    }
    ForgetImageColour(image);
    if (failure == DecodeFailureNone) {
        source->width = ReadLittle32(source->dib + 4);
        source->height = ReadLittle32(source->dib + 8);
        source->bytesPerPixel = ReadLittle16(source->dib + 14) / 8;
        source->stride = (source->width * source->bytesPerPixel + 3) & ~3u;
        source->bits = PackedDibBits(source->dib);
        source->fullWidth = header.width;
        source->fullHeight = header.height;
    }
done:
    opj_image_destroy(image);
    free(segments);
    return failure;
}

// Source columns (or rows) of `count` canvas pixels from `first` on, along
// one axis: the source pixel under each one's centre, or -1.
void MapAxis(int32_t* out, int64_t first, uint32_t count, int canvasReduce, int64_t origin, uint64_t extent,
             uint64_t cropStart, uint64_t cropLength, uint64_t num, uint64_t den, int sourceReduce, uint32_t levelSize)
{
    for (uint32_t i = 0; i < count; ++i) {
        int64_t centre2 = ((2 * (first + i) + 1) << canvasReduce) - 2 * origin;
        int32_t column = -1;
        if (centre2 >= 0 && (uint64_t)centre2 < 2 * extent) {
            uint64_t within = (uint64_t)centre2 * num / (2 * den);
            uint64_t level = (cropStart + within) >> sourceReduce;
            if (within < cropLength && level < levelSize) {
                column = (int32_t)level;
            }
        }
        out[i] = column;
    }
}

// The column and row maps of a decoded source over the rectangle
// [x0, x0 + width) x [y0, ...) of the canvas; a DecodeFailure value.
int MapSource(SourceMap* map, const DecodedSource* source, const SourcePlacement* p, const Canvas* canvas, int64_t x0,
              int64_t y0, uint32_t width, uint32_t height)
{
    map->columns = (int32_t*)malloc((size_t)width * sizeof(int32_t));
    map->rows = (int32_t*)malloc((size_t)height * sizeof(int32_t));
    if (map->columns == NULL || map->rows == NULL) {
        return DecodeFailureOutOfMemory;
    }
    MapAxis(map->columns, x0, width, canvas->reduce, p->x, p->width, p->cropX, p->cropWidth, p->xNum, p->xDen,
            source->reduce, source->width);
    MapAxis(map->rows, y0, height, canvas->reduce, p->y, p->height, p->cropY, p->cropHeight, p->yNum, p->yDen,
            source->reduce, source->height);
    return DecodeFailureNone;
}

void ReleaseMap(SourceMap* map)
{
    free(map->columns);
    free(map->rows);
    map->columns = NULL;
    map->rows = NULL;
}

// Blue, green, red of a source pixel (grey repeated).
const uint8_t* SourcePixel(const DecodedSource* source, int32_t column, int32_t row)
{
    return source->bits + (uint64_t)(source->height - 1 - (uint32_t)row) * source->stride +
           (uint64_t)column * source->bytesPerPixel;
}

// A layout's rectangle on the canvas: colour and opacity of each pixel.
struct LayoutPixels {
    int64_t x0, y0;
    uint32_t width, height;
    uint8_t* colour;  // blue, green, red
    uint8_t* opacity;
    int premultiplied;
};

void PaintImage(LayoutPixels* pixels, const DecodedSource* image, const SourceMap* map, int maskGiven)
{
    pixels->premultiplied = !maskGiven && image->opacity != NULL && image->opacityKind == OpacityPremultiplied;
    for (uint32_t y = 0; y < pixels->height; ++y) {
        int32_t row = map->rows[y];
        for (uint32_t x = 0; row >= 0 && x < pixels->width; ++x) {
            int32_t column = map->columns[x];
            if (column < 0) {
                continue;
            }
            const uint8_t* from = SourcePixel(image, column, row);
            uint8_t* to = pixels->colour + ((uint64_t)y * pixels->width + x) * 3;
            int grey = image->bytesPerPixel == 1;
            to[0] = from[0];
            to[1] = from[grey ? 0 : 1];
            to[2] = from[grey ? 0 : 2];
            if (!maskGiven) {
                uint8_t alpha = image->opacity != NULL ? image->opacity[(uint64_t)row * image->width + column] : 255;
                pixels->opacity[(uint64_t)y * pixels->width + x] = alpha;
            }
        }
    }
}

void PaintMask(LayoutPixels* pixels, const DecodedSource* mask, const SourceMap* map)
{
    for (uint32_t y = 0; y < pixels->height; ++y) {
        int32_t row = map->rows[y];
        for (uint32_t x = 0; row >= 0 && x < pixels->width; ++x) {
            if (map->columns[x] >= 0) {
                const uint8_t* from = SourcePixel(mask, map->columns[x], row);
                pixels->opacity[(uint64_t)y * pixels->width + x] = from[mask->bytesPerPixel == 1 ? 0 : 1];
            }
        }
    }
}

// Plain opacity mixes the layout's colour with the canvas; premultiplied
// colour already carries its share and the canvas adds the rest.
void BlendLayout(Canvas* canvas, const LayoutPixels* pixels)
{
    for (uint32_t y = 0; y < pixels->height; ++y) {
        uint8_t* row = canvas->dib + 40 + (uint64_t)(canvas->height - 1 - (uint32_t)(pixels->y0 + y)) * canvas->stride +
                       (uint64_t)pixels->x0 * 3;
        const uint8_t* colour = pixels->colour + (uint64_t)y * pixels->width * 3;
        const uint8_t* opacity = pixels->opacity + (uint64_t)y * pixels->width;
        for (uint32_t x = 0; x < pixels->width; ++x) {
            uint32_t a = opacity[x];
            for (uint32_t b = 0; b < 3; ++b) {
                uint32_t under = row[3 * x + b];
                uint32_t over = colour[3 * x + b];
                uint32_t v = pixels->premultiplied ? over + (under * (255 - a) + 127) / 255
                                                   : (over * a + under * (255 - a) + 127) / 255;
                row[3 * x + b] = (uint8_t)(v > 255 ? 255 : v);
            }
        }
    }
}

// The canvas pixels whose centres lie in the layout's clip rectangle;
// 0 when none do.
int ClipLayout(LayoutPixels* pixels, const LayoutDraw* layout, const Canvas* canvas)
{
    if (!GeometryFits(layout->clipX) || !GeometryFits(layout->clipY) || !GeometryFits((int64_t)layout->clipWidth) ||
        !GeometryFits((int64_t)layout->clipHeight)) {
        return 0;
    }
    int64_t x0 = FirstCentreFrom(2 * layout->clipX, canvas->reduce);
    int64_t y0 = FirstCentreFrom(2 * layout->clipY, canvas->reduce);
    int64_t x1 = FirstCentreFrom(2 * (layout->clipX + (int64_t)layout->clipWidth), canvas->reduce);
    int64_t y1 = FirstCentreFrom(2 * (layout->clipY + (int64_t)layout->clipHeight), canvas->reduce);
    x1 = x1 > canvas->width ? canvas->width : x1;
    y1 = y1 > canvas->height ? canvas->height : y1;
    if (x0 >= x1 || y0 >= y1) {
        return 0;
    }
    pixels->x0 = x0;
    pixels->y0 = y0;
    pixels->width = (uint32_t)(x1 - x0);
    pixels->height = (uint32_t)(y1 - y0);
    return 1;
}

// Decodes one of a layout's sources; *drawn 0 when its data lies in
// another file.
int PrepareSource(DecodedSource* source, int* drawn, SourcePlacement* placement, Canvas* canvas,
                  const uint8_t* file, uint64_t fileLength)
{
    int failure = DecodeSource(source, placement, canvas, file, fileLength);
    *drawn = failure == DecodeFailureNone && source->dib != NULL;
    if (failure == DecodeFailureNone && !*drawn && !canvas->arriving) {
        canvas->notes |= kNoteExternalData;
    }
    return failure;
}

// The layout's clip rectangle; one of no size is the image's own extent.
LayoutDraw ClipOfLayout(const LayoutDraw* layout, const SourcePlacement* image)
{
    LayoutDraw clipped = *layout;
    if (clipped.clipWidth == 0 || clipped.clipHeight == 0) {
        clipped.clipX = image->x;
        clipped.clipY = image->y;
        clipped.clipWidth = image->width;
        clipped.clipHeight = image->height;
    }
    return clipped;
}

} // namespace

int CreateCanvas(Canvas* canvasOut, uint32_t fullWidth, uint32_t fullHeight, int reduce, const uint8_t fill[3],
                 int threads)
{
    memset(canvasOut, 0, sizeof(*canvasOut));
    DibLayout layout;
    if (reduce < 0 || reduce > 32 || fullWidth == 0 || fullHeight == 0) {
        return DecodeFailureArguments;
    }
    uint64_t width = ((uint64_t)fullWidth + (1ull << reduce) - 1) >> reduce;
    uint64_t height = ((uint64_t)fullHeight + (1ull << reduce) - 1) >> reduce;
    if (fullWidth > kGeometryLimit || fullHeight > kGeometryLimit || width * height * 3 > DecodeSampleLimit() ||
        !ComputeDibLayout((uint32_t)width, (uint32_t)height, 24, &layout)) {
        return DecodeFailureTooLarge;
    }
    uint8_t* dib = AllocateBitmapBlock(layout.blockSize);
    if (dib == NULL) {
        return DecodeFailureOutOfMemory;
    }
    memset(dib, 0, layout.blockSize);
    WriteLittle32(dib + 0, 40);
    WriteLittle32(dib + 4, (uint32_t)width);
    WriteLittle32(dib + 8, (uint32_t)height);
    WriteLittle16(dib + 12, 1);
    WriteLittle16(dib + 14, 24);
    WriteLittle32(dib + 20, layout.imageSize);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = dib + 40 + (uint64_t)y * layout.stride;
        for (uint32_t x = 0; x < width; ++x) {
            memcpy(row + 3 * x, fill, 3);
        }
    }
    canvasOut->dib = dib;
    canvasOut->width = (uint32_t)width;
    canvasOut->height = (uint32_t)height;
    canvasOut->stride = layout.stride;
    canvasOut->fullWidth = fullWidth;
    canvasOut->fullHeight = fullHeight;
    canvasOut->reduce = reduce;
    canvasOut->threads = threads;
    return DecodeFailureNone;
}

int DrawLayout(Canvas* canvas, const LayoutDraw* layout, const uint8_t* file, uint64_t fileLength)
{
    LayoutPixels pixels;
    memset(&pixels, 0, sizeof(pixels));
    SourcePlacement image = layout->image;
    SourcePlacement mask = layout->mask;
    DecodedSource decodedImage;
    DecodedSource decodedMask;
    SourceMap imageMap = {NULL, NULL};
    SourceMap maskMap = {NULL, NULL};
    int imageDrawn = 0;
    int maskDrawn = 0;
    int solid = !layout->hasImage || image.place.start == NULL;
    memset(&decodedImage, 0, sizeof(decodedImage));
    memset(&decodedMask, 0, sizeof(decodedMask));
    uint64_t count = 0;
    int failure = DecodeFailureNone;
    LayoutDraw clipped;
    if (!solid) {
        failure = PrepareSource(&decodedImage, &imageDrawn, &image, canvas, file, fileLength);
    }
    if (failure == DecodeFailureNone && layout->hasMask) {
        failure = PrepareSource(&decodedMask, &maskDrawn, &mask, canvas, file, fileLength);
    }
    // A layout whose image or mask lies in another file is left out whole.
    clipped = ClipOfLayout(layout, &image);
    if (failure != DecodeFailureNone || (!solid && !imageDrawn) || (layout->hasMask && !maskDrawn) ||
        !ClipLayout(&pixels, &clipped, canvas)) {
        goto done;
    }
    if (imageDrawn) {
        failure = MapSource(&imageMap, &decodedImage, &image, canvas, pixels.x0, pixels.y0, pixels.width, pixels.height);
    }
    if (failure == DecodeFailureNone && maskDrawn) {
        failure = MapSource(&maskMap, &decodedMask, &mask, canvas, pixels.x0, pixels.y0, pixels.width, pixels.height);
    }
    count = (uint64_t)pixels.width * pixels.height;
    pixels.colour = failure == DecodeFailureNone ? (uint8_t*)malloc((size_t)count * 3) : NULL;
    pixels.opacity = pixels.colour != NULL ? (uint8_t*)calloc((size_t)count, 1) : NULL;
    if (failure == DecodeFailureNone && pixels.opacity == NULL) {
        failure = DecodeFailureOutOfMemory;
    }
    if (failure != DecodeFailureNone) {
        goto done;
    }
    for (uint64_t i = 0; i < count; ++i) {
        memcpy(pixels.colour + 3 * i, layout->solid, 3);
    }
    if (imageDrawn) {
        PaintImage(&pixels, &decodedImage, &imageMap, layout->hasMask);
    } else if (!layout->hasMask) {
        memset(pixels.opacity, 255, (size_t)count);
    }
    if (maskDrawn) {
        PaintMask(&pixels, &decodedMask, &maskMap);
    }
    BlendLayout(canvas, &pixels);
    canvas->drawn++;
done:
    free(pixels.colour);
    free(pixels.opacity);
    ReleaseMap(&imageMap);
    ReleaseMap(&maskMap);
    ReleaseSource(&decodedImage);
    ReleaseSource(&decodedMask);
    return failure;
}

int FinishCanvas(uint8_t** dibOut, uint32_t* notesOut, Canvas* canvas, int failure)
{
    if (failure == DecodeFailureNone && canvas->arriving && canvas->drawn == 0) {
        failure = DecodeFailureCorrupt;
    }
    if (failure != DecodeFailureNone) {
        ReleaseBitmapBlock(canvas->dib);
        canvas->dib = NULL;
    }
    *dibOut = canvas->dib;
    *notesOut = canvas->notes;
    canvas->dib = NULL;
    return failure;
}
