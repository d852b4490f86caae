// Decides which components are colour and opacity and how the colour is read.
#include "picture_plan.h"
#include "byte_order.h"

#include <stddef.h>
#include <string.h>

namespace {

// OpenJPEG hands CIELab parameters over in place of a profile: nine native
// 32-bit words, the first the colour space number 14, with a length of 0.
const uint32_t kCielabEnumeration = 14;

struct ProfileSpace {
    uint32_t signature;
    uint32_t channels;
};

const ProfileSpace kProfileSpaces[] = {
    {0x47524159, 1}, // GRAY
    {0x52474220, 3}, // RGB
    {0x434D594B, 4}, // CMYK
    {0x434D5920, 3}, // CMY
    {0x59436272, 3}, // YCbr
    {0x4C616220, 3}, // Lab
    {0x58595A20, 3}, // XYZ
    {0x4C757620, 3}, // Luv
    {0x59787920, 3}, // Yxy
    {0x48535620, 3}, // HSV
    {0x484C5320, 3}, // HLS
};

struct SpaceModel {
    OPJ_COLOR_SPACE space;
    int model;
    uint32_t channels;
};

const SpaceModel kSpaceModels[] = {
    {OPJ_CLRSPC_SRGB, ColourRgb, 3},
    {OPJ_CLRSPC_GRAY, ColourGrey, 1},
    {OPJ_CLRSPC_SYCC, ColourYcc, 3},
    {OPJ_CLRSPC_EYCC, ColourYcc, 3},
    {OPJ_CLRSPC_CMYK, ColourCmyk, 4},
};

int SameGrid(const opj_image_comp_t* a, const opj_image_comp_t* b)
{
    return a->dx == b->dx && a->dy == b->dy && a->x0 == b->x0 && a->y0 == b->y0 && a->w == b->w &&
           a->h == b->h && a->factor == b->factor;
}

int SubsampledAgainstFirst(const opj_image_t* image, uint32_t c)
{
    return image->comps[c].dx > image->comps[0].dx || image->comps[c].dy > image->comps[0].dy;
}

int HasCielabParameters(const opj_image_t* image)
{
    uint32_t enumeration = 0;
    if (image->icc_profile_buf == NULL || image->icc_profile_len != 0) {
        return 0;
    }
    memcpy(&enumeration, image->icc_profile_buf, sizeof(enumeration));
    return enumeration == kCielabEnumeration;
}

// Model and channel count the file's colour information asks for.
void ChooseModel(const opj_image_t* image, uint32_t colourComponents, int* modelOut, uint32_t* channelsOut)
{
    uint32_t profileChannels = IccProfileChannels(image->icc_profile_buf, image->icc_profile_len);
    if (profileChannels != 0 && profileChannels <= colourComponents) {
        *modelOut = ColourIcc;
        *channelsOut = profileChannels;
        return;
    }
    if (HasCielabParameters(image) && colourComponents >= 3) {
        *modelOut = ColourLab;
        *channelsOut = 3;
        return;
    }
    // Luma with two chroma components on one coarser grid is YCbCr, as other
    // decoders take it, when the file says nothing (a raw codestream, the
    // codestream of a motion or compound file) or says sRGB: writers label
    // such data sRGB, and RGB is not stored with two colours subsampled alike.
    int saysRgbOrNothing = image->color_space == OPJ_CLRSPC_SRGB || image->color_space == OPJ_CLRSPC_UNKNOWN ||
                           image->color_space == OPJ_CLRSPC_UNSPECIFIED;
    if (saysRgbOrNothing && image->numcomps == 3 && colourComponents == 3 && SubsampledAgainstFirst(image, 1) &&
        image->comps[1].dx == image->comps[2].dx && image->comps[1].dy == image->comps[2].dy) {
        *modelOut = ColourYcc;
        *channelsOut = 3;
        return;
    }
    for (size_t i = 0; i < sizeof(kSpaceModels) / sizeof(kSpaceModels[0]); ++i) {
        if (kSpaceModels[i].space == image->color_space && kSpaceModels[i].channels <= colourComponents) {
            *modelOut = kSpaceModels[i].model;
            *channelsOut = kSpaceModels[i].channels;
            return;
        }
    }
    *modelOut = colourComponents >= 3 ? ColourRgb : ColourGrey;
    *channelsOut = colourComponents >= 3 ? 3 : 1;
}

} // namespace

uint32_t IccProfileChannels(const uint8_t* profile, uint32_t length)
{
    // 128-byte header; the data colour space is at byte 16, big-endian.
    if (profile == NULL || length < 128) {
        return 0;
    }
    uint32_t signature = ReadBig32(profile + 16);
    for (size_t i = 0; i < sizeof(kProfileSpaces) / sizeof(kProfileSpaces[0]); ++i) {
        if (kProfileSpaces[i].signature == signature) {
            return kProfileSpaces[i].channels;
        }
    }
    return 0;
}

void PlanPicture(const opj_image_t* image, PicturePlan* planOut)
{
    PicturePlan plan;
    memset(&plan, 0, sizeof(plan));
    // Channel definitions (applied by OpenJPEG) mark each component as
    // colour (0), opacity (1), premultiplied opacity (2) or unspecified.
    uint32_t colourComponents[4];
    uint32_t colourFound = 0;
    int marked = 0;
    for (uint32_t c = 0; c < image->numcomps; ++c) {
        OPJ_UINT16 role = image->comps[c].alpha;
        if (role == 0 && colourFound < 4) {
            colourComponents[colourFound++] = c;
        } else if ((role == 1 || role == 2) && plan.opacityKind == OpacityNone) {
            plan.opacityKind = role == 1 ? OpacityPlain : OpacityPremultiplied;
            plan.opacity = c;
        }
        marked |= role != 0;
    }
    if (colourFound == 0) {
        // Only opacity or unspecified components: the first one is the picture.
        colourComponents[colourFound++] = 0;
        plan.opacityKind = OpacityNone;
    }
    ChooseModel(image, colourFound, &plan.model, &plan.colourCount);
    memcpy(plan.colour, colourComponents, sizeof(plan.colour[0]) * plan.colourCount);
    // Without channel definitions one component more than the colour needs,
    // of the same size, is opacity (grey plus opacity, RGBA), as other
    // decoders take it; components beyond colour and opacity are ignored.
    if (!marked && image->numcomps == plan.colourCount + 1 &&
        SameGrid(&image->comps[plan.colourCount], &image->comps[0])) {
        uint32_t c = 1;
        while (c < image->numcomps && SameGrid(&image->comps[c], &image->comps[0])) {
            ++c;
        }
        if (c == image->numcomps) {
            plan.opacityKind = OpacityPlain;
            plan.opacity = plan.colourCount;
        }
    }
    plan.bitCount = plan.model == ColourGrey || (plan.model == ColourIcc && plan.colourCount == 1) ? 8 : 24;

    int fast = (plan.model == ColourGrey || plan.model == ColourRgb) && plan.opacityKind == OpacityNone;
    for (uint32_t i = 0; fast && i < plan.colourCount; ++i) {
        const opj_image_comp_t* comp = &image->comps[plan.colour[i]];
        fast = SameGrid(comp, &image->comps[0]) &&
               (plan.model == ColourGrey || (!comp->sgnd && comp->prec >= 8 && comp->prec <= 32));
    }
    plan.fastPath = fast;
    *planOut = plan;
}
