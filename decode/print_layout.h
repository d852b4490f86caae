// Where a picture goes on a printed page and which of its levels is decoded
// for it: fitted into the printable area with its aspect kept and centred,
// or at the size the file states when that fits; the level the smallest
// one with at least the printer's dots across the printed size. From sizes
// alone, before any sample is decoded.
#ifndef DECODE_PRINT_LAYOUT_H
#define DECODE_PRINT_LAYOUT_H

#include <stdint.h>

// The part of the paper the printer can print on, in its dots, and how many
// dots an inch holds across and down.
struct PrinterPage {
    int32_t printableWidth;
    int32_t printableHeight;
    int32_t dotsPerInchX;
    int32_t dotsPerInchY;
};

// The picture: its full size, the levels that may be decoded (minReduce is
// the plan's shownReduce, maxReduce its maxReduce), and the resolution the
// file states (pixels per metre; 0 when it states none: square pixels of no
// stated size).
struct PrintedPicture {
    uint32_t fullWidth;
    uint32_t fullHeight;
    int minReduce;
    int maxReduce;
    double pixelsPerMetreX;
    double pixelsPerMetreY;
};

// In dots from the printable area's top-left corner; reduce is the level to
// decode; atStatedSize is 1 when the picture prints at the size the file
// states.
struct PrintLayout {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    int reduce;
    int atStatedSize;
};

// 1 with *layoutOut filled; 0 for an empty page or picture.
int PlanPrintLayout(PrintLayout* layoutOut, const PrinterPage* page, const PrintedPicture* picture);

// 1 when the picture is wider than tall as it would print (its stated
// resolution taken into account): it is then offered across the paper.
int PrintsAcross(const PrintedPicture* picture);

#endif
