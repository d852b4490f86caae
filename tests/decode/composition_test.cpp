// Composed pictures (JPM pages, JPX compositions and animations, Motion JPEG
// 2000 frames) against references composed here from the fixtures' own samples.
#include "composition.h"
#include "jpeg2000.h"
#include "dib_check.h"
#include "fixture_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <stdlib.h>
#include <string.h>

namespace {

// A reference picture, top row first, blue-green-red.
struct Reference {
    uint32_t width, height;
    std::vector<uint8_t> bgr;
    uint8_t* At(uint32_t x, uint32_t y) { return &bgr[((size_t)y * width + x) * 3]; }
};

Reference Filled(uint32_t width, uint32_t height, uint8_t level)
{
    return Reference{width, height, std::vector<uint8_t>((size_t)width * height * 3, level)};
}

// The 8-bit level of component c at (x, y): precision 1 shows 0 or 255.
uint8_t Level(const FixtureImage& image, uint32_t c, uint32_t x, uint32_t y)
{
    int32_t v = image.samples[c][(size_t)y * image.width + x];
    return (uint8_t)(image.components[c].precision == 1 ? v * 255 : v);
}

// One source drawn at `scale` with its top-left corner on (ox, oy): whether
// it covers (x, y) and, if so, the source pixel under it.
bool Covers(const FixtureImage& image, int ox, int oy, int scale, uint32_t x, uint32_t y, uint32_t* sx, uint32_t* sy)
{
    if ((int)x < ox || (int)y < oy) {
        return false;
    }
    *sx = (x - ox) / scale;
    *sy = (y - oy) / scale;
    return *sx < image.width && *sy < image.height;
}

void Blend(uint8_t* under, const uint8_t colour[3], uint32_t alpha, bool premultiplied)
{
    for (int b = 0; b < 3; ++b) {
        uint32_t v = premultiplied ? colour[b] + (under[b] * (255 - alpha) + 127) / 255
                                   : (colour[b] * alpha + under[b] * (255 - alpha) + 127) / 255;
        under[b] = (uint8_t)(v > 255 ? 255 : v);
    }
}

void Colour(uint8_t out[3], const FixtureImage& image, uint32_t x, uint32_t y)
{
    bool grey = image.components.size() < 3;
    for (int b = 0; b < 3; ++b) {
        out[b] = Level(image, grey ? 0 : 2 - b, x, y);
    }
}

void ExpectEqualsReference(const uint8_t* dib, Reference& expected, const std::string& what, int tolerance = 0)
{
    ASSERT_NE(nullptr, dib) << what;
    DibView view = ViewDib(dib);
    ASSERT_EQ(expected.width, view.width) << what;
    ASSERT_EQ(expected.height, view.height) << what;
    ASSERT_EQ(24u, view.bits) << what;
    int wrong = 0;
    for (uint32_t y = 0; y < view.height; ++y) {
        for (uint32_t x = 0; x < view.width; ++x) {
            for (uint32_t b = 0; b < 3; ++b) {
                if (abs(view.At(x, y, b) - expected.At(x, y)[b]) > tolerance && ++wrong <= 3) {
                    ADD_FAILURE() << what << ": pixel " << x << "," << y << " channel " << b << " is "
                                  << (int)view.At(x, y, b) << ", expected " << (int)expected.At(x, y)[b];
                }
            }
        }
    }
    EXPECT_EQ(0, wrong) << what;
}

struct Composed {
    DibPtr dib;
    uint32_t notes;
    int failure;
};

Composed Compose(const std::vector<uint8_t>& file, uint32_t index, int reduce)
{
    uint8_t* dib = nullptr;
    Composed out = {nullptr, 0, -1};
    int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    int ok = ComposePictureToPackedDib(&dib, &out.notes, &out.failure, kind, file.data(), (int32_t)file.size(), index,
                                       reduce, 1);
    EXPECT_EQ(ok, dib != nullptr);
    out.dib.reset(dib);
    return out;
}

ComposedPicture Describe(const std::vector<uint8_t>& file, uint32_t index)
{
    ComposedPicture picture = {};
    int failure = -1;
    int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    EXPECT_TRUE(DescribeComposedPicture(&picture, &failure, kind, file.data(), (int32_t)file.size(), index))
        << "failure " << failure;
    return picture;
}

FixtureImage Pattern(uint32_t width, uint32_t height, uint32_t components, uint32_t precision, uint32_t shift)
{
    FixtureImage image = MakePatternImage(width, height, std::vector<FixtureComponent>(components, {precision, 0, 1, 1}));
    for (std::vector<int32_t>& plane : image.samples) {
        for (int32_t& v : plane) {
            v = (int32_t)((v + shift) % (1u << precision));
        }
    }
    return image;
}

// The two-page document of the JPM tests and its sources.
struct JpmDocument {
    FixtureImage rgb = Pattern(16, 12, 3, 8, 0);
    FixtureImage text = Pattern(20, 10, 1, 1, 0);
    FixtureImage grey = Pattern(24, 16, 1, 8, 40);
    FixtureImage soft = Pattern(12, 8, 1, 8, 90);
    FixtureImage rgba = Pattern(20, 12, 4, 8, 7);
    FixtureImage dots = Pattern(10, 6, 1, 1, 1);
    std::vector<uint8_t> file;

    JpmDocument()
    {
        JpmPage first = {64, 48, 1, {}};
        first.layouts.push_back({4, 6, 32, 24, {{1, EncodeFixture(rgb, nullptr), 0, 0, 2, 0, 0}}});
        first.layouts.push_back({30, 20, 20, 10, {{0, EncodeFixture(text, nullptr), 0, 0, 1, 0, 0}}});
        first.layouts.push_back({8, 30, 24, 16,
                                 {{1, EncodeFixture(grey, nullptr), 0, 0, 1, 0, 0},
                                  {0, EncodeFixture(soft, nullptr), 0, 0, 2, 0, 0}}});
        JpmPage second = {40, 30, 2, {}};
        second.layouts.push_back({0, 0, 40, 30, {{1, EncodeFixture(rgb, nullptr), 0, 0, 1, 1, 0}}});
        second.layouts.push_back({5, 5, 20, 12, {{2, EncodeFixture(rgba, nullptr), 0, 0, 1, 0, 0}}});
        second.layouts.push_back({25, 15, 10, 6,
                                  {{1, {}, 0, 0, 1, 0, 200}, {0, EncodeFixture(dots, nullptr), 0, 0, 1, 0, 0}}});
        file = MakeJpm({first, second});
    }

    Reference FirstPage()
    {
        Reference page = Filled(64, 48, 255);
        const uint8_t black[3] = {0, 0, 0};
        for (uint32_t y = 0; y < 48; ++y) {
            for (uint32_t x = 0; x < 64; ++x) {
                uint32_t sx, sy, mx, my;
                uint8_t colour[3];
                if (x >= 4 && x < 36 && y >= 6 && y < 30 && Covers(rgb, 4, 6, 2, x, y, &sx, &sy)) {
                    Colour(colour, rgb, sx, sy);
                    Blend(page.At(x, y), colour, 255, false);
                }
                if (x >= 30 && x < 50 && y >= 20 && y < 30 && Covers(text, 30, 20, 1, x, y, &mx, &my)) {
                    Blend(page.At(x, y), black, Level(text, 0, mx, my), false);
                }
                if (x >= 8 && x < 32 && y >= 30 && y < 46) {
                    bool image = Covers(grey, 8, 30, 1, x, y, &sx, &sy);
                    bool mask = Covers(soft, 8, 30, 2, x, y, &mx, &my);
                    if (image) {
                        Colour(colour, grey, sx, sy);
                    }
                    Blend(page.At(x, y), image ? colour : black, mask ? Level(soft, 0, mx, my) : 0, false);
                }
            }
        }
        return page;
    }

    Reference SecondPage()
    {
        Reference page = Filled(40, 30, 0);
        const uint8_t solid[3] = {200, 200, 200};
        for (uint32_t y = 0; y < 30; ++y) {
            for (uint32_t x = 0; x < 40; ++x) {
                uint32_t sx, sy;
                uint8_t colour[3];
                if (x >= 5 && x < 25 && y >= 5 && y < 17 && Covers(rgba, 5, 5, 1, x, y, &sx, &sy)) {
                    Colour(colour, rgba, sx, sy);
                    Blend(page.At(x, y), colour, Level(rgba, 3, sx, sy), false);
                }
                if (x >= 25 && x < 35 && y >= 15 && y < 21 && Covers(dots, 25, 15, 1, x, y, &sx, &sy)) {
                    Blend(page.At(x, y), solid, Level(dots, 0, sx, sy), false);
                }
            }
        }
        return page;
    }
};

TEST(ComposeJpm, PagesAreTheirLayoutObjectsOverThePageColour)
{
    JpmDocument document;
    ComposedPicture first = Describe(document.file, 0);
    EXPECT_EQ(1, first.composed);
    EXPECT_EQ(1, first.pages);
    EXPECT_EQ(2u, first.count);
    EXPECT_EQ(64u, first.width);
    EXPECT_EQ(48u, first.height);
    ComposedPicture second = Describe(document.file, 1);
    EXPECT_EQ(40u, second.width);
    EXPECT_EQ(30u, second.height);

    struct Case {
        uint32_t page;
        std::function<Reference(JpmDocument&)> reference;
        uint32_t notes; // the second page's full-page image lies in another file
    };
    const Case cases[] = {
        {0, [](JpmDocument& d) { return d.FirstPage(); }, 0},
        {1, [](JpmDocument& d) { return d.SecondPage(); }, ComposeNoteExternalData},
    };
    for (const Case& c : cases) {
        Composed composed = Compose(document.file, c.page, 0);
        Reference expected = c.reference(document);
        ExpectEqualsReference(composed.dib.get(), expected, "page " + std::to_string(c.page));
        EXPECT_EQ(c.notes, composed.notes) << "page " << c.page;
    }
    int failure = -1;
    ComposedPicture past = {};
    EXPECT_FALSE(DescribeComposedPicture(&past, &failure, FileKindJpm, document.file.data(),
                                         (int32_t)document.file.size(), 2));
    EXPECT_EQ(DecodeFailureArguments, failure);
}

TEST(ComposeJpm, AReducedLevelHalvesThePageAndKeepsItsColourOutsideTheObjects)
{
    JpmDocument document;
    Composed half = Compose(document.file, 0, 1);
    ASSERT_NE(nullptr, half.dib);
    DibView view = ViewDib(half.dib.get());
    EXPECT_EQ(32u, view.width);
    EXPECT_EQ(24u, view.height);
    Reference full = document.FirstPage();
    // Level pixel (X, Y) is centred on full-resolution pixel (2X + 1, 2Y + 1):
    // where no object lies the page's white shows as it is.
    for (uint32_t y = 0; y < 24; ++y) {
        for (uint32_t x = 0; x < 32; ++x) {
            uint32_t fx = 2 * x + 1, fy = 2 * y + 1;
            bool blank = !(fx >= 4 && fx < 36 && fy >= 6 && fy < 30) && !(fx >= 30 && fx < 50 && fy >= 20 && fy < 30) &&
                         !(fx >= 8 && fx < 32 && fy >= 30 && fy < 46);
            if (blank) {
                EXPECT_EQ(full.At(fx, fy)[1], view.At(x, y, 1)) << x << "," << y;
            }
        }
    }
}

// Two layers: an opaque background at its own size, and over it a cropped,
// doubled layer of 20 x 10 with an opacity channel, stored in fragments.
TEST(ComposeJpx, LayersArePlacedCroppedScaledAndBlendedByTheirOpacity)
{
    FixtureImage back = Pattern(40, 30, 3, 8, 3);
    FixtureImage over = Pattern(20, 10, 4, 8, 11);
    for (int premultiplied = 0; premultiplied < 2; ++premultiplied) {
        std::vector<JpxLayer> layers = {{EncodeFixture(back, nullptr), -1, 0, {}},
                                        {EncodeFixture(over, nullptr), premultiplied, 1, {}}};
        JpxInstructionSet set = {0, 0, {{0, 0, 0, 0, 0, 0, 0, 0, 0}, {10, 12, 32, 16, 2, 1, 16, 8, 0}}};
        std::vector<uint8_t> file = MakeJpx(48, 36, 0, layers, {set});
        ComposedPicture picture = Describe(file, 0);
        EXPECT_EQ(1, picture.composed);
        EXPECT_EQ(0, picture.pages);
        EXPECT_EQ(1u, picture.count);
        EXPECT_EQ(48u, picture.width);
        Reference expected = Filled(48, 36, 255);
        for (uint32_t y = 0; y < 36; ++y) {
            for (uint32_t x = 0; x < 48; ++x) {
                uint8_t colour[3];
                uint32_t sx, sy;
                if (Covers(back, 0, 0, 1, x, y, &sx, &sy)) {
                    Colour(colour, back, sx, sy);
                    Blend(expected.At(x, y), colour, 255, false);
                }
                if (x >= 10 && x < 42 && y >= 12 && y < 28) {
                    sx = 2 + (x - 10) / 2;
                    sy = 1 + (y - 12) / 2;
                    Colour(colour, over, sx, sy);
                    Blend(expected.At(x, y), colour, Level(over, 3, sx, sy), premultiplied);
                }
            }
        }
        Composed composed = Compose(file, 0, 0);
        ExpectEqualsReference(composed.dib.get(), expected, premultiplied ? "premultiplied" : "plain");
    }
}

// A composition box without instructions: the first layer at the origin,
// at its own size, within the composition's size (white beyond it).
TEST(ComposeJpx, WithoutInstructionsTheCompositionIsTheFirstLayer)
{
    FixtureImage first = Pattern(24, 16, 3, 8, 5);
    FixtureImage second = Pattern(24, 16, 3, 8, 77);
    std::vector<JpxLayer> layers = {{EncodeFixture(first, nullptr), -1, 0, {}}, {EncodeFixture(second, nullptr), -1, 0, {}}};
    const uint32_t sizes[][2] = {{40, 30}, {16, 10}};
    for (const auto& size : sizes) {
        std::vector<uint8_t> file = MakeJpx(size[0], size[1], 0, layers, {});
        ComposedPicture picture = Describe(file, 0);
        EXPECT_EQ(1u, picture.count);
        EXPECT_EQ(size[0], picture.width);
        Reference expected = Filled(size[0], size[1], 255);
        for (uint32_t y = 0; y < size[1]; ++y) {
            for (uint32_t x = 0; x < size[0]; ++x) {
                uint32_t sx, sy;
                if (Covers(first, 0, 0, 1, x, y, &sx, &sy)) {
                    Colour(expected.At(x, y), first, sx, sy);
                }
            }
        }
        Composed composed = Compose(file, 0, 0);
        ExpectEqualsReference(composed.dib.get(), expected, std::to_string(size[0]) + "x" + std::to_string(size[1]));
    }
}

std::vector<uint8_t> ColourBox(const std::vector<uint8_t>& colr)
{
    std::vector<uint8_t> box;
    AppendBox(&box, "colr", colr);
    return box;
}

// A JPX file of one layer at its own size.
Composed ComposeOneLayer(const FixtureImage& image, const std::vector<uint8_t>& header,
                         const std::vector<uint8_t>& codestreamHeader)
{
    JpxLayer layer = {EncodeFixture(image, nullptr), -1, 0, header};
    return Compose(MakeJpx(image.width, image.height, 0, {layer}, {}, {codestreamHeader}), 0, 0);
}

// Each layer's channels are its components mapped through its palette, in
// its colour space; what the boxes cannot give fails as damaged.
TEST(ComposeJpx, LayerChannelsFollowPaletteMappingAndColourSpace)
{
    // Indices 0..11 over a palette of 8 rows (the last ones held to row 7),
    // and a plain component beside them.
    FixtureImage indexed = Pattern(6, 2, 2, 8, 0);
    for (uint32_t i = 0; i < 12; ++i) {
        indexed.samples[0][i] = (int32_t)i;
        indexed.samples[1][i] = (int32_t)(20 * i + 3);
    }
    std::vector<std::vector<uint64_t>> rows;
    for (uint64_t e = 0; e < 8; ++e) {
        // 38 bits unsigned, 16 bits signed, 4 bits, 8 bits
        rows.push_back({(e << 35) + 12345, (uint64_t)(int64_t)(-32768 + 4096 * (int64_t)e), 2 * e, 255 - 30 * e});
    }
    const std::vector<uint8_t> depths = {37, 0x80 | 15, 3, 7};
    auto entry = [](uint32_t i) { return i > 7 ? 7u : i; };
    FixtureImage lab = Pattern(8, 2, 3, 8, 0);
    for (uint32_t i = 0; i < 16; ++i) {
        bool left = i % 8 < 4;
        lab.samples[0][i] = left ? 255 : 0;
        lab.samples[1][i] = 128;
        lab.samples[2][i] = 96;
    }
    FixtureImage labOwn = lab; // neutral where its offsets put b* at 128
    labOwn.samples[2].assign(16, 128);
    typedef std::function<void(uint8_t bgr[3], uint32_t i)> Expect; // pixel i in raster order
    struct Case {
        const char* name;
        const FixtureImage* image;
        std::vector<uint8_t> header;
        Expect expect; // empty: the composition fails as damaged
        int tolerance;
        bool inCodestreamHeader; // the header's boxes go to the codestream's header instead
    } cases[] = {
        {"deep and signed columns", &indexed, PaletteBoxes(depths, rows, {{0, 1, 0}, {0, 1, 1}, {0, 1, 2}}),
         [&](uint8_t bgr[3], uint32_t i) {
             bgr[2] = (uint8_t)(32 * entry(i)), bgr[1] = (uint8_t)(16 * entry(i)), bgr[0] = (uint8_t)(34 * entry(i));
         }, 0, false},
        {"a column and a component as they are", &indexed, PaletteBoxes(depths, rows, {{0, 1, 3}, {1, 0, 0}, {0, 0, 0}}),
         [&](uint8_t bgr[3], uint32_t i) {
             bgr[2] = (uint8_t)(255 - 30 * entry(i)), bgr[1] = (uint8_t)(20 * i + 3), bgr[0] = (uint8_t)i;
         }, 0, false},
        {"in the codestream's header", &indexed, PaletteBoxes(depths, rows, {{0, 1, 3}, {0, 1, 3}, {0, 1, 3}}),
         [&](uint8_t bgr[3], uint32_t i) { memset(bgr, 255 - 30 * entry(i), 3); }, 0, true},
        {"CIELab, usual ranges", &lab, ColourBox(EnumeratedColour(14, {})),
         [](uint8_t bgr[3], uint32_t i) { memset(bgr, i % 8 < 4 ? 255 : 0, 3); }, 1, false},
        {"CIELab, own ranges", &labOwn, ColourBox(EnumeratedColour(14, {100, 0, 255, 128, 255, 128, 0x00443530})),
         [](uint8_t bgr[3], uint32_t i) { memset(bgr, i % 8 < 4 ? 255 : 0, 3); }, 1, false},
        {"unknown colour space", &lab, ColourBox(EnumeratedColour(99, {})),
         [&](uint8_t bgr[3], uint32_t i) {
             for (int b = 0; b < 3; ++b) bgr[b] = (uint8_t)lab.samples[2 - b][i];
         }, 0, false},
        {"mapping past the components", &indexed, PaletteBoxes(depths, rows, {{2, 0, 0}}), nullptr, 0, false},
        {"mapping past the columns", &indexed, PaletteBoxes(depths, rows, {{0, 1, 4}}), nullptr, 0, false},
        {"entries deeper than 38 bits", &indexed, PaletteBoxes({38}, {{1}}, {{0, 1, 0}}), nullptr, 0, false},
        {"palette shorter than its rows", &indexed,
         PaletteBoxes(depths, std::vector<std::vector<uint64_t>>(rows.begin(), rows.begin() + 7), {{0, 1, 0}}), nullptr, 0, false},
    };
    // The last case says 8 rows and holds 7.
    cases[9].header[9] = 8;
    for (Case& c : cases) {
        std::vector<uint8_t> none;
        Composed composed = ComposeOneLayer(*c.image, c.inCodestreamHeader ? none : c.header,
                                            c.inCodestreamHeader ? c.header : none);
        if (!c.expect) {
            EXPECT_EQ(nullptr, composed.dib) << c.name;
            EXPECT_EQ(DecodeFailureCorrupt, composed.failure) << c.name;
            continue;
        }
        Reference expected = Filled(c.image->width, c.image->height, 0);
        for (uint32_t i = 0; i < c.image->width * c.image->height; ++i) {
            c.expect(expected.At(i % c.image->width, i / c.image->width), i);
        }
        ExpectEqualsReference(composed.dib.get(), expected, c.name, c.tolerance);
    }
}

// A layer's chroma key: its pixels of the key's colour show what lies under
// them, whatever opacity the layer has; a key shorter than its channels
// fails as damaged.
TEST(ComposeJpx, ChromaKeyedPixelsShowWhatLiesUnder)
{
    FixtureImage back = Pattern(8, 6, 3, 8, 50);
    FixtureImage over = Pattern(8, 6, 4, 8, 0);
    for (uint32_t i = 0; i < 48; ++i) {
        bool keyed = i % 3 == 0;
        over.samples[0][i] = keyed ? 10 : (int32_t)(5 * i);
        over.samples[1][i] = keyed ? 200 : (int32_t)(5 * i + 1);
        over.samples[2][i] = 30;
        over.samples[3][i] = (int32_t)(4 * i + 40);
    }
    FixtureImage plain = over;
    plain.components.pop_back();
    plain.samples.pop_back();
    const std::vector<uint8_t> key = {3, 10, 200, 30};
    struct Case {
        const char* name;
        const FixtureImage* image;
        int opacity; // as JpxLayer
        std::vector<uint8_t> chck;
        bool inOpacityBox; // the key follows the opacity box's type 2
    } cases[] = {
        {"no opacity", &plain, -1, key, false},
        {"in the opacity box", &plain, -1, key, true},
        {"plain opacity", &over, 0, key, false},
        {"premultiplied opacity", &over, 1, key, false},
        {"a key of two channels", &plain, -1, {2, 10, 200}, false},
        {"a key shorter than its channels", &plain, -1, {3, 10, 200}, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> header;
        std::vector<uint8_t> opct = {2};
        opct.insert(opct.end(), c.chck.begin(), c.chck.end());
        AppendBox(&header, c.inOpacityBox ? "opct" : "chck", c.inOpacityBox ? opct : c.chck);
        std::vector<JpxLayer> layers = {{EncodeFixture(back, nullptr), -1, 0, {}},
                                        {EncodeFixture(*c.image, nullptr), c.opacity, 0, header}};
        JpxInstructionSet set = {0, 0, {{0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}}};
        Composed composed = Compose(MakeJpx(8, 6, 0, layers, {set}), 0, 0);
        if (c.chck.size() < 1u + c.chck[0]) {
            EXPECT_EQ(nullptr, composed.dib) << c.name;
            EXPECT_EQ(DecodeFailureCorrupt, composed.failure) << c.name;
            continue;
        }
        Reference expected = Filled(8, 6, 0);
        for (uint32_t i = 0; i < 48; ++i) {
            uint8_t* pixel = expected.At(i % 8, i / 8);
            uint8_t colour[3];
            Colour(pixel, back, i % 8, i / 8);
            Colour(colour, *c.image, i % 8, i / 8);
            bool keyed = colour[2] == c.chck[1] && colour[1] == c.chck[2] && (c.chck[0] < 3 || colour[0] == c.chck[3]);
            uint32_t alpha = c.opacity < 0 ? 255 : Level(over, 3, i % 8, i / 8);
            if (!keyed) {
                Blend(pixel, colour, alpha, c.opacity == 1);
            }
        }
        ExpectEqualsReference(composed.dib.get(), expected, c.name);
    }
}

// A layer of several codestreams: its components are theirs in the order
// the registration names them, each placed by its offset and ratio on the
// registration grid (past a codestream's edge, its edge).
TEST(ComposeJpx, RegisteredCodestreamsMakeOneLayer)
{
    FixtureImage first = Pattern(10, 6, 2, 8, 0);
    FixtureImage full = Pattern(10, 6, 1, 8, 90);
    FixtureImage half = Pattern(5, 3, 1, 8, 150);
    struct Stream {
        uint8_t codestream, xRatio, yRatio, xOffset, yOffset;
    };
    auto registration = [](uint16_t grid, const std::vector<Stream>& streams, bool mapped) {
        std::vector<uint8_t> creg = {0, (uint8_t)grid, 0, (uint8_t)grid};
        for (const Stream& s : streams) {
            creg.insert(creg.end(), {0, s.codestream, s.xRatio, s.yRatio, s.xOffset, s.yOffset});
        }
        // The mapping (no palette used) puts the last component first.
        std::vector<uint8_t> header = mapped ? PaletteBoxes({7}, {{0}}, {{2, 0, 0}, {0, 0, 0}, {1, 0, 0}}) : std::vector<uint8_t>();
        AppendBox(&header, "creg", creg);
        return header;
    };
    struct Case {
        const char* name;
        const FixtureImage* other;
        std::vector<uint8_t> header;
        int xShift, yShift, divide; // the other's sample under (x, y): ((x - xShift) / divide, ...), held to its edge
        bool mapped;
        int failure;
    } cases[] = {
        {"offset on the grid", &full, registration(1, {{0, 1, 1, 0, 0}, {2, 1, 1, 2, 1}}, false), 2, 1, 1, false, 0},
        {"half resolution on a finer grid", &half, registration(2, {{0, 2, 2, 0, 0}, {2, 4, 4, 0, 0}}, false), 0, 0, 2, false, 0},
        {"components numbered across codestreams", &full, registration(1, {{0, 1, 1, 0, 0}, {2, 1, 1, 2, 1}}, true), 2, 1, 1,
         true, 0},
        {"a codestream the file lacks", &full, registration(1, {{0, 1, 1, 0, 0}, {7, 1, 1, 0, 0}}, false), 0, 0, 1, false,
         DecodeFailureCorrupt},
        {"a ratio of 0", &full, registration(1, {{0, 1, 1, 0, 0}, {2, 0, 1, 0, 0}}, false), 0, 0, 1, false,
         DecodeFailureCorrupt},
        {"more codestreams than a layer takes", &full, registration(1, std::vector<Stream>(9, {0, 1, 1, 0, 0}), false), 0, 0,
         1, false, DecodeFailureTooLarge},
    };
    for (const Case& c : cases) {
        // Codestreams 0 and 1 are layers of their own (not drawn); 2 is the other.
        std::vector<JpxLayer> layers = {{EncodeFixture(first, nullptr), -1, 0, c.header},
                                        {EncodeFixture(full, nullptr), -1, 0, {}},
                                        {EncodeFixture(*c.other, nullptr), -1, 0, {}}};
        JpxInstructionSet set = {0, 0, {{0, 0, 0, 0, 0, 0, 0, 0, 0}}};
        Composed composed = Compose(MakeJpx(10, 6, 0, layers, {set}), 0, 0);
        if (c.failure != 0) {
            EXPECT_EQ(nullptr, composed.dib) << c.name;
            EXPECT_EQ(c.failure, composed.failure) << c.name;
            continue;
        }
        Reference expected = Filled(10, 6, 0);
        for (uint32_t y = 0; y < 6; ++y) {
            for (uint32_t x = 0; x < 10; ++x) {
                int ox = std::max(0, ((int)x - c.xShift) / c.divide), oy = std::max(0, ((int)y - c.yShift) / c.divide);
                uint8_t rgb[3] = {Level(first, 0, x, y), Level(first, 1, x, y),
                                  Level(*c.other, 0, std::min<uint32_t>(ox, c.other->width - 1), oy)};
                uint8_t* pixel = expected.At(x, y);
                for (int b = 0; b < 3; ++b) {
                    pixel[b] = c.mapped ? rgb[(4 - b) % 3] : rgb[2 - b];
                }
            }
        }
        ExpectEqualsReference(composed.dib.get(), expected, c.name);
    }
}

// A persistent background, then two frames of 70 ms, each one layer over it;
// the animation loops for ever.
TEST(ComposeJpx, AnimationFramesShowTheirLayersOverWhatPersists)
{
    FixtureImage background = Pattern(24, 24, 1, 8, 0);
    FixtureImage frames[2] = {Pattern(8, 8, 1, 8, 100), Pattern(8, 8, 1, 8, 200)};
    std::vector<JpxLayer> layers = {{EncodeFixture(background, nullptr), -1, 0, {}},
                                    {EncodeFixture(frames[0], nullptr), -1, 0, {}},
                                    {EncodeFixture(frames[1], nullptr), -1, 1, {}}};
    JpxInstructionSet still = {0, 10, {{0, 0, 0, 0, 0, 0, 0, 0, 0x80000000u}}};
    JpxInstructionSet moving = {1, 10, {{4, 4, 0, 0, 0, 0, 0, 0, 7}}};
    std::vector<uint8_t> file = MakeJpx(24, 24, 255, layers, {still, moving});
    for (uint32_t frame = 0; frame < 2; ++frame) {
        ComposedPicture picture = Describe(file, frame);
        EXPECT_EQ(2u, picture.count);
        EXPECT_EQ(70u, picture.durationMs);
        EXPECT_EQ(0u, picture.loops);
        Reference expected = Filled(24, 24, 0);
        for (uint32_t y = 0; y < 24; ++y) {
            for (uint32_t x = 0; x < 24; ++x) {
                uint32_t sx, sy;
                if (Covers(frames[frame], 4, 4, 1, x, y, &sx, &sy)) {
                    Colour(expected.At(x, y), frames[frame], sx, sy);
                } else if (Covers(background, 0, 0, 1, x, y, &sx, &sy)) {
                    Colour(expected.At(x, y), background, sx, sy);
                }
            }
        }
        Composed composed = Compose(file, frame, 0);
        ExpectEqualsReference(composed.dib.get(), expected, "frame " + std::to_string(frame));
    }
}

TEST(ComposeMj2, FramesComeFromTheSampleTablesWithTheirDurations)
{
    std::vector<FixtureImage> frames = {Pattern(16, 12, 1, 8, 0), Pattern(16, 12, 1, 8, 60), Pattern(16, 12, 1, 8, 120)};
    std::vector<std::vector<uint8_t>> codestreams;
    for (const FixtureImage& frame : frames) {
        codestreams.push_back(EncodeFixture(frame, nullptr));
    }
    std::vector<uint8_t> file = MakeMj2(codestreams, {1, 2, 3}, 10, 16, 12);
    for (uint32_t i = 0; i < 3; ++i) {
        ComposedPicture picture = Describe(file, i);
        EXPECT_EQ(3u, picture.count);
        EXPECT_EQ(100u * (i + 1), picture.durationMs);
        EXPECT_EQ(16u, picture.width);
        Composed composed = Compose(file, i, 0);
        ASSERT_NE(nullptr, composed.dib);
        DibView view = ViewDib(composed.dib.get());
        ASSERT_EQ(8u, view.bits);
        int wrong = 0;
        for (uint32_t y = 0; y < 12; ++y) {
            for (uint32_t x = 0; x < 16; ++x) {
                wrong += view.At(x, y, 0) != Level(frames[i], 0, x, y);
            }
        }
        EXPECT_EQ(0, wrong) << "frame " << i;
    }
}

// A sample of two fields makes one frame of both, interlaced as the field
// order says; a reduced level is the frame's size reduced.
TEST(ComposeMj2, TwoFieldsInterlaceIntoOneFrame)
{
    struct Case {
        const char* name;
        uint32_t fieldHeight;
        uint8_t order;
        int reduce;
        uint32_t width, height; // of the frame at that level; 0: the frame fails as damaged
        bool emptySecond;       // the second field's box holds nothing
    } cases[] = {
        {"first field on top", 6, 1, 0, 16, 12, false},
        {"second field on top", 6, 6, 0, 16, 12, false},
        {"halved", 10, 1, 1, 8, 10, false},
        {"halved, odd fields", 9, 6, 1, 8, 9, false},
        {"an empty field", 6, 1, 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        FixtureImage fields[2] = {Pattern(16, c.fieldHeight, 1, 8, 0), Pattern(16, c.fieldHeight, 1, 8, 100)};
        std::vector<uint8_t> second = c.emptySecond ? std::vector<uint8_t>() : EncodeFixture(fields[1], nullptr);
        std::vector<uint8_t> file = MakeMj2({EncodeFixture(fields[0], nullptr), second}, {1}, 10, 16, 2 * c.fieldHeight, c.order);
        Composed composed = Compose(file, 0, c.reduce);
        if (c.height == 0) {
            EXPECT_EQ(nullptr, composed.dib) << c.name;
            EXPECT_EQ(DecodeFailureCorrupt, composed.failure) << c.name;
            continue;
        }
        ComposedPicture picture = Describe(file, 0);
        EXPECT_EQ(2 * c.fieldHeight, picture.height) << c.name;
        ASSERT_NE(nullptr, composed.dib) << c.name << " failure " << composed.failure;
        DibView view = ViewDib(composed.dib.get());
        EXPECT_EQ(c.width, view.width) << c.name;
        ASSERT_EQ(c.height, view.height) << c.name;
        int wrong = 0;
        for (uint32_t y = 0; c.reduce == 0 && y < view.height; ++y) {
            const FixtureImage& field = fields[(y % 2 == 0) == (c.order == 1) ? 0 : 1];
            for (uint32_t x = 0; x < view.width; ++x) {
                wrong += view.At(x, y, 0) != Level(field, 0, x, y / 2);
            }
        }
        EXPECT_EQ(0, wrong) << c.name;
    }
}

// Decoding a composed file as a whole (what the plug-in does) gives its
// first page or frame, composed, at the size the file defines; so does the
// decode of a file still arriving once all of it has come.
TEST(ComposePicture, WholeFileDecodesShowTheFirstComposedPicture)
{
    JpmDocument document;
    FixtureImage frame = Pattern(16, 12, 1, 8, 0);
    std::vector<uint8_t> cs = EncodeFixture(frame, nullptr);
    std::vector<uint8_t> mj2 = MakeMj2({cs, cs}, {1, 1}, 10, 16, 12);
    for (const std::vector<uint8_t>* file : {&document.file, &mj2}) {
        int kind = ClassifyFileKind(file->data(), (uint32_t)file->size());
        DecodePlan plan;
        ASSERT_TRUE(PlanDecode(&plan, nullptr, kind, file->data(), (int32_t)file->size()));
        ComposedPicture picture = Describe(*file, 0);
        EXPECT_EQ(picture.width, plan.fullWidth);
        EXPECT_EQ(picture.height, plan.fullHeight);
        DibPtr whole = DecodeDib(*file);
        Composed composed = Compose(*file, 0, 0);
        ASSERT_NE(nullptr, whole);
        ASSERT_NE(nullptr, composed.dib);
        EXPECT_EQ(HashDib(composed.dib.get()), HashDib(whole.get()));
        uint8_t* part = nullptr;
        int failure = -1;
        PictureRegion middle = {1, 1, 8, 8};
        EXPECT_FALSE(DecodeRegionToPackedDib(&part, nullptr, &failure, kind, file->data(), (int32_t)file->size(), 0,
                                             middle, 1));
        EXPECT_EQ(DecodeFailureTooLarge, failure);
        ASSERT_TRUE(DecodePrefixToPackedDib(&part, &failure, kind, file->data(), (int32_t)file->size(), 0, 1));
        DibPtr arrived(part);
        EXPECT_EQ(HashDib(composed.dib.get()), HashDib(arrived.get()));
    }
}

// The picture of the arriving tests, over white: the opaque picture at
// (2, 3) when drawn, and the one with opacity at (20, 14) down to row `rows`.
Reference ArrivingPage(const FixtureImage& opaque, const FixtureImage& masked, bool opaqueDrawn, uint32_t rows)
{
    Reference page = Filled(40, 32, 255);
    for (uint32_t y = 0; y < 32; ++y) {
        for (uint32_t x = 0; x < 40; ++x) {
            uint32_t sx, sy;
            uint8_t colour[3];
            if (opaqueDrawn && Covers(opaque, 2, 3, 1, x, y, &sx, &sy)) {
                Colour(colour, opaque, sx, sy);
                Blend(page.At(x, y), colour, 255, false);
            }
            if (Covers(masked, 20, 14, 1, x, y, &sx, &sy) && sy < rows) {
                Colour(colour, masked, sx, sy);
                Blend(page.At(x, y), colour, Level(masked, 3, sx, sy), false);
            }
        }
    }
    return page;
}

size_t FindBytes(const std::vector<uint8_t>& in, const std::vector<uint8_t>& bytes, size_t from = 0)
{
    return (size_t)(std::search(in.begin() + from, in.end(), bytes.begin(), bytes.end()) - in.begin());
}

// A composed file still arriving shows what has come of its first picture:
// nothing before its layout is whole, then each codestream as far as it can
// be decoded (the masked picture's missing tiles transparent), the page's
// colour elsewhere; the whole file its full composition.
TEST(ComposePicture, AFileStillArrivingShowsTheCodestreamsThatHaveCome)
{
    FixtureImage opaque = Pattern(16, 12, 3, 8, 9);
    FixtureImage masked = Pattern(20, 16, 4, 8, 21);
    masked.tiled = 1; // tiles of 10 x 8
    std::vector<uint8_t> opaqueCs = EncodeFixture(opaque, nullptr);
    std::vector<uint8_t> maskedCs = EncodeFixture(masked, nullptr);
    JpmPage page = {40, 32, 1, {{2, 3, 16, 12, {{1, opaqueCs, 0, 0, 1, 0, 0}}},
                                {20, 14, 20, 16, {{2, maskedCs, 0, 0, 1, 0, 0}}}}};
    const std::vector<uint8_t> files[] = {
        MakeJpm({page}, 1),
        MakeJpx(40, 32, 0, {{opaqueCs, -1, 0, {}}, {maskedCs, 0, 0, {}}},
                {{0, 0, {{2, 3, 0, 0, 0, 0, 0, 0, 0}, {20, 14, 0, 0, 0, 0, 0, 0, 0}}}}),
    };
    // The masked picture's third tile-part (SOT, Lsot 10): its top two tiles come before.
    size_t third = 0;
    for (int tilePart = 0; tilePart < 3; ++tilePart) {
        third = FindBytes(maskedCs, {0xFF, 0x90, 0x00, 0x0A}, tilePart == 0 ? 0 : third + 1);
    }
    ASSERT_LT(third, maskedCs.size());
    struct Case {
        const char* what;
        int codestream; // the cut is `offset` bytes from its start; 2: the end of the file
        ptrdiff_t offset;
        bool layoutKnown;
        bool picture;
        bool opaqueDrawn;
        uint32_t maskedRows;
    };
    const Case cases[] = {
        {"inside the layout", 0, -40, false, false, false, 0},
        {"in the first codestream's header", 0, 10, true, false, false, 0},
        {"in the second codestream's header", 1, 10, true, true, true, 0},
        {"two tiles of the second", 1, (ptrdiff_t)third + 4, true, true, true, 8},
        {"the whole file", 2, 0, true, true, true, 16},
    };
    for (const std::vector<uint8_t>& file : files) {
        int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
        const size_t starts[] = {FindBytes(file, opaqueCs), FindBytes(file, maskedCs), file.size()};
        for (const Case& c : cases) {
            std::string what = std::string(c.what) + " of kind " + std::to_string(kind);
            uint32_t cut = (uint32_t)((ptrdiff_t)starts[c.codestream] + c.offset);
            EXPECT_EQ(c.layoutKnown ? cut : 0u, MeasureDecodablePrefix(kind, file.data(), cut)) << what;
            uint8_t* dib = nullptr;
            int failure = -1;
            EXPECT_EQ(c.picture, DecodePrefixToPackedDib(&dib, &failure, kind, file.data(), (int32_t)cut, 0, 1) != 0)
                << what << ": failure " << failure;
            DibPtr shown(dib);
            if (!c.picture) {
                EXPECT_EQ(DecodeFailureCorrupt, failure) << what;
                continue;
            }
            Reference expected = ArrivingPage(opaque, masked, c.opaqueDrawn, c.maskedRows);
            ExpectEqualsReference(shown.get(), expected, what);
            if (c.codestream == 2) {
                EXPECT_EQ(HashDib(Compose(file, 0, 0).dib.get()), HashDib(shown.get())) << what;
            }
        }
    }
}

// A track's first frame of two fields, still arriving, shows nothing until
// both fields can be drawn, then the whole frame's size: the first field
// whole on the even rows, the second's rows that have come on the odd ones.
TEST(ComposeMj2, AnArrivingFrameOfTwoFieldsShowsOnceBothCanBeDrawn)
{
    FixtureImage fields[2] = {Pattern(16, 16, 1, 8, 0), Pattern(16, 16, 1, 8, 100)};
    fields[0].tiled = fields[1].tiled = 1; // tiles of 8 x 8
    std::vector<uint8_t> codestreams[2] = {EncodeFixture(fields[0], nullptr), EncodeFixture(fields[1], nullptr)};
    std::vector<uint8_t> file = MakeMj2({codestreams[0], codestreams[1]}, {1}, 10, 16, 32, 1);
    int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    const size_t starts[] = {FindBytes(file, codestreams[0]), FindBytes(file, codestreams[1]), file.size()};
    // A field's third tile-part (SOT, Lsot 10): its top two tiles come before.
    size_t third = 0;
    for (int tilePart = 0; tilePart < 3; ++tilePart) {
        third = FindBytes(codestreams[1], {0xFF, 0x90, 0x00, 0x0A}, tilePart == 0 ? 0 : third + 1);
    }
    ASSERT_LT(third, codestreams[1].size());
    struct Case {
        const char* what;
        int codestream; // the cut is `offset` bytes from its start; 2: the end of the file
        ptrdiff_t offset;
        uint32_t secondRows; // rows of the second field shown; 0: no picture yet
    } cases[] = {
        {"in the track's tables", 0, -60, 0},
        {"two tiles of the first field", 0, (ptrdiff_t)third + 4, 0},
        {"in the second field's header", 1, 10, 0},
        {"two tiles of the second field", 1, (ptrdiff_t)third + 4, 8},
        {"the whole file", 2, 0, 16},
    };
    for (const Case& c : cases) {
        uint32_t cut = (uint32_t)((ptrdiff_t)starts[c.codestream] + c.offset);
        EXPECT_EQ(c.secondRows != 0 ? cut : 0u, MeasureDecodablePrefix(kind, file.data(), cut)) << c.what;
        uint8_t* dib = nullptr;
        int failure = -1;
        int ok = DecodePrefixToPackedDib(&dib, &failure, kind, file.data(), (int32_t)cut, 0, 1);
        DibPtr shown(dib);
        ASSERT_EQ(c.secondRows != 0, ok != 0) << c.what << ": failure " << failure;
        if (!ok) {
            continue;
        }
        DibView view = ViewDib(shown.get());
        ASSERT_EQ(16u, view.width) << c.what;
        ASSERT_EQ(32u, view.height) << c.what;
        int wrong = 0;
        for (uint32_t y = 0; y < 32; ++y) {
            for (uint32_t x = 0; x < 16 && (y % 2 == 0 || y / 2 < c.secondRows); ++x) {
                wrong += view.At(x, y, 0) != Level(fields[y % 2], 0, x, y / 2);
            }
        }
        EXPECT_EQ(0, wrong) << c.what;
        if (c.codestream == 2) {
            EXPECT_EQ(HashDib(Compose(file, 0, 0).dib.get()), HashDib(shown.get())) << c.what;
        }
    }
}

// Files with nothing to compose show their first codestream as before, and
// every composition refuses what it cannot place.
TEST(ComposePicture, PlainFilesAndRefusals)
{
    FixtureImage image = Pattern(12, 10, 3, 8, 5);
    std::vector<uint8_t> codestream = EncodeFixture(image, nullptr);
    std::vector<uint8_t> jp2 = WrapJp2Family(codestream, image, "jp2 ");
    std::vector<uint8_t> plainJpm = WrapJpm(codestream);
    for (const std::vector<uint8_t>* file : {&jp2, &plainJpm}) {
        ComposedPicture picture = Describe(*file, 0);
        EXPECT_EQ(0, picture.composed);
        EXPECT_EQ(1u, picture.count);
        Composed composed = Compose(*file, 0, 0);
        DibPtr decoded = DecodeDib(*file);
        ASSERT_NE(nullptr, composed.dib);
        EXPECT_EQ(HashDib(decoded.get()), HashDib(composed.dib.get()));
    }
    JpmDocument document;
    struct Refusal {
        uint32_t index;
        int reduce;
        uint32_t sampleLimit;
        int failure;
    };
    const Refusal refusals[] = {
        {2, 0, 0, DecodeFailureArguments},
        {0, 33, 0, DecodeFailureArguments},
        {0, 0, 64 * 48 * 3 - 1, DecodeFailureTooLarge},
    };
    for (const Refusal& r : refusals) {
        SetDecodeSampleLimit(r.sampleLimit);
        Composed composed = Compose(document.file, r.index, r.reduce);
        EXPECT_EQ(nullptr, composed.dib);
        EXPECT_EQ(r.failure, composed.failure) << r.index << " " << r.reduce;
    }
    SetDecodeSampleLimit(0);
}

} // namespace
