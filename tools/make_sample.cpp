// Renders the project's sample picture and writes it as a JP2 file with a comment.
#include "encode_image.h"

#include <math.h>
#include <stdio.h>
#include <string>

namespace {

const uint32_t kWidth = 640;
const uint32_t kHeight = 480;

int Clamp(double v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : (int)v);
}

// A sunset-coloured sky over rolling hills, with soft sun and ripples.
PlanarImage RenderSample()
{
    PlanarImage image = {kWidth, kHeight, std::vector<std::vector<int32_t>>(3, std::vector<int32_t>(kWidth * kHeight)), 0};
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            double fx = x / (double)kWidth, fy = y / (double)kHeight;
            double sun = exp(-((fx - 0.7) * (fx - 0.7) + (fy - 0.35) * (fy - 0.35)) * 60.0);
            double hill = 0.62 + 0.06 * sin(fx * 9.0) + 0.03 * sin(fx * 23.0 + 1.0);
            double r, g, b;
            if (fy < hill) {
                r = 250 - 60 * fy + 40 * sun;
                g = 120 + 150 * fy * fy + 90 * sun;
                b = 170 - 120 * fy + 30 * sun;
            } else {
                double ripple = 0.5 + 0.5 * sin(fx * 40.0 + fy * 70.0);
                r = 40 + 50 * ripple * (1 - fy);
                g = 110 + 60 * (1 - fy) + 25 * ripple;
                b = 70 + 40 * ripple;
            }
            size_t i = (size_t)y * kWidth + x;
            image.planes[0][i] = Clamp(r);
            image.planes[1][i] = Clamp(g);
            image.planes[2][i] = Clamp(b);
        }
    }
    return image;
}

// The picture as luma and 4:2:0 chroma (ITU-R BT.601 at full range), as
// cameras and motion files store it.
PlanarImage ToYcc420(const PlanarImage& rgb)
{
    uint32_t cw = (rgb.width + 1) / 2, ch = (rgb.height + 1) / 2;
    PlanarImage ycc = {rgb.width, rgb.height, {std::vector<int32_t>(rgb.planes[0].size()),
                                               std::vector<int32_t>(cw * ch), std::vector<int32_t>(cw * ch)}, 1};
    for (uint32_t y = 0; y < rgb.height; ++y) {
        for (uint32_t x = 0; x < rgb.width; ++x) {
            size_t i = (size_t)y * rgb.width + x;
            double r = rgb.planes[0][i], g = rgb.planes[1][i], b = rgb.planes[2][i];
            ycc.planes[0][i] = Clamp(0.299 * r + 0.587 * g + 0.114 * b + 0.5);
            if (x % 2 == 0 && y % 2 == 0) {
                size_t j = (size_t)(y / 2) * cw + x / 2;
                ycc.planes[1][j] = Clamp(128.5 - 0.168736 * r - 0.331264 * g + 0.5 * b);
                ycc.planes[2][j] = Clamp(128.5 + 0.5 * r - 0.418688 * g - 0.081312 * b);
            }
        }
    }
    return ycc;
}

} // namespace

// Usage: make_sample [--sycc420] [OUT.jp2]
int main(int argc, char** argv)
{
    bool ycc = argc > 1 && std::string(argv[1]) == "--sycc420";
    const char* path = argc > 1 + ycc ? argv[1 + ycc] : "sample.jp2";
    PlanarImage picture = ycc ? ToYcc420(RenderSample()) : RenderSample();
    if (!EncodeImageFile(path, picture, 20.0f, "Sunset over hills - sample image of the JPEG 2000 plug-in")) {
        fprintf(stderr, "make_sample: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
