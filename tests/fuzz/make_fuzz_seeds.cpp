// Writes small fixture files into a folder as extra seeds for the fuzz target.
#include "fixture_encoder.h"
#include "test_profile.h"

#include <stdio.h>
#include <string>

namespace {

int WriteSeed(const std::string& folder, const char* name, const std::vector<uint8_t>& bytes)
{
    std::string path = folder + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (file == NULL) {
        return 0;
    }
    int ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return (fclose(file) == 0) && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    FixtureImage grey = MakePatternImage(7, 5, {{8, 0, 1, 1}});
    FixtureImage deep = MakePatternImage(3, 4, {{12, 1, 1, 1}});
    FixtureImage sub = MakePatternImage(9, 6, {{8, 0, 1, 1}, {8, 0, 2, 2}, {8, 0, 2, 2}});
    FixtureImage tiled = MakePatternImage(16, 16, {{4, 0, 1, 1}, {4, 1, 1, 1}});
    tiled.tiled = 1;
    std::vector<uint8_t> greyCs = EncodeFixture(grey, "seed");
    std::vector<uint8_t> subCs = EncodeFixture(sub, NULL);
    std::vector<uint8_t> jpm = WrapJpm(subCs);
    FixtureImage rgb = MakePatternImage(6, 5, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    FixtureImage four = MakePatternImage(6, 5, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    std::vector<uint8_t> rgbCs = EncodeFixture(rgb, NULL);
    std::vector<uint8_t> fourCs = EncodeFixture(four, NULL);
    const double srgbPrimaries[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    std::vector<uint8_t> profile = ProfileColour(MakeTestProfile(2.2, srgbPrimaries));
    std::vector<uint8_t> premultiplied = ChannelDefinitions({{0, 0, 1}, {1, 0, 2}, {2, 0, 3}, {3, 2, 0}});
    // Layers of their own colour: a palette through a mapping, a chroma key, CIELab.
    std::vector<uint8_t> indexed = PaletteBoxes({7, 0x80 | 15, 37}, {{0, 1, 2}, {255, 0x8000, 1ull << 37}},
                                                {{0, 1, 0}, {0, 1, 1}, {0, 1, 2}});
    std::vector<uint8_t> keyedLab;
    AppendBox(&keyedLab, "chck", {3, 0, 0, 0});
    AppendBox(&keyedLab, "colr", EnumeratedColour(14, {}));
    std::vector<uint8_t> keyInOpacity;
    AppendBox(&keyInOpacity, "opct", {2, 3, 0, 0, 0});
    std::vector<uint8_t> registered; // codestreams 0 and 1, the second a pixel right and down
    AppendBox(&registered, "creg", {0, 1, 0, 1, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1});
    // A document whose page comes first, cut inside its second codestream:
    // composed as a file still arriving.
    std::vector<uint8_t> arriving =
        MakeJpm({{12, 10, 1, {{0, 0, 6, 5, {{1, rgbCs, 0, 0, 1, 0, 0}}}, {6, 5, 6, 5, {{2, fourCs, 0, 0, 1, 0, 0}}}}}}, 1);
    arriving.resize(arriving.size() - fourCs.size() / 3);
    int ok = WriteSeed(folder, "seed_grey.j2k", greyCs) &&
             WriteSeed(folder, "seed_deep.j2k", EncodeFixture(deep, NULL)) &&
             WriteSeed(folder, "seed_sub.jp2", WrapJp2Family(subCs, sub, "jp2 ")) &&
             WriteSeed(folder, "seed_tile_com.j2k", InsertTilePartComment(EncodeFixture(tiled, "t"), "tile")) &&
             WriteSeed(folder, "seed_jpx.jpx", WrapJp2Family(greyCs, grey, "jpx ")) &&
             WriteSeed(folder, "seed_mj2_ext.mj2", WrapMotion(greyCs, 1)) &&
             WriteSeed(folder, "seed_mj2_plain.mj2", WrapMotion(greyCs, 0)) &&
             WriteSeed(folder, "seed_jpm.jpm", jpm) &&
             WriteSeed(folder, "seed_jpm_long_boxes.jpm", ExtendBoxLength(ExtendBoxLength(jpm, 48), 32)) &&
             WriteSeed(folder, "seed_j3d.j3d", WrapJp2Family(greyCs, grey, "j3d ")) &&
             WriteSeed(folder, "seed_jph.jph", WrapJp2Family(rgbCs, rgb, "jph ")) &&
             WriteSeed(folder, "seed_sycc.jp2", WrapJp2Described(subCs, sub, "jp2 ", EnumeratedColour(18, {}), {})) &&
             WriteSeed(folder, "seed_cmyk.jp2", WrapJp2Described(fourCs, four, "jp2 ", EnumeratedColour(12, {}), {})) &&
             WriteSeed(folder, "seed_lab.jp2",
                       WrapJp2Described(rgbCs, rgb, "jp2 ", EnumeratedColour(14, {100, 0, 255, 128, 255, 128, 0x00443635}), {})) &&
             WriteSeed(folder, "seed_icc.jp2", WrapJp2Described(rgbCs, rgb, "jp2 ", profile, {})) &&
             WriteSeed(folder, "seed_rgba.jp2", WrapJp2Described(fourCs, four, "jp2 ", EnumeratedColour(16, {}), premultiplied)) &&
             WriteSeed(folder, "seed_rgba.j2k", fourCs) &&
             WriteSeed(folder, "seed_pages.jpm",
                       MakeJpm({{12, 10, 1, {{1, 1, 6, 5, {{1, greyCs, 0, 0, 1, 0, 0}, {0, greyCs, 0, 0, 1, 0, 0}}}}},
                                {8, 8, 2, {{0, 0, 8, 8, {{2, fourCs, 0, 0, 1, 0, 0}}}, {0, 0, 4, 4, {{0, greyCs, 0, 0, 2, 0, 0}}}}}})) &&
             WriteSeed(folder, "seed_composed.jpx",
                       MakeJpx(10, 8, 0, {{rgbCs, -1, 0, {}}, {fourCs, 1, 1, {}}},
                               {{0, 0, {{0, 0, 0, 0, 0, 0, 0, 0, 0}, {2, 1, 8, 6, 1, 1, 4, 3, 0}}}})) &&
             WriteSeed(folder, "seed_animated.jpx",
                       MakeJpx(8, 6, 255, {{greyCs, -1, 0, {}}, {greyCs, -1, 0, {}}, {greyCs, -1, 1, {}}},
                               {{0, 10, {{0, 0, 0, 0, 0, 0, 0, 0, 0x80000000u}}}, {1, 10, {{1, 1, 0, 0, 0, 0, 0, 0, 3}}}})) &&
             WriteSeed(folder, "seed_layer_colour.jpx",
                       MakeJpx(7, 5, 0, {{greyCs, -1, 0, indexed}, {rgbCs, -1, 0, keyedLab}},
                               {{0, 0, {{0, 0, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0, 0}}}})) &&
             WriteSeed(folder, "seed_codestream_headers.jpx",
                       MakeJpx(7, 5, 0, {{greyCs, -1, 0, {}}, {rgbCs, -1, 0, keyInOpacity}},
                               {{0, 0, {{0, 0, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0, 0}}}}, {indexed, {}})) &&
             WriteSeed(folder, "seed_registered.jpx",
                       MakeJpx(7, 5, 0, {{greyCs, -1, 0, registered}, {greyCs, -1, 0, {}}},
                               {{0, 0, {{0, 0, 0, 0, 0, 0, 0, 0, 0}}}})) &&
             WriteSeed(folder, "seed_fields.mj2", MakeMj2({greyCs, greyCs}, {1}, 25, 7, 10, 6)) &&
             WriteSeed(folder, "seed_arriving.jpm", arriving) &&
             WriteSeed(folder, "seed_track.mj2", MakeMj2({greyCs, greyCs, greyCs}, {1, 2, 3}, 25, 7, 5));
    return ok ? 0 : 1;
}
