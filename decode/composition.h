// Pictures composed of several codestreams: the pages of a JPM document,
// the composition and animation frames of a JPX file, the frames of a
// Motion JPEG 2000 video track. Platform-free, like the rest of decode/.
//
// Call order for one received file (kind from ClassifyFileKind):
//   1. DescribeComposedPicture(&picture, &failure, kind, data, length, 0)
//        -> how many pictures the file holds (picture.count: pages or
//           frames), whether they are pages, and picture 0's size, the
//           halvings it may be composed at, its duration and the loop count.
//        picture.composed == 0: the file shows its first codestream as
//        before (PlanDecode, DecodeLevelToPackedDib...); the functions
//        below still work for index 0 and give the same bitmap.
//   2. DescribeComposedPicture(..., index) for any other page or frame
//      (its size and duration; pages may differ in size).
//   3. ComposePictureToPackedDib(&dib, &notes, &failure, kind, data, length,
//        index, reduce, threadCount)
//        -> picture `index` at `reduce` halvings of both sides: a 24-bit
//           packed DIB of ceil(width / 2^reduce) x ceil(height / 2^reduce)
//           (a Motion JPEG 2000 frame: the bitmap its codestream decodes to,
//           or its two fields' bitmaps interlaced, the frame's rows at that level).
//           `notes` says what was left out (ComposeNoteExternalData).
// A player shows frame 0, then frame i + 1 after frame i's durationMs,
// `loops` times through (0: for ever); j2k2bmp writes exactly the bitmaps
// these functions give. Every function reads the caller's bytes in place
// (codestreams stored in fragments too), never past `length`, keeps no
// state between calls, checks every size before it allocates and prints
// nothing; failures are DecodeFailure values (jpeg2000.h).
#ifndef DECODE_COMPOSITION_H
#define DECODE_COMPOSITION_H

#include "jpeg2000.h"

#include <stdint.h>

struct ComposedPicture {
    int composed;        // 0: the file's first codestream, as DecodeLevelToPackedDib shows it
    int pages;           // 1: the pictures are the pages of a document, 0: frames (or one still)
    uint32_t count;      // pages or frames in the file, at least 1
    uint32_t width;      // of this picture at full resolution
    uint32_t height;
    int maxReduce;       // most halvings worth composing at
    uint32_t durationMs; // how long this frame shows; 0: a page, a still, or for ever
    uint32_t loops;      // times an animation plays; 0: for ever
};

// What composing left out of a picture.
enum {
    ComposeNoteExternalData = 1, // data held in other files (data references) is not fetched
};

// 1 when files of `kind` (a FileKind) may hold several pictures or compose
// one: only they need DescribeComposedPicture and ComposePictureToPackedDib;
// any other kind is its first codestream, picture 0.
int KindMayCompose(int kind);

// 1 with *pictureOut filled, or 0 with the reason in *failureOut (may be
// null); an index past the pictures fails with DecodeFailureArguments.
int DescribeComposedPicture(ComposedPicture* pictureOut, int* failureOut, int kind, const uint8_t* data,
                            int32_t length, uint32_t index);

// Picture `index` at `reduce` halvings (0 to 32) into a new packed DIB the
// caller frees (*dibOut null on failure); *notesOut (may be null) gets
// ComposeNote* flags. `threadCount` codec threads, 0 for the process-wide
// count. The composed bitmap counts against the sample cap as three
// samples a pixel: a larger one fails with DecodeFailureTooLarge.
int ComposePictureToPackedDib(uint8_t** dibOut, uint32_t* notesOut, int* failureOut, int kind, const uint8_t* data,
                              int32_t length, uint32_t index, int reduce, int threadCount);

// PlanDecode for picture `index`: a composed one's full size is the page's
// or composition's, its shown level the one ComposedShownReduce gives, no
// preview, three components. PlanDecode and DecodeLevelToPackedDib
// (jpeg2000.h) are these for picture 0, so a viewer shows a composed file's
// first page or frame without asking; DecodeRegionToPackedDib refuses a
// composed picture (DecodeFailureTooLarge).
int PlanPictureDecode(DecodePlan* planOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                      uint32_t index);

// The fewest halvings at which picture `picture` fits the sample cap (three
// samples a pixel): the level a viewer shows it at in full and j2k2bmp
// converts it at. 33 when no level fits.
int ComposedShownReduce(const ComposedPicture* picture);

#endif
