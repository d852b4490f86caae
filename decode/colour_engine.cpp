// Builds and runs LittleCMS transforms towards sRGB.
#include "colour_engine.h"

#include <lcms2.h>

#include <stddef.h>

namespace {

struct IlluminantWhite {
    uint32_t code; // the colr box's illuminant field, e.g. "\0D65"
    cmsCIExyY white;
};

const IlluminantWhite kIlluminants[] = {
    {0x00443635, {0.3127, 0.3290, 1.0}}, // D65
    {0x00443735, {0.2990, 0.3149, 1.0}}, // D75
    {0x00443535, {0.3324, 0.3474, 1.0}}, // D55
};

// sRGB's transfer curve: the output of a grey profile keeps the same tones
// as neutral colours on the sRGB side.
cmsHPROFILE CreateSrgbGreyProfile()
{
    const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(NULL, 4, srgb);
    cmsHPROFILE profile = curve != NULL ? cmsCreateGrayProfile(cmsD50_xyY(), curve) : NULL;
    cmsFreeToneCurve(curve);
    return profile;
}

// Joins two profiles and releases both; null when either is missing.
ColourTransform Join(cmsHPROFILE in, cmsUInt32Number inFormat, cmsHPROFILE out, cmsUInt32Number outFormat)
{
    cmsHTRANSFORM transform = NULL;
    if (in != NULL && out != NULL) {
        // No cache: the transform is shared by the row threads.
        transform = cmsCreateTransform(in, inFormat, out, outFormat, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
    }
    if (in != NULL) {
        cmsCloseProfile(in);
    }
    if (out != NULL) {
        cmsCloseProfile(out);
    }
    return transform;
}

} // namespace

ColourTransform CreateProfileTransform(const uint8_t* profile, uint32_t length, uint32_t channels, uint32_t bytesPerSample)
{
    cmsHPROFILE in = cmsOpenProfileFromMem(profile, length);
    if (in == NULL) {
        return NULL;
    }
    if (cmsChannelsOf(cmsGetColorSpace(in)) != channels || (bytesPerSample != 1 && bytesPerSample != 2)) {
        cmsCloseProfile(in);
        return NULL;
    }
    // Colour space "any": the profile says what the channels are.
    cmsUInt32Number inFormat = CHANNELS_SH(channels) | BYTES_SH(bytesPerSample);
    if (channels == 1) {
        return Join(in, inFormat, CreateSrgbGreyProfile(), TYPE_GRAY_8);
    }
    return Join(in, inFormat, cmsCreate_sRGBProfile(), TYPE_BGR_8);
}

ColourTransform CreateLabTransform(uint32_t illuminant)
{
    const cmsCIExyY* white = cmsD50_xyY();
    for (size_t i = 0; i < sizeof(kIlluminants) / sizeof(kIlluminants[0]); ++i) {
        if (kIlluminants[i].code == illuminant) {
            white = &kIlluminants[i].white;
        }
    }
    return Join(cmsCreateLab4Profile(white), TYPE_Lab_FLT, cmsCreate_sRGBProfile(), TYPE_BGR_8);
}

void RunColourTransform(ColourTransform transform, const void* in, void* out, uint32_t pixels)
{
    cmsDoTransform((cmsHTRANSFORM)transform, in, out, pixels);
}

void DeleteColourTransform(ColourTransform transform)
{
    if (transform != NULL) {
        cmsDeleteTransform((cmsHTRANSFORM)transform);
    }
}
