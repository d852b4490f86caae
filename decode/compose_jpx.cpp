// JPX compositions: compositing layers placed, cropped, scaled and blended
// per the composition box's instructions, frame by frame for an animation.
#include "compose_layers.h"
#include "compose_readers.h"
#include "byte_order.h"
#include "jpeg2000.h"
#include "picture_plan.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Instruction-type bits: which fields each instruction carries.
const uint32_t kHasOffset = 0x01;
const uint32_t kHasSize = 0x02;
const uint32_t kHasLife = 0x04;
const uint32_t kHasCrop = 0x20;
const uint32_t kPersists = 0x80000000u;
const uint32_t kLifeForever = 0x7FFFFFFFu;
const uint32_t kLoopForever = 255;
const uint8_t kOpacityChromaKey = 2; // an opacity box's type: a colour shown clear follows
const uint32_t kRegistrationBytes = 6; // codestream (2), ratio and offset along each axis (1 each)
// Bounds on the walk through a hostile file's instructions.
const uint64_t kMostInstructions = 1u << 20;

struct Instruction {
    uint32_t type;
    int64_t x, y;
    uint64_t width, height;
    uint64_t cropX, cropY, cropWidth, cropHeight;
    uint32_t life; // ticks; 0: the frame goes on
    int persists;
    uint32_t tick; // milliseconds a tick
};

struct Composition {
    uint32_t width, height;
    uint32_t loop;
    Box comp;
};

int ReadComposition(Composition* out, const uint8_t* data, uint64_t length)
{
    Box copt;
    if (!FindBox(&out->comp, MakeBoxRun(data, length), BoxType("comp")) ||
        !FindBox(&copt, ContentsOf(&out->comp), BoxType("copt")) || copt.payloadLength < 9) {
        return 0;
    }
    out->height = ReadBig32(copt.payload);
    out->width = ReadBig32(copt.payload + 4);
    out->loop = copt.payload[8];
    return out->width != 0 && out->height != 0;
}

uint32_t InstructionBytes(uint32_t type)
{
    return ((type & kHasOffset) ? 8 : 0) + ((type & kHasSize) ? 8 : 0) + ((type & kHasLife) ? 8 : 0) +
           ((type & kHasCrop) ? 16 : 0);
}

void ReadInstruction(Instruction* out, uint32_t type, uint32_t tick, const uint8_t* at)
{
    memset(out, 0, sizeof(*out));
    out->type = type;
    out->tick = tick;
    out->persists = 1;
    if (type & kHasOffset) {
        out->x = ReadBig32(at);
        out->y = ReadBig32(at + 4);
        at += 8;
    }
    if (type & kHasSize) {
        out->width = ReadBig32(at);
        out->height = ReadBig32(at + 4);
        at += 8;
    }
    if (type & kHasLife) {
        uint32_t life = ReadBig32(at);
        out->life = life & ~kPersists;
        out->persists = (life & kPersists) != 0;
        at += 8; // the next-use field only says when a layer returns
    }
    if (type & kHasCrop) {
        out->cropX = ReadBig32(at);
        out->cropY = ReadBig32(at + 4);
        out->cropWidth = ReadBig32(at + 8);
        out->cropHeight = ReadBig32(at + 12);
    }
}

// What a walk through the instructions does at each one: `layer` placed by
// `instruction` in frame `frame`. Nonzero stops the walk with that failure.
typedef int (*InstructionVisitor)(void* context, uint32_t layer, const Instruction* instruction, uint32_t frame);

struct WalkResult {
    uint32_t frames;
    uint32_t lastLife; // of the frame asked for
    uint32_t lastTick;
};

// Walks the instruction sets in order, each repeated as it says, one
// compositing layer per instruction; a frame ends at an instruction with a
// life. Stops past frame `stopAfter`.
int WalkInstructions(WalkResult* result, const Composition* composition, uint32_t layerCount, uint32_t stopAfter,
                     InstructionVisitor visit, void* context)
{
    memset(result, 0, sizeof(*result));
    uint32_t layer = 0;
    uint32_t frame = 0;
    int open = 0; // instructions in the frame not yet ended
    uint64_t steps = 0;
    BoxRun sets = ContentsOf(&composition->comp);
    Box inst;
    while (layer < layerCount && frame <= stopAfter && FindBox(&inst, sets, BoxType("inst"))) {
        sets.at = inst.payload + inst.payloadLength;
        if (inst.payloadLength < 8) {
            continue;
        }
        uint32_t type = ReadBig16(inst.payload);
        uint32_t repeats = ReadBig16(inst.payload + 2);
        uint32_t tick = ReadBig32(inst.payload + 4);
        uint32_t size = InstructionBytes(type);
        uint64_t count = size == 0 ? 0 : (inst.payloadLength - 8) / size;
        for (uint32_t pass = 0; pass <= repeats && count != 0; ++pass) {
            for (uint64_t i = 0; i < count && layer < layerCount && frame <= stopAfter; ++i) {
                if (++steps > kMostInstructions) {
                    return DecodeFailureTooLarge;
                }
                Instruction instruction;
                ReadInstruction(&instruction, type, tick, inst.payload + 8 + i * size);
                int failure = visit(context, layer++, &instruction, frame);
                if (failure != DecodeFailureNone) {
                    return failure;
                }
                open = 1;
                if (instruction.life != 0) {
                    result->lastLife = frame == stopAfter ? instruction.life : result->lastLife;
                    result->lastTick = frame == stopAfter ? tick : result->lastTick;
                    ++frame;
                    open = 0;
                }
            }
            if (layer >= layerCount || frame > stopAfter) {
                break;
            }
        }
    }
    // A composition that gives no instruction shows its first layer where
    // an instruction of no fields would put it: at the origin, at its own
    // size, cut to the composition's.
    if (steps == 0 && layerCount > 0) {
        Instruction whole;
        memset(&whole, 0, sizeof(whole));
        int failure = visit(context, 0, &whole, 0);
        if (failure != DecodeFailureNone) {
            return failure;
        }
        open = 1;
    }
    result->frames = frame + (uint32_t)open;
    return DecodeFailureNone;
}

int IgnoreInstruction(void*, uint32_t, const Instruction*, uint32_t)
{
    return DecodeFailureNone;
}

// The codestreams in file order: contiguous codestream boxes and fragment
// tables; while the file arrives, the last one may be cut short.
int FindCodestream(Box* out, const uint8_t* data, uint64_t length, uint32_t index, int arriving)
{
    BoxRun run = MakeBoxRun(data, length);
    Box box;
    int cut = 0;
    while (arriving ? NextBoxArriving(&run, &box, &cut) : NextBox(&run, &box)) {
        if ((box.type == BoxType("jp2c") || box.type == BoxType("ftbl")) && index-- == 0) {
            *out = box;
            return 1;
        }
    }
    return 0;
}

uint32_t CountLayers(const uint8_t* data, uint64_t length)
{
    uint32_t layers = CountBoxes(MakeBoxRun(data, length), BoxType("jplh"));
    return layers == 0 ? 1 : layers;
}

// The codestreams a registration box names, each placed on the layer's
// grid; the first is the layer's. A DecodeFailure value.
int ReadRegistration(CodestreamPlace* place, const Box* creg, const uint8_t* data, uint64_t length, int arriving)
{
    uint64_t count = creg->payloadLength < 4 ? 0 : (creg->payloadLength - 4) / kRegistrationBytes;
    if (count == 0) {
        return DecodeFailureCorrupt;
    }
    if (count > kMostLayerCodestreams) {
        return DecodeFailureTooLarge;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = creg->payload + 4 + kRegistrationBytes * i;
        LayerStream* stream = &place->streams[i];
        Box box;
        // While the file arrives, only the first may be cut: the others are joined whole.
        if (!FindCodestream(&box, data, length, ReadBig16(entry), arriving && i == 0) || entry[2] == 0 ||
            entry[3] == 0) {
            return DecodeFailureCorrupt;
        }
        stream->start = box.start;
        stream->length = (uint64_t)(box.payload - box.start) + box.payloadLength;
        stream->xRatio = entry[2];
        stream->yRatio = entry[3];
        stream->xOffset = entry[4];
        stream->yOffset = entry[5];
    }
    place->streamCount = (uint32_t)count;
    return DecodeFailureNone;
}

// What a layer header says besides its registration: colour (its colour
// group, then its own boxes), opacity, a chroma key (in its opacity box or
// a box of its own).
void ReadLayerHeader(CodestreamPlace* place, const Box* jplh)
{
    Box box;
    if (FindBox(&box, ContentsOf(jplh), BoxType("cgrp"))) {
        TakeColourBoxes(place, ContentsOf(&box));
    }
    TakeColourBoxes(place, ContentsOf(jplh));
    if (FindBox(&box, ContentsOf(jplh), BoxType("chck"))) {
        place->chck = box.payload;
        place->chckLength = box.payloadLength;
    }
    if (FindBox(&box, ContentsOf(jplh), BoxType("opct")) && box.payloadLength >= 1) {
        place->lastOpacity = box.payload[0] == 0 ? OpacityPlain : (box.payload[0] == 1 ? OpacityPremultiplied : OpacityNone);
        place->chck = box.payload[0] == kOpacityChromaKey ? box.payload + 1 : place->chck;
        place->chckLength = box.payload[0] == kOpacityChromaKey ? box.payloadLength - 1 : place->chckLength;
    }
}

// Compositing layer `index`: its codestreams (those its registration names,
// else the one of its own number), colour and opacity; a file without
// layer headers has one layer, its first codestream. The file's header
// gives what the rest leave out, the header of the layer's (first)
// codestream its palette and mapping, the layer's header the rest. A
// DecodeFailure value.
int ReadLayer(CodestreamPlace* place, const uint8_t* data, uint64_t length, uint32_t index, int arriving)
{
    Box jplh;
    Box box;
    memset(place, 0, sizeof(*place));
    BoxRun file = MakeBoxRun(data, length);
    if (FindBox(&box, file, BoxType("jp2h"))) {
        TakeColourBoxes(place, ContentsOf(&box));
    }
    int failure = DecodeFailureNone;
    int hasHeader = FindNthBox(&jplh, file, BoxType("jplh"), index);
    uint32_t codestream = index;
    if (hasHeader && FindBox(&box, ContentsOf(&jplh), BoxType("creg"))) {
        failure = ReadRegistration(place, &box, data, length, arriving);
        codestream = box.payloadLength >= 6 ? ReadBig16(box.payload + 4) : index;
    }
    if (place->streamCount == 0 && failure == DecodeFailureNone) {
        place->streams[0].xRatio = place->streams[0].yRatio = 1;
        failure = FindCodestream(&box, data, length, index, arriving) ? DecodeFailureNone : DecodeFailureCorrupt;
        place->streams[0].start = failure == DecodeFailureNone ? box.start : NULL;
        place->streams[0].length = failure == DecodeFailureNone ? (uint64_t)(box.payload - box.start) + box.payloadLength : 0;
    }
    if (FindNthBox(&box, file, BoxType("jpch"), codestream)) {
        TakeColourBoxes(place, ContentsOf(&box));
    }
    if (hasHeader) {
        ReadLayerHeader(place, &jplh);
    }
    place->start = place->streams[0].start;
    place->length = place->streams[0].length;
    return failure;
}

struct FrameDrawing {
    Canvas* canvas;
    uint32_t frame;
    const uint8_t* data;
    uint64_t length;
};

// A frame shows the layers of earlier frames that persist, then its own.
int DrawInstruction(void* context, uint32_t layer, const Instruction* instruction, uint32_t frame)
{
    FrameDrawing* drawing = (FrameDrawing*)context;
    if (frame != drawing->frame && !(frame < drawing->frame && instruction->persists)) {
        return DecodeFailureNone;
    }
    LayoutDraw draw;
    memset(&draw, 0, sizeof(draw));
    draw.hasImage = 1;
    // While the file arrives, a layer whose codestreams have not all begun
    // (or come whole, past its first) is left out.
    int failure = ReadLayer(&draw.image.place, drawing->data, drawing->length, layer, drawing->canvas->arriving);
    if (failure != DecodeFailureNone) {
        return drawing->canvas->arriving && failure == DecodeFailureCorrupt ? DecodeFailureNone : failure;
    }
    SourcePlacement* p = &draw.image;
    p->x = instruction->x;
    p->y = instruction->y;
    p->xNum = p->xDen = p->yNum = p->yDen = 1;
    if (instruction->type & kHasCrop) {
        p->cropX = instruction->cropX;
        p->cropY = instruction->cropY;
        p->cropWidth = instruction->cropWidth;
        p->cropHeight = instruction->cropHeight;
    }
    if ((instruction->type & kHasSize) && instruction->width != 0 && instruction->height != 0) {
        p->width = instruction->width;
        p->height = instruction->height;
        p->fitToSize = 1;
    }
    return DrawLayout(drawing->canvas, &draw, drawing->data, drawing->length);
}

// Milliseconds of `life` ticks, saturated; 0 for a frame that stays.
uint32_t LifeMilliseconds(uint32_t life, uint32_t tick)
{
    if (life == kLifeForever) {
        return 0;
    }
    uint64_t ms = (uint64_t)life * tick;
    return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)ms;
}

} // namespace

int DescribeJpxFrame(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index)
{
    Composition composition;
    WalkResult walk;
    memset(pictureOut, 0, sizeof(*pictureOut));
    if (!ReadComposition(&composition, data, length)) {
        return DecodeFailureNone; // the first layer, as a plain picture
    }
    int failure = WalkInstructions(&walk, &composition, CountLayers(data, length), UINT32_MAX, IgnoreInstruction, NULL);
    if (failure != DecodeFailureNone) {
        return failure;
    }
    pictureOut->count = walk.frames == 0 ? 1 : walk.frames;
    if (index >= pictureOut->count) {
        return DecodeFailureArguments;
    }
    WalkInstructions(&walk, &composition, CountLayers(data, length), index, IgnoreInstruction, NULL);
    pictureOut->composed = 1;
    pictureOut->width = composition.width;
    pictureOut->height = composition.height;
    pictureOut->maxReduce = ComposedMaxReduce(composition.width, composition.height);
    pictureOut->durationMs = pictureOut->count > 1 ? LifeMilliseconds(walk.lastLife, walk.lastTick) : 0;
    pictureOut->loops = composition.loop == kLoopForever ? 0 : composition.loop + 1;
    return DecodeFailureNone;
}

int ComposeJpxFrame(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request)
{
    Composition composition;
    Canvas canvas;
    WalkResult walk;
    const uint8_t white[3] = {255, 255, 255};
    *dibOut = NULL;
    if (!ReadComposition(&composition, request->data, request->length)) {
        return DecodeFailureArguments;
    }
    int failure = CreateCanvas(&canvas, composition.width, composition.height, request->reduce, white, request->threads);
    canvas.arriving = request->arriving;
    if (failure == DecodeFailureNone) {
        FrameDrawing drawing = {&canvas, request->index, request->data, request->length};
        failure = WalkInstructions(&walk, &composition, CountLayers(request->data, request->length), request->index,
                                   DrawInstruction, &drawing);
    }
    return FinishCanvas(dibOut, notesOut, &canvas, failure);
}
