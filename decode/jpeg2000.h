// Platform-free JPEG 2000 reading: file-kind detection, decoding into a packed
// Windows DIB, and collection of codestream comments. Shared by the plug-in
// DLL and the native j2k2bmp tool.
//
// Call order for one received file (the functions taking a kind take the one
// found in step 1, so the bytes are classified once):
//   1. ClassifyFileKind(data, length)            -> what the bytes are
//   2. DecodeToPackedDibOfKind(&dib, ..., kind, data, length)
//                                                -> owned PackedDib or failure
//      (or PlanDecode, then DecodeReducedToPackedDib for the preview and the
//      picture shown, for a caller that shows a preview first, and
//      DecodeRegionToPackedDib for a part of it at a finer level)
//   3. ExtractCodestreamCommentsOfKind(&buf, &n, kind, data, length)
// DecodeToPackedDib and ExtractCodestreamComments classify for themselves.
// A JPM, JPX or Motion JPEG 2000 file that composes its pictures (pages,
// a composition, frames) is planned and decoded as its first composed
// picture, at the size the file gives it (decode/composition.h has the
// others).
// Every function reads the caller's bytes in place, never past `length`,
// keeps no state between calls and prints nothing.
#ifndef DECODE_JPEG2000_H
#define DECODE_JPEG2000_H

#include <stdint.h>

// Signed classification of received bytes; the numbers follow the ISO/IEC
// 15444 part that defines each format.
enum {
    FileKindInvalid = -1,
    FileKindCodestream = 0,
    FileKindJp2 = 1,
    FileKindJpx = 2,
    FileKindMj2 = 3,
    FileKindJpm = 6,
    FileKindJ3d = 10,
    FileKindJph = 15,
    FileKindUnclassified = 255,
};

// Where a box search landed: the box's length in bytes, header included
// (the extended 64-bit length when the length field is 1; 0 when the box
// runs to the end of the file), its header's size (8, or 16 with an extended
// length; its contents start there) and its first byte in the caller's data.
struct BoxLocation {
    uint64_t length;
    uint32_t headerLength;
    const uint8_t* start;
};

int HasJpeg2000Signature(const uint8_t* data, uint32_t length);
int ClassifyFileKind(const uint8_t* data, uint32_t length);
int FindTopLevelBox(BoxLocation* location, uint32_t boxType, const uint8_t* data, uint32_t length);
uint32_t CodestreamOffset(const uint8_t* data, uint32_t length);
// The same for bytes already classified as `kind`.
uint32_t CodestreamOffsetOfKind(int kind, const uint8_t* data, uint32_t length);

// On success *dibOut is a malloc'ed packed DIB (BITMAPINFOHEADER, grey
// palette for 8-bit images, bottom-up rows padded to 4 bytes) that the caller
// frees; on failure it is null and nothing stays allocated.
int DecodeToPackedDib(uint8_t** dibOut, const uint8_t* data, int32_t length);
int PackedDibPaletteSize(const uint8_t* dib);
// The first pixel row of a packed DIB: past its header and palette.
const uint8_t* PackedDibBits(const uint8_t* dib);

// Why a decode failed, for callers that tell the user more than "failed".
enum {
    DecodeFailureNone = 0,
    DecodeFailureArguments = 1,     // null pointer or negative length
    DecodeFailureNotJpeg2000 = 2,   // no signature, or kind not recognised
    DecodeFailureKindNotDecoded = 3, // recognised but not decoded (JP3D)
    DecodeFailureCorrupt = 4,       // the codec refused the data
    DecodeFailureTooLarge = 5,      // bitmap or decoded samples past the limits
    DecodeFailureOutOfMemory = 6,
    DecodeFailureDecoderStopped = 7,  // the decoder process ended (crashed or killed) during the decode
    DecodeFailureTimedOut = 8,        // the decode passed its time limit and was stopped
};

// DecodeToPackedDib with the reason of a failure in *failureOut (may be null).
int DecodeToPackedDibDetailed(uint8_t** dibOut, int* failureOut, const uint8_t* data, int32_t length);
// The same for bytes already classified as `kind` by ClassifyFileKind.
int DecodeToPackedDibOfKind(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length);

// The reason in a few words ("not a JPEG 2000 file"): English, or Japanese
// where `japanese` is set (stored in the build's execution character set,
// code page 932 in the plug-in); never null.
const char* DescribeDecodeFailure(int failure, int japanese);

// What decoding a file will show, from its header alone. A picture whose
// bitmap would pass the sample cap is shown `shownReduce` halvings of both
// sides smaller (the largest resolution that fits); a large shown picture
// has a preview `previewReduce` halvings smaller (at most 1/16 of its
// pixels), 0 when none is worth making.
struct DecodePlan {
    uint32_t fullWidth;
    uint32_t fullHeight;
    uint32_t shownWidth;
    uint32_t shownHeight;
    int shownReduce;
    int previewReduce;
    // Halvings the codestream holds (its fewest resolution levels - 1), and
    // what a decode at any level allocates per pixel: the component count
    // and the bitmap's bits per pixel (8 or 24).
    int maxReduce;
    uint32_t componentCount;
    uint32_t bitCount;
};

// 1 with *planOut filled, or 0 with the reason in *failureOut (may be null);
// `kind` is what ClassifyFileKind gave for the bytes.
int PlanDecode(DecodePlan* planOut, int* failureOut, int kind, const uint8_t* data, int32_t length);

// The level a view needs: the largest reduce in [minReduce, maxReduce]
// whose size (ceil(full / 2^reduce) on each axis) still covers viewWidth x
// viewHeight on both axes; minReduce when even that one does not. minReduce
// is the plan's shownReduce, maxReduce its maxReduce.
int ChooseViewReduce(uint32_t fullWidth, uint32_t fullHeight, uint32_t viewWidth, uint32_t viewHeight, int minReduce,
                     int maxReduce);

// Size of one axis of a picture `full` pixels long at `reduce` halvings
// (0 to 63): ceil(full / 2^reduce), as the codec rounds it.
uint64_t LevelExtent(uint64_t full, int reduce);

// The most memory a decode of the planned picture at `reduce` halvings takes
// at once, from the header alone: the codec's samples (4 bytes each), the
// bitmap, and the compressed bytes the codec copies. Saturates, never wraps.
uint64_t PlannedDecodeBytes(const DecodePlan* plan, int reduce, uint32_t compressedBytes);
// The bitmap's part of it (rows padded to 4 bytes).
uint64_t PlannedBitmapBytes(const DecodePlan* plan, int reduce);

// The finest level of the planned picture a decode under `sampleLimit`
// samples can give, whose planned peak (PlannedDecodeBytes) fits
// `budgetBytes`: samples are counted as every component on the full grid,
// never fewer than the codec allocates, so the decode's own check of the cap
// passes; never coarser than the plan's shownReduce (which a cap no wider
// than the plan's own gives back).
int ChooseFullReduce(const DecodePlan* plan, uint64_t sampleLimit, uint64_t budgetBytes, uint32_t compressedBytes);

// DecodeToPackedDibDetailed at `reduce` halvings of both sides (0 to 32);
// the codec then allocates that resolution only. DecodeToPackedDibDetailed
// is PlanDecode followed by this at plan.shownReduce.
int DecodeReducedToPackedDib(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                             int reduce);

// DecodeReducedToPackedDib with `threadCount` codec threads for this decode
// alone (0: the process-wide count below).
int DecodeLevelToPackedDib(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                           int reduce, int threadCount);

// For a file still arriving: how many of the `length` bytes received so far
// the codec may be given. The boxes before the codestream and its main
// header must be whole, then every tile-part whose header is whole counts,
// the last one possibly cut inside its data; 0 while no tile data can be
// vouched for. `kind` is what ClassifyFileKind gave for the bytes. A JPM
// or JPX file counts nothing before a codestream box has begun (its header
// boxes are then whole); a composed file counts all `length` bytes once its
// picture 0 is laid out, each codestream in it measured as it is composed.
uint32_t MeasureDecodablePrefix(int kind, const uint8_t* data, uint32_t length);

// Where a measure of a file still arriving got to, so that the next one
// reads only the bytes that came since: zero-filled for a new file.
struct PrefixMeasure {
    int32_t found;        // the codestream's start is known
    int32_t kind;         // of the file measured
    uint32_t codestream;  // where the codestream starts in the file
    uint64_t pos;         // from there: the first tile-part not wholly received (0: main header not whole)
    uint64_t vouched;     // codestream bytes vouched for before pos
};

// MeasureDecodablePrefix of (data, length), resuming from *measure, which
// earlier calls left for the first bytes of the same file (as many or fewer).
uint32_t MeasureDecodablePrefixFrom(PrefixMeasure* measure, int kind, const uint8_t* data, uint32_t length);

// DecodeLevelToPackedDib of the part of a file received so far: decodes the
// MeasureDecodablePrefix of (data, length) with the codec accepting a cut
// codestream. What has not arrived shows as zero samples (black, or grey for
// signed samples); the bitmap has the size of the whole picture at `reduce`.
// A file that composes its pictures gives its picture 0 composed of what
// has come (composition.h), once the boxes that lay it out are whole.
// DecodeFailureCorrupt when nothing can be decoded or drawn yet.
int DecodePrefixToPackedDib(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                            int reduce, int threadCount);

// A rectangle of the picture: columns [left, right) of rows [top, bottom),
// in pixels of a resolution level (of the full resolution unless said).
struct PictureRegion {
    uint32_t left;
    uint32_t top;
    uint32_t right;
    uint32_t bottom;
};

// The part of the picture inside `region` (full-resolution pixels, clipped
// to the picture) at `reduce` halvings, as DecodeReducedToPackedDib shows
// that part: a packed DIB of the part alone. The codec reads and allocates
// only the tiles and code-blocks the region touches, so memory follows the
// region, not the picture, and the sample cap applies to the region. On
// success *levelOut (may be null) is where the bitmap lies in the level:
// the level pixels covering the region (its corners rounded outwards), the
// top-left corner moved back onto the grid of subsampled chroma, so that
// every pixel has its own colour. A region outside the picture fails with
// DecodeFailureArguments. `threadCount` as for DecodeLevelToPackedDib.
int DecodeRegionToPackedDib(uint8_t** dibOut, PictureRegion* levelOut, int* failureOut, int kind,
                            const uint8_t* data, int32_t length, int reduce, PictureRegion region, int threadCount);

// Codec worker threads per decode; 0 (the default) means one per core.
// Process-wide; the bitmap is the same whatever the count.
void SetDecodeThreadCount(int threadCount);

// Cap on the total number of decoded samples (all components) that a decode
// may allocate, checked from the header before any sample is decoded; a
// larger picture is decoded at the largest reduced resolution within it.
// 0 restores the default (2^27 samples, 512 MiB of codec sample memory).
void SetDecodeSampleLimit(uint32_t sampleLimit);
uint32_t DecodeSampleLimit();
int PackedDibSize(const uint8_t* dib);
// A packed DIB (8-bit with palette, 24- or 32-bit, either row order) shrunk
// to width x height, neither larger than its own, each pixel the mean of the
// area it covers: a 24-bit packed DIB in the same row order, placed as the
// decode functions place theirs (ReleaseBitmapBlock). 0 for other bitmaps,
// sizes or no memory.
int ShrinkPackedDib(uint8_t** dibOut, const uint8_t* dib, uint32_t width, uint32_t height);

// Where the bitmaps the decode functions return are placed: malloc'ed and
// freed with free() unless a process sets its own place (a decoder process
// puts each in a section it hands to the plug-in). Process-wide, set before
// any decode; null functions restore malloc and free.
typedef uint8_t* (*AllocateBitmapFunction)(uint32_t size);
typedef void (*ReleaseBitmapFunction)(uint8_t* block);
void SetBitmapAllocator(AllocateBitmapFunction allocate, ReleaseBitmapFunction release);
// A block from that place, and its release (null is fine).
uint8_t* AllocateBitmapBlock(uint32_t size);
void ReleaseBitmapBlock(uint8_t* block);

// The 14-byte BITMAPFILEHEADER that turns a PackedDib into a .bmp file.
void BuildBitmapFileHeader(uint8_t headerOut[14], const uint8_t* dib);

// The resolution a JP2-family file states for its picture, in pixels per
// metre across (X) and down (Y): the default display resolution of the
// header's "res " box, else its capture resolution. 1 with both filled; 0
// with both 0 when the file states none (a codestream, no box, a zero or
// implausible field, a box cut short).
struct PictureResolution {
    double pixelsPerMetreX;
    double pixelsPerMetreY;
};
int ReadPictureResolution(PictureResolution* resolutionOut, int kind, const uint8_t* data, uint32_t length);

// Main-header COM payloads, concatenated and zero-terminated; null and 0 when
// there are none. The caller frees the buffer.
int ExtractCodestreamComments(uint8_t** bufferOut, uint32_t* countOut, const uint8_t* data, uint32_t length);
// The same for bytes already classified as `kind` by ClassifyFileKind.
int ExtractCodestreamCommentsOfKind(uint8_t** bufferOut, uint32_t* countOut, int kind, const uint8_t* data,
                                    uint32_t length);

#endif
