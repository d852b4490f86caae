// Command-line converter: JPEG 2000 file to .bmp (a composed page or frame too), or its kind, size and comments.
#include "composition.h"
#include "jpeg2000.h"
#include "kind_names.h"

#include <lcms2.h>
#include <openjpeg.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const uint8_t kNoBytes[1] = {0};

// Data pointer of a file's bytes; an empty file is still a (wrong) file, not a null pointer.
const uint8_t* BytesOf(const std::vector<uint8_t>& bytes)
{
    return bytes.empty() ? kNoBytes : bytes.data();
}

int ReportFailure(const char* path, const char* what)
{
    fprintf(stderr, "j2k2bmp: %s: %s\n", path, what);
    return 0;
}

// Whole file into *bytesOut; on failure one line on stderr and 0.
int ReadWholeFile(const char* path, std::vector<uint8_t>* bytesOut)
{
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        return ReportFailure(path, errno == ENOENT ? "file not found" : strerror(errno));
    }
    int ok = 1;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) {
        if (bytesOut->size() + got > 0x7FFFFFFFu) {
            ok = ReportFailure(path, "file too large");
            break;
        }
        bytesOut->insert(bytesOut->end(), chunk, chunk + got);
    }
    if (ok && ferror(file)) {
        ok = ReportFailure(path, strerror(errno));
    }
    fclose(file);
    return ok;
}

// Which page or frame to convert (--page N, --frame N).
uint32_t gPictureIndex = 0;

// A page or frame of a composed file at the level that fits the cap.
int ComposeFile(const char* path, const std::vector<uint8_t>& bytes, int kind, const ComposedPicture* picture,
                uint8_t** dibOut)
{
    int failure = DecodeFailureNone;
    uint32_t notes = 0;
    int reduce = ComposedShownReduce(picture);
    if (!ComposePictureToPackedDib(dibOut, &notes, &failure, kind, BytesOf(bytes), (int32_t)bytes.size(),
                                   gPictureIndex, reduce, 0)) {
        return ReportFailure(path, DescribeDecodeFailure(failure, 0));
    }
    if (reduce > 0) {
        uint32_t width = (uint32_t)(((uint64_t)picture->width + (1ull << reduce) - 1) >> reduce);
        uint32_t height = (uint32_t)(((uint64_t)picture->height + (1ull << reduce) - 1) >> reduce);
        printf("scale: 1/%u (%ux%u shown of %ux%u)\n", 1u << reduce, width, height, picture->width, picture->height);
    }
    if (notes & ComposeNoteExternalData) {
        fprintf(stderr, "j2k2bmp: %s: data held in other files is left out\n", path);
    }
    return 1;
}

// Decodes or reports why not. A picture past the sample cap comes at a
// reduced scale, which is reported on stdout.
int DecodeFile(const char* path, const std::vector<uint8_t>& bytes, uint8_t** dibOut,
               ComposedPicture* pictureOut = NULL)
{
    int failure = DecodeFailureNone;
    DecodePlan plan;
    ComposedPicture picture;
    int kind = ClassifyFileKind(BytesOf(bytes), (uint32_t)bytes.size());
    if (!DescribeComposedPicture(&picture, &failure, kind, BytesOf(bytes), (int32_t)bytes.size(), gPictureIndex)) {
        return ReportFailure(path, gPictureIndex != 0 && failure == DecodeFailureArguments
                                       ? "no such page or frame"
                                       : DescribeDecodeFailure(failure, 0));
    }
    if (pictureOut != NULL) {
        *pictureOut = picture;
    }
    if (picture.composed) {
        return ComposeFile(path, bytes, kind, &picture, dibOut);
    }
    if (!PlanDecode(&plan, &failure, kind, BytesOf(bytes), (int32_t)bytes.size()) ||
        !DecodeReducedToPackedDib(dibOut, &failure, kind, BytesOf(bytes), (int32_t)bytes.size(), plan.shownReduce)) {
        return ReportFailure(path, DescribeDecodeFailure(failure, 0));
    }
    if (plan.shownReduce > 0) {
        printf("scale: 1/%u (%ux%u shown of %ux%u)\n", 1u << plan.shownReduce, plan.shownWidth, plan.shownHeight,
               plan.fullWidth, plan.fullHeight);
    }
    return 1;
}

// Writes header + DIB under a temporary name and renames it into place, so a
// failed run never leaves a partial bitmap behind.
int WriteBitmapFile(const char* path, const uint8_t* dib)
{
    uint8_t header[14];
    BuildBitmapFileHeader(header, dib);
    std::string partial = std::string(path) + ".partial";
    FILE* file = fopen(partial.c_str(), "wb");
    if (file == NULL) {
        return ReportFailure(path, strerror(errno));
    }
    size_t size = (size_t)PackedDibSize(dib);
    int ok = fwrite(header, 1, 14, file) == 14 && fwrite(dib, 1, size, file) == size;
    ok = (fclose(file) == 0) && ok;
    if (ok && rename(partial.c_str(), path) != 0) {
        ok = 0;
    }
    if (!ok) {
        int saved = errno;
        remove(partial.c_str());
        return ReportFailure(path, saved != 0 ? strerror(saved) : "write failed");
    }
    return 1;
}

int RunConvert(const char* input, const char* output)
{
    std::vector<uint8_t> bytes;
    uint8_t* dib = NULL;
    int ok = ReadWholeFile(input, &bytes) && DecodeFile(input, bytes, &dib) && WriteBitmapFile(output, dib);
    free(dib);
    return ok;
}

int RunInfo(const char* input)
{
    std::vector<uint8_t> bytes;
    uint8_t* dib = NULL;
    uint8_t* comments = NULL;
    uint32_t commentCount = 0;
    ComposedPicture picture;
    int ok = ReadWholeFile(input, &bytes) && DecodeFile(input, bytes, &dib, &picture);
    if (ok && !ExtractCodestreamComments(&comments, &commentCount, BytesOf(bytes), (uint32_t)bytes.size())) {
        ok = ReportFailure(input, "comments cannot be read");
    }
    if (ok) {
        int kind = ClassifyFileKind(BytesOf(bytes), (uint32_t)bytes.size());
        printf("file kind: %d (%s)\n", kind, NameFileKind(kind));
        printf("width: %d\n", (int)(dib[4] | dib[5] << 8 | dib[6] << 16 | (uint32_t)dib[7] << 24));
        printf("height: %d\n", (int)(dib[8] | dib[9] << 8 | dib[10] << 16 | (uint32_t)dib[11] << 24));
        printf("bits per pixel: %d\n", dib[14] | dib[15] << 8);
        printf("comment bytes: %u\n", commentCount);
        if (picture.composed) {
            printf("%s: %u\n", picture.pages ? "pages" : "frames", picture.count);
            printf("composed size: %ux%u\n", picture.width, picture.height);
        }
        if (picture.composed && !picture.pages) {
            printf("duration: %u ms\nloops: %u\n", picture.durationMs, picture.loops);
        }
    }
    free(comments);
    free(dib);
    return ok;
}

int RunComments(const char* input)
{
    std::vector<uint8_t> bytes;
    uint8_t* comments = NULL;
    uint32_t count = 0;
    int ok = ReadWholeFile(input, &bytes);
    if (ok && !ExtractCodestreamComments(&comments, &count, BytesOf(bytes), (uint32_t)bytes.size())) {
        ok = ReportFailure(input, "not a JPEG 2000 file");
    }
    if (ok && count != 0 && fwrite(comments, 1, count, stdout) != count) {
        ok = ReportFailure("<stdout>", strerror(errno));
    }
    free(comments);
    return ok;
}

// The codec's versions as linked (both are static: what ships is what runs).
int PrintVersions()
{
    int lcms = cmsGetEncodedCMMversion();
    printf("OpenJPEG %s\nLittleCMS %d.%d", opj_version(), lcms / 1000, lcms % 1000 / 10);
    if (lcms % 10 != 0) {
        printf(".%d", lcms % 10);
    }
    printf("\n");
    return 0;
}

int Usage()
{
    fprintf(stderr,
            "usage: j2k2bmp [--max-samples N] [--page N | --frame N] INPUT OUTPUT.bmp\n"
            "       j2k2bmp [--max-samples N] [--page N | --frame N] --info INPUT\n"
            "       j2k2bmp --comments INPUT\n"
            "       j2k2bmp --version\n"
            "--max-samples: cap on decoded samples (default %u, the plug-in's); a larger\n"
            "picture is converted at the largest reduced scale within it\n"
            "--page, --frame: the page of a JPM document or the frame of a JPX\n"
            "animation or Motion JPEG 2000 track to convert, counted from 0\n",
            DecodeSampleLimit());
    return 2;
}

// A count from the command line; 0 when malformed.
int ParseCount(const char* text, unsigned long* valueOut)
{
    char* end = NULL;
    errno = 0;
    *valueOut = strtoul(text, &end, 10);
    return errno == 0 && end != text && *end == 0 && *valueOut <= 0xFFFFFFFFul && text[0] != '-';
}

// Reads "--max-samples N", "--page N" and "--frame N" off the front of the
// arguments; 0 when one is malformed.
int TakeOptions(int* argc, char*** argv)
{
    while (*argc >= 3) {
        const char* option = (*argv)[1];
        unsigned long value = 0;
        int samples = strcmp(option, "--max-samples") == 0;
        int picture = strcmp(option, "--page") == 0 || strcmp(option, "--frame") == 0;
        if (!samples && !picture) {
            return 1;
        }
        if (!ParseCount((*argv)[2], &value) || (samples && value == 0)) {
            return 0;
        }
        if (samples) {
            SetDecodeSampleLimit((uint32_t)value);
        } else {
            gPictureIndex = (uint32_t)value;
        }
        *argc -= 2;
        *argv += 2;
    }
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        return PrintVersions();
    }
    if (!TakeOptions(&argc, &argv) || argc != 3) {
        return Usage();
    }
    int ok;
    if (strcmp(argv[1], "--info") == 0) {
        ok = RunInfo(argv[2]);
    } else if (strcmp(argv[1], "--comments") == 0) {
        ok = RunComments(argv[2]);
    } else if (argv[1][0] == '-' && argv[1][1] == '-') {
        return Usage();
    } else {
        ok = RunConvert(argv[1], argv[2]);
    }
    return ok ? 0 : 1;
}
