// ICC profiles made by LittleCMS for test and benchmark files.
#include "test_profile.h"

#include <lcms2.h>

namespace {

cmsHPROFILE CreateRgbProfile(cmsToneCurve* curve, const double* primaries)
{
    cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE xyY = {{primaries[0], primaries[1], 1.0}, {primaries[2], primaries[3], 1.0},
                           {primaries[4], primaries[5], 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    return cmsCreateRGBProfile(&d65, &xyY, curves);
}

// The profile's bytes with `deviceClass` (when not 0) in its header; closes it.
std::vector<uint8_t> SaveProfile(cmsHPROFILE profile, uint32_t deviceClass)
{
    if (deviceClass != 0) {
        cmsSetDeviceClass(profile, (cmsProfileClassSignature)deviceClass);
    }
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, NULL, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

} // namespace

std::vector<uint8_t> MakeTestProfile(double gamma, const double* primaries, uint32_t deviceClass)
{
    cmsToneCurve* curve = cmsBuildGamma(NULL, gamma);
    cmsHPROFILE profile = primaries == NULL ? cmsCreateGrayProfile(cmsD50_xyY(), curve) : CreateRgbProfile(curve, primaries);
    cmsFreeToneCurve(curve);
    return SaveProfile(profile, deviceClass);
}

std::vector<uint8_t> MakeColorantProfile(double gamma, const double colorants[9], uint32_t deviceClass)
{
    const double srgb[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    cmsToneCurve* curve = cmsBuildGamma(NULL, gamma);
    cmsHPROFILE profile = CreateRgbProfile(curve, srgb);
    cmsFreeToneCurve(curve);
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (int i = 0; i < 3; ++i) {
        cmsCIEXYZ xyz = {colorants[3 * i], colorants[3 * i + 1], colorants[3 * i + 2]};
        cmsWriteTag(profile, tags[i], &xyz);
    }
    return SaveProfile(profile, deviceClass);
}
