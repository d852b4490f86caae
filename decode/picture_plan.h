// Internal: what a decoded image shows, read from the components and the
// colour information OpenJPEG hands over with it.
#ifndef DECODE_PICTURE_PLAN_H
#define DECODE_PICTURE_PLAN_H

#include <openjpeg.h>
#include <stdint.h>

// How the colour components become sRGB.
enum ColourModel {
    ColourGrey = 0,  // one component, shown as it is
    ColourRgb = 1,   // three components, shown as they are
    ColourYcc = 2,   // sYCC or e-sYCC luma and chroma
    ColourCmyk = 3,  // cyan, magenta, yellow, black without a profile
    ColourLab = 4,   // CIELab with the ranges and offsets of the file
    ColourIcc = 5,   // any profile LittleCMS takes, image->icc_profile_buf
};

enum OpacityKind {
    OpacityNone = 0,
    OpacityPlain = 1,
    OpacityPremultiplied = 2,
};

struct PicturePlan {
    int model;               // ColourModel
    uint32_t colourCount;    // components in colour[]: 1, 3 or 4
    uint32_t colour[4];      // component indices, in the model's channel order
    int opacityKind;         // OpacityKind
    uint32_t opacity;        // component index when opacityKind != OpacityNone
    uint32_t bitCount;       // 8 (one colour channel) or 24
    int fastPath;            // 1: samples go to the bitmap as they are (see PlanPicture)
};

// Reads what the image shows. Never fails: what cannot be understood falls
// back to grey or RGB from the first components. fastPath is set when the
// bitmap is the components' bytes alone: grey or RGB, no opacity, every
// used component on component 0's grid, RGB components unsigned of 8 bits
// or more.
void PlanPicture(const opj_image_t* image, PicturePlan* planOut);

// Channels a profile's data colour space has (0 when the header is unusable).
uint32_t IccProfileChannels(const uint8_t* profile, uint32_t length);

#endif
