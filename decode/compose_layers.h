// Internal: the pieces a composed picture is drawn from (codestreams placed,
// scaled, cropped and masked over a canvas), shared by the readers of JPM
// pages, JPX compositions and Motion JPEG 2000 tracks.
#ifndef DECODE_COMPOSE_LAYERS_H
#define DECODE_COMPOSE_LAYERS_H

#include "box_walk.h"
#include "memory_stream.h"

#include <openjpeg.h>
#include <stdint.h>

// Notes a composition hands back besides its bitmap (ComposeNote* in
// composition.h).
const uint32_t kNoteExternalData = 1;

// Largest coordinate, extent or scale term a composition takes: products of
// two stay well inside 64 bits.
const int64_t kGeometryLimit = 1 << 25;

// Where one codestream lies in the file: a contiguous codestream box
// ("jp2c"), a fragment table ("ftbl"), or bare codestream bytes; none when
// `start` is null. `colr`, `cdef` describe its colour and channels (null:
// by component count; no channel definitions); `pclr` and `cmap` its
// palette and the mapping of components to channels (null: the channels
// are the components); `chck` a colour shown clear (null: none);
// `lastOpacity` an OpacityKind for the last component (an opacity box).
// Every pointer is to a box's payload inside the file. A layer drawn from
// several codestreams lists them all in `streams` (`streamCount` 2 or more;
// the first is `start` again): their components follow one another, each
// codestream placed by its registration.
const uint32_t kMostLayerCodestreams = 8;

// One codestream of a layer: its sample k lies at registration grid point
// offset + k * ratio, along each axis.
struct LayerStream {
    const uint8_t* start;
    uint64_t length;
    uint32_t xRatio, yRatio, xOffset, yOffset;
};

struct CodestreamPlace {
    const uint8_t* start;
    uint64_t length;
    const uint8_t* colr;
    uint64_t colrLength;
    const uint8_t* cdef;
    uint64_t cdefLength;
    const uint8_t* pclr;
    uint64_t pclrLength;
    const uint8_t* cmap;
    uint64_t cmapLength;
    const uint8_t* chck;
    uint64_t chckLength;
    int lastOpacity;
    uint32_t streamCount;
    LayerStream streams[kMostLayerCodestreams];
};

// One codestream drawn onto the picture: the part [cropX, cropX + cropWidth)
// x [cropY, ...) of its full resolution (cropWidth 0: all of it) lands with
// its top-left corner on picture pixel (x, y), scaled so that `xNum`
// source pixels span `xDen` picture pixels (and so on vertically), over at
// most width x height picture pixels (0: the scaled source's own extent).
struct SourcePlacement {
    CodestreamPlace place;
    int64_t x, y;
    uint64_t width, height;
    uint64_t cropX, cropY, cropWidth, cropHeight;
    uint64_t xNum, xDen, yNum, yDen;
    int fitToSize; // 1: the crop is scaled to width x height exactly (the ratios follow)
};

// A rectangle of the picture drawn at once, in full-resolution pixels:
// its colour from `image` (or `solid`, blue-green-red, when image has no
// codestream), its opacity from the mask (a grey codestream: black clear,
// white opaque), else from the image's own opacity, else opaque wherever
// the image lies. Outside [clipX, clipX + clipWidth) x ... nothing changes.
struct LayoutDraw {
    int hasImage;
    SourcePlacement image;
    int hasMask;
    SourcePlacement mask;
    uint8_t solid[3];
    int64_t clipX, clipY;
    uint64_t clipWidth, clipHeight;
};

// The picture being composed at `reduce` halvings: a 24-bit packed DIB.
struct Canvas {
    uint8_t* dib;
    uint32_t width, height, stride;
    uint32_t fullWidth, fullHeight;
    int reduce;
    int threads;
    uint32_t notes;
    int arriving;   // the file is still arriving: codestreams are taken as far as they have come
    uint32_t drawn; // layouts drawn so far
};

// A canvas for a fullWidth x fullHeight picture at `reduce`, filled with
// `fill` (blue, green, red); a DecodeFailure value.
int CreateCanvas(Canvas* canvasOut, uint32_t fullWidth, uint32_t fullHeight, int reduce, const uint8_t fill[3],
                 int threads);

// Draws one layout onto the canvas; a DecodeFailure value. Codestreams held
// in other files are left out and noted; on an arriving canvas, a
// codestream not yet decodable leaves its layout out.
int DrawLayout(Canvas* canvas, const LayoutDraw* layout, const uint8_t* file, uint64_t fileLength);

// Hands the canvas's bitmap and notes to the caller after the last draw
// (`failure` so far): none on failure, nor on an arriving canvas where
// nothing was drawn (DecodeFailureCorrupt: nothing to show yet).
int FinishCanvas(uint8_t** dibOut, uint32_t* notesOut, Canvas* canvas, int failure);

// The codestream's pieces in the file, as a new array the caller frees;
// DecodeFailureNone with *countOut 0 when its data lies in another file or,
// when `arriving`, has not come (a fragment missing, its box not begun).
// Arriving, a contiguous codestream may be cut short.
int LocateCodestream(StreamSegment** segmentsOut, uint32_t* countOut, const CodestreamPlace* place,
                     const uint8_t* file, uint64_t fileLength, int arriving);

// A contiguous codestream of a file still arriving cut to the part the
// codec can decode, `patch` saying what arrived of its last tile-part; 0
// while no part can be decoded.
int MeasureArrivingSource(StreamSegment* segment, StreamPatch* patch);

// Storage a described image borrows its CIELab parameters from (OpenJPEG's
// nine words) until ForgetImageColour.
struct LentColour {
    uint32_t lab[9];
};

// The colour and channel boxes of `place` applied to a decoded image.
void DescribeImageColour(opj_image_t* image, const CodestreamPlace* place, LentColour* lent);
// Undoes what DescribeImageColour lent the image before it is destroyed.
void ForgetImageColour(opj_image_t* image);

// A decoded image's components mapped to the channels `place` defines
// (its component mapping, through its palette): *image is replaced. A
// mapping that names a missing component or palette column, or a palette
// shorter than it says or deeper than 38 bits, fails with
// DecodeFailureCorrupt; each index reads the nearest palette row.
int MapLayerChannels(opj_image_t** image, const CodestreamPlace* place);

// The components of a layer's further codestreams (place->streams[1..])
// decoded at `reduce` halvings (or their coarsest level) and appended to
// *image, the first codestream's, each resampled onto its first
// component's grid by the registrations (a pixel past a codestream's edge
// reads its edge). A DecodeFailure value; *image may be replaced.
int JoinLayerCodestreams(opj_image_t** image, const CodestreamPlace* place, int reduce, int threads,
                         const uint8_t* file, uint64_t fileLength);

// The chroma key of `place` applied to a described image: the pixels whose
// colour channels hold the key's values become clear (an opacity channel is
// added when the image has none; *image may be replaced). Colour on several
// grids is not keyed; a key shorter than its channels fails with
// DecodeFailureCorrupt.
int KeyOutChroma(opj_image_t** image, const CodestreamPlace* place);

// The first "colr", "cdef", "pclr" and "cmap" inside a header box's contents (jp2h, a
// codestream's jpch, jplh, a colour group) into *place, keeping what it had when there
// are none.
void TakeColourBoxes(CodestreamPlace* place, BoxRun header);

#endif
