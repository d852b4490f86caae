// Internal: the LittleCMS work the conversion needs, behind plain handles
// and tables.
#ifndef DECODE_COLOUR_ENGINE_H
#define DECODE_COLOUR_ENGINE_H

#include <stdint.h>

// Linear light is held in fixed point: kLinearOne is full intensity.
const int32_t kLinearOne = 1 << 14;

// A matrix-shaper conversion, sampled: the linear-light sRGB colour of
// bytes (r, g, b) is black + tables[0][r] + tables[1][g] + tables[2][b],
// each entry blue, green, red.
struct SeparableProfile {
    int32_t black[3];
    int32_t tables[3][256][3];
};

// Samples a three-channel profile's conversion to sRGB (perceptual intent)
// into *separableOut when that conversion is a matrix-shaper one (checked
// on sample colours against LittleCMS's own result); 0 otherwise.
int SampleSeparableProfile(const uint8_t* profile, uint32_t length, SeparableProfile* separableOut);

// sRGB bytes of linear light 0..kLinearOne (kLinearOne + 1 entries).
void BuildSrgbEncoding(uint8_t* encodingOut);

// A transform run from several threads at once, null when LittleCMS refuses
// it: from `channels` interleaved bytes in the profile's colour space to sRGB
// grey bytes (a grey profile) or blue, green, red bytes.
typedef void* ColourTransform;
ColourTransform CreateProfileTransform(const uint8_t* profile, uint32_t length, uint32_t channels);

// From CIELab floats (L* 0..100, a*, b*) under the illuminant of a colr box
// ("\0D50" and the like; others are taken as D50) to sRGB blue, green, red bytes.
ColourTransform CreateLabTransform(uint32_t illuminant);

void RunColourTransform(ColourTransform transform, const void* in, void* out, uint32_t pixels);
void DeleteColourTransform(ColourTransform transform);

#endif
