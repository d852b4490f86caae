// Test fixtures made in memory: OpenJPEG-encoded codestreams and box-wrapped files.
#ifndef TESTS_FIXTURE_ENCODER_H
#define TESTS_FIXTURE_ENCODER_H

#include <array>
#include <stdint.h>
#include <string>
#include <vector>

struct FixtureComponent {
    uint32_t precision; // 1..16
    int isSigned;
    uint32_t dx;        // subsampling step, 1 or 2
    uint32_t dy;
};

// An image to encode: component geometry follows the image size and each
// component's step; samples[c] holds component c in raster order.
struct FixtureImage {
    uint32_t width;
    uint32_t height;
    std::vector<FixtureComponent> components;
    std::vector<std::vector<int32_t>> samples;
    int lossy;        // 0: reversible 5/3, exact samples
    double rate;      // lossy compression ratio
    int tiled;        // 1: 2x2 tiles when the image allows
};

uint32_t FixtureComponentWidth(const FixtureImage& image, uint32_t c);
uint32_t FixtureComponentHeight(const FixtureImage& image, uint32_t c);

// An image with `components` and deterministic samples covering each
// component's whole range.
FixtureImage MakePatternImage(uint32_t width, uint32_t height, const std::vector<FixtureComponent>& components);

// Raw codestream of the image (lossless unless image.lossy); empty on failure.
// OpenJPEG always puts its own COM in the main header; pass the comment text
// to choose it, or strip it with RemoveMainHeaderComments.
std::vector<uint8_t> EncodeFixture(const FixtureImage& image, const char* comment);

// An 8-bit picture of any size, grey or RGB (`components` 1 or 3), encoded
// tile by tile (lossless, or irreversible at compression ratio `ratio`), so
// only one tile's samples are ever in memory:
// `fill` writes component `component` of the `width` x `height` pixels of the
// tile whose top-left pixel is (x0, y0) into `samples`, rows `width` apart.
typedef void (*FillTile)(uint8_t* samples, uint32_t component, uint32_t x0, uint32_t y0, uint32_t width,
                         uint32_t height);
std::vector<uint8_t> EncodeTiled(uint32_t width, uint32_t height, uint32_t components, uint32_t tileSide,
                                 FillTile fill, float ratio = 0.0f);

// A grey picture of any size (as EncodeTiled) from a few tiles encoded once: fast
// to make at 50,000 x 50,000. `fill` draws a mosaic of `distinct` tiles in a
// row (tile k at x0 = k * tileSide, y0 = 0), then where the picture's width
// or height is not a multiple of tileSide a narrower column and a shorter
// row cut at the picture's edges. The picture's tile at (column, row) is
// mosaic tile PlacedTile(column, row, distinct), its last column the
// mosaic's narrow one, its last row the mosaic's short one. A tile's code is
// the same wherever it lies only when tileSide is a multiple of 2048 (code
// blocks of 64 on every one of the five halvings); at most 65,535 tiles.
std::vector<uint8_t> EncodePlacedTiles(uint32_t width, uint32_t height, uint32_t tileSide, uint32_t distinct,
                                       FillTile fill, float ratio);
uint32_t PlacedTile(uint32_t column, uint32_t row, uint32_t distinct);

// A huge picture whose detail only the full resolution shows: placed
// 2048-pixel tiles, four distinct ones; mosaic tile k is vertical stripes
// one pixel wide, StripedTileLevel(k, column) (a reduced level shows their
// average). Tiles of a narrower last column are mosaic tile 0.
const uint32_t kStripedTileSide = 2048;
const uint32_t kStripedTiles = 4;
std::vector<uint8_t> EncodeStripedPicture(uint32_t width, uint32_t height);
uint8_t StripedTileLevel(uint32_t tile, uint32_t column);

// Codestream edits by splicing marker segments.
std::vector<uint8_t> RemoveMainHeaderComments(const std::vector<uint8_t>& codestream);
std::vector<uint8_t> InsertMainHeaderComment(const std::vector<uint8_t>& codestream, uint16_t registration,
                                             const std::string& bytes);
std::vector<uint8_t> InsertTilePartComment(const std::vector<uint8_t>& codestream, const std::string& bytes);

// Box-structured files around a codestream.
void AppendBox(std::vector<uint8_t>* out, const char type[4], const std::vector<uint8_t>& payload);
std::vector<uint8_t> MakeFileStart(const char brand[4]);
// `file` with the box at `box` given the 64-bit form of its length (field 1,
// then the length in 8 bytes after the type); the box grows by 8 bytes.
std::vector<uint8_t> ExtendBoxLength(const std::vector<uint8_t>& file, size_t box);
std::vector<uint8_t> WrapJp2Family(const std::vector<uint8_t>& codestream, const FixtureImage& image, const char brand[4]);

// JP2-family files that describe their colour: a "colr" payload (an
// enumerated space, with CIELab's seven words if given, or an ICC profile)
// and, unless empty, a "cdef" payload.
struct ChannelDefinition {
    uint16_t component;
    uint16_t type;        // 0 colour, 1 opacity, 2 premultiplied opacity
    uint16_t association; // 1-based colour, 0 the whole image
};
std::vector<uint8_t> EnumeratedColour(uint32_t enumeration, const std::vector<uint32_t>& parameters);
std::vector<uint8_t> ProfileColour(const std::vector<uint8_t>& profile);
std::vector<uint8_t> ChannelDefinitions(const std::vector<ChannelDefinition>& channels);
std::vector<uint8_t> WrapJp2Described(const std::vector<uint8_t>& codestream, const FixtureImage& image, const char brand[4],
                                      const std::vector<uint8_t>& colr, const std::vector<uint8_t>& cdef);
// The ten bytes of a resolution box ("resd" or "resc"): the vertical, then
// the horizontal resolution, each numerator / denominator x 10^exponent
// pixels per metre.
std::vector<uint8_t> ResolutionFields(uint16_t verticalNumerator, uint16_t verticalDenominator,
                                      uint16_t horizontalNumerator, uint16_t horizontalDenominator,
                                      int8_t verticalExponent, int8_t horizontalExponent);
// `file` (a JP2-family file with a header box) with `box` added at the end
// of its header box.
std::vector<uint8_t> AppendToJp2Header(const std::vector<uint8_t>& file, const std::vector<uint8_t>& box);
std::vector<uint8_t> WrapMotion(const std::vector<uint8_t>& codestream, int extendedMdat);
std::vector<uint8_t> WrapJpm(const std::vector<uint8_t>& codestream);

// JPM documents: pages of layout objects, each of one or two objects.
struct JpmObject {
    int type;                        // 0 mask, 1 image, 2 image and mask (its last component)
    std::vector<uint8_t> codestream; // empty: no codestream (base colour `colour`, grey)
    uint32_t x, y;                   // within the layout object
    uint16_t scale;                  // page pixels per codestream pixel, both ways
    uint16_t dataReference;          // 0: this file; else a file the document names
    uint8_t colour;
};
struct JpmLayout {
    uint32_t x, y, width, height;
    std::vector<JpmObject> objects;
};
struct JpmPage {
    uint32_t width, height;
    uint16_t colour; // 0 transparent, 1 white, 2 black
    std::vector<JpmLayout> layouts;
};
// The codestreams go in contiguous codestream boxes the objects point at,
// before the pages, or after them when `pagesFirst` (as a document made to
// be shown while it arrives).
std::vector<uint8_t> MakeJpm(const std::vector<JpmPage>& pages, int pagesFirst = 0);

// JPX compositions: one compositing layer per codestream, one instruction
// set of offset, size and life (and crop when any instruction crops).
struct JpxLayer {
    std::vector<uint8_t> codestream;
    int opacity;    // -1 none; 0 last channel plain opacity; 1 premultiplied
    int fragmented; // stored in two fragments through a fragment table
    std::vector<uint8_t> header; // boxes added to its layer header (a later colr there wins)
};
struct JpxInstruction {
    uint32_t x, y, width, height; // width 0: the layer's own size
    uint32_t cropX, cropY, cropWidth, cropHeight; // cropWidth 0: no crop
    uint32_t life;                // with the persistence bit as the file stores it
};
struct JpxInstructionSet {
    uint16_t repeats;
    uint32_t tick;
    std::vector<JpxInstruction> instructions;
};
// codestreamHeaders, when given: the contents of a codestream header box
// for each codestream in turn.
std::vector<uint8_t> MakeJpx(uint32_t width, uint32_t height, uint8_t loop, const std::vector<JpxLayer>& layers,
                             const std::vector<JpxInstructionSet>& sets,
                             const std::vector<std::vector<uint8_t>>& codestreamHeaders = {});

// A layer's palette and component mapping boxes: `depths` as the file
// stores them (bits - 1, 0x80 when signed), entry e of column c rows[e][c]
// in whole bytes; each mapping {component, type (0 as it is, 1 through the
// palette), column}.
std::vector<uint8_t> PaletteBoxes(const std::vector<uint8_t>& depths, const std::vector<std::vector<uint64_t>>& rows,
                                  const std::vector<std::array<uint8_t, 3>>& mapping);

// Motion JPEG 2000: one video track of `frames`, frame i lasting ticks[i]
// of `timescale`; the first chunk holds two samples, the others one. With a
// field order (1 or 6, written in a field coding box), sample i holds two
// fields, codestreams 2i and 2i + 1, and lasts ticks[i].
std::vector<uint8_t> MakeMj2(const std::vector<std::vector<uint8_t>>& frames, const std::vector<uint32_t>& ticks,
                             uint32_t timescale, uint32_t width, uint32_t height, uint8_t fieldOrder = 0);

#endif
