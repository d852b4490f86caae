// Renders the project's sample picture and writes it as a JP2 file with a comment.
#include "encode_image.h"

#include <math.h>
#include <stdio.h>

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
    PlanarImage image = {kWidth, kHeight, std::vector<std::vector<int32_t>>(3, std::vector<int32_t>(kWidth * kHeight))};
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

} // namespace

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "sample.jp2";
    if (!EncodeImageFile(path, RenderSample(), 20.0f, "Sunset over hills - sample image of the JPEG 2000 plug-in")) {
        fprintf(stderr, "make_sample: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
