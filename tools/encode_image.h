// Writes planar 8-bit images as JPEG 2000 files with OpenJPEG (tools only).
#ifndef TOOLS_ENCODE_IMAGE_H
#define TOOLS_ENCODE_IMAGE_H

#include <stdint.h>
#include <vector>

struct PlanarImage {
    uint32_t width;
    uint32_t height;
    std::vector<std::vector<int32_t>> planes; // unsigned 8-bit samples, raster order
    // 1: planes 1 and 2 are chroma subsampled by 2 both ways (holding that
    // many samples) and the file says sYCC.
    int ycc420;
};

// Encodes `image` to `path` (.jp2 as a JP2 file, otherwise a raw codestream),
// irreversible at compression ratio `ratio` or lossless when ratio is 0, with
// `comment` (may be null) as the main-header COM text. 1 on success.
int EncodeImageFile(const char* path, const PlanarImage& image, float ratio, const char* comment);

#endif
