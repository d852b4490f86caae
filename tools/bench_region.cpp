// Benchmark: a window's worth of a 50,000 x 50,000 tiled picture decoded at
// full resolution (DecodeRegionToPackedDib), its time and the peak memory it
// adds beyond the file's bytes, against the targets (under a second; within
// 64 MiB beyond the window's bitmap), for the viewer test's striped picture
// (lossless, pixels checked) and a textured one coded as photographs are
// (irreversible, 1:20). Linux only: the peak is the process's high-water
// mark, reset before each decode with freed memory returned first.
#include "jpeg2000.h"
#include "fixture_encoder.h"
#include "test_files.h"

#include <algorithm>
#include <chrono>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const uint32_t kSide = 50000;
const uint32_t kWindowWidth = 800;
const uint32_t kWindowHeight = 600;
const double kTargetSeconds = 1.0;
const double kTargetExtraMiB = 64.0;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A field of /proc/self/status in KiB ("VmHWM:", "VmRSS:"); 0 when absent.
double StatusMiB(const char* field)
{
    FILE* status = fopen("/proc/self/status", "r");
    char line[256];
    double kib = 0;
    while (status != NULL && fgets(line, sizeof line, status) != NULL) {
        if (strncmp(line, field, strlen(field)) == 0) {
            kib = atof(line + strlen(field));
        }
    }
    if (status != NULL) {
        fclose(status);
    }
    return kib / 1024.0;
}

// Makes the high-water mark start again from the present size.
void ResetPeak()
{
    FILE* refs = fopen("/proc/self/clear_refs", "w");
    if (refs != NULL) {
        fputs("5", refs);
        fclose(refs);
    }
}

// Noise over gentle ramps, different in each mosaic tile.
void FillTexture(uint8_t* samples, uint32_t, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height)
{
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t h = (x0 + x) * 2654435761u ^ (y0 + y) * 40503u;
            samples[(size_t)y * width + x] = (uint8_t)((x0 + x) / 16 + (y0 + y) / 8 + (h >> 11 & 63));
        }
    }
}

std::vector<uint8_t> LoadOrMakePicture(const std::string& path, int textured)
{
    std::vector<uint8_t> bytes = FileBytes(path);
    if (bytes.empty()) {
        double start = Now();
        bytes = textured ? EncodePlacedTiles(kSide, kSide, kStripedTileSide, kStripedTiles, FillTexture, 20.0f)
                         : EncodeStripedPicture(kSide, kSide);
        WriteFileBytes(path, bytes);
        printf("made %s: %ux%u grey in %u-pixel tiles, %.1f MB, in %.2f s\n", path.c_str(), kSide, kSide,
               kStripedTileSide, bytes.size() / 1e6, Now() - start);
    }
    return bytes;
}

// 1 when the bitmap holds the stripes of the tiles under `region`.
int ShowsTheTiles(const uint8_t* dib, const PictureRegion& level)
{
    uint32_t width = (uint32_t)dib[4] | (uint32_t)dib[5] << 8 | (uint32_t)dib[6] << 16 | (uint32_t)dib[7] << 24;
    uint32_t height = (uint32_t)dib[8] | (uint32_t)dib[9] << 8 | (uint32_t)dib[10] << 16 | (uint32_t)dib[11] << 24;
    uint32_t stride = (width + 3) / 4 * 4;
    const uint8_t* rows = PackedDibBits(dib);
    for (uint32_t y = 0; y < height; y += 37) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t px = level.left + x;
            uint32_t py = level.top + y;
            uint32_t tile = PlacedTile(px / kStripedTileSide, py / kStripedTileSide, kStripedTiles);
            if (rows[(size_t)(height - 1 - y) * stride + x] != StripedTileLevel(tile, px % kStripedTileSide)) {
                return 0;
            }
        }
    }
    return 1;
}

struct Worst {
    double seconds;
    double extraMiB;
};

// Times the three windows of one picture; 0 when a decode failed or showed
// other pixels than the striped picture's (`checked`).
int MeasurePicture(Worst* worst, const std::string& path, int textured)
{
    std::vector<uint8_t> file = LoadOrMakePicture(path, textured);
    int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    DecodePlan plan;
    if (file.empty() || !PlanDecode(&plan, NULL, kind, file.data(), (int32_t)file.size())) {
        fprintf(stderr, "bench_region: cannot read %s\n", path.c_str());
        return 0;
    }
    printf("%s: %ux%u, %.1f MB; shown within the cap at 1/%u scale (%ux%u)\n", path.c_str(), plan.fullWidth,
           plan.fullHeight, file.size() / 1e6, 1u << plan.shownReduce, plan.shownWidth, plan.shownHeight);
    // The window centred where four tiles meet (the most a window of this
    // size can touch), at the centre of the picture, and at its bottom-right
    // corner.
    uint32_t meet = kSide / 2 / kStripedTileSide * kStripedTileSide;
    const uint32_t centres[][2] = {{meet, meet}, {kSide / 2, kSide / 2}, {kSide - kWindowWidth / 2, kSide - kWindowHeight / 2}};
    double bitmapMiB = (kWindowWidth + 3) / 4 * 4 * (double)kWindowHeight / (1 << 20);
    for (const auto& centre : centres) {
        PictureRegion region = {centre[0] - kWindowWidth / 2, centre[1] - kWindowHeight / 2,
                                centre[0] + kWindowWidth / 2, centre[1] + kWindowHeight / 2};
        std::vector<double> times;
        double extra = 0;
        int shown = 1;
        for (int run = 0; run < 3; ++run) {
            malloc_trim(0);
            double base = StatusMiB("VmRSS:");
            ResetPeak();
            uint8_t* dib = NULL;
            PictureRegion level;
            int failure = 0;
            double start = Now();
            int ok = DecodeRegionToPackedDib(&dib, &level, &failure, kind, file.data(), (int32_t)file.size(), 0, region, 0);
            times.push_back(Now() - start);
            extra = std::max(extra, StatusMiB("VmHWM:") - base);
            shown = shown && ok && (textured || ShowsTheTiles(dib, level));
            free(dib);
        }
        std::sort(times.begin(), times.end());
        printf("  region %ux%u at (%u, %u), 100 %%: median %.3f s of 3, peak %.1f MiB beyond the file (bitmap %.2f MiB)%s\n",
               kWindowWidth, kWindowHeight, region.left, region.top, times[1], extra, bitmapMiB,
               shown ? "" : "  FAILED OR WRONG PIXELS");
        worst->seconds = std::max(worst->seconds, times[1]);
        worst->extraMiB = std::max(worst->extraMiB, extra - bitmapMiB);
        if (!shown) {
            return 0;
        }
    }
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string folder = argc > 1 ? argv[1] : ".";
    Worst worst = {0, 0};
    if (!MeasurePicture(&worst, folder + "/striped_50000.j2k", 0) ||
        !MeasurePicture(&worst, folder + "/textured_50000.j2k", 1)) {
        return 1;
    }
    printf("worst: %.3f s (target %.1f s, ratio %.2f); %.1f MiB beyond the bitmap (target %.0f MiB, ratio %.2f)\n",
           worst.seconds, kTargetSeconds, worst.seconds / kTargetSeconds, worst.extraMiB, kTargetExtraMiB,
           worst.extraMiB / kTargetExtraMiB);
    return 0;
}
