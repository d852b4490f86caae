// A compositing layer's channels rebuilt from its decoded components: a
// palette's columns looked up by index, and a chroma key's colour made clear.
#include "compose_layers.h"
#include "byte_order.h"
#include "codestream_image.h"
#include "jpeg2000.h"
#include "picture_plan.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t kMappingBytes = 4;     // component (2), mapping type (1), palette column (1)
const uint32_t kWidestStoredBits = 32; // deeper palette entries keep their top 32 bits
const uint32_t kDeepestEntryBits = 38;
const uint32_t kMostChannels = 16384;  // more than any colour model reads

// A palette box read in place: `entries` rows of `columns` values.
struct Palette {
    uint32_t entries;
    uint32_t columns;
    const uint8_t* depths; // per column: bits - 1, 0x80 when signed
    const uint8_t* rows;
    uint32_t rowBytes;
};

uint32_t ColumnBits(const Palette* palette, uint32_t column)
{
    return (palette->depths[column] & 0x7F) + 1;
}

uint32_t ColumnBytes(const Palette* palette, uint32_t column)
{
    return (ColumnBits(palette, column) + 7) / 8;
}

int ReadPalette(Palette* out, const uint8_t* pclr, uint64_t length)
{
    if (length < 3) {
        return 0;
    }
    out->entries = ReadBig16(pclr);
    out->columns = pclr[2];
    out->depths = pclr + 3;
    out->rows = pclr + 3 + out->columns;
    out->rowBytes = 0;
    if (out->entries == 0 || out->columns == 0 || length < 3ull + out->columns) {
        return 0;
    }
    for (uint32_t c = 0; c < out->columns; ++c) {
        if (ColumnBits(out, c) > kDeepestEntryBits) {
            return 0;
        }
        out->rowBytes += ColumnBytes(out, c);
    }
    return (length - 3 - out->columns) / out->rowBytes >= out->entries;
}

// Entry `entry` of column `column`, sign-extended, cut to its top 32 bits
// when deeper, so that its 8-bit level is what its own depth gives.
int32_t PaletteValue(const Palette* palette, uint32_t entry, uint32_t column)
{
    const uint8_t* at = palette->rows + (uint64_t)entry * palette->rowBytes;
    for (uint32_t c = 0; c < column; ++c) {
        at += ColumnBytes(palette, c);
    }
    uint64_t raw = 0;
    for (uint32_t b = 0; b < ColumnBytes(palette, column); ++b) {
        raw = raw << 8 | at[b];
    }
    uint32_t bits = ColumnBits(palette, column);
    raw &= bits >= 64 ? UINT64_MAX : (1ull << bits) - 1;
    int64_t value = (int64_t)raw;
    if ((palette->depths[column] & 0x80) && (raw >> (bits - 1)) != 0) {
        value = (int64_t)(raw | ~((1ull << bits) - 1));
    }
    return (int32_t)(bits > kWidestStoredBits ? value >> (bits - kWidestStoredBits) : value);
}

// Where a rebuilt channel takes its samples from.
enum ChannelSource {
    ChannelMoved = 0,   // component `component` as it is
    ChannelLookedUp = 1, // column `column` of the palette at component `component`'s indices
    ChannelOpacity = 2, // `given` samples (handed over), 8-bit opacity on component `component`'s grid
};

struct ChannelRecipe {
    int source;
    uint32_t component;
    uint32_t column;
    OPJ_INT32* given;
};

uint64_t SampleCount(const opj_image_comp_t* comp)
{
    return (uint64_t)comp->w * comp->h;
}

// Room for a component's samples: null (a failure) only when there is none.
OPJ_INT32* AllocateSamples(const opj_image_comp_t* comp)
{
    uint64_t bytes = SampleCount(comp) * sizeof(OPJ_INT32);
    return bytes == 0 || bytes > SIZE_MAX ? NULL : (OPJ_INT32*)opj_image_data_alloc((size_t)bytes);
}

// Every index is held to the palette's rows, as the plain-file path holds it.
int LookUpChannel(opj_image_comp_t* to, const opj_image_comp_t* from, const Palette* palette, uint32_t column)
{
    to->data = AllocateSamples(from);
    if (to->data == NULL) {
        return DecodeFailureOutOfMemory;
    }
    int32_t* values = (int32_t*)malloc(palette->entries * sizeof(int32_t));
    if (values == NULL) {
        return DecodeFailureOutOfMemory;
    }
    for (uint32_t e = 0; e < palette->entries; ++e) {
        values[e] = PaletteValue(palette, e, column);
    }
    int32_t top = (int32_t)palette->entries - 1;
    for (uint64_t k = 0; k < SampleCount(from); ++k) {
        int32_t index = from->data[k] < 0 ? 0 : (from->data[k] > top ? top : from->data[k]);
        to->data[k] = values[index];
    }
    free(values);
    return DecodeFailureNone;
}

// Channel i takes its component's samples, or a copy of them when an
// earlier channel took them already.
int MoveChannel(opj_image_t* rebuilt, uint32_t i, opj_image_comp_t* from, const ChannelRecipe* recipes)
{
    opj_image_comp_t* to = &rebuilt->comps[i];
    if (from->data != NULL) {
        to->data = from->data;
        from->data = NULL;
        return DecodeFailureNone;
    }
    uint32_t first = 0;
    while (recipes[first].source != ChannelMoved || recipes[first].component != recipes[i].component) {
        ++first;
    }
    to->data = first == i ? NULL : AllocateSamples(from);
    if (to->data == NULL) {
        return first == i ? DecodeFailureCorrupt : DecodeFailureOutOfMemory;
    }
    memcpy(to->data, rebuilt->comps[first].data, (size_t)(SampleCount(from) * sizeof(OPJ_INT32)));
    return DecodeFailureNone;
}

// A new image of `count` channels on the grids of the components they come
// from; moved components leave `image`. A DecodeFailure value.
int RebuildImage(opj_image_t** rebuiltOut, opj_image_t* image, ChannelRecipe* recipes, uint32_t count,
                 const Palette* palette)
{
    uint64_t samples = 0;
    opj_image_cmptparm_t* parameters = (opj_image_cmptparm_t*)calloc(count, sizeof(opj_image_cmptparm_t));
    opj_image_t* rebuilt = NULL;
    int failure = parameters == NULL ? DecodeFailureOutOfMemory : DecodeFailureNone;
    for (uint32_t i = 0; failure == DecodeFailureNone && i < count; ++i) {
        const opj_image_comp_t* from = &image->comps[recipes[i].component];
        opj_image_cmptparm_t* p = &parameters[i];
        p->dx = from->dx, p->dy = from->dy, p->w = from->w, p->h = from->h, p->x0 = from->x0, p->y0 = from->y0;
        p->prec = from->prec, p->sgnd = from->sgnd;
        if (recipes[i].source == ChannelOpacity) {
            p->prec = 8;
            p->sgnd = 0;
        } else if (recipes[i].source == ChannelLookedUp) {
            uint32_t bits = ColumnBits(palette, recipes[i].column);
            p->prec = bits > kWidestStoredBits ? kWidestStoredBits : bits;
            p->sgnd = (palette->depths[recipes[i].column] & 0x80) != 0;
        }
        samples += SampleCount(from);
    }
    if (failure == DecodeFailureNone && samples > DecodeSampleLimit()) {
        failure = DecodeFailureTooLarge;
    }
    rebuilt = failure == DecodeFailureNone ? opj_image_tile_create(count, parameters, image->color_space) : NULL;
    if (failure == DecodeFailureNone && rebuilt == NULL) {
        failure = DecodeFailureOutOfMemory;
    }
    // Lookups first: they read components that a move then takes away.
    for (uint32_t i = 0; failure == DecodeFailureNone && i < count; ++i) {
        rebuilt->comps[i].factor = image->comps[recipes[i].component].factor;
        if (recipes[i].source == ChannelLookedUp) {
            failure = LookUpChannel(&rebuilt->comps[i], &image->comps[recipes[i].component], palette, recipes[i].column);
        }
    }
    for (uint32_t i = 0; failure == DecodeFailureNone && i < count; ++i) {
        rebuilt->comps[i].alpha = image->comps[recipes[i].component].alpha;
        if (recipes[i].source == ChannelMoved) {
            failure = MoveChannel(rebuilt, i, &image->comps[recipes[i].component], recipes);
        } else if (recipes[i].source == ChannelOpacity) {
            rebuilt->comps[i].data = recipes[i].given;
            recipes[i].given = NULL;
            rebuilt->comps[i].alpha = OpacityPlain;
        }
    }
    if (failure == DecodeFailureNone) {
        rebuilt->x0 = image->x0, rebuilt->y0 = image->y0, rebuilt->x1 = image->x1, rebuilt->y1 = image->y1;
        // A profile lent to the image goes with its channels (ForgetImageColour).
        rebuilt->icc_profile_buf = image->icc_profile_buf;
        rebuilt->icc_profile_len = image->icc_profile_len;
        image->icc_profile_buf = NULL;
        image->icc_profile_len = 0;
        *rebuiltOut = rebuilt;
        rebuilt = NULL;
    }
    opj_image_destroy(rebuilt);
    free(parameters);
    return failure;
}

// The component mapping's recipes: each entry names a component that exists
// and, when looked up, a palette column that exists; 0 otherwise.
int ReadMapping(ChannelRecipe* recipes, const uint8_t* cmap, uint32_t count, const opj_image_t* image,
                const Palette* palette)
{
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = cmap + kMappingBytes * i;
        recipes[i].component = ReadBig16(entry);
        recipes[i].source = entry[2];
        recipes[i].column = entry[3];
        if (recipes[i].component >= image->numcomps || recipes[i].source > ChannelLookedUp ||
            (recipes[i].source == ChannelLookedUp && recipes[i].column >= palette->columns)) {
            return 0;
        }
    }
    return 1;
}

int SameGrid(const opj_image_comp_t* a, const opj_image_comp_t* b)
{
    return a->dx == b->dx && a->dy == b->dy && a->w == b->w && a->h == b->h && a->x0 == b->x0 && a->y0 == b->y0;
}

} // namespace

int MapLayerChannels(opj_image_t** image, const CodestreamPlace* place)
{
    Palette palette;
    memset(&palette, 0, sizeof(palette));
    if (place->cmap == NULL) {
        return DecodeFailureNone; // channels are the components; a palette without a mapping is not used
    }
    uint64_t count = place->cmapLength / kMappingBytes;
    if (count == 0 || count > kMostChannels || (place->pclr != NULL && !ReadPalette(&palette, place->pclr, place->pclrLength))) {
        return DecodeFailureCorrupt;
    }
    ChannelRecipe* recipes = (ChannelRecipe*)malloc((size_t)count * sizeof(ChannelRecipe));
    if (recipes == NULL) {
        return DecodeFailureOutOfMemory;
    }
    opj_image_t* rebuilt = NULL;
    int failure = DecodeFailureCorrupt;
    if (ReadMapping(recipes, place->cmap, (uint32_t)count, *image, &palette)) {
        failure = RebuildImage(&rebuilt, *image, recipes, (uint32_t)count, &palette);
    }
    if (failure == DecodeFailureNone) {
        opj_image_destroy(*image);
        *image = rebuilt;
    }
    free(recipes);
    return failure;
}

namespace {

// The key's value of each keyed channel, in that channel's own bytes and
// signedness; 0 when the box does not hold them.
int ReadKey(int32_t* key, const uint8_t* chck, uint64_t length, const opj_image_t* image, const PicturePlan* plan)
{
    uint32_t count = length >= 1 ? chck[0] : 0;
    uint64_t at = 1;
    if (count == 0 || count > plan->colourCount) {
        return 0;
    }
    for (uint32_t c = 0; c < count; ++c) {
        const opj_image_comp_t* comp = &image->comps[plan->colour[c]];
        uint32_t bits = comp->prec == 0 ? 1 : (comp->prec > 32 ? 32 : comp->prec);
        uint32_t bytes = (bits + 7) / 8;
        if (length - at < bytes) {
            return 0;
        }
        uint32_t raw = 0;
        for (uint32_t b = 0; b < bytes; ++b) {
            raw = raw << 8 | chck[at++];
        }
        raw &= bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        int signedNegative = comp->sgnd && bits < 32 && (raw >> (bits - 1)) != 0;
        key[c] = (int32_t)(signedNegative ? raw | ~((1u << bits) - 1) : raw);
    }
    return 1;
}

int KeyedPixel(const opj_image_t* image, const PicturePlan* plan, const int32_t* key, uint32_t count, uint64_t k)
{
    for (uint32_t c = 0; c < count; ++c) {
        if (image->comps[plan->colour[c]].data[k] != key[c]) {
            return 0;
        }
    }
    return 1;
}

} // namespace

int KeyOutChroma(opj_image_t** image, const CodestreamPlace* place)
{
    PicturePlan plan;
    int32_t key[4];
    if (place->chck == NULL) {
        return DecodeFailureNone;
    }
    PlanPicture(*image, &plan);
    if (!ReadKey(key, place->chck, place->chckLength, *image, &plan)) {
        return DecodeFailureCorrupt;
    }
    uint32_t count = place->chck[0];
    const opj_image_comp_t* first = &(*image)->comps[plan.colour[0]];
    for (uint32_t c = 0; c < count; ++c) {
        if (!SameGrid(&(*image)->comps[plan.colour[c]], first) || (*image)->comps[plan.colour[c]].data == NULL) {
            return DecodeFailureNone; // subsampled colour is not keyed
        }
    }
    uint64_t pixels = SampleCount(first);
    if (plan.opacityKind != OpacityNone) {
        // The key clears the opacity the layer has; premultiplied colour
        // goes to its lowest level with it.
        opj_image_comp_t* opacity = &(*image)->comps[plan.opacity];
        if (!SameGrid(opacity, first) || opacity->data == NULL) {
            return DecodeFailureNone;
        }
        for (uint64_t k = 0; k < pixels; ++k) {
            if (!KeyedPixel(*image, &plan, key, count, k)) {
                continue;
            }
            opacity->data[k] = 0;
            for (uint32_t c = 0; plan.opacityKind == OpacityPremultiplied && c < plan.colourCount; ++c) {
                opj_image_comp_t* comp = &(*image)->comps[plan.colour[c]];
                comp->data[k] = comp->sgnd ? -(int32_t)(1u << ((comp->prec > 32 ? 32 : comp->prec) - 1)) : 0;
            }
        }
        return DecodeFailureNone;
    }
    uint32_t channels = (*image)->numcomps + 1;
    ChannelRecipe* recipes = (ChannelRecipe*)calloc(channels, sizeof(ChannelRecipe));
    OPJ_INT32* mask = AllocateSamples(first);
    opj_image_t* rebuilt = NULL;
    int failure = recipes == NULL || mask == NULL ? DecodeFailureOutOfMemory : DecodeFailureNone;
    for (uint64_t k = 0; failure == DecodeFailureNone && k < pixels; ++k) {
        mask[k] = KeyedPixel(*image, &plan, key, count, k) ? 0 : 255;
    }
    for (uint32_t c = 0; failure == DecodeFailureNone && c < channels; ++c) {
        recipes[c].source = c + 1 < channels ? ChannelMoved : ChannelOpacity;
        recipes[c].component = c + 1 < channels ? c : plan.colour[0];
    }
    if (failure == DecodeFailureNone) {
        recipes[channels - 1].given = mask;
        mask = NULL;
        failure = RebuildImage(&rebuilt, *image, recipes, channels, NULL);
        mask = recipes[channels - 1].given;
    }
    if (failure == DecodeFailureNone) {
        opj_image_destroy(*image);
        *image = rebuilt;
    }
    opj_image_data_free(mask);
    free(recipes);
    return failure;
}

namespace {

// One axis of a codestream placed on another's: which sample of a
// component of `other` lies under each pixel of the first codestream's
// first component, both on the layer's registration grid.
struct AxisMap {
    int64_t firstOrigin; // the first component's, in its samples at its level
    int64_t firstStep;
    int firstReduce;
    int64_t origin; // the component's, likewise
    int64_t step;
    int reduce;
    uint32_t size;
};

// Grid offsets and ratios are bytes, steps too, halvings at most
// kDeepestJoinedReduce, origins and sizes within kGeometryLimit: the
// products below stay inside 63 bits.
const int kDeepestJoinedReduce = 16;

int FitsJoin(const opj_image_t* image)
{
    for (uint32_t c = 0; c < image->numcomps; ++c) {
        const opj_image_comp_t* comp = &image->comps[c];
        if (comp->x0 > kGeometryLimit || comp->y0 > kGeometryLimit || comp->w > kGeometryLimit ||
            comp->h > kGeometryLimit || comp->w == 0 || comp->h == 0) {
            return 0;
        }
    }
    return 1;
}

uint32_t MapAxis(const AxisMap* m, uint32_t ratio, uint32_t offset, uint32_t firstRatio, uint32_t firstOffset,
                 uint32_t u)
{
    // Doubled positions: the pixel's centre on the first codestream's
    // reference grid, on the registration grid, on the other's grid.
    int64_t centre = ((2 * ((int64_t)u + m->firstOrigin) + 1) << m->firstReduce) * m->firstStep;
    int64_t grid = 2 * (int64_t)firstOffset + centre * firstRatio;
    int64_t there = (grid - 2 * (int64_t)offset) / ratio;
    int64_t k = there < 0 ? 0 : there / ((2 * m->step) << m->reduce) - m->origin;
    return k < 0 ? 0 : (k >= (int64_t)m->size ? m->size - 1 : (uint32_t)k);
}

// Component `from` of a further codestream resampled onto `first`'s grid.
int ResampleComponent(opj_image_comp_t* to, const opj_image_comp_t* from, const opj_image_comp_t* first,
                      const LayerStream* stream, const LayerStream* firstStream)
{
    uint32_t* columns = (uint32_t*)malloc((size_t)first->w * sizeof(uint32_t));
    to->data = AllocateSamples(first);
    int failure = columns == NULL || to->data == NULL || from->data == NULL ? DecodeFailureOutOfMemory
                                                                           : DecodeFailureNone;
    AxisMap x = {first->x0, first->dx, (int)first->factor, from->x0, from->dx, (int)from->factor, from->w};
    AxisMap y = {first->y0, first->dy, (int)first->factor, from->y0, from->dy, (int)from->factor, from->h};
    for (uint32_t i = 0; failure == DecodeFailureNone && i < first->w; ++i) {
        columns[i] = MapAxis(&x, stream->xRatio, stream->xOffset, firstStream->xRatio, firstStream->xOffset, i);
    }
    for (uint32_t j = 0; failure == DecodeFailureNone && j < first->h; ++j) {
        uint32_t row = MapAxis(&y, stream->yRatio, stream->yOffset, firstStream->yRatio, firstStream->yOffset, j);
        const OPJ_INT32* in = from->data + (uint64_t)row * from->w;
        OPJ_INT32* out = to->data + (uint64_t)j * first->w;
        for (uint32_t i = 0; i < first->w; ++i) {
            out[i] = in[columns[i]];
        }
    }
    free(columns);
    return failure;
}

// Codestream `stream` decoded at `reduce` halvings, or its coarsest level
// when it has fewer.
int DecodeLayerStream(opj_image_t** imageOut, const LayerStream* stream, int reduce, int threads,
                      const uint8_t* file, uint64_t fileLength)
{
    CodestreamPlace place;
    memset(&place, 0, sizeof(place));
    place.start = stream->start;
    place.length = stream->length;
    StreamSegment* segments = NULL;
    uint32_t count = 0;
    CodestreamHeader header;
    *imageOut = NULL;
    // Joined whole even while the file arrives (the layer waits for them).
    int failure = LocateCodestream(&segments, &count, &place, file, fileLength, 0);
    if (failure == DecodeFailureNone && count == 0) {
        failure = DecodeFailureCorrupt;
    }
    if (failure == DecodeFailureNone) {
        failure = ReadCodestreamHeader(&header, segments, count);
    }
    if (failure == DecodeFailureNone) {
        failure = DecodeCodestreamImage(imageOut, segments, count, reduce < header.maxReduce ? reduce : header.maxReduce,
                                        threads);
    }
    if (failure == DecodeFailureNone && !FitsJoin(*imageOut)) {
        failure = DecodeFailureTooLarge;
    }
    free(segments);
    return failure;
}

} // namespace

int JoinLayerCodestreams(opj_image_t** image, const CodestreamPlace* place, int reduce, int threads,
                         const uint8_t* file, uint64_t fileLength)
{
    opj_image_t* others[kMostLayerCodestreams] = {NULL};
    opj_image_cmptparm_t* parameters = NULL;
    opj_image_t* joined = NULL;
    const opj_image_comp_t* first = &(*image)->comps[0];
    uint64_t total = (*image)->numcomps;
    if (place->streamCount < 2) {
        return DecodeFailureNone;
    }
    int failure = reduce > kDeepestJoinedReduce || !FitsJoin(*image) ? DecodeFailureTooLarge : DecodeFailureNone;
    for (uint32_t s = 1; failure == DecodeFailureNone && s < place->streamCount; ++s) {
        failure = DecodeLayerStream(&others[s], &place->streams[s], reduce, threads, file, fileLength);
        total += failure == DecodeFailureNone ? others[s]->numcomps : 0;
    }
    if (failure == DecodeFailureNone && (total > kMostChannels || total * SampleCount(first) > DecodeSampleLimit())) {
        failure = DecodeFailureTooLarge;
    }
    parameters = failure == DecodeFailureNone ? (opj_image_cmptparm_t*)calloc(total, sizeof(*parameters)) : NULL;
    if (failure == DecodeFailureNone && parameters == NULL) {
        failure = DecodeFailureOutOfMemory;
    }
    for (uint32_t s = 0, c = 0, i = 0; failure == DecodeFailureNone && i < total; ++i, ++c) {
        const opj_image_t* from = s == 0 ? *image : others[s];
        if (c == from->numcomps) {
            from = others[++s];
            c = 0;
        }
        const opj_image_comp_t* grid = s == 0 ? &from->comps[c] : first;
        opj_image_cmptparm_t* p = &parameters[i];
        p->dx = grid->dx, p->dy = grid->dy, p->w = grid->w, p->h = grid->h, p->x0 = grid->x0, p->y0 = grid->y0;
        p->prec = from->comps[c].prec, p->sgnd = from->comps[c].sgnd;
    }
    joined = failure == DecodeFailureNone ? opj_image_tile_create((uint32_t)total, parameters, (*image)->color_space)
                                          : NULL;
    if (failure == DecodeFailureNone && joined == NULL) {
        failure = DecodeFailureOutOfMemory;
    }
    for (uint32_t s = 0, c = 0, i = 0; failure == DecodeFailureNone && i < total; ++i, ++c) {
        opj_image_t* from = s == 0 ? *image : others[s];
        if (c == from->numcomps) {
            from = others[++s];
            c = 0;
        }
        joined->comps[i].factor = s == 0 ? from->comps[c].factor : first->factor;
        if (s == 0) {
            joined->comps[i].data = from->comps[c].data;
            from->comps[c].data = NULL;
        } else {
            failure = ResampleComponent(&joined->comps[i], &from->comps[c], first, &place->streams[s],
                                        &place->streams[0]);
        }
    }
    if (failure == DecodeFailureNone) {
        joined->x0 = (*image)->x0, joined->y0 = (*image)->y0, joined->x1 = (*image)->x1, joined->y1 = (*image)->y1;
        opj_image_destroy(*image);
        *image = joined;
        joined = NULL;
    }
    opj_image_destroy(joined);
    for (uint32_t s = 0; s < kMostLayerCodestreams; ++s) {
        opj_image_destroy(others[s]);
    }
    free(parameters);
    return failure;
}
