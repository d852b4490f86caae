// The picture a careful viewer shows: the common case unchanged, depth and
// sign, subsampling, colour spaces and profiles, opacity over white.
#include "jpeg2000.h"
#include "dib_check.h"
#include "fixture_encoder.h"
#include "test_profile.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <functional>
#include <string>

namespace {

typedef std::function<int32_t(uint32_t c, uint32_t x, uint32_t y)> SampleAt;

// An image whose component c holds at (x, y) of its own grid the value f(c, x, y).
FixtureImage Filled(uint32_t w, uint32_t h, const std::vector<FixtureComponent>& components, const SampleAt& f)
{
    FixtureImage image = MakePatternImage(w, h, components);
    for (uint32_t c = 0; c < components.size(); ++c) {
        uint32_t cw = FixtureComponentWidth(image, c), ch = FixtureComponentHeight(image, c);
        for (uint32_t y = 0; y < ch; ++y) {
            for (uint32_t x = 0; x < cw; ++x) {
                image.samples[c][y * cw + x] = f(c, x, y);
            }
        }
    }
    return image;
}

// Red, green, blue (or grey three times) of the pixel at (x, y).
void PixelRgb(const DibView& view, uint32_t x, uint32_t y, int rgb[3])
{
    for (int c = 0; c < 3; ++c) {
        rgb[c] = view.At(x, y, view.bits == 8 ? 0 : 2 - c);
    }
}

// The picture Debian's opj_decompress writes as a netpbm file (P5, P6 or
// P7 with opacity), samples scaled to 8 bits as the plug-in does.
struct ReferencePicture {
    uint32_t width, height, depth;
    std::vector<uint8_t> samples;
};

bool ReadNetpbm(const std::string& path, ReferencePicture* out)
{
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes) || bytes.size() < 3 || bytes[0] != 'P') {
        return false;
    }
    // Header tokens, comments skipped; P7 names its fields.
    std::vector<std::string> tokens;
    size_t at = 2;
    bool pam = bytes[1] == '7';
    while (at < bytes.size()) {
        while (at < bytes.size() && isspace(bytes[at])) {
            ++at;
        }
        if (at < bytes.size() && bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n') {
                ++at;
            }
            continue;
        }
        size_t start = at;
        while (at < bytes.size() && !isspace(bytes[at])) {
            ++at;
        }
        tokens.push_back(std::string(bytes.begin() + start, bytes.begin() + at));
        if ((!pam && tokens.size() == 3) || (pam && tokens.back() == "ENDHDR")) {
            ++at;
            break;
        }
    }
    uint32_t maxval = 0;
    out->depth = bytes[1] == '5' ? 1 : 3;
    if (pam) {
        for (size_t i = 0; i + 1 < tokens.size(); ++i) {
            const std::string& key = tokens[i];
            uint32_t value = (uint32_t)atoi(tokens[i + 1].c_str());
            out->width = key == "WIDTH" ? value : out->width;
            out->height = key == "HEIGHT" ? value : out->height;
            out->depth = key == "DEPTH" ? value : out->depth;
            maxval = key == "MAXVAL" ? value : maxval;
        }
    } else if (tokens.size() == 3) {
        out->width = (uint32_t)atoi(tokens[0].c_str());
        out->height = (uint32_t)atoi(tokens[1].c_str());
        maxval = (uint32_t)atoi(tokens[2].c_str());
    }
    uint32_t bits = 1;
    while (bits < 16 && (1u << bits) <= maxval) {
        ++bits;
    }
    size_t count = (size_t)out->width * out->height * out->depth;
    size_t bytesPer = maxval > 255 ? 2 : 1;
    if (maxval == 0 || bytes.size() < at + count * bytesPer) {
        return false;
    }
    out->samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t v = bytesPer == 2 ? (bytes[at + 2 * i] << 8 | bytes[at + 2 * i + 1]) : bytes[at + i];
        out->samples[i] = (uint8_t)(bits > 8 ? v >> (bits - 8) : v * (255 / maxval));
    }
    return true;
}

// False when the tool is not installed or refuses the file.
bool DecodeWithReferenceTool(const std::vector<uint8_t>& file, ReferencePicture* out)
{
    if (access(REFERENCE_DECODER, X_OK) != 0) {
        return false;
    }
    std::string scratch = std::string(TEST_SCRATCH_DIR) + "/colour_reference";
    std::string in = scratch + (file[0] == 0xFF ? ".j2k" : ".jp2");
    std::string picture = scratch + ".pnm";
    WriteFileBytes(in, file);
    remove(picture.c_str());
    std::string command = std::string(REFERENCE_DECODER) + " -upsample -i " + in + " -o " + picture + " >/dev/null 2>&1";
    return system(command.c_str()) == 0 && ReadNetpbm(picture, out);
}

// Plain or premultiplied opacity a over white, as the reference tool leaves
// it to the viewer.
int OverWhite(int colour, int a, bool premultiplied)
{
    int v = premultiplied ? colour + 255 - a : (colour * a + 255 * (255 - a) + 127) / 255;
    return v > 255 ? 255 : v;
}

// Peak difference over every pixel between the bitmap and the reference
// tool's picture (composited over white when it carries opacity).
int PeakAgainstReference(const DibView& view, const ReferencePicture& ref, bool premultiplied)
{
    EXPECT_EQ(ref.width, view.width);
    EXPECT_EQ(ref.height, view.height);
    if (ref.width != view.width || ref.height != view.height) {
        return 256;
    }
    uint32_t colours = ref.depth >= 3 ? 3 : 1;
    bool opacity = ref.depth == 2 || ref.depth == 4;
    int worst = 0;
    for (uint32_t y = 0; y < view.height; ++y) {
        for (uint32_t x = 0; x < view.width; ++x) {
            const uint8_t* px = &ref.samples[((size_t)y * ref.width + x) * ref.depth];
            int got[3];
            PixelRgb(view, x, y, got);
            for (uint32_t c = 0; c < 3; ++c) {
                int want = px[colours == 3 ? c : 0];
                want = opacity ? OverWhite(want, px[colours], premultiplied) : want;
                worst = abs(got[c] - want) > worst ? abs(got[c] - want) : worst;
            }
        }
    }
    return worst;
}

const FixtureComponent kU8 = {8, 0, 1, 1};

TEST(Picture, CommonCaseBitmapsAreUnchanged)
{
    // Bitmaps of 8-bit unsigned RGB and grey files as the plug-in showed
    // them before it understood colour spaces, depth and opacity.
    struct Known {
        const char* name;
        uint64_t hash;
    } conformance[] = {
        {"p0_01.j2k", 0x9e6e813d4b4f4b55ull}, {"p0_02.j2k", 0x2cddf483776393ecull},
        {"p0_04.j2k", 0x490114469c97e9f2ull}, {"p0_09.j2k", 0x91b059ce16976334ull},
        {"p0_10.j2k", 0x11b23d262daa5fcdull}, {"p0_11.j2k", 0xfef170f1ccfc921full},
        {"p0_12.j2k", 0x844db5f4ef0ba673ull}, {"p0_14.j2k", 0x5e765fe7719c521bull},
        {"p0_16.j2k", 0x9e6e813d4b4f4b55ull}, {"file1.jp2", 0x29e6f5cf9ab267bdull},
        {"file4.jp2", 0x40cb36caecef23e8ull},
    };
    for (const Known& k : conformance) {
        std::vector<uint8_t> data;
        if (!ReadFileBytes(ConformancePath(k.name), &data)) {
            continue; // shared data absent: the fixtures below still run
        }
        DibPtr dib = DecodeDib(data);
        ASSERT_TRUE(dib) << k.name;
        EXPECT_EQ(k.hash, HashDib(dib.get())) << k.name;
    }
    struct Fixture {
        uint32_t width, height, components;
        int lossy;
        uint64_t hash;
    } fixtures[] = {
        {1, 1, 1, 0, 0x468ae085e5d05d71ull},     {17, 9, 1, 0, 0xcbc0124f8b1bc4e1ull},
        {1, 5, 3, 0, 0x6f4611a2e09f4a05ull},     {33, 7, 3, 0, 0x583923736ee3cd42ull},
        {301, 203, 3, 1, 0x5d930dfbc81718c9ull}, {257, 211, 1, 1, 0x09762b6e64962805ull},
    };
    for (const Fixture& f : fixtures) {
        FixtureImage image = MakePatternImage(f.width, f.height, std::vector<FixtureComponent>(f.components, kU8));
        image.lossy = f.lossy;
        image.rate = 12;
        image.tiled = f.lossy;
        std::vector<uint8_t> cs = EncodeFixture(image, nullptr);
        for (const std::vector<uint8_t>& file : {cs, WrapJp2Family(cs, image, "jp2 ")}) {
            DibPtr dib = DecodeDib(file);
            ASSERT_TRUE(dib);
            EXPECT_EQ(f.hash, HashDib(dib.get())) << f.width << "x" << f.height << " " << file.size();
        }
    }
}

TEST(Picture, DepthAndSignReachEightBits)
{
    // Pixel x shows samples[x] in red, samples[x + 1] in green and
    // samples[x + 2] in blue (indices modulo 3).
    struct Case {
        uint32_t precision;
        int isSigned;
        int32_t samples[3];
        uint8_t bytes[3];
    } cases[] = {
        {12, 0, {0xABC, 0x7FF, 0x001}, {0xAB, 0x7F, 0x00}}, // top 8 bits
        {9, 0, {511, 256, 1}, {255, 128, 0}},
        {16, 0, {0xBEEF, 0xFFFF, 0x00FF}, {0xBE, 0xFF, 0x00}},
        {20, 0, {0xFFFFF, 0x80000, 0x7FFFF}, {255, 128, 127}},
        {10, 1, {-512, 0, 511}, {0, 128, 255}}, // signed: zero is mid-grey
        {16, 1, {-32768, 0, 32767}, {0, 128, 255}},
        {8, 1, {-128, 0, 127}, {0, 128, 255}},
        {4, 0, {15, 8, 1}, {255, 136, 17}}, // scaled as the grey table
        {1, 0, {1, 0, 1}, {255, 0, 255}},
    };
    for (const Case& k : cases) {
        FixtureComponent component = {k.precision, k.isSigned, 1, 1};
        FixtureImage image = Filled(3, 2, {component, component, component},
                                    [&k](uint32_t c, uint32_t x, uint32_t) { return k.samples[(x + c) % 3]; });
        std::vector<uint8_t> cs = EncodeFixture(image, nullptr);
        ASSERT_FALSE(cs.empty()) << k.precision;
        DibPtr dib = DecodeDib(cs);
        ASSERT_TRUE(dib) << k.precision;
        DibView view = ViewDib(dib.get());
        for (uint32_t x = 0; x < 3; ++x) {
            int rgb[3];
            PixelRgb(view, x, 1, rgb);
            for (uint32_t c = 0; c < 3; ++c) {
                EXPECT_EQ(k.bytes[(x + c) % 3], rgb[c]) << "precision " << k.precision << " x " << x << " c " << c;
            }
        }
    }
}

TEST(Picture, SubsampledComponentsCoverTheirPixels)
{
    // Declared sRGB and not luma with chroma on one coarser grid, so the
    // components are shown as they are, each sample over the pixels its
    // subsampling gives it.
    const std::vector<std::vector<FixtureComponent>> layouts = {
        {kU8, {8, 0, 2, 1}, {8, 0, 1, 2}},
        {kU8, {8, 0, 2, 2}, kU8},
        {{8, 0, 2, 2}, {8, 0, 4, 4}, {12, 0, 2, 2}},
    };
    for (const std::vector<FixtureComponent>& components : layouts) {
        for (uint32_t width : {1u, 7u, 16u}) {
            FixtureImage image = MakePatternImage(width, 9, components);
            std::vector<uint8_t> file = WrapJp2Family(EncodeFixture(image, nullptr), image, "jp2 ");
            DibPtr dib = DecodeDib(file);
            ASSERT_TRUE(dib);
            DibView view = ViewDib(dib.get());
            ASSERT_EQ(FixtureComponentWidth(image, 0), view.width);
            ASSERT_EQ(FixtureComponentHeight(image, 0), view.height);
            for (uint32_t y = 0; y < view.height; ++y) {
                for (uint32_t x = 0; x < view.width; ++x) {
                    int rgb[3];
                    PixelRgb(view, x, y, rgb);
                    for (uint32_t c = 0; c < 3; ++c) {
                        const FixtureComponent& k = components[c];
                        uint32_t cx = x * components[0].dx / k.dx, cy = y * components[0].dy / k.dy;
                        int32_t sample = image.samples[c][cy * FixtureComponentWidth(image, c) + cx];
                        ASSERT_EQ(sample >> (k.precision - 8), rgb[c]) << "width " << width << " x " << x << " y " << y;
                    }
                }
            }
        }
    }
}

const double kSrgbPrimaries[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
const double kDegenerateColorants[9] = {0, 0, 0, -32768, 0, 0, 0, 0, 0};

struct Probe {
    uint32_t x, y;
    int rgb[3];
};

TEST(Picture, ColourSpacesBecomeSrgb)
{
    // 8 x 4 pictures whose left half is one colour and right half another;
    // each file also against the reference tool, where installed.
    const FixtureComponent u10 = {10, 0, 1, 1}, s8 = {8, 1, 1, 1};
    auto halves = [](std::vector<int32_t> left, std::vector<int32_t> right, uint32_t dx) {
        return [left, right, dx](uint32_t c, uint32_t x, uint32_t) { return (c == 0 ? x : x * dx) < 4 ? left[c] : right[c]; };
    };
    struct Case {
        const char* name;
        std::vector<FixtureComponent> components;
        SampleAt samples;
        std::vector<uint8_t> colr; // empty: a raw codestream
        std::vector<Probe> probes;
        int referencePeak; // -1: not compared with the reference tool
    } cases[] = {
        {"sYCC", {kU8, kU8, kU8}, halves({76, 85, 255}, {128, 128, 128}, 1), EnumeratedColour(18, {}),
         {{0, 0, {254, 0, 0}}, {7, 3, {128, 128, 128}}}, 2},
        {"YCbCr 4:2:0 codestream", {kU8, {8, 0, 2, 2}, {8, 0, 2, 2}}, halves({150, 44, 21}, {29, 255, 107}, 2), {},
         {{0, 0, {0, 255, 1}}, {7, 3, {0, 0, 255}}}, 2},
        {"10-bit YCbCr 4:2:2 codestream", {u10, {10, 0, 2, 1}, {10, 0, 2, 1}}, halves({304, 340, 1020}, {512, 512, 512}, 2), {},
         {{3, 0, {254, 0, 0}}, {4, 2, {128, 128, 128}}}, 2},
        {"e-sYCC signed chroma", {kU8, s8, s8}, halves({76, -43, 127}, {200, 0, 0}, 1), EnumeratedColour(24, {}),
         {{0, 0, {254, 0, 0}}, {7, 3, {200, 200, 200}}}, 2},
        {"CMYK", {kU8, kU8, kU8, kU8}, halves({255, 0, 0, 0}, {0, 0, 0, 128}, 1), EnumeratedColour(12, {}),
         {{0, 0, {0, 255, 255}}, {7, 3, {127, 127, 127}}}, 1},
        {"CIELab, usual ranges", {kU8, kU8, kU8}, halves({255, 128, 96}, {0, 128, 96}, 1), EnumeratedColour(14, {}),
         {{0, 0, {255, 255, 255}}, {7, 3, {0, 0, 0}}}, 2},
        {"CIELab, own ranges", {kU8, kU8, kU8}, halves({128, 128, 128}, {128, 255, 128}, 1),
         EnumeratedColour(14, {100, 0, 255, 128, 255, 128, 0x00443530}), {{0, 0, {119, 119, 119}}}, 2},
        {"RGB profile", {kU8, kU8, kU8}, halves({128, 128, 128}, {255, 0, 0}, 1), ProfileColour(MakeTestProfile(1.0, kSrgbPrimaries)),
         {{0, 0, {188, 188, 188}}, {7, 3, {255, 0, 0}}}, 2},
        {"grey profile", {kU8}, halves({128}, {255}, 1), ProfileColour(MakeTestProfile(1.0, nullptr)),
         {{0, 0, {188, 188, 188}}, {7, 3, {255, 255, 255}}}, 2},
        {"scanner-class RGB profile", {kU8, kU8, kU8}, halves({128, 128, 128}, {255, 0, 0}, 1),
         ProfileColour(MakeTestProfile(1.0, kSrgbPrimaries, 0x73636E72)), {{0, 0, {188, 188, 188}}, {7, 3, {255, 0, 0}}}, 2},
        {"colour-space-class RGB profile", {kU8, kU8, kU8}, halves({128, 128, 128}, {0, 0, 255}, 1),
         ProfileColour(MakeTestProfile(1.0, kSrgbPrimaries, 0x73706163)), {{0, 0, {188, 188, 188}}, {7, 3, {0, 0, 255}}}, 2},
        {"scanner-class grey profile", {kU8}, halves({128}, {0}, 1), ProfileColour(MakeTestProfile(1.0, nullptr, 0x73636E72)),
         {{0, 0, {188, 188, 188}}, {7, 3, {0, 0, 0}}}, 2},
        // Colorants that span no colours (as a real scanner's file has them):
        // the profile is ignored, as viewers do; the reference tool applies
        // it as it stands and shows every pixel green.
        {"degenerate colorants", {kU8, kU8, kU8}, halves({128, 128, 128}, {255, 0, 0}, 1),
         ProfileColour(MakeColorantProfile(1.8, kDegenerateColorants, 0x73636E72)),
         {{0, 0, {128, 128, 128}}, {7, 3, {255, 0, 0}}}, -1},
        {"YCbCr 4:2:0 declared sRGB", {kU8, {8, 0, 2, 2}, {8, 0, 2, 2}}, halves({150, 44, 21}, {29, 255, 107}, 2),
         EnumeratedColour(16, {}), {{0, 0, {0, 255, 1}}, {7, 3, {0, 0, 255}}}, 2},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FixtureImage image = Filled(8, 4, k.components, k.samples);
        std::vector<uint8_t> file = EncodeFixture(image, nullptr);
        if (!k.colr.empty()) {
            file = WrapJp2Described(file, image, "jp2 ", k.colr, {});
        }
        DibPtr dib = DecodeDib(file);
        ASSERT_TRUE(dib);
        DibView view = ViewDib(dib.get());
        EXPECT_EQ(k.components.size() == 1 ? 8u : 24u, view.bits);
        for (const Probe& p : k.probes) {
            int rgb[3];
            PixelRgb(view, p.x, p.y, rgb);
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(p.rgb[c], rgb[c], 2) << "x " << p.x << " channel " << c;
            }
        }
        ReferencePicture ref;
        if (k.referencePeak >= 0 && DecodeWithReferenceTool(file, &ref)) {
            EXPECT_LE(PeakAgainstReference(view, ref, false), k.referencePeak);
        }
    }
}

TEST(Picture, OpacityIsCompositedOverWhite)
{
    // Opacity from channel definitions (plain or premultiplied, wherever the
    // channel is), or a fourth (second) component of the same size in a raw
    // codestream; colour 200 over opacity a.
    auto colour = [](uint32_t c, uint32_t x, uint32_t y) { return (int32_t)((x * 31 + y * 17 + c * 50) % 201); };
    auto opacity = [](uint32_t x, uint32_t y) { return (int32_t)((x * 67 + y * 29) % 256); };
    struct Case {
        const char* name;
        uint32_t colours;
        uint32_t opacityAt; // component index of the opacity
        bool premultiplied;
        std::vector<ChannelDefinition> cdef; // empty: a raw codestream
    } cases[] = {
        {"RGBA codestream", 3, 3, false, {}},
        {"grey and opacity codestream", 1, 1, false, {}},
        {"RGBA", 3, 3, false, {{0, 0, 1}, {1, 0, 2}, {2, 0, 3}, {3, 1, 0}}},
        {"RGBA premultiplied", 3, 3, true, {{0, 0, 1}, {1, 0, 2}, {2, 0, 3}, {3, 2, 0}}},
        {"grey and premultiplied opacity", 1, 1, true, {{0, 0, 1}, {1, 2, 0}}},
        {"opacity first", 3, 0, false, {{0, 1, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<FixtureComponent> components(k.colours + 1, kU8);
        FixtureImage image = Filled(19, 7, components, [&](uint32_t c, uint32_t x, uint32_t y) {
            if (c == k.opacityAt) {
                return opacity(x, y);
            }
            int32_t v = colour(c - (c > k.opacityAt), x, y);
            return k.premultiplied ? v * opacity(x, y) / 255 : v;
        });
        std::vector<uint8_t> file = EncodeFixture(image, nullptr);
        if (!k.cdef.empty()) {
            file = WrapJp2Described(file, image, "jp2 ", EnumeratedColour(k.colours == 3 ? 16 : 17, {}),
                                   ChannelDefinitions(k.cdef));
        }
        DibPtr dib = DecodeDib(file);
        ASSERT_TRUE(dib);
        DibView view = ViewDib(dib.get());
        ASSERT_EQ(k.colours == 3 ? 24u : 8u, view.bits);
        for (uint32_t y = 0; y < 7; ++y) {
            for (uint32_t x = 0; x < 19; ++x) {
                int rgb[3];
                PixelRgb(view, x, y, rgb);
                for (uint32_t c = 0; c < 3; ++c) {
                    int32_t v = colour(k.colours == 3 ? c : 0, x, y);
                    v = k.premultiplied ? v * opacity(x, y) / 255 : v;
                    ASSERT_NEAR(OverWhite(v, opacity(x, y), k.premultiplied), rgb[c], 1) << "x " << x << " y " << y;
                }
            }
        }
    }
}

} // namespace
