// Internal: the readers of each composed kind, behind composition.cpp's
// table. Each yields a DecodeFailure value; a describe that finds nothing
// to compose (no page header, no composition box) leaves
// pictureOut->composed 0 for the first codestream to be shown as before.
#ifndef DECODE_COMPOSE_READERS_H
#define DECODE_COMPOSE_READERS_H

#include "composition.h"

#include <stdint.h>

struct ComposeRequest {
    const uint8_t* data;
    uint64_t length;
    uint32_t index;
    int reduce;
    int threads;
    int arriving; // 1: the file is still arriving; what has not come is left out
};

int DescribeJpmPage(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index);
int ComposeJpmPage(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request);

int DescribeJpxFrame(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index);
int ComposeJpxFrame(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request);

int DescribeMj2Frame(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index);
int ComposeMj2Frame(uint8_t** dibOut, uint32_t* notesOut, const ComposeRequest* request);
// Frame `index` of a track still arriving: described once each of its
// fields can be decoded in part, a failure until then.
int DescribeArrivingMj2Frame(ComposedPicture* pictureOut, const uint8_t* data, uint64_t length, uint32_t index);

// Halvings worth composing a picture at: while its shorter side stays at
// 64 pixels or more, at most 8.
int ComposedMaxReduce(uint32_t width, uint32_t height);

#endif
