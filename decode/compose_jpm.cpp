// The pages of a JPM document: layout objects of images and masks over the page's colour.
#include "compose_layers.h"
#include "compose_readers.h"
#include "byte_order.h"
#include "jpeg2000.h"
#include "picture_plan.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Object types of an object header.
enum {
    ObjectMask = 0,
    ObjectImage = 1,
    ObjectImageAndMask = 2,
};

// Page colours of a page header.
enum {
    PageTransparent = 0,
    PageWhite = 1,
    PageBlack = 2,
    PageBaseColour = 3,
};

struct PageHeader {
    uint32_t layoutCount;
    uint32_t height;
    uint32_t width;
    uint32_t colour;
};

int FindPage(Box* pageOut, const uint8_t* data, uint64_t length, uint32_t index)
{
    return FindNthBox(pageOut, MakeBoxRun(data, length), BoxType("page"), index);
}

int ReadPageHeader(PageHeader* header, const Box* page)
{
    Box phdr;
    if (!FindBox(&phdr, ContentsOf(page), BoxType("phdr")) || phdr.payloadLength < 14) {
        return 0;
    }
    header->layoutCount = ReadBig16(phdr.payload);
    header->height = ReadBig32(phdr.payload + 2);
    header->width = ReadBig32(phdr.payload + 6);
    header->colour = ReadBig16(phdr.payload + 12);
    return header->width != 0 && header->height != 0;
}

// Blue, green, red of a base colour box (one grey value or three), its
// values brought to 8 bits; `fallback` when there is none.
void ReadBaseColour(uint8_t out[3], BoxRun within, const uint8_t fallback[3])
{
    memcpy(out, fallback, 3);
    Box bclr;
    Box bcvl;
    if (!FindBox(&bclr, within, BoxType("bclr")) || !FindBox(&bcvl, ContentsOf(&bclr), BoxType("bcvl")) ||
        bcvl.payloadLength < 3) {
        return;
    }
    uint32_t count = ReadBig16(bcvl.payload);
    uint32_t depth = (bcvl.payload[2] & 0x7Fu) + 1;
    if ((count != 1 && count != 3) || bcvl.payloadLength < 3 + 4ull * count || depth > 16) {
        return;
    }
    uint32_t largest = (1u << depth) - 1;
    for (uint32_t c = 0; c < 3; ++c) {
        uint32_t value = ReadBig16(bcvl.payload + 3 + 4 * (count == 1 ? 0 : c));
        value = value > largest ? largest : value;
        out[2 - c] = (uint8_t)((value * 255 + largest / 2) / largest);
    }
}

// One object of a layout object placed on the page; its type in *typeOut.
// 0 when its header is unusable or, while the file arrives, its codestream
// has not begun (one begun is cut to what came); *externalOut when its
// codestream lies in another file.
int ReadObject(SourcePlacement* placement, int* typeOut, int* externalOut, uint8_t solid[3], const Box* objc,
               int64_t layoutX, int64_t layoutY, const ComposeRequest* request)
{
    uint64_t length = request->length;
    Box ohdr;
    Box box;
    memset(placement, 0, sizeof(*placement));
    if (!FindBox(&ohdr, ContentsOf(objc), BoxType("ohdr")) || ohdr.payloadLength < 2) {
        return 0;
    }
    *typeOut = ohdr.payload[0];
    int noCodestream = ohdr.payload[1] != 0;
    placement->xNum = placement->xDen = placement->yNum = placement->yDen = 1;
    if (ohdr.payloadLength >= 10) {
        placement->y = layoutY + ReadBig32(ohdr.payload + 2);
        placement->x = layoutX + ReadBig32(ohdr.payload + 6);
    }
    if (!noCodestream) {
        if (ohdr.payloadLength < 24) {
            return 0;
        }
        uint64_t offset = ReadBig64(ohdr.payload + 10);
        uint64_t size = ReadBig32(ohdr.payload + 18);
        *externalOut = ReadBig16(ohdr.payload + 22) != 0;
        if (!*externalOut && request->arriving && offset < length && size > length - offset) {
            size = length - offset;
        }
        if (!*externalOut && (offset > length || size > length - offset)) {
            return 0;
        }
        placement->place.start = *externalOut ? NULL : request->data + offset;
        placement->place.length = size;
    }
    if (FindBox(&box, ContentsOf(objc), BoxType("scal")) && box.payloadLength >= 8) {
        placement->yDen = ReadBig16(box.payload);
        placement->yNum = ReadBig16(box.payload + 2);
        placement->xDen = ReadBig16(box.payload + 4);
        placement->xNum = ReadBig16(box.payload + 6);
    }
    if (FindBox(&box, ContentsOf(objc), BoxType("jp2h"))) {
        TakeColourBoxes(&placement->place, ContentsOf(&box));
    }
    if (*typeOut == ObjectImageAndMask && placement->place.cdef == NULL) {
        placement->place.lastOpacity = OpacityPlain;
    }
    const uint8_t black[3] = {0, 0, 0};
    if (noCodestream && *typeOut != ObjectMask) {
        ReadBaseColour(solid, ContentsOf(objc), black);
    }
    return 1;
}

// A layout object as one draw: its image (or base colour) and its mask.
// 0 when it is not drawn: a header unusable, or data in another file
// (*externalOut).
int ReadLayout(LayoutDraw* draw, int* externalOut, const Box* lobj, const ComposeRequest* request)
{
    Box lhdr;
    memset(draw, 0, sizeof(*draw));
    *externalOut = 0;
    if (!FindBox(&lhdr, ContentsOf(lobj), BoxType("lhdr")) || lhdr.payloadLength < 18) {
        return 0;
    }
    draw->clipHeight = ReadBig32(lhdr.payload + 2);
    draw->clipWidth = ReadBig32(lhdr.payload + 6);
    draw->clipY = ReadBig32(lhdr.payload + 10);
    draw->clipX = ReadBig32(lhdr.payload + 14);
    BoxRun objects = ContentsOf(lobj);
    Box objc;
    while (FindBox(&objc, objects, BoxType("objc"))) {
        objects.at = objc.payload + objc.payloadLength;
        SourcePlacement placement;
        int type = 0;
        int external = 0;
        if (!ReadObject(&placement, &type, &external, draw->solid, &objc, draw->clipX, draw->clipY, request)) {
            return 0;
        }
        *externalOut |= external;
        if (type == ObjectMask) {
            draw->hasMask = 1;
            draw->mask = placement;
        } else {
            draw->hasImage = 1;
            draw->image = placement;
        }
    }
    // A mask object without a codestream masks nothing.
    draw->hasMask = draw->hasMask && draw->mask.place.start != NULL;
    return !*externalOut && (draw->hasImage || draw->hasMask) && draw->clipWidth != 0 && draw->clipHeight != 0;
}

void PageFill(uint8_t fill[3], const PageHeader* header, const Box* page)
{
    const uint8_t white[3] = {255, 255, 255};
    const uint8_t black[3] = {0, 0, 0};
    // A transparent page is shown over white, as opacity is everywhere.
    memcpy(fill, header->colour == PageBlack ? black : white, 3);
    if (header->colour == PageBaseColour) {
        ReadBaseColour(fill, ContentsOf(page), white);
    }
}

} // namespace

int DescribeJpmPage(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index)
{
    Box page;
    PageHeader header;
    memset(pictureOut, 0, sizeof(*pictureOut));
    if (!FindPage(&page, data, length, 0) || !ReadPageHeader(&header, &page)) {
        return DecodeFailureNone; // not composed: the first codestream
    }
    pictureOut->count = CountBoxes(MakeBoxRun(data, length), BoxType("page"));
    if (index >= pictureOut->count) {
        return DecodeFailureArguments;
    }
    if (!FindPage(&page, data, length, index) || !ReadPageHeader(&header, &page)) {
        return DecodeFailureCorrupt;
    }
    pictureOut->composed = 1;
    pictureOut->pages = 1;
    pictureOut->width = header.width;
    pictureOut->height = header.height;
    pictureOut->maxReduce = ComposedMaxReduce(header.width, header.height);
    pictureOut->loops = 1;
    return DecodeFailureNone;
}

int ComposeJpmPage(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request)
{
    Box page;
    PageHeader header;
    Canvas canvas;
    uint8_t fill[3];
    if (!FindPage(&page, request->data, request->length, request->index) || !ReadPageHeader(&header, &page)) {
        return DecodeFailureArguments;
    }
    PageFill(fill, &header, &page);
    int failure = CreateCanvas(&canvas, header.width, header.height, request->reduce, fill, request->threads);
    canvas.arriving = request->arriving;
    BoxRun layouts = ContentsOf(&page);
    Box lobj;
    while (failure == DecodeFailureNone && FindBox(&lobj, layouts, BoxType("lobj"))) {
        layouts.at = lobj.payload + lobj.payloadLength;
        LayoutDraw draw;
        int external = 0;
        if (ReadLayout(&draw, &external, &lobj, request)) {
            failure = DrawLayout(&canvas, &draw, request->data, request->length);
        }
        canvas.notes |= external ? kNoteExternalData : 0;
    }
    return FinishCanvas(dibOut, notesOut, &canvas, failure);
}
