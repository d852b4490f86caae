// Encodes test images with OpenJPEG into memory and wraps codestreams in boxes.
#include "fixture_encoder.h"

#include <openjpeg.h>

#include <string.h>
#include <algorithm>
#include <utility>

namespace {

struct GrowingBuffer {
    std::vector<uint8_t> bytes;
    uint64_t pos;
};

OPJ_SIZE_T WriteBuffer(void* data, OPJ_SIZE_T size, void* user)
{
    GrowingBuffer* buffer = (GrowingBuffer*)user;
    if (buffer->pos + size > buffer->bytes.size()) {
        buffer->bytes.resize(buffer->pos + size);
    }
    memcpy(buffer->bytes.data() + buffer->pos, data, size);
    buffer->pos += size;
    return size;
}

OPJ_OFF_T SkipBuffer(OPJ_OFF_T size, void* user)
{
    GrowingBuffer* buffer = (GrowingBuffer*)user;
    buffer->pos += size;
    if (buffer->pos > buffer->bytes.size()) {
        buffer->bytes.resize(buffer->pos);
    }
    return size;
}

OPJ_BOOL SeekBuffer(OPJ_OFF_T offset, void* user)
{
    GrowingBuffer* buffer = (GrowingBuffer*)user;
    buffer->pos = (uint64_t)offset;
    if (buffer->pos > buffer->bytes.size()) {
        buffer->bytes.resize(buffer->pos);
    }
    return OPJ_TRUE;
}

void Quiet(const char*, void*)
{
}

void PutBig32(std::vector<uint8_t>* out, uint32_t v)
{
    out->push_back((uint8_t)(v >> 24));
    out->push_back((uint8_t)(v >> 16));
    out->push_back((uint8_t)(v >> 8));
    out->push_back((uint8_t)v);
}

void PutBig16(std::vector<uint8_t>* out, uint32_t v)
{
    out->push_back((uint8_t)(v >> 8));
    out->push_back((uint8_t)v);
}

uint32_t Big16(const std::vector<uint8_t>& b, size_t at)
{
    return (uint32_t)b[at] << 8 | b[at + 1];
}

// Offset of the first SOT marker of a well-formed codestream.
size_t FindFirstTilePart(const std::vector<uint8_t>& cs)
{
    size_t pos = 2;
    while (pos + 4 <= cs.size() && !(cs[pos] == 0xFF && cs[pos + 1] == 0x90)) {
        pos += Big16(cs, pos + 2) + 2;
    }
    return pos;
}

std::vector<uint8_t> MakeComSegment(uint16_t registration, const std::string& bytes)
{
    std::vector<uint8_t> segment = {0xFF, 0x64};
    PutBig16(&segment, (uint32_t)bytes.size() + 4);
    PutBig16(&segment, registration);
    segment.insert(segment.end(), bytes.begin(), bytes.end());
    return segment;
}

opj_codec_t* CreateQuietEncoder()
{
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_set_info_handler(codec, Quiet, NULL);
    opj_set_warning_handler(codec, Quiet, NULL);
    opj_set_error_handler(codec, Quiet, NULL);
    return codec;
}

// An output stream appending to `buffer`.
opj_stream_t* OpenBufferStream(GrowingBuffer* buffer)
{
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, buffer, NULL);
    opj_stream_set_write_function(stream, WriteBuffer);
    opj_stream_set_skip_function(stream, SkipBuffer);
    opj_stream_set_seek_function(stream, SeekBuffer);
    return stream;
}

// Frees what an encode used; the bytes only when every step succeeded.
std::vector<uint8_t> FinishEncode(int ok, opj_codec_t* codec, opj_stream_t* stream, opj_image_t* image,
                                  GrowingBuffer* buffer)
{
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok) {
        buffer->bytes.clear();
    }
    return buffer->bytes;
}

uint32_t MaxResolutions(uint32_t w, uint32_t h)
{
    uint32_t levels = 1;
    while (levels < 6 && (w >> levels) >= 4 && (h >> levels) >= 4) {
        ++levels;
    }
    return levels;
}

} // namespace

uint32_t FixtureComponentWidth(const FixtureImage& image, uint32_t c)
{
    return (image.width + image.components[c].dx - 1) / image.components[c].dx;
}

uint32_t FixtureComponentHeight(const FixtureImage& image, uint32_t c)
{
    return (image.height + image.components[c].dy - 1) / image.components[c].dy;
}

FixtureImage MakePatternImage(uint32_t width, uint32_t height, const std::vector<FixtureComponent>& components)
{
    FixtureImage image = {width, height, components, {}, 0, 0.0, 0};
    for (uint32_t c = 0; c < components.size(); ++c) {
        uint32_t w = FixtureComponentWidth(image, c);
        uint32_t h = FixtureComponentHeight(image, c);
        uint32_t p = components[c].precision;
        uint32_t range = 1u << p;
        std::vector<int32_t> samples(w * h);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                uint32_t v = (x * 37u + y * 101u + c * 59u + x * y * 7u) % range;
                samples[y * w + x] = components[c].isSigned ? (int32_t)v - (int32_t)(range / 2) : (int32_t)v;
            }
        }
        image.samples.push_back(samples);
    }
    return image;
}

std::vector<uint8_t> EncodeFixture(const FixtureImage& image, const char* comment)
{
    std::vector<opj_image_cmptparm_t> params(image.components.size());
    for (size_t c = 0; c < params.size(); ++c) {
        memset(&params[c], 0, sizeof(params[c]));
        params[c].dx = image.components[c].dx;
        params[c].dy = image.components[c].dy;
        params[c].w = FixtureComponentWidth(image, (uint32_t)c);
        params[c].h = FixtureComponentHeight(image, (uint32_t)c);
        params[c].prec = image.components[c].precision;
        params[c].sgnd = image.components[c].isSigned;
    }
    OPJ_COLOR_SPACE space = params.size() >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY;
    opj_image_t* encoded = opj_image_create((OPJ_UINT32)params.size(), params.data(), space);
    GrowingBuffer buffer = {{}, 0};
    if (encoded == NULL) {
        return buffer.bytes;
    }
    encoded->x0 = 0;
    encoded->y0 = 0;
    encoded->x1 = image.width;
    encoded->y1 = image.height;
    for (size_t c = 0; c < params.size(); ++c) {
        memcpy(encoded->comps[c].data, image.samples[c].data(), image.samples[c].size() * sizeof(int32_t));
    }
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = image.lossy ? (float)image.rate : 0.0f;
    parameters.cp_disto_alloc = 1;
    parameters.irreversible = image.lossy ? 1 : 0;
    parameters.tcp_mct = (params.size() >= 3 && image.lossy) ? 1 : 0;
    parameters.numresolution = (int)MaxResolutions(image.width, image.height);
    if (image.tiled && image.width >= 16 && image.height >= 16) {
        parameters.tile_size_on = OPJ_TRUE;
        parameters.cp_tdx = (int)((image.width + 1) / 2);
        parameters.cp_tdy = (int)((image.height + 1) / 2);
        parameters.numresolution = (int)MaxResolutions(image.width / 2, image.height / 2);
    }
    std::vector<char> text;
    if (comment != NULL) {
        text.assign(comment, comment + strlen(comment) + 1);
        parameters.cp_comment = text.data();
    }
    opj_codec_t* codec = CreateQuietEncoder();
    opj_stream_t* stream = OpenBufferStream(&buffer);
    int ok = opj_setup_encoder(codec, &parameters, encoded) && opj_start_compress(codec, encoded, stream) &&
             opj_encode(codec, stream) && opj_end_compress(codec, stream);
    return FinishEncode(ok, codec, stream, encoded, &buffer);
}

std::vector<uint8_t> EncodeTiled(uint32_t width, uint32_t height, uint32_t components, uint32_t tileSide,
                                 FillTile fill, float ratio)
{
    std::vector<opj_image_cmptparm_t> params(components);
    for (opj_image_cmptparm_t& param : params) {
        memset(&param, 0, sizeof param);
        param.dx = param.dy = 1;
        param.w = width;
        param.h = height;
        param.prec = 8;
    }
    GrowingBuffer buffer = {{}, 0};
    opj_image_t* image =
        opj_image_tile_create(components, params.data(), components >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    if (image == NULL) {
        return buffer.bytes;
    }
    image->x1 = width;
    image->y1 = height;
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = ratio;
    parameters.irreversible = ratio > 0;
    parameters.cp_disto_alloc = 1;
    parameters.tile_size_on = OPJ_TRUE;
    parameters.cp_tdx = (int)tileSide;
    parameters.cp_tdy = (int)tileSide;
    parameters.numresolution = (int)MaxResolutions(tileSide, tileSide);
    opj_codec_t* codec = CreateQuietEncoder();
    opj_stream_t* stream = OpenBufferStream(&buffer);
    int ok = opj_setup_encoder(codec, &parameters, image) && opj_start_compress(codec, image, stream);
    std::vector<uint8_t> tile((size_t)tileSide * tileSide * components);
    uint32_t across = (width + tileSide - 1) / tileSide;
    uint32_t down = (height + tileSide - 1) / tileSide;
    for (uint32_t index = 0; ok && index < across * down; ++index) {
        uint32_t x0 = index % across * tileSide;
        uint32_t y0 = index / across * tileSide;
        uint32_t w = width - x0 < tileSide ? width - x0 : tileSide;
        uint32_t h = height - y0 < tileSide ? height - y0 : tileSide;
        for (uint32_t c = 0; c < components; ++c) {
            fill(tile.data() + (size_t)c * w * h, c, x0, y0, w, h);
        }
        ok = opj_write_tile(codec, index, tile.data(), w * h * components, stream);
    }
    ok = ok && opj_end_compress(codec, stream);
    return FinishEncode(ok, codec, stream, image, &buffer);
}

namespace {

void SetBig32(std::vector<uint8_t>* bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        (*bytes)[at + i] = (uint8_t)(v >> (24 - 8 * i));
    }
}

uint32_t Big32(const std::vector<uint8_t>& b, size_t at)
{
    return Big16(b, at) << 16 | Big16(b, at + 2);
}

// Start and length of every tile-part of a codestream with one tile-part
// per tile, by tile index.
std::vector<std::pair<size_t, size_t>> ListTileParts(const std::vector<uint8_t>& cs)
{
    std::vector<std::pair<size_t, size_t>> parts;
    for (size_t pos = FindFirstTilePart(cs); pos + 12 <= cs.size() && cs[pos + 1] == 0x90;) {
        size_t length = Big32(cs, pos + 6);
        uint32_t index = Big16(cs, pos + 4);
        if (length < 12 || pos + length > cs.size()) {
            return {};
        }
        parts.resize(index + 1 > parts.size() ? index + 1 : parts.size());
        parts[index] = {pos, length};
        pos += length;
    }
    return parts;
}

} // namespace

uint32_t PlacedTile(uint32_t column, uint32_t row, uint32_t distinct)
{
    return (column + 2 * row) % distinct;
}

std::vector<uint8_t> EncodePlacedTiles(uint32_t width, uint32_t height, uint32_t tileSide, uint32_t distinct,
                                       FillTile fill, float ratio)
{
    // The mosaic: the distinct tiles in a row, then a narrower column and a
    // shorter row where the picture's last column and row are cut short.
    uint32_t edgeWidth = width % tileSide;
    uint32_t edgeHeight = height % tileSide;
    uint32_t mosaicAcross = distinct + (edgeWidth != 0);
    std::vector<uint8_t> mosaic = EncodeTiled(distinct * tileSide + edgeWidth, tileSide + edgeHeight, 1, tileSide, fill, ratio);
    std::vector<std::pair<size_t, size_t>> parts = ListTileParts(mosaic);
    size_t header = FindFirstTilePart(mosaic);
    size_t siz = 2;
    if (mosaic.empty() || parts.size() != (size_t)mosaicAcross * (1 + (edgeHeight != 0)) || Big16(mosaic, siz) != 0xFF51) {
        return {};
    }
    std::vector<uint8_t> out(mosaic.begin(), mosaic.begin() + header);
    SetBig32(&out, siz + 6, width);
    SetBig32(&out, siz + 10, height);
    uint32_t across = (width + tileSide - 1) / tileSide;
    uint32_t down = (height + tileSide - 1) / tileSide;
    for (uint32_t row = 0; row < down; ++row) {
        for (uint32_t column = 0; column < across; ++column) {
            uint32_t source = edgeWidth != 0 && column == across - 1 ? distinct : PlacedTile(column, row, distinct);
            if (edgeHeight != 0 && row == down - 1) {
                source += mosaicAcross;
            }
            size_t at = out.size();
            out.insert(out.end(), mosaic.begin() + parts[source].first,
                       mosaic.begin() + parts[source].first + parts[source].second);
            out[at + 4] = (uint8_t)((row * across + column) >> 8);
            out[at + 5] = (uint8_t)(row * across + column);
        }
    }
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

uint8_t StripedTileLevel(uint32_t tile, uint32_t column)
{
    return (uint8_t)(40 + 50 * (tile % kStripedTiles) + (column & 1) * 40);
}

namespace {

void FillStripedMosaic(uint8_t* samples, uint32_t, uint32_t x0, uint32_t, uint32_t width, uint32_t height)
{
    uint8_t even = StripedTileLevel(x0 / kStripedTileSide, 0);
    uint8_t odd = StripedTileLevel(x0 / kStripedTileSide, 1);
    for (uint32_t x = 0; x < width; ++x) {
        samples[x] = x & 1 ? odd : even;
    }
    for (uint32_t y = 1; y < height; ++y) {
        memcpy(samples + (size_t)y * width, samples, width);
    }
}

} // namespace

std::vector<uint8_t> EncodeStripedPicture(uint32_t width, uint32_t height)
{
    return EncodePlacedTiles(width, height, kStripedTileSide, kStripedTiles, FillStripedMosaic, 0.0f);
}

std::vector<uint8_t> RemoveMainHeaderComments(const std::vector<uint8_t>& cs)
{
    std::vector<uint8_t> out(cs.begin(), cs.begin() + 2);
    size_t end = FindFirstTilePart(cs);
    size_t pos = 2;
    while (pos < end) {
        size_t next = pos + Big16(cs, pos + 2) + 2;
        if (cs[pos + 1] != 0x64) {
            out.insert(out.end(), cs.begin() + pos, cs.begin() + next);
        }
        pos = next;
    }
    out.insert(out.end(), cs.begin() + end, cs.end());
    return out;
}

std::vector<uint8_t> InsertMainHeaderComment(const std::vector<uint8_t>& cs, uint16_t registration,
                                             const std::string& bytes)
{
    size_t at = FindFirstTilePart(cs);
    std::vector<uint8_t> segment = MakeComSegment(registration, bytes);
    std::vector<uint8_t> out(cs.begin(), cs.begin() + at);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), cs.begin() + at, cs.end());
    return out;
}

std::vector<uint8_t> InsertTilePartComment(const std::vector<uint8_t>& cs, const std::string& bytes)
{
    // After the 12-byte SOT segment; its Psot (tile-part length) grows by the
    // inserted segment unless it is 0 (runs to EOC).
    size_t sot = FindFirstTilePart(cs);
    std::vector<uint8_t> segment = MakeComSegment(1, bytes);
    std::vector<uint8_t> out(cs);
    uint32_t psot = (uint32_t)out[sot + 6] << 24 | (uint32_t)out[sot + 7] << 16 | (uint32_t)out[sot + 8] << 8 | out[sot + 9];
    if (psot != 0) {
        psot += (uint32_t)segment.size();
        out[sot + 6] = (uint8_t)(psot >> 24);
        out[sot + 7] = (uint8_t)(psot >> 16);
        out[sot + 8] = (uint8_t)(psot >> 8);
        out[sot + 9] = (uint8_t)psot;
    }
    out.insert(out.begin() + sot + 12, segment.begin(), segment.end());
    return out;
}

void AppendBox(std::vector<uint8_t>* out, const char type[4], const std::vector<uint8_t>& payload)
{
    PutBig32(out, (uint32_t)payload.size() + 8);
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), payload.begin(), payload.end());
}

std::vector<uint8_t> ExtendBoxLength(const std::vector<uint8_t>& file, size_t box)
{
    std::vector<uint8_t> header;
    PutBig32(&header, 1);
    header.insert(header.end(), file.begin() + box + 4, file.begin() + box + 8);
    PutBig32(&header, 0);
    PutBig32(&header, Big32(file, box) + 8);
    std::vector<uint8_t> out(file.begin(), file.begin() + box);
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), file.begin() + box + 8, file.end());
    return out;
}

std::vector<uint8_t> MakeFileStart(const char brand[4])
{
    std::vector<uint8_t> out = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
    std::vector<uint8_t> ftyp(brand, brand + 4);
    PutBig32(&ftyp, 0);
    ftyp.insert(ftyp.end(), brand, brand + 4);
    AppendBox(&out, "ftyp", ftyp);
    return out;
}

std::vector<uint8_t> EnumeratedColour(uint32_t enumeration, const std::vector<uint32_t>& parameters)
{
    std::vector<uint8_t> colr = {1, 0, 0};
    PutBig32(&colr, enumeration);
    for (uint32_t word : parameters) {
        PutBig32(&colr, word);
    }
    return colr;
}

std::vector<uint8_t> ProfileColour(const std::vector<uint8_t>& profile)
{
    std::vector<uint8_t> colr(3 + profile.size(), 0);
    colr[0] = 2; // method: restricted ICC profile
    std::copy(profile.begin(), profile.end(), colr.begin() + 3);
    return colr;
}

std::vector<uint8_t> ChannelDefinitions(const std::vector<ChannelDefinition>& channels)
{
    std::vector<uint8_t> cdef;
    PutBig16(&cdef, (uint32_t)channels.size());
    for (const ChannelDefinition& channel : channels) {
        PutBig16(&cdef, channel.component);
        PutBig16(&cdef, channel.type);
        PutBig16(&cdef, channel.association);
    }
    return cdef;
}

std::vector<uint8_t> WrapJp2Described(const std::vector<uint8_t>& codestream, const FixtureImage& image, const char brand[4],
                                      const std::vector<uint8_t>& colr, const std::vector<uint8_t>& cdef)
{
    std::vector<uint8_t> out = MakeFileStart(brand);
    std::vector<uint8_t> ihdr;
    PutBig32(&ihdr, image.height);
    PutBig32(&ihdr, image.width);
    PutBig16(&ihdr, (uint32_t)image.components.size());
    ihdr.push_back((uint8_t)((image.components[0].precision - 1) | (image.components[0].isSigned ? 0x80 : 0)));
    ihdr.push_back(7); // compression type: JPEG 2000
    ihdr.push_back(0);
    ihdr.push_back(0);
    std::vector<uint8_t> header;
    AppendBox(&header, "ihdr", ihdr);
    AppendBox(&header, "colr", colr);
    if (!cdef.empty()) {
        AppendBox(&header, "cdef", cdef);
    }
    AppendBox(&out, "jp2h", header);
    AppendBox(&out, "jp2c", codestream);
    return out;
}

std::vector<uint8_t> ResolutionFields(uint16_t verticalNumerator, uint16_t verticalDenominator,
                                      uint16_t horizontalNumerator, uint16_t horizontalDenominator,
                                      int8_t verticalExponent, int8_t horizontalExponent)
{
    std::vector<uint8_t> fields;
    PutBig16(&fields, verticalNumerator);
    PutBig16(&fields, verticalDenominator);
    PutBig16(&fields, horizontalNumerator);
    PutBig16(&fields, horizontalDenominator);
    fields.push_back((uint8_t)verticalExponent);
    fields.push_back((uint8_t)horizontalExponent);
    return fields;
}

std::vector<uint8_t> AppendToJp2Header(const std::vector<uint8_t>& file, const std::vector<uint8_t>& box)
{
    auto lengthAt = [&file](size_t at) {
        return (uint32_t)file[at] << 24 | (uint32_t)file[at + 1] << 16 | (uint32_t)file[at + 2] << 8 | file[at + 3];
    };
    size_t at = 0;
    while (at + 8 <= file.size() && memcmp(&file[at + 4], "jp2h", 4) != 0 && lengthAt(at) >= 8) {
        at += lengthAt(at);
    }
    if (at + 8 > file.size() || memcmp(&file[at + 4], "jp2h", 4) != 0 || at + lengthAt(at) > file.size()) {
        return file;
    }
    uint32_t length = lengthAt(at);
    std::vector<uint8_t> out(file.begin(), file.begin() + at + length);
    out.insert(out.end(), box.begin(), box.end());
    out.insert(out.end(), file.begin() + at + length, file.end());
    uint32_t grown = length + (uint32_t)box.size();
    for (int i = 0; i < 4; ++i) {
        out[at + i] = (uint8_t)(grown >> (24 - 8 * i));
    }
    return out;
}

std::vector<uint8_t> WrapJp2Family(const std::vector<uint8_t>& codestream, const FixtureImage& image, const char brand[4])
{
    // sRGB or greyscale.
    return WrapJp2Described(codestream, image, brand, EnumeratedColour(image.components.size() >= 3 ? 16 : 17, {}), {});
}

std::vector<uint8_t> WrapMotion(const std::vector<uint8_t>& codestream, int extendedMdat)
{
    std::vector<uint8_t> out = MakeFileStart("mjp2");
    AppendBox(&out, "moov", std::vector<uint8_t>(16, 0));
    std::vector<uint8_t> media;
    AppendBox(&media, "jp2c", codestream);
    if (extendedMdat) {
        PutBig32(&out, 1);
        out.insert(out.end(), {'m', 'd', 'a', 't'});
        PutBig32(&out, 0);
        PutBig32(&out, (uint32_t)media.size() + 16);
        out.insert(out.end(), media.begin(), media.end());
    } else {
        AppendBox(&out, "mdat", media);
    }
    return out;
}

std::vector<uint8_t> WrapJpm(const std::vector<uint8_t>& codestream)
{
    std::vector<uint8_t> out = MakeFileStart("jpm ");
    AppendBox(&out, "page", std::vector<uint8_t>(8, 0));
    AppendBox(&out, "jp2c", codestream);
    return out;
}

namespace {

void PutBig64(std::vector<uint8_t>* out, uint64_t v)
{
    PutBig32(out, (uint32_t)(v >> 32));
    PutBig32(out, (uint32_t)v);
}

std::vector<uint8_t> BoxOf(const char type[4], const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> box;
    AppendBox(&box, type, payload);
    return box;
}

std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& parts)
{
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t>& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::vector<uint8_t> JpmObjectBox(const JpmObject& object, uint64_t offset, uint32_t length)
{
    std::vector<uint8_t> ohdr = {(uint8_t)object.type, (uint8_t)(object.codestream.empty() ? 1 : 0)};
    PutBig32(&ohdr, object.y);
    PutBig32(&ohdr, object.x);
    std::vector<uint8_t> contents;
    if (!object.codestream.empty()) {
        PutBig64(&ohdr, offset);
        PutBig32(&ohdr, length);
        PutBig16(&ohdr, object.dataReference);
    }
    AppendBox(&contents, "ohdr", ohdr);
    std::vector<uint8_t> scal;
    for (int axis = 0; axis < 2; ++axis) {
        PutBig16(&scal, object.scale);
        PutBig16(&scal, 1);
    }
    AppendBox(&contents, "scal", scal);
    if (object.codestream.empty()) {
        std::vector<uint8_t> bcvl = {0, 1, 7};
        PutBig16(&bcvl, object.colour);
        PutBig16(&bcvl, 0);
        AppendBox(&contents, "bclr", BoxOf("bcvl", bcvl));
    }
    return BoxOf("objc", contents);
}

} // namespace

namespace {

// The page boxes, each object pointing at its codestream box: places[i] of
// the i-th object (pages, layouts, objects in order), from `base`.
std::vector<uint8_t> JpmPageBoxes(const std::vector<JpmPage>& pages,
                                  const std::vector<std::pair<uint64_t, uint32_t>>& places, uint64_t base)
{
    std::vector<uint8_t> out;
    size_t next = 0;
    for (const JpmPage& page : pages) {
        std::vector<uint8_t> phdr;
        PutBig16(&phdr, (uint32_t)page.layouts.size());
        PutBig32(&phdr, page.height);
        PutBig32(&phdr, page.width);
        PutBig16(&phdr, 0);
        PutBig16(&phdr, page.colour);
        std::vector<uint8_t> contents = BoxOf("phdr", phdr);
        for (size_t l = 0; l < page.layouts.size(); ++l) {
            const JpmLayout& layout = page.layouts[l];
            std::vector<uint8_t> lhdr;
            PutBig16(&lhdr, (uint32_t)l + 1);
            PutBig32(&lhdr, layout.height);
            PutBig32(&lhdr, layout.width);
            PutBig32(&lhdr, layout.y);
            PutBig32(&lhdr, layout.x);
            lhdr.push_back(0);
            std::vector<uint8_t> lobj = BoxOf("lhdr", lhdr);
            for (const JpmObject& object : layout.objects) {
                std::vector<uint8_t> objc = JpmObjectBox(object, base + places[next].first, places[next].second);
                ++next;
                lobj.insert(lobj.end(), objc.begin(), objc.end());
            }
            AppendBox(&contents, "lobj", lobj);
        }
        AppendBox(&out, "page", contents);
    }
    return out;
}

} // namespace

std::vector<uint8_t> MakeJpm(const std::vector<JpmPage>& pages, int pagesFirst)
{
    std::vector<uint8_t> start = MakeFileStart("jpm ");
    std::vector<uint8_t> codestreams;
    std::vector<std::pair<uint64_t, uint32_t>> places; // of each object's codestream box, in order
    for (const JpmPage& page : pages) {
        for (const JpmLayout& layout : page.layouts) {
            for (const JpmObject& object : layout.objects) {
                places.push_back({codestreams.size(), (uint32_t)object.codestream.size() + 8});
                if (!object.codestream.empty()) {
                    AppendBox(&codestreams, "jp2c", object.codestream);
                }
            }
        }
    }
    // The page boxes' size does not depend on the offsets they hold.
    uint64_t base = start.size() + (pagesFirst ? JpmPageBoxes(pages, places, 0).size() : 0);
    std::vector<uint8_t> pageBoxes = JpmPageBoxes(pages, places, base);
    return pagesFirst ? Joined({start, pageBoxes, codestreams}) : Joined({start, codestreams, pageBoxes});
}

namespace {

std::vector<uint8_t> JpxComposition(uint32_t width, uint32_t height, uint8_t loop,
                                    const std::vector<JpxInstructionSet>& sets)
{
    std::vector<uint8_t> copt;
    PutBig32(&copt, height);
    PutBig32(&copt, width);
    copt.push_back(loop);
    std::vector<uint8_t> comp = BoxOf("copt", copt);
    for (const JpxInstructionSet& set : sets) {
        int crops = 0;
        for (const JpxInstruction& i : set.instructions) {
            crops |= i.cropWidth != 0;
        }
        std::vector<uint8_t> inst;
        PutBig16(&inst, crops ? 0x27 : 0x07);
        PutBig16(&inst, set.repeats);
        PutBig32(&inst, set.tick);
        for (const JpxInstruction& i : set.instructions) {
            for (uint32_t v : {i.x, i.y, i.width, i.height, i.life, 0u}) {
                PutBig32(&inst, v);
            }
            for (uint32_t v : {i.cropX, i.cropY, i.cropWidth, i.cropHeight}) {
                if (crops) {
                    PutBig32(&inst, v);
                }
            }
        }
        AppendBox(&comp, "inst", inst);
    }
    return BoxOf("comp", comp);
}

} // namespace

std::vector<uint8_t> MakeJpx(uint32_t width, uint32_t height, uint8_t loop, const std::vector<JpxLayer>& layers,
                             const std::vector<JpxInstructionSet>& sets,
                             const std::vector<std::vector<uint8_t>>& codestreamHeaders)
{
    std::vector<uint8_t> out = MakeFileStart("jpx ");
    std::vector<uint8_t> ihdr;
    PutBig32(&ihdr, height);
    PutBig32(&ihdr, width);
    PutBig16(&ihdr, 3);
    ihdr.insert(ihdr.end(), {7, 7, 0, 0});
    AppendBox(&out, "jp2h", Joined({BoxOf("ihdr", ihdr), BoxOf("colr", EnumeratedColour(16, {}))}));
    for (const std::vector<uint8_t>& jpch : codestreamHeaders) {
        AppendBox(&out, "jpch", jpch);
    }
    for (const JpxLayer& layer : layers) {
        std::vector<uint8_t> jplh;
        AppendBox(&jplh, "cgrp", BoxOf("colr", EnumeratedColour(layer.codestream.size() > 0 ? 16 : 17, {})));
        if (layer.opacity >= 0) {
            AppendBox(&jplh, "opct", {(uint8_t)layer.opacity});
        }
        jplh.insert(jplh.end(), layer.header.begin(), layer.header.end());
        AppendBox(&out, "jplh", jplh);
    }
    out = Joined({out, JpxComposition(width, height, loop, sets)});
    // Fragments go into a free box at the end; their tables (46 bytes each) point there.
    uint64_t at = out.size() + 8;
    for (const JpxLayer& layer : layers) {
        at += layer.fragmented ? 46 : layer.codestream.size() + 8;
    }
    std::vector<uint8_t> pieces;
    for (const JpxLayer& layer : layers) {
        if (!layer.fragmented) {
            AppendBox(&out, "jp2c", layer.codestream);
            continue;
        }
        size_t half = layer.codestream.size() / 2;
        std::vector<uint8_t> flst;
        PutBig16(&flst, 2);
        for (size_t from : {(size_t)0, half}) {
            size_t to = from == 0 ? half : layer.codestream.size();
            PutBig64(&flst, at + pieces.size());
            PutBig32(&flst, (uint32_t)(to - from));
            PutBig16(&flst, 0);
            pieces.insert(pieces.end(), layer.codestream.begin() + from, layer.codestream.begin() + to);
        }
        AppendBox(&out, "ftbl", BoxOf("flst", flst));
    }
    AppendBox(&out, "free", pieces);
    return out;
}

std::vector<uint8_t> MakeMj2(const std::vector<std::vector<uint8_t>>& frames, const std::vector<uint32_t>& ticks,
                             uint32_t timescale, uint32_t width, uint32_t height, uint8_t fieldOrder)
{
    std::vector<uint8_t> start = MakeFileStart("mjp2");
    uint32_t fields = fieldOrder != 0 ? 2 : 1;
    uint32_t count = (uint32_t)frames.size() / fields;
    std::vector<std::vector<uint8_t>> samples;
    for (uint32_t i = 0; i < count; ++i) {
        std::vector<uint8_t> sample;
        for (uint32_t f = 0; f < fields; ++f) {
            AppendBox(&sample, "jp2c", frames[fields * i + f]);
        }
        samples.push_back(sample);
    }
    std::vector<uint8_t> stts = {0, 0, 0, 0}, stsz = {0, 0, 0, 0, 0, 0, 0, 0}, stsc = {0, 0, 0, 0};
    PutBig32(&stts, count);
    PutBig32(&stsz, count);
    for (uint32_t i = 0; i < count; ++i) {
        PutBig32(&stts, 1);
        PutBig32(&stts, ticks[i]);
        PutBig32(&stsz, (uint32_t)samples[i].size());
    }
    PutBig32(&stsc, 2);
    for (uint32_t v : {1u, 2u, 1u, 2u, 1u, 1u}) {
        PutBig32(&stsc, v);
    }
    std::vector<uint8_t> entry(78, 0);
    entry[24] = (uint8_t)(width >> 8), entry[25] = (uint8_t)width, entry[26] = (uint8_t)(height >> 8);
    entry[27] = (uint8_t)height;
    std::vector<uint8_t> ihdr;
    PutBig32(&ihdr, height);
    PutBig32(&ihdr, width);
    PutBig16(&ihdr, 1);
    ihdr.insert(ihdr.end(), {7, 7, 0, 0});
    entry = Joined({entry, BoxOf("jp2h", Joined({BoxOf("ihdr", ihdr), BoxOf("colr", EnumeratedColour(17, {}))}))});
    if (fieldOrder != 0) {
        entry = Joined({entry, BoxOf("fiel", {2, fieldOrder})});
    }
    std::vector<uint8_t> stsd = {0, 0, 0, 0, 0, 0, 0, 1};
    stsd = Joined({stsd, BoxOf("mjp2", entry)});
    std::vector<uint8_t> mdhd(24, 0);
    mdhd[12] = (uint8_t)(timescale >> 24), mdhd[13] = (uint8_t)(timescale >> 16);
    mdhd[14] = (uint8_t)(timescale >> 8), mdhd[15] = (uint8_t)timescale;
    std::vector<uint8_t> hdlr = {0, 0, 0, 0, 0, 0, 0, 0, 'v', 'i', 'd', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    uint32_t chunks = count < 2 ? 1 : count - 1;
    std::vector<uint8_t> stco = {0, 0, 0, 0};
    PutBig32(&stco, chunks);
    stco.resize(stco.size() + 4 * chunks);
    auto moovOf = [&](const std::vector<uint8_t>& offsets) {
        std::vector<uint8_t> stbl = Joined({BoxOf("stsd", stsd), BoxOf("stts", stts), BoxOf("stsc", stsc),
                                            BoxOf("stsz", stsz), BoxOf("stco", offsets)});
        std::vector<uint8_t> mdia = Joined({BoxOf("mdhd", mdhd), BoxOf("hdlr", hdlr), BoxOf("minf", BoxOf("stbl", stbl))});
        return BoxOf("moov", BoxOf("trak", BoxOf("mdia", mdia)));
    };
    uint64_t at = start.size() + moovOf(stco).size() + 8;
    std::vector<uint8_t> media;
    for (uint32_t i = 0; i < count; ++i) {
        // Chunk 1 holds samples 0 and 1, chunk k (k > 1) sample k.
        if (i != 1) {
            uint32_t chunk = i == 0 ? 0 : i - 1;
            for (int b = 0; b < 4; ++b) {
                stco[8 + 4 * chunk + b] = (uint8_t)((at + media.size()) >> (24 - 8 * b));
            }
        }
        media.insert(media.end(), samples[i].begin(), samples[i].end());
    }
    return Joined({start, moovOf(stco), BoxOf("mdat", media)});
}

std::vector<uint8_t> PaletteBoxes(const std::vector<uint8_t>& depths, const std::vector<std::vector<uint64_t>>& rows,
                                  const std::vector<std::array<uint8_t, 3>>& mapping)
{
    std::vector<uint8_t> pclr = {(uint8_t)(rows.size() >> 8), (uint8_t)rows.size(), (uint8_t)depths.size()};
    pclr.insert(pclr.end(), depths.begin(), depths.end());
    for (const std::vector<uint64_t>& row : rows) {
        for (size_t c = 0; c < depths.size(); ++c) {
            for (int b = ((depths[c] & 0x7F) + 8) / 8 - 1; b >= 0; --b) {
                pclr.push_back((uint8_t)(row[c] >> (8 * b)));
            }
        }
    }
    std::vector<uint8_t> cmap; // component, mapping type, column
    for (const std::array<uint8_t, 3>& m : mapping) {
        cmap.insert(cmap.end(), {0, m[0], m[1], m[2]});
    }
    std::vector<uint8_t> boxes;
    AppendBox(&boxes, "pclr", pclr);
    AppendBox(&boxes, "cmap", cmap);
    return boxes;
}
