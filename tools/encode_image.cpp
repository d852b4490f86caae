// OpenJPEG encoding of planar 8-bit images into files, for the sample and the benchmark.
#include "encode_image.h"

#include <openjpeg.h>

#include <string.h>
#include <string>

namespace {

void IgnoreMessage(const char*, void*)
{
}

int EndsWith(const std::string& text, const char* suffix)
{
    size_t n = strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

} // namespace

int EncodeImageFile(const char* path, const PlanarImage& image, float ratio, const char* comment)
{
    uint32_t count = (uint32_t)image.planes.size();
    std::vector<opj_image_cmptparm_t> params(count);
    for (uint32_t c = 0; c < count; ++c) {
        memset(&params[c], 0, sizeof(params[c]));
        uint32_t step = image.ycc420 && c > 0 ? 2 : 1;
        params[c].dx = params[c].dy = step;
        params[c].w = (image.width + step - 1) / step;
        params[c].h = (image.height + step - 1) / step;
        params[c].prec = 8;
    }
    OPJ_COLOR_SPACE space = image.ycc420 ? OPJ_CLRSPC_SYCC : (count >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    opj_image_t* encoded = opj_image_create(count, params.data(), space);
    if (encoded == NULL) {
        return 0;
    }
    encoded->x1 = image.width;
    encoded->y1 = image.height;
    for (uint32_t c = 0; c < count; ++c) {
        memcpy(encoded->comps[c].data, image.planes[c].data(), (size_t)params[c].w * params[c].h * sizeof(int32_t));
    }
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = ratio;
    parameters.cp_disto_alloc = 1;
    parameters.irreversible = ratio > 0 ? 1 : 0;
    parameters.tcp_mct = count >= 3 && !image.ycc420 ? 1 : 0;
    std::vector<char> text;
    if (comment != NULL) {
        text.assign(comment, comment + strlen(comment) + 1);
        parameters.cp_comment = text.data();
    }
    OPJ_CODEC_FORMAT format = EndsWith(path, ".jp2") ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K;
    opj_codec_t* codec = opj_create_compress(format);
    opj_set_info_handler(codec, IgnoreMessage, NULL);
    opj_set_warning_handler(codec, IgnoreMessage, NULL);
    opj_set_error_handler(codec, IgnoreMessage, NULL);
    opj_codec_set_threads(codec, 2);
    opj_stream_t* stream = opj_stream_create_default_file_stream(path, OPJ_FALSE);
    int ok = stream != NULL && opj_setup_encoder(codec, &parameters, encoded) &&
             opj_start_compress(codec, encoded, stream) && opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(encoded);
    return ok;
}
