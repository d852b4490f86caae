// Benchmark: DecodeToPackedDib (default threads) against OpenJPEG alone on one thread.
#include "jpeg2000.h"
#include "encode_image.h"
#include "image_to_dib.h"
#include "memory_stream.h"

#include <openjpeg.h>

#include <chrono>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <thread>
#include <vector>

namespace {

const uint32_t kSide = 4000;
const int kRuns = 5;

void IgnoreMessage(const char*, void*)
{
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Plain OpenJPEG decode (header included) of a raw codestream with `threads`
// worker threads (0: none, all on the calling thread).
opj_image_t* DecodeWithOpenJpeg(const std::vector<uint8_t>& bytes, int threads)
{
    MemoryStream view;
    opj_stream_t* stream = OpenMemoryStream(&view, bytes.data(), bytes.size());
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_set_info_handler(codec, IgnoreMessage, NULL);
    opj_set_warning_handler(codec, IgnoreMessage, NULL);
    opj_set_error_handler(codec, IgnoreMessage, NULL);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_setup_decoder(codec, &parameters);
    opj_codec_set_threads(codec, threads);
    opj_image_t* image = NULL;
    if (!opj_read_header(stream, codec, &image) || !opj_decode(codec, stream, image) ||
        !opj_end_decompress(codec, stream)) {
        opj_image_destroy(image);
        image = NULL;
    }
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return image;
}

// A photo-like test picture: smooth colour fields, rings and fine texture.
PlanarImage MakeBenchImage()
{
    PlanarImage image = {kSide, kSide, std::vector<std::vector<int32_t>>(3, std::vector<int32_t>((size_t)kSide * kSide))};
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
            noise = noise * 1103515245u + 12345u;
            double fx = x / (double)kSide, fy = y / (double)kSide;
            double ring = sin(sqrt((fx - 0.5) * (fx - 0.5) + (fy - 0.4) * (fy - 0.4)) * 90.0);
            int grain = (int)((noise >> 16) % 41) - 20;
            int values[3] = {(int)(128 + 90 * ring * fx) + grain, (int)(255 * fy * (1 - fx)) + grain / 2,
                             (int)(128 + 100 * sin(fx * 31 + fy * 17)) - grain};
            for (int c = 0; c < 3; ++c) {
                int v = values[c];
                image.planes[c][(size_t)y * kSide + x] = v < 0 ? 0 : (v > 255 ? 255 : v);
            }
        }
    }
    return image;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == NULL) {
        return false;
    }
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) {
        out->insert(out->end(), chunk, chunk + n);
    }
    fclose(f);
    return !out->empty();
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = argc > 1 ? argv[1] : "bench_4000x4000.j2k";
    if (argc > 2) {
        SetDecodeThreadCount(atoi(argv[2])); // for exploring; default: one per core
    }
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, &bytes)) {
        printf("generating %s (4000 x 4000, 3 components, lossy 10:1)...\n", path.c_str());
        if (!EncodeImageFile(path.c_str(), MakeBenchImage(), 10.0f, "benchmark image") || !ReadFile(path, &bytes)) {
            fprintf(stderr, "bench_decode: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    printf("input: %s, %zu bytes\n", path.c_str(), bytes.size());

    double best = 1e9, bestSingle = 1e9, bestConvert = 1e9, bestThreaded = 1e9;
    int cores = (int)std::thread::hardware_concurrency();
    for (int run = 0; run < kRuns; ++run) {
        uint8_t* dib = NULL;
        double t0 = Now();
        int ok = DecodeToPackedDib(&dib, bytes.data(), (int32_t)bytes.size());
        double t1 = Now();
        free(dib);
        if (!ok) {
            fprintf(stderr, "bench_decode: DecodeToPackedDib failed\n");
            return 1;
        }
        best = t1 - t0 < best ? t1 - t0 : best;

        t0 = Now();
        opj_image_t* image = DecodeWithOpenJpeg(bytes, 0);
        t1 = Now();
        bestSingle = t1 - t0 < bestSingle ? t1 - t0 : bestSingle;
        if (image == NULL) {
            fprintf(stderr, "bench_decode: OpenJPEG decode failed\n");
            return 1;
        }
        opj_image_destroy(image);
        t0 = Now();
        image = DecodeWithOpenJpeg(bytes, cores > 0 ? cores : 1);
        t1 = Now();
        bestThreaded = t1 - t0 < bestThreaded ? t1 - t0 : bestThreaded;
        if (image == NULL) {
            return 1;
        }
        t0 = Now();
        ConvertImageToPackedDib(&dib, image);
        t1 = Now();
        bestConvert = t1 - t0 < bestConvert ? t1 - t0 : bestConvert;
        free(dib);
        opj_image_destroy(image);
    }
    printf("DecodeToPackedDib, default threads:   %.3f s\n", best);
    printf("OpenJPEG alone, one thread:            %.3f s\n", bestSingle);
    printf("ratio (target <= 0.65):                %.3f\n", best / bestSingle);
    printf("OpenJPEG alone, %d threads:             %.3f s\n", cores, bestThreaded);
    printf("DIB conversion:                        %.3f s\n", bestConvert);
    printf("conversion share of total (target < 10%%): %.1f%%\n", 100.0 * bestConvert / best);
    return 0;
}
