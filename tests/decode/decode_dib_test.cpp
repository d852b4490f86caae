// Decoding into a packed DIB: layout, sample bytes, component order, kinds, limits.
#include "jpeg2000.h"
#include "fixture_encoder.h"
#include "dib_check.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

namespace {

// Pixel (x, y) of the image (top row y = 0) in a bottom-up DIB.
const uint8_t* Pixel(const uint8_t* dib, uint32_t x, uint32_t y)
{
    uint32_t width = Le32(dib + 4);
    uint32_t height = Le32(dib + 8);
    uint32_t bits = Le16(dib + 14);
    uint32_t stride = (width * bits + 31) / 32 * 4;
    return PackedDibBits(dib) + (height - 1 - y) * stride + x * (bits / 8);
}

FixtureImage GreyImage(uint32_t w, uint32_t h, uint32_t precision, int isSigned, std::vector<int32_t> samples)
{
    FixtureImage image = MakePatternImage(w, h, {{precision, isSigned, 1, 1}});
    if (!samples.empty()) {
        image.samples[0] = samples;
    }
    return image;
}

TEST(DecodeToPackedDib, GreyHeaderPaletteAndRows)
{
    // W = 3 at 8 bits: stride 4; rows bottom-up.
    FixtureImage image = GreyImage(3, 2, 8, 0, {10, 20, 30, 40, 50, 60});
    std::vector<uint8_t> cs = EncodeFixture(image, nullptr);
    DibPtr dib = DecodeDib(cs);
    ASSERT_TRUE(dib);
    const uint8_t* d = dib.get();
    EXPECT_EQ(40u, Le32(d));
    EXPECT_EQ(3u, Le32(d + 4));
    EXPECT_EQ(2u, Le32(d + 8));
    EXPECT_EQ(1u, Le16(d + 12));
    EXPECT_EQ(8u, Le16(d + 14));
    EXPECT_EQ(0u, Le32(d + 16));
    EXPECT_EQ(8u, Le32(d + 20)); // stride 4 x 2 rows
    EXPECT_EQ(256u, Le32(d + 32));
    EXPECT_EQ(0u, Le32(d + 36));
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(i, d[40 + 4 * i]);
        ASSERT_EQ(i, d[40 + 4 * i + 1]);
        ASSERT_EQ(i, d[40 + 4 * i + 2]);
        ASSERT_EQ(0xFF, d[40 + 4 * i + 3]);
    }
    const uint8_t* rows = d + 40 + 1024;
    EXPECT_EQ(0, rows[3]);  // pad bytes are zeroed, never stale heap bytes
    EXPECT_EQ(0, rows[7]);
    EXPECT_EQ(40, rows[0]); // bottom image row first in memory
    EXPECT_EQ(60, rows[2]);
    EXPECT_EQ(10, rows[4]);
    EXPECT_EQ(30, rows[6]);
    EXPECT_EQ(40 + 1024 + 8, PackedDibSize(d));
}

TEST(DecodeToPackedDib, GreyLevelTableByPrecision)
{
    struct Case {
        uint32_t precision;
        int isSigned;
        int32_t sample;
        uint8_t grey;
    } cases[] = {
        {1, 0, 1, 255}, {1, 0, 0, 0},   // two levels: black and white
        {2, 0, 3, 255}, {3, 0, 7, 252}, // integer factor: 3-bit white is 252
        {4, 0, 15, 255}, {4, 0, 8, 136}, {5, 0, 31, 248}, {7, 0, 127, 254},
        {4, 1, -1, 119}, {4, 1, -8, 0}, {4, 1, 7, 255}, // signed: offset by 2^(p-1), zero mid-grey
        {8, 1, -128, 0}, {8, 1, 0, 128}, {12, 0, 0xABC, 0xAB}, {12, 1, -1, 0x7F}, {16, 0, 0xBEEF, 0xBE},
        {16, 1, -32768, 0}, {20, 0, 0xFEDCB, 0xFE},
    };
    for (const Case& c : cases) {
        // The second pixel holds the lowest sample: black.
        int32_t lowest = c.isSigned ? -(1 << (c.precision - 1)) : 0;
        FixtureImage image = GreyImage(2, 1, c.precision, c.isSigned, {c.sample, lowest});
        DibPtr dib = DecodeDib(EncodeFixture(image, nullptr));
        ASSERT_TRUE(dib) << c.precision;
        EXPECT_EQ(c.grey, *Pixel(dib.get(), 0, 0)) << "precision " << c.precision << " sample " << c.sample;
        EXPECT_EQ(0, *Pixel(dib.get(), 1, 0));
    }
}

TEST(DecodeToPackedDib, ContainersChooseTheirDecoder)
{
    // Box-structured files give the bitmap of their codestream: an RGB one in
    // the JP2 kinds, a YCbCr 4:2:0 one (as motion frames usually are) in the
    // motion file, with either "mdat" header, and in the compound file.
    FixtureImage image = MakePatternImage(16, 12, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    std::vector<uint8_t> cs = EncodeFixture(image, "hello");
    std::vector<uint8_t> frame = EncodeFixture(MakePatternImage(15, 11, {{8, 0, 1, 1}, {8, 0, 2, 2}, {8, 0, 2, 2}}), nullptr);
    struct Container {
        const std::vector<uint8_t>* codestream;
        std::vector<uint8_t> file;
    } containers[] = {
        {&cs, WrapJp2Family(cs, image, "jp2 ")}, {&cs, WrapJp2Family(cs, image, "jpx ")},
        {&cs, WrapJp2Family(cs, image, "jph ")}, {&frame, WrapMotion(frame, 1)},
        {&frame, WrapMotion(frame, 0)},          {&frame, WrapJpm(frame)},
    };
    for (const Container& container : containers) {
        DibPtr raw = DecodeDib(*container.codestream);
        DibPtr dib = DecodeDib(container.file);
        ASSERT_TRUE(raw && dib);
        int size = PackedDibSize(raw.get());
        ASSERT_EQ(size, PackedDibSize(dib.get()));
        EXPECT_EQ(0, memcmp(raw.get(), dib.get(), (size_t)size));
        EXPECT_EQ(24u, Le16(dib.get() + 14));
    }

    struct Refused {
        std::vector<uint8_t> data;
        int failure;
    } refused[] = {
        {WrapJp2Family(cs, image, "j3d "), DecodeFailureKindNotDecoded},
        {WrapJp2Family(cs, image, "abcd"), DecodeFailureNotJpeg2000},
        {MakeFileStart("jpm "), DecodeFailureCorrupt},
        {std::vector<uint8_t>(cs.begin(), cs.begin() + 9), DecodeFailureNotJpeg2000},
        {std::vector<uint8_t>(cs.begin(), cs.begin() + cs.size() / 2), DecodeFailureCorrupt},
        {std::vector<uint8_t>(40, 0x42), DecodeFailureNotJpeg2000},
    };
    for (const Refused& r : refused) {
        int failure = 0;
        EXPECT_FALSE(DecodeDib(r.data, &failure));
        EXPECT_EQ(r.failure, failure);
    }
}

TEST(DecodeToPackedDib, ArgumentsAreChecked)
{
    std::vector<uint8_t> cs = EncodeFixture(MakePatternImage(4, 4, {{8, 0, 1, 1}}), nullptr);
    uint8_t* dib = reinterpret_cast<uint8_t*>(1);
    EXPECT_EQ(0, DecodeToPackedDib(&dib, nullptr, 100));
    EXPECT_EQ(nullptr, dib);
    dib = reinterpret_cast<uint8_t*>(1);
    EXPECT_EQ(0, DecodeToPackedDib(&dib, cs.data(), -1));
    EXPECT_EQ(nullptr, dib);
    EXPECT_EQ(0, DecodeToPackedDib(nullptr, cs.data(), (int32_t)cs.size()));
    ASSERT_EQ(1, DecodeToPackedDib(&dib, cs.data(), (int32_t)cs.size()));
    free(dib);
}

// A real codestream whose SIZ now claims width x height in one tile.
std::vector<uint8_t> ClaimSize(std::vector<uint8_t> cs, uint32_t width, uint32_t height)
{
    const size_t fields[] = {8, 12, 24, 28}; // Xsiz, Ysiz, XTsiz, YTsiz
    const uint32_t values[] = {width, height, width, height};
    for (int i = 0; i < 4; ++i) {
        for (int b = 0; b < 4; ++b) {
            cs[fields[i] + b] = (uint8_t)(values[i] >> (24 - 8 * b));
        }
    }
    return cs;
}

TEST(DecodeToPackedDib, HugeHeadersAreRefusedBeforeDecoding)
{
    std::vector<uint8_t> grey = EncodeFixture(MakePatternImage(8, 8, {{8, 0, 1, 1}}), nullptr);
    std::vector<uint8_t> rgb =
        EncodeFixture(MakePatternImage(8, 8, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}}), nullptr);
    int failure = 0;
    // Default sample cap.
    EXPECT_FALSE(DecodeDib(ClaimSize(grey, 100000, 100000), &failure));
    EXPECT_EQ(DecodeFailureTooLarge, failure);
    // With the cap lifted, the bitmap's 32-bit sizes still refuse these even
    // at the one halving the codestream allows (an 8-bit 50000^2 bitmap and
    // a 24-bit 30000^2 one pass 2^31 - 1).
    SetDecodeSampleLimit(0xFFFFFFFFu);
    EXPECT_FALSE(DecodeDib(ClaimSize(grey, 100000, 100000), &failure));
    EXPECT_EQ(DecodeFailureTooLarge, failure);
    EXPECT_FALSE(DecodeDib(ClaimSize(rgb, 60000, 60000), &failure));
    EXPECT_EQ(DecodeFailureTooLarge, failure);
    // A full size past them is no refusal when the halved picture fits.
    std::vector<uint8_t> halvable = ClaimSize(grey, 50000, 50000);
    DecodePlan plan;
    ASSERT_TRUE(PlanDecode(&plan, &failure, FileKindCodestream, halvable.data(), (int32_t)halvable.size()));
    EXPECT_EQ(50000u, plan.fullWidth);
    EXPECT_EQ(1, plan.shownReduce);
    EXPECT_EQ(25000u, plan.shownWidth);
    SetDecodeSampleLimit(0);
    // A smaller cap applies to the total over components; past it the
    // picture comes at half size while that fits (the codestream has two
    // resolutions, so no further).
    SetDecodeSampleLimit(8 * 8 * 3);
    DibPtr full = DecodeDib(rgb);
    ASSERT_TRUE(full);
    EXPECT_EQ(8u, Le32(full.get() + 4));
    SetDecodeSampleLimit(8 * 8 * 3 - 1);
    DibPtr half = DecodeDib(rgb);
    ASSERT_TRUE(half);
    EXPECT_EQ(4u, Le32(half.get() + 4));
    SetDecodeSampleLimit(4 * 4 * 3 - 1);
    EXPECT_FALSE(DecodeDib(rgb, &failure));
    EXPECT_EQ(DecodeFailureTooLarge, failure);
    SetDecodeSampleLimit(0);
}

// 1600 x 1600 grey in 400-pixel tiles, each tile one level: every reduced
// resolution of a lossless flat tile keeps the tile's level.
uint8_t BlockLevel(uint32_t x, uint32_t y)
{
    return (uint8_t)(x / 400 * 50 + y / 400 * 10 + 5);
}

void FillBlocks(uint8_t* samples, uint32_t, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height)
{
    memset(samples, BlockLevel(x0, y0), (size_t)width * height);
}

TEST(DecodePlan, LargePicturesGetAPreviewAndPicturesPastTheCapTheLargestScaleThatFits)
{
    std::vector<uint8_t> cs = EncodeTiled(1600, 1600, 1, 400, FillBlocks);
    ASSERT_FALSE(cs.empty());
    struct Case {
        uint32_t limit;
        int shownReduce;
        int previewReduce;
    } cases[] = {
        {0, 0, 2},                 // 2.56 megapixels: a preview of 1/16 of them
        {1600 * 1600, 0, 2},       // exactly at the cap
        {1600 * 1600 - 1, 1, 0},   // past it: half size, too small to need a preview
        {400 * 400 - 1, 3, 0},
    };
    for (const Case& c : cases) {
        SetDecodeSampleLimit(c.limit);
        DecodePlan plan;
        int failure = -1;
        ASSERT_TRUE(PlanDecode(&plan, &failure, FileKindCodestream, cs.data(), (int32_t)cs.size())) << c.limit;
        EXPECT_EQ(1600u, plan.fullWidth);
        EXPECT_EQ(1600u, plan.fullHeight);
        EXPECT_EQ(5, plan.maxReduce);  // six resolutions in 400-pixel tiles
        EXPECT_EQ(1u, plan.componentCount);
        EXPECT_EQ(8u, plan.bitCount);
        EXPECT_EQ(c.shownReduce, plan.shownReduce) << c.limit;
        EXPECT_EQ(1600u >> c.shownReduce, plan.shownWidth) << c.limit;
        EXPECT_EQ(c.previewReduce, plan.previewReduce) << c.limit;
        DibPtr shown = DecodeDib(cs);
        std::vector<int> reduces = {plan.shownReduce};
        if (plan.previewReduce > 0) {
            reduces.push_back(plan.previewReduce);
        }
        for (int reduce : reduces) {
            uint8_t* raw = nullptr;
            ASSERT_TRUE(DecodeReducedToPackedDib(&raw, &failure, FileKindCodestream, cs.data(), (int32_t)cs.size(), reduce)) << reduce;
            DibPtr dib(raw);
            uint32_t side = 1600u >> reduce;
            ASSERT_EQ(side, Le32(dib.get() + 4));
            if (reduce == plan.shownReduce) {
                EXPECT_EQ(0, memcmp(dib.get(), shown.get(), (size_t)PackedDibSize(shown.get())));
            }
            for (uint32_t y = 200; y < 1600; y += 400) {
                for (uint32_t x = 200; x < 1600; x += 400) {
                    EXPECT_EQ(BlockLevel(x, y), *Pixel(dib.get(), x >> reduce, y >> reduce)) << reduce;
                }
            }
        }
    }
    // Fewer samples than the smallest resolution the codestream holds.
    SetDecodeSampleLimit(10);
    int failure = -1;
    DecodePlan plan;
    EXPECT_FALSE(PlanDecode(&plan, &failure, FileKindCodestream, cs.data(), (int32_t)cs.size()));
    EXPECT_EQ(DecodeFailureTooLarge, failure);
    EXPECT_FALSE(DecodeDib(cs, &failure));
    EXPECT_EQ(DecodeFailureTooLarge, failure);
    uint8_t* dib = nullptr;
    EXPECT_FALSE(DecodeReducedToPackedDib(&dib, &failure, FileKindCodestream, cs.data(), (int32_t)cs.size(), 33));
    EXPECT_EQ(DecodeFailureArguments, failure);
    SetDecodeSampleLimit(0);
}

// Textured RGB, so a misplaced crop or a wrong tile cannot match.
void FillTexture(uint8_t* samples, uint32_t component, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height)
{
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t h = (x0 + x) * 2654435761u ^ (y0 + y) * 40503u ^ component * 977u;
            samples[(size_t)y * width + x] = (uint8_t)((x0 + x) * 3 + (y0 + y) * 5 + component * 80 + (h >> 13 & 31));
        }
    }
}

TEST(DecodeRegion, EqualsTheSameCropOfTheWholeLevel)
{
    std::vector<uint8_t> tiled = EncodeTiled(300, 200, 3, 64, FillTexture);
    // Luma and subsampled chroma go through the colour conversion, whose
    // chroma grid the region's odd corners shift.
    FixtureImage ycc = MakePatternImage(301, 203, {{8, 0, 1, 1}, {8, 0, 2, 2}, {8, 0, 2, 2}});
    ycc.tiled = 1;
    std::vector<uint8_t> subsampled = EncodeFixture(ycc, nullptr);
    ASSERT_FALSE(tiled.empty() || subsampled.empty());
    struct Case {
        const std::vector<uint8_t>* file;
        PictureRegion region;
        int reduce;
        PictureRegion level; // the level pixels covering the region
    } cases[] = {
        {&tiled, {0, 0, 300, 200}, 0, {0, 0, 300, 200}},
        {&tiled, {10, 20, 90, 70}, 0, {10, 20, 90, 70}},       // across four tiles
        {&tiled, {250, 150, 300, 200}, 0, {250, 150, 300, 200}}, // bottom-right edge tiles
        {&tiled, {200, 100, 999, 999}, 0, {200, 100, 300, 200}}, // clipped to the picture
        {&tiled, {33, 17, 161, 130}, 1, {16, 8, 81, 65}},
        {&tiled, {1, 1, 299, 199}, 3, {0, 0, 38, 25}},
        {&tiled, {0, 190, 300, 200}, 4, {0, 11, 19, 13}},
        // Starts moved back onto the chroma grid.
        {&subsampled, {3, 5, 200, 151}, 0, {2, 4, 200, 151}},
        {&subsampled, {151, 101, 301, 203}, 1, {74, 50, 151, 102}},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t>& file = *c.file;
        uint8_t* raw = nullptr;
        int failure = -1;
        ASSERT_TRUE(DecodeReducedToPackedDib(&raw, &failure, FileKindCodestream, file.data(), (int32_t)file.size(), c.reduce));
        DibPtr whole(raw);
        PictureRegion level = {0, 0, 0, 0};
        ASSERT_TRUE(DecodeRegionToPackedDib(&raw, &level, &failure, FileKindCodestream, file.data(), (int32_t)file.size(),
                                            c.reduce, c.region, 0)) << c.region.left << "," << c.region.top;
        DibPtr part(raw);
        EXPECT_EQ(DecodeFailureNone, failure);
        EXPECT_EQ(c.level.left, level.left);
        EXPECT_EQ(c.level.top, level.top);
        ASSERT_EQ(c.level.right, level.right);
        ASSERT_EQ(c.level.bottom, level.bottom);
        DibView w = ViewDib(whole.get());
        DibView p = ViewDib(part.get());
        ASSERT_EQ(level.right - level.left, p.width);
        ASSERT_EQ(level.bottom - level.top, p.height);
        ASSERT_EQ(w.bits, p.bits);
        uint32_t mismatches = 0;
        for (uint32_t y = 0; y < p.height; ++y) {
            const uint8_t* cropped = w.rows + (size_t)(w.height - 1 - level.top - y) * w.stride + level.left * w.bits / 8;
            mismatches += memcmp(p.rows + (size_t)(p.height - 1 - y) * p.stride, cropped, p.width * p.bits / 8) != 0;
        }
        EXPECT_EQ(0u, mismatches) << c.region.left << "," << c.region.top << " at reduce " << c.reduce;
    }
}

// The cap bounds what a region decode allocates, not the picture; a region
// left empty by clipping is the caller's mistake.
TEST(DecodeRegion, CapAppliesToTheRegionAndEmptyRegionsAreRefused)
{
    std::vector<uint8_t> cs = EncodeTiled(1600, 1600, 1, 400, FillBlocks);
    ASSERT_FALSE(cs.empty());
    SetDecodeSampleLimit(400 * 400);
    struct Case {
        PictureRegion region;
        int failure;
    } cases[] = {
        {{1200, 1200, 1600, 1600}, DecodeFailureNone},
        {{1199, 1200, 1600, 1600}, DecodeFailureTooLarge},
        {{1600, 0, 1700, 10}, DecodeFailureArguments},
        {{10, 10, 10, 20}, DecodeFailureArguments},
    };
    for (const Case& c : cases) {
        uint8_t* raw = nullptr;
        int failure = -1;
        EXPECT_EQ(c.failure == DecodeFailureNone,
                  DecodeRegionToPackedDib(&raw, nullptr, &failure, FileKindCodestream, cs.data(), (int32_t)cs.size(), 0,
                                          c.region, 0)) << c.region.left;
        DibPtr dib(raw);
        EXPECT_EQ(c.failure, failure) << c.region.left;
        EXPECT_EQ(c.failure == DecodeFailureNone, dib != nullptr);
        if (dib) {
            EXPECT_EQ(BlockLevel(1200, 1200), ViewDib(dib.get()).At(0, 0, 0));
        }
    }
    SetDecodeSampleLimit(0);
}

// The huge test pictures are a few tiles placed by index: each region shows
// the tiles the placement promises, also in the cut-short last column and row.
TEST(DecodeRegion, PlacedTilesShowWherePlaced)
{
    std::vector<uint8_t> cs = EncodeStripedPicture(3 * kStripedTileSide + 100, 2 * kStripedTileSide + 50);
    ASSERT_FALSE(cs.empty());
    const PictureRegion regions[] = {
        {2000, 2000, 2100, 2100},                                             // four tiles meet
        {3 * kStripedTileSide - 10, 10, 3 * kStripedTileSide + 100, 20},       // narrow last column
        {4000, 2 * kStripedTileSide, 4200, 2 * kStripedTileSide + 50},         // short last row
    };
    for (const PictureRegion& region : regions) {
        uint8_t* raw = nullptr;
        PictureRegion level;
        ASSERT_TRUE(DecodeRegionToPackedDib(&raw, &level, nullptr, FileKindCodestream, cs.data(), (int32_t)cs.size(), 0,
                                            region, 0));
        DibPtr dib(raw);
        DibView view = ViewDib(dib.get());
        uint32_t wrong = 0;
        for (uint32_t y = 0; y < view.height; ++y) {
            for (uint32_t x = 0; x < view.width; ++x) {
                uint32_t px = region.left + x;
                uint32_t py = region.top + y;
                uint32_t tile = px >= 3 * kStripedTileSide ? 0 : PlacedTile(px / kStripedTileSide, py / kStripedTileSide, kStripedTiles);
                wrong += view.At(x, y, 0) != StripedTileLevel(tile, px);
            }
        }
        EXPECT_EQ(0u, wrong) << region.left << "," << region.top;
    }
}

TEST(DecodeToPackedDib, ThreadCountDoesNotChangeTheBitmap)
{
    // Large enough for the rows to be split between threads too; the 8-bit
    // image has a width whose rows need padding.
    FixtureImage colour = MakePatternImage(1024, 600, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    colour.lossy = 1;
    colour.rate = 20;
    colour.tiled = 1;
    FixtureImage grey = MakePatternImage(1023, 700, {{12, 1, 1, 1}});
    grey.lossy = 1;
    grey.rate = 10;
    for (const FixtureImage& image : {colour, grey}) {
        std::vector<uint8_t> cs = EncodeFixture(image, nullptr);
        SetDecodeThreadCount(1);
        DibPtr single = DecodeDib(cs);
        SetDecodeThreadCount(4);
        DibPtr multi = DecodeDib(cs);
        SetDecodeThreadCount(0);
        // A count for one decode alone.
        uint8_t* raw = nullptr;
        DecodeLevelToPackedDib(&raw, nullptr, FileKindCodestream, cs.data(), (int32_t)cs.size(), 0, 3);
        DibPtr own(raw);
        ASSERT_TRUE(single && multi && own);
        ASSERT_EQ(PackedDibSize(single.get()), PackedDibSize(multi.get()));
        EXPECT_EQ(0, memcmp(single.get(), multi.get(), (size_t)PackedDibSize(single.get())));
        EXPECT_EQ(0, memcmp(single.get(), own.get(), (size_t)PackedDibSize(single.get())));
    }
}

TEST(PackedDib, SizesAndFileHeader)
{
    uint8_t header[40] = {0};
    header[4] = 10;  // width
    header[8] = 10;  // height
    header[14] = 24; // bits
    EXPECT_EQ(360, PackedDibSize(header)); // stride 32, not 30
    EXPECT_EQ(0, PackedDibPaletteSize(header));
    header[14] = 8;
    EXPECT_EQ(40 + 1024 + 120, PackedDibSize(header));
    EXPECT_EQ(1024, PackedDibPaletteSize(header));
    EXPECT_EQ(0, PackedDibSize(nullptr));
    EXPECT_EQ(0, PackedDibPaletteSize(nullptr));

    uint8_t file[14];
    BuildBitmapFileHeader(file, header);
    EXPECT_EQ('B', file[0]);
    EXPECT_EQ('M', file[1]);
    EXPECT_EQ(14u + 40 + 1024 + 120, Le32(file + 2));
    EXPECT_EQ(0u, Le32(file + 6));
    EXPECT_EQ(54u + 1024, Le32(file + 10));
    // No image: still a "BM" header, sized for the header alone.
    BuildBitmapFileHeader(file, nullptr);
    EXPECT_EQ('B', file[0]);
    EXPECT_EQ('M', file[1]);
    EXPECT_EQ(14u, Le32(file + 2));
    EXPECT_EQ(54u, Le32(file + 10));
}

// A packed DIB of greys given in memory order (first row first); an 8-bit
// one's palette is reversed, so that its indices are 255 - grey.
std::vector<uint8_t> GreyDib(uint32_t width, int32_t height, uint32_t bits, std::vector<uint8_t> greys)
{
    uint32_t rows = height < 0 ? -height : height, stride = (width * bits + 31) / 32 * 4;
    uint32_t palette = bits == 8 ? 1024 : 0;
    std::vector<uint8_t> dib(40 + palette + stride * rows, 0);
    dib[0] = 40;
    memcpy(&dib[4], &width, 4);
    memcpy(&dib[8], &height, 4);
    dib[12] = 1;
    dib[14] = (uint8_t)bits;
    for (uint32_t i = 0; i < palette / 4; ++i) {
        memset(&dib[40 + 4 * i], 255 - i, 3);
    }
    for (uint32_t i = 0; i < greys.size(); ++i) {
        uint8_t* pixel = &dib[40 + palette + i / width * stride + i % width * (bits / 8)];
        memset(pixel, bits == 8 ? 255 - greys[i] : greys[i], bits == 8 ? 1 : 3);
    }
    return dib;
}

struct ShrinkRow {
    const char* what;
    uint32_t width;
    int32_t height;
    uint32_t bits;
    std::vector<uint8_t> greys;
    uint32_t newWidth, newHeight;
    std::vector<uint8_t> expected; // empty: refused
};

const ShrinkRow ShrinkRows[] = {
    {"halved, through the palette", 4, 2, 8, {0, 40, 80, 120, 40, 80, 120, 160}, 2, 1, {40, 120}},
    {"edge pixels weighted by the part covered", 3, 1, 24, {0, 90, 180}, 2, 1, {30, 150}},
    {"top-down rows stay top-down", 1, -3, 32, {0, 90, 180}, 1, 2, {30, 150}},
    {"the same size is a copy", 2, 2, 24, {10, 20, 30, 40}, 2, 2, {10, 20, 30, 40}},
    {"no larger than the source", 2, 2, 24, {10, 20, 30, 40}, 3, 2, {}},
    {"no empty bitmap", 2, 2, 24, {10, 20, 30, 40}, 0, 2, {}},
    {"no 16-bit source", 2, 2, 16, {}, 1, 1, {}},
};

TEST(ShrinkPackedDib, EachPixelIsTheMeanOfTheAreaItCovers)
{
    for (const ShrinkRow& row : ShrinkRows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> source = GreyDib(row.width, row.height, row.bits, row.greys);
        uint8_t* shrunk = nullptr;
        int done = ShrinkPackedDib(&shrunk, source.data(), row.newWidth, row.newHeight);
        ASSERT_EQ(!row.expected.empty(), done != 0);
        if (!done) {
            EXPECT_EQ(nullptr, shrunk);
            continue;
        }
        EXPECT_EQ(24u, Le16(shrunk + 14));
        EXPECT_EQ(row.newWidth, Le32(shrunk + 4));
        EXPECT_EQ(row.height < 0 ? -(int32_t)row.newHeight : (int32_t)row.newHeight, (int32_t)Le32(shrunk + 8));
        uint32_t stride = (row.newWidth * 3 + 3) / 4 * 4;
        for (uint32_t i = 0; i < row.expected.size(); ++i) {
            const uint8_t* pixel = PackedDibBits(shrunk) + i / row.newWidth * stride + i % row.newWidth * 3;
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(row.expected[i], pixel[c]) << "pixel " << i;
            }
        }
        ReleaseBitmapBlock(shrunk);
    }
    uint8_t* none = nullptr;
    EXPECT_EQ(0, ShrinkPackedDib(&none, nullptr, 1, 1));
}

} // namespace
