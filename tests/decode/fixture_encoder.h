// Test fixtures made in memory: OpenJPEG-encoded codestreams and box-wrapped files.
#ifndef TESTS_FIXTURE_ENCODER_H
#define TESTS_FIXTURE_ENCODER_H

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
// tile by tile (lossless), so only one tile's samples are ever in memory:
// `fill` writes component `component` of the `width` x `height` pixels of the
// tile whose top-left pixel is (x0, y0) into `samples`, rows `width` apart.
typedef void (*FillTile)(uint8_t* samples, uint32_t component, uint32_t x0, uint32_t y0, uint32_t width,
                         uint32_t height);
std::vector<uint8_t> EncodeTiled(uint32_t width, uint32_t height, uint32_t components, uint32_t tileSide,
                                 FillTile fill);

// Codestream edits by splicing marker segments.
std::vector<uint8_t> RemoveMainHeaderComments(const std::vector<uint8_t>& codestream);
std::vector<uint8_t> InsertMainHeaderComment(const std::vector<uint8_t>& codestream, uint16_t registration,
                                             const std::string& bytes);
std::vector<uint8_t> InsertTilePartComment(const std::vector<uint8_t>& codestream, const std::string& bytes);

// Box-structured files around a codestream.
void AppendBox(std::vector<uint8_t>* out, const char type[4], const std::vector<uint8_t>& payload);
std::vector<uint8_t> MakeFileStart(const char brand[4]);
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
std::vector<uint8_t> WrapMotion(const std::vector<uint8_t>& codestream, int extendedMdat);
std::vector<uint8_t> WrapJpm(const std::vector<uint8_t>& codestream);

#endif
