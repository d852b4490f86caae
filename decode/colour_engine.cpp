// Builds and runs LittleCMS transforms towards sRGB.
#include "colour_engine.h"

#include <lcms2.h>

#include <math.h>
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

// Sample colours on which a sampled matrix-shaper must agree with LittleCMS.
const uint8_t kCheckLevels[] = {0, 23, 64, 128, 191, 255};
const double kCheckTolerance = 2.0 / kLinearOne; // in linear light: the tables' own rounding
// Real primaries span a volume of about 0.1 to 0.5 of the cube their lengths
// make; below this the matrix cannot be inverted with any precision.
const double kMinimumColorantVolume = 1e-3;

// sRGB's transfer curve: the output of a grey profile keeps the tones of
// neutral colours on the sRGB side.
cmsHPROFILE CreateSrgbGreyProfile()
{
    const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(NULL, 4, srgb);
    cmsHPROFILE profile = curve != NULL ? cmsCreateGrayProfile(cmsD50_xyY(), curve) : NULL;
    cmsFreeToneCurve(curve);
    return profile;
}

// sRGB's primaries and white with linear curves.
cmsHPROFILE CreateLinearSrgbProfile()
{
    cmsToneCurve* linear = cmsBuildGamma(NULL, 1.0);
    cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = linear != NULL ? cmsCreateRGBProfile(&d65, &primaries, curves) : NULL;
    cmsFreeToneCurve(linear);
    return profile;
}

// The rendering intent a file's profile asks for in its header, as other
// viewers honour it (perceptual when the field holds none of the four).
cmsUInt32Number HeaderIntent(cmsHPROFILE profile)
{
    cmsUInt32Number intent = profile != NULL ? cmsGetHeaderRenderingIntent(profile) : INTENT_PERCEPTUAL;
    return intent <= INTENT_ABSOLUTE_COLORIMETRIC ? intent : INTENT_PERCEPTUAL;
}

// Joins two profiles and releases both; null when either is missing.
cmsHTRANSFORM Join(cmsHPROFILE in, cmsUInt32Number inFormat, cmsHPROFILE out, cmsUInt32Number outFormat,
                   cmsUInt32Number intent)
{
    cmsHTRANSFORM transform = NULL;
    if (in != NULL && out != NULL) {
        // No cache: a transform may be shared by the row threads.
        transform = cmsCreateTransform(in, inFormat, out, outFormat, intent, cmsFLAGS_NOCACHE);
    }
    if (in != NULL) {
        cmsCloseProfile(in);
    }
    if (out != NULL) {
        cmsCloseProfile(out);
    }
    return transform;
}

// 1 unless an RGB profile that LittleCMS would read as a matrix and curves
// has colorants that describe no colours: a singular or near-singular
// matrix (a zero colorant, two alike), or a white (their sum) that is not a
// colour. LittleCMS takes such a matrix as it is and turns every pixel into
// one flat colour; other viewers ignore the profile, and so do we.
int HasUsableColorants(cmsHPROFILE profile)
{
    if (cmsGetColorSpace(profile) != cmsSigRgbData || cmsIsTag(profile, cmsSigAToB0Tag) ||
        !cmsIsMatrixShaper(profile)) {
        return 1;
    }
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    cmsCIEXYZ columns[3];
    for (int i = 0; i < 3; ++i) {
        const cmsCIEXYZ* xyz = (const cmsCIEXYZ*)cmsReadTag(profile, tags[i]);
        if (xyz == NULL) {
            return 0;
        }
        columns[i] = *xyz;
    }
    // The determinant against the product of the colorants' lengths: the
    // volume of the colours they span, 1 for three at right angles.
    const cmsCIEXYZ &r = columns[0], &g = columns[1], &b = columns[2];
    double determinant = r.X * (g.Y * b.Z - g.Z * b.Y) - g.X * (r.Y * b.Z - r.Z * b.Y) + b.X * (r.Y * g.Z - r.Z * g.Y);
    double lengths = 1;
    for (int i = 0; i < 3; ++i) {
        lengths *= sqrt(columns[i].X * columns[i].X + columns[i].Y * columns[i].Y + columns[i].Z * columns[i].Z);
    }
    double whiteX = columns[0].X + columns[1].X + columns[2].X;
    double whiteY = columns[0].Y + columns[1].Y + columns[2].Y;
    double whiteZ = columns[0].Z + columns[1].Z + columns[2].Z;
    return lengths > 0 && fabs(determinant) / lengths > kMinimumColorantVolume && whiteX > 0 && whiteY > 0 &&
           whiteZ > 0;
}

// The profile when LittleCMS reads it, it has `channels` channels and its
// colorants, if any, describe colours.
cmsHPROFILE OpenProfile(const uint8_t* profile, uint32_t length, uint32_t channels)
{
    cmsHPROFILE in = cmsOpenProfileFromMem(profile, length);
    if (in != NULL && (cmsChannelsOf(cmsGetColorSpace(in)) != channels || !HasUsableColorants(in))) {
        cmsCloseProfile(in);
        in = NULL;
    }
    return in;
}

int32_t ToFixed(float linear)
{
    return (int32_t)lrintf(linear * kLinearOne);
}

// 1 when every sample colour's sum of tables is LittleCMS's linear colour.
int AgreesOnSampleColours(cmsHTRANSFORM transform, const SeparableProfile* separable)
{
    const size_t levels = sizeof(kCheckLevels);
    for (size_t i = 0; i < levels * levels * levels; ++i) {
        uint8_t in[3] = {kCheckLevels[i / (levels * levels)], kCheckLevels[i / levels % levels], kCheckLevels[i % levels]};
        float out[3];
        cmsDoTransform(transform, in, out, 1);
        for (int k = 0; k < 3; ++k) {
            int32_t sum = separable->black[k] + separable->tables[0][in[0]][k] + separable->tables[1][in[1]][k] +
                          separable->tables[2][in[2]][k];
            // Written so that a NaN from a broken profile disagrees too.
            if (!(fabs(out[k] - (double)sum / kLinearOne) <= kCheckTolerance)) {
                return 0;
            }
        }
    }
    return 1;
}

} // namespace

int SampleSeparableProfile(const uint8_t* profile, uint32_t length, SeparableProfile* separableOut)
{
    // Colour space "any" in, floats out: linear light beyond 0..1 is kept,
    // so colours outside sRGB still add up.
    cmsHPROFILE in = OpenProfile(profile, length, 3);
    cmsHTRANSFORM transform = Join(in, CHANNELS_SH(3) | BYTES_SH(1), CreateLinearSrgbProfile(), TYPE_BGR_FLT,
                                   HeaderIntent(in));
    if (transform == NULL) {
        return 0;
    }
    float black[3];
    const uint8_t none[3] = {0, 0, 0};
    cmsDoTransform(transform, none, black, 1);
    for (int k = 0; k < 3; ++k) {
        separableOut->black[k] = ToFixed(black[k]);
    }
    for (int c = 0; c < 3; ++c) {
        uint8_t in[3 * 256] = {0};
        float out[3 * 256];
        for (int v = 0; v < 256; ++v) {
            in[3 * v + c] = (uint8_t)v;
        }
        cmsDoTransform(transform, in, out, 256);
        for (int v = 0; v < 256; ++v) {
            for (int k = 0; k < 3; ++k) {
                separableOut->tables[c][v][k] = ToFixed(out[3 * v + k] - black[k]);
            }
        }
    }
    int agrees = AgreesOnSampleColours(transform, separableOut);
    cmsDeleteTransform(transform);
    return agrees;
}

void BuildSrgbEncoding(uint8_t* encodingOut)
{
    for (int32_t i = 0; i <= kLinearOne; ++i) {
        double linear = (double)i / kLinearOne;
        double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * pow(linear, 1 / 2.4) - 0.055;
        encodingOut[i] = (uint8_t)lrint(encoded * 255);
    }
}

ColourTransform CreateProfileTransform(const uint8_t* profile, uint32_t length, uint32_t channels)
{
    cmsHPROFILE in = OpenProfile(profile, length, channels);
    cmsUInt32Number intent = HeaderIntent(in);
    if (channels == 1) {
        return Join(in, CHANNELS_SH(1) | BYTES_SH(1), CreateSrgbGreyProfile(), TYPE_GRAY_8, intent);
    }
    return Join(in, CHANNELS_SH(channels) | BYTES_SH(1), cmsCreate_sRGBProfile(), TYPE_BGR_8, intent);
}

ColourTransform CreateLabTransform(uint32_t illuminant)
{
    const cmsCIExyY* white = cmsD50_xyY();
    for (size_t i = 0; i < sizeof(kIlluminants) / sizeof(kIlluminants[0]); ++i) {
        if (kIlluminants[i].code == illuminant) {
            white = &kIlluminants[i].white;
        }
    }
    return Join(cmsCreateLab4Profile(white), TYPE_Lab_FLT, cmsCreate_sRGBProfile(), TYPE_BGR_8, INTENT_PERCEPTUAL);
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
