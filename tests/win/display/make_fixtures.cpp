// Writes the display tests' images into a folder: small lossless pictures
// whose pixels the tests know, sizes at the scroll-bar thresholds, a large
// lossy picture that takes a while to decode, undecodable data, and large
// pictures made tile by tile (kept between runs: small on disk, slower to make),
// one of them 50,000 x 50,000 from a few tiles placed by index.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "../../decode/fixture_encoder.h"
#include "test_files.h"

namespace {

typedef void (*PixelRule)(uint32_t x, uint32_t y, uint32_t width, uint32_t height, int32_t rgb[3]);

void Quadrants(uint32_t x, uint32_t y, uint32_t width, uint32_t height, int32_t rgb[3]) {
    static const int32_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    int quadrant = (x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0);
    memcpy(rgb, colours[quadrant], sizeof colours[quadrant]);
}

void Gradient(uint32_t x, uint32_t y, uint32_t, uint32_t, int32_t rgb[3]) {
    rgb[0] = (int32_t)(x & 255);
    rgb[1] = (int32_t)(y & 255);
    rgb[2] = 128;
}

void Noise(uint32_t x, uint32_t y, uint32_t, uint32_t, int32_t rgb[3]) {
    uint32_t h = x * 2654435761u ^ y * 40503u;
    rgb[0] = (int32_t)((x + (h & 31)) & 255);
    rgb[1] = (int32_t)((y + (h >> 8 & 31)) & 255);
    rgb[2] = (int32_t)((x ^ y) & 255);
}

// Smooth ramps with a fine grain, so that a large file still looks the same
// at every level.
void Grain(uint32_t x, uint32_t y, uint32_t width, uint32_t height, int32_t rgb[3]) {
    uint32_t h = x * 2654435761u ^ y * 40503u;
    rgb[0] = (int32_t)(x * 251 / width + (h & 3));
    rgb[1] = (int32_t)(y * 251 / height + (h >> 8 & 3));
    rgb[2] = (int32_t)(128 + (h >> 16 & 3));
}

FixtureImage MakeImage(uint32_t width, uint32_t height, uint32_t componentCount, PixelRule rule, int lossy) {
    FixtureImage image;
    image.width = width;
    image.height = height;
    image.components.assign(componentCount, FixtureComponent{8, 0, 1, 1});
    image.samples.assign(componentCount, std::vector<int32_t>((size_t)width * height));
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            int32_t rgb[3];
            rule(x, y, width, height, rgb);
            for (uint32_t c = 0; c < componentCount; ++c) {
                image.samples[c][(size_t)y * width + x] = rgb[c];
            }
        }
    }
    image.lossy = lossy;
    image.rate = lossy ? 20.0 : 0.0;
    image.tiled = 0;
    return image;
}

struct FixtureRow {
    const char* name;
    uint32_t width;
    uint32_t height;
    uint32_t components;
    PixelRule rule;
    int lossy;
    int jp2;
};

const FixtureRow Fixtures[] = {
    {"quad.j2k", 64, 48, 3, Quadrants, 0, 0},
    {"quad.jp2", 64, 48, 3, Quadrants, 0, 1},
    {"gradient.jp2", 256, 256, 3, Gradient, 0, 1},
    {"wide.j2k", 800, 600, 1, Gradient, 0, 0},
    {"w503h502.j2k", 503, 502, 1, Gradient, 0, 0},
    {"w502h501.j2k", 502, 501, 1, Gradient, 0, 0},
    {"w40000.j2k", 40000, 8, 1, Gradient, 0, 0},  // scroll positions past 16 bits
    {"big.j2k", 1600, 1600, 3, Noise, 1, 0},
    {"mid.j2k", 400, 400, 3, Noise, 1, 0},
    {"arriving.j2k", 1000, 1000, 3, Grain, 0, 0},  // one tile, resolution by resolution
};

// Quadrants of the tiled pictures, one flat level per tile: red, green, blue
// and white in colour; four grey levels in grey.
const uint8_t QuadrantLevels[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
const uint8_t GreyQuadrantLevels[4] = {40, 100, 160, 220};

template <uint32_t Side>
void FillQuadrants(uint8_t* samples, uint32_t component, uint32_t x0, uint32_t y0, uint32_t width,
                   uint32_t height) {
    int quadrant = (x0 >= Side / 2 ? 1 : 0) + (y0 >= Side / 2 ? 2 : 0);
    memset(samples, QuadrantLevels[quadrant][component], (size_t)width * height);
}

// The same quadrants in a tile that covers the whole picture.
template <uint32_t Side>
void FillQuadrantPixels(uint8_t* samples, uint32_t component, uint32_t, uint32_t, uint32_t width, uint32_t height) {
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            int quadrant = (x >= Side / 2 ? 1 : 0) + (y >= Side / 2 ? 2 : 0);
            samples[(size_t)y * width + x] = QuadrantLevels[quadrant][component];
        }
    }
}

template <uint32_t Side>
void FillGreyQuadrants(uint8_t* samples, uint32_t, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height) {
    int quadrant = (x0 >= Side / 2 ? 1 : 0) + (y0 >= Side / 2 ? 2 : 0);
    memset(samples, GreyQuadrantLevels[quadrant], (size_t)width * height);
}

struct TiledRow {
    const char* name;
    uint32_t side;
    uint32_t components;
    FillTile fill;
    uint32_t tilesAcross;
};

// The gallery pictures, the smallest size that gets a preview, one past the
// 2^27-sample cap (12000^2 grey), and a gallery picture in a single tile.
const TiledRow TiledFixtures[] = {
    {"gallery4000.j2k", 4000, 3, FillQuadrants<4000>, 4},
    {"gallery2000.j2k", 2000, 3, FillQuadrants<2000>, 4},
    {"tiles1600.j2k", 1600, 3, FillQuadrants<1600>, 4},
    {"overcap.j2k", 12000, 1, FillGreyQuadrants<12000>, 4},
    {"single2000.j2k", 2000, 3, FillQuadrantPixels<2000>, 1},
};

int MakeTiledFixtures(const std::string& folder) {
    for (const TiledRow& row : TiledFixtures) {
        std::string path = folder + "/" + row.name;
        if (FileExists(path)) continue;
        std::vector<uint8_t> bytes = EncodeTiled(row.side, row.side, row.components, row.side / row.tilesAcross, row.fill);
        if (bytes.empty() || !WriteFileBytes(path, bytes)) {
            fprintf(stderr, "make_fixtures: cannot make %s\n", row.name);
            return 0;
        }
    }
    return 1;
}

// A document of three pages of their own sizes and colours (the page's
// size tells which one is shown); the second also places an object held in
// another file, which is not fetched.
const uint32_t PageSizes[3][2] = {{64, 48}, {48, 64}, {32, 32}};
const int32_t PageColours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

int MakeDocument(const std::string& folder) {
    std::vector<JpmPage> pages;
    for (int i = 0; i < 3; ++i) {
        uint32_t width = PageSizes[i][0], height = PageSizes[i][1];
        FixtureImage image = MakeImage(width, height, 3, Quadrants, 0);
        for (uint32_t c = 0; c < 3; ++c) {
            image.samples[c].assign((size_t)width * height, PageColours[i][c]);
        }
        JpmPage page = {width, height, 1, {{0, 0, width, height, {{1, EncodeFixture(image, nullptr), 0, 0, 1, 0, 0}}}}};
        if (i == 1) {
            page.layouts.push_back({0, 0, 16, 16, {{1, EncodeFixture(image, nullptr), 0, 0, 1, 1, 0}}});
        }
        pages.push_back(page);
    }
    return WriteFileBytes(folder + "/pages.jpm", MakeJpm(pages));
}

// arriving.j2k's picture as the one object of a page that comes before it,
// as a document made to be shown while it arrives.
int MakeArrivingDocument(const std::string& folder) {
    std::vector<uint8_t> codestream = FileBytes(folder + "/arriving.j2k");
    JpmPage page = {1000, 1000, 1, {{0, 0, 1000, 1000, {{1, codestream, 0, 0, 1, 0, 0}}}}};
    return !codestream.empty() && WriteFileBytes(folder + "/arriving.jpm", MakeJpm({page}, 1));
}

// Animations of flat grey frames, frame i at FrameLevel(i) (the playback
// tests read the frame shown from it): a Motion JPEG 2000 track of six
// frames of 150 ms played once, and a JPX animation of three frames of
// 150 ms that loops for ever.
int MakeAnimations(const std::string& folder) {
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 6; ++i) {
        FixtureImage image = MakeImage(64, 48, 1, Gradient, 0);
        image.samples[0].assign((size_t)64 * 48, 20 + 40 * i);
        frames.push_back(EncodeFixture(image, nullptr));
    }
    std::vector<JpxLayer> layers;
    JpxInstructionSet set = {0, 10, {}};
    for (int i = 0; i < 3; ++i) {
        layers.push_back({frames[i], -1, 0});
        set.instructions.push_back({0, 0, 0, 0, 0, 0, 0, 0, 15});
    }
    return WriteFileBytes(folder + "/clip.mj2", MakeMj2(frames, std::vector<uint32_t>(6, 150), 1000, 64, 48)) &&
           WriteFileBytes(folder + "/loop.jpx", MakeJpx(64, 48, 255, layers, {set}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_fixtures FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    for (const FixtureRow& row : Fixtures) {
        FixtureImage image = MakeImage(row.width, row.height, row.components, row.rule, row.lossy);
        std::vector<uint8_t> codestream = EncodeFixture(image, "display fixture");
        std::vector<uint8_t> bytes = row.jp2 ? WrapJp2Family(codestream, image, "jp2 ") : codestream;
        if (codestream.empty() || !WriteFileBytes(folder + "/" + row.name, bytes)) {
            fprintf(stderr, "make_fixtures: cannot make %s\n", row.name);
            return 1;
        }
    }
    // Not JPEG 2000 at all, and a codestream whose image header is broken.
    const char text[] = "<html>this is not an image</html>";
    std::vector<uint8_t> codestream = EncodeFixture(MakeImage(16, 16, 1, Gradient, 0), NULL);
    for (size_t i = 4; i < 40 && i < codestream.size(); ++i) {
        codestream[i] = 0xFF;
    }
    if (!WriteFileBytes(folder + "/garbage.j2k", std::vector<uint8_t>(text, text + sizeof text - 1)) ||
        !WriteFileBytes(folder + "/badheader.j2k", codestream)) {
        fprintf(stderr, "make_fixtures: cannot write the broken files\n");
        return 1;
    }
    // 50,000 x 50,000 grey whose stripes only the full resolution shows.
    std::string huge = folder + "/striped50000.j2k";
    if (!FileExists(huge) && !WriteFileBytes(huge, EncodeStripedPicture(50000, 50000))) {
        fprintf(stderr, "make_fixtures: cannot make striped50000.j2k\n");
        return 1;
    }
    if (!MakeDocument(folder) || !MakeArrivingDocument(folder) || !MakeAnimations(folder)) {
        fprintf(stderr, "make_fixtures: cannot make the composed files\n");
        return 1;
    }
    return MakeTiledFixtures(folder) ? 0 : 1;
}
