// ICC profiles made by LittleCMS for test and benchmark files.
#include "test_profile.h"

#include <lcms2.h>

std::vector<uint8_t> MakeTestProfile(double gamma, const double* primaries, uint32_t deviceClass)
{
    cmsToneCurve* curve = cmsBuildGamma(NULL, gamma);
    cmsHPROFILE profile = NULL;
    if (primaries == NULL) {
        profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    } else {
        cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
        cmsCIExyYTRIPLE xyY = {{primaries[0], primaries[1], 1.0}, {primaries[2], primaries[3], 1.0},
                               {primaries[4], primaries[5], 1.0}};
        cmsToneCurve* curves[3] = {curve, curve, curve};
        profile = cmsCreateRGBProfile(&d65, &xyY, curves);
    }
    if (deviceClass != 0) {
        cmsSetDeviceClass(profile, (cmsProfileClassSignature)deviceClass);
    }
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, NULL, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}
