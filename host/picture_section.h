// A bitmap a decoder process made, left in the section it filled: its header
// and palette copied into this process and checked once, its rows read
// through read-only views of a few MB one after another, so that a picture
// larger than this process could map at once still reaches a file or the
// clipboard. The decoder may change the pixels later, never the sizes.
//
// Call order:
//   TakePictureSection(&picture, section, reply, kind)  a queue worker, for a
//                                 checked reply (decoder_pool.cpp)
//   ReadPictureSection(picture, sink, context)   any number of times
//   FreePictureSection(picture)   whoever holds it: the record's picture part,
//                                 until the command that asked for it ends
#ifndef HOST_PICTURE_SECTION_H
#define HOST_PICTURE_SECTION_H

#include <stdint.h>

#include "decode/admission.h"
#include "host/plugin.h"

struct JobReply;

// The views' size (a multiple of any allocation granularity), as admission
// charges such a bitmap.
const uint32_t PictureViewBytes = BitmapViewBytes;

struct PictureSection {
    HANDLE handle;       // this process's handle of the section
    uint8_t* head;       // malloc'ed: the header and palette, checked
    uint32_t headBytes;
    uint32_t bytes;      // the whole packed DIB, header included
};

// Takes over `section` (closed on failure too), which holds the packed DIB
// a checked reply names: DecodeFailureNone with *pictureOut malloc'ed,
// DecodeFailureOutOfMemory when no room is left here even for a view, or
// DecodeFailureDecoderStopped when the section is not what the reply said.
int TakePictureSection(PictureSection** pictureOut, HANDLE section, const JobReply* reply, int32_t kind);

// The packed DIB to `sink` in order: the header and palette from this
// process's copy, then the rows a view at a time; 0 when a view could not be
// mapped or the sink refused.
int ReadPictureSection(const PictureSection* picture, PictureBytesSink sink, void* context);

// Null is fine.
void FreePictureSection(PictureSection* picture);

#endif
