// Benchmark: DecodeToPackedDib (default threads) against OpenJPEG alone on one
// thread, for plain RGB, sYCC 4:2:0 and ICC-profiled RGB pictures; or, with
// --decode FILE, DecodeToPackedDib of that file alone, as the display
// benchmark times it in the DLL (median of three).
#include "jpeg2000.h"
#include "encode_image.h"
#include "fixture_encoder.h"
#include "test_files.h"
#include "test_profile.h"
#include "image_to_dib.h"
#include "memory_stream.h"

#include <openjpeg.h>

#include <algorithm>
#include <chrono>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <string>
#include <thread>
#include <vector>

namespace {

const uint32_t kSide = 4000;

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
    opj_codec_t* codec = opj_create_decompress(bytes[0] == 0xFF ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
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
    PlanarImage image = {kSide, kSide, std::vector<std::vector<int32_t>>(3, std::vector<int32_t>((size_t)kSide * kSide)), 0};
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

// The bench picture as luma and 4:2:0 chroma (BT.601), lossy 10:1, in a
// JP2 file that says sYCC.
std::vector<uint8_t> MakeYccFile()
{
    PlanarImage rgb = MakeBenchImage();
    FixtureImage image = MakePatternImage(kSide, kSide, {{8, 0, 1, 1}, {8, 0, 2, 2}, {8, 0, 2, 2}});
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
            size_t k = (size_t)y * kSide + x;
            double r = rgb.planes[0][k], g = rgb.planes[1][k], b = rgb.planes[2][k];
            image.samples[0][k] = (int32_t)(0.299 * r + 0.587 * g + 0.114 * b + 0.5);
            if (x % 2 == 0 && y % 2 == 0) {
                size_t j = (size_t)(y / 2) * (kSide / 2) + x / 2;
                image.samples[1][j] = (int32_t)(128 - 0.168736 * r - 0.331264 * g + 0.5 * b + 0.5);
                image.samples[2][j] = (int32_t)(128 + 0.5 * r - 0.418688 * g - 0.081312 * b + 0.5);
            }
        }
    }
    image.lossy = 1;
    image.rate = 10;
    return WrapJp2Described(EncodeFixture(image, NULL), image, "jp2 ", EnumeratedColour(18, {}), {});
}

// The bench picture in a JP2 file with a wide-gamut RGB profile (gamma 2.2),
// lossy 10:1.
std::vector<uint8_t> MakeProfiledFile()
{
    PlanarImage rgb = MakeBenchImage();
    FixtureImage image = MakePatternImage(kSide, kSide, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    image.samples = rgb.planes;
    image.lossy = 1;
    image.rate = 10;
    const double wideGamut[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
    std::vector<uint8_t> icc = MakeTestProfile(2.2, wideGamut);
    return WrapJp2Described(EncodeFixture(image, NULL), image, "jp2 ", ProfileColour(icc), {});
}

// Processor time of the whole process (all threads), which a busy machine
// disturbs less than the wall clock.
double ProcessorSeconds()
{
    return (double)clock() / CLOCKS_PER_SEC;
}

// The decode's and the conversion's threads when the command line sets them.
int gThreadCount = 0;

struct Figures {
    double decode, single, threaded, convert;
    double decodeCpu, convertCpu;
};

// Best of `runs` for each figure, or false when a decode fails.
bool TimePath(const std::vector<uint8_t>& bytes, int runs, Figures* best)
{
    *best = Figures{1e9, 1e9, 1e9, 1e9, 1e9, 1e9};
    int cores = (int)std::thread::hardware_concurrency();
    for (int run = 0; run < runs; ++run) {
        uint8_t* dib = NULL;
        double c0 = ProcessorSeconds();
        double t0 = Now();
        int ok = DecodeToPackedDib(&dib, bytes.data(), (int32_t)bytes.size());
        double t1 = Now();
        double c1 = ProcessorSeconds();
        free(dib);
        if (!ok) {
            return false;
        }
        best->decode = t1 - t0 < best->decode ? t1 - t0 : best->decode;
        best->decodeCpu = c1 - c0 < best->decodeCpu ? c1 - c0 : best->decodeCpu;

        t0 = Now();
        opj_image_t* image = DecodeWithOpenJpeg(bytes, 0);
        t1 = Now();
        best->single = t1 - t0 < best->single ? t1 - t0 : best->single;
        opj_image_destroy(image);
        t0 = Now();
        image = DecodeWithOpenJpeg(bytes, cores > 0 ? cores : 1);
        t1 = Now();
        best->threaded = t1 - t0 < best->threaded ? t1 - t0 : best->threaded;
        if (image == NULL) {
            return false;
        }
        c0 = ProcessorSeconds();
        t0 = Now();
        PackImageToDib(&dib, image, gThreadCount > 0 ? gThreadCount : cores > 0 ? cores : 1, NULL, 0);
        t1 = Now();
        c1 = ProcessorSeconds();
        best->convert = t1 - t0 < best->convert ? t1 - t0 : best->convert;
        best->convertCpu = c1 - c0 < best->convertCpu ? c1 - c0 : best->convertCpu;
        free(dib);
        opj_image_destroy(image);
    }
    return true;
}

// The file at path, made by `make` and written there on first use.
bool LoadOrMake(const std::string& path, std::vector<uint8_t> (*make)(), std::vector<uint8_t>* bytes)
{
    if (ReadFileBytes(path, bytes)) {
        return true;
    }
    printf("generating %s...\n", path.c_str());
    *bytes = make();
    return !bytes->empty() && WriteFileBytes(path, *bytes);
}

std::vector<uint8_t> MakePlainFile()
{
    std::vector<uint8_t> bytes;
    const char* scratch = "bench_plain.tmp.j2k";
    if (EncodeImageFile(scratch, MakeBenchImage(), 10.0f, "benchmark image")) {
        ReadFileBytes(scratch, &bytes);
    }
    remove(scratch);
    return bytes;
}

// The native side of the DLL / native ratio: same file, same call, same median.
int TimeDecodeAlone(const char* path)
{
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes)) {
        fprintf(stderr, "bench_decode: cannot read %s\n", path);
        return 1;
    }
    const int runs = 3;
    double times[runs];
    for (int i = 0; i < runs; ++i) {
        uint8_t* dib = NULL;
        double start = Now();
        int ok = DecodeToPackedDib(&dib, bytes.data(), (int32_t)bytes.size());
        times[i] = Now() - start;
        free(dib);
        if (!ok) {
            fprintf(stderr, "bench_decode: decoding %s failed\n", path);
            return 1;
        }
    }
    std::sort(times, times + runs);
    printf("DecodeToPackedDib alone: %.1f ms (median of %d)\n", times[runs / 2] * 1000, runs);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--decode") == 0) {
        return TimeDecodeAlone(argv[2]);
    }
    std::string path = argc > 1 ? argv[1] : "bench_4000x4000.j2k";
    if (argc > 2) {
        gThreadCount = atoi(argv[2]); // for exploring; default: one per core
        SetDecodeThreadCount(gThreadCount);
    }
    std::string stem = path.substr(0, path.rfind('.'));
    struct Path {
        const char* name;
        std::string file;
        std::vector<uint8_t> (*make)();
        int runs;
    } paths[] = {
        {"plain RGB (codestream, 3 x 8-bit, lossy 10:1)", path, MakePlainFile, 5},
        {"sYCC 4:2:0 (JP2)", stem + "_sycc420.jp2", MakeYccFile, 3},
        {"RGB with an ICC profile (JP2)", stem + "_icc.jp2", MakeProfiledFile, 3},
    };
    int cores = (int)std::thread::hardware_concurrency();
    for (const Path& p : paths) {
        std::vector<uint8_t> bytes;
        Figures best;
        if (!LoadOrMake(p.file, p.make, &bytes)) {
            fprintf(stderr, "bench_decode: cannot make %s\n", p.file.c_str());
            return 1;
        }
        if (!TimePath(bytes, p.runs, &best)) {
            fprintf(stderr, "bench_decode: decoding %s failed\n", p.file.c_str());
            return 1;
        }
        printf("== %s: %s, %zu bytes, 4000 x 4000\n", p.name, p.file.c_str(), bytes.size());
        printf("DecodeToPackedDib, default threads:   %.3f s\n", best.decode);
        printf("OpenJPEG alone, one thread:            %.3f s\n", best.single);
        printf("ratio (target <= 0.65 for plain RGB):  %.3f\n", best.decode / best.single);
        printf("OpenJPEG alone, %d threads:             %.3f s\n", cores, best.threaded);
        printf("DIB conversion:                        %.3f s\n", best.convert);
        printf("conversion share of total (target < 10%%): %.1f%%\n", 100.0 * best.convert / best.decode);
        printf("same in processor time (all threads):  %.3f of %.3f s, %.1f%%\n", best.convertCpu, best.decodeCpu,
               100.0 * best.convertCpu / best.decodeCpu);
    }
    return 0;
}
