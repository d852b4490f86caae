// Internal: the LittleCMS transforms the conversion uses, behind plain handles.
#ifndef DECODE_COLOUR_ENGINE_H
#define DECODE_COLOUR_ENGINE_H

#include <stdint.h>

// A transform made once per picture and run from several threads at once;
// null when the profile or parameters cannot be used.
typedef void* ColourTransform;

// From `channels` interleaved samples of 1 or 2 bytes (bytesPerSample) in
// the profile's colour space to sRGB as blue, green, red bytes, or to sRGB
// grey bytes when the profile is a grey one. Perceptual intent.
ColourTransform CreateProfileTransform(const uint8_t* profile, uint32_t length, uint32_t channels, uint32_t bytesPerSample);

// From CIELab floats (L* 0..100, a*, b*) under the given illuminant
// (a colr box's "D50"-style field) to sRGB blue, green, red bytes.
ColourTransform CreateLabTransform(uint32_t illuminant);

void RunColourTransform(ColourTransform transform, const void* in, void* out, uint32_t pixels);
void DeleteColourTransform(ColourTransform transform);

#endif
