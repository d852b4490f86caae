// Decodes the first codestream of a JPEG 2000 file into a packed DIB through OpenJPEG.
#include "jpeg2000.h"
#include "dib_layout.h"
#include "image_to_dib.h"
#include "memory_stream.h"

#include <openjpeg.h>

#include <atomic>
#include <pthread.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <thread>

namespace {

const uint32_t kDefaultSampleLimit = 1u << 27;
const uint64_t kSampleCountCeiling = 1ull << 40;
// Bitmaps reserved while the codec decodes: smaller ones fault in too fast to
// matter; larger ones would add to the codec's own peak memory, which in a
// 32-bit address space can turn a decodable image into a failure.
const uint32_t kReserveAheadMinBytes = 1u << 20;
const uint32_t kReserveAheadMaxBytes = 1u << 26;
const uint32_t kPageBytes = 4096;

std::atomic<int> gThreadCount(0);
std::atomic<uint32_t> gSampleLimit(0);

// Which OpenJPEG decoder a kind gets and whether it starts at the first
// "jp2c" payload; kinds absent from the table are not decoded.
struct KindDecoder {
    int kind;
    OPJ_CODEC_FORMAT format;
    int fromCodestreamBox;
};

const KindDecoder kKindDecoders[] = {
    {FileKindCodestream, OPJ_CODEC_J2K, 0},
    {FileKindJp2, OPJ_CODEC_JP2, 0},
    {FileKindJpx, OPJ_CODEC_JP2, 0},
    {FileKindMj2, OPJ_CODEC_J2K, 1},
    {FileKindJpm, OPJ_CODEC_J2K, 1},
    {FileKindJph, OPJ_CODEC_JP2, 0},
};

// The codec's diagnostics are nobody's business: decoding failures are
// reported through the result alone.
void IgnoreCodecMessage(const char*, void*)
{
}

// The set count, or one per core.
int ResolveThreadCount()
{
    int threads = gThreadCount.load();
    if (threads > 0) {
        return threads;
    }
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : (int)cores;
}

uint64_t CeilDiv(uint64_t value, uint64_t divisor)
{
    return (value + divisor - 1) / divisor;
}

// Samples the codec will allocate for the whole image, from the header alone.
uint64_t CountHeaderSamples(const opj_image_t* image)
{
    uint64_t total = 0;
    for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) {
        const opj_image_comp_t* comp = &image->comps[i];
        if (comp->dx == 0 || comp->dy == 0 || image->x1 < image->x0 || image->y1 < image->y0) {
            return UINT64_MAX;
        }
        uint64_t w = CeilDiv(image->x1, comp->dx) - CeilDiv(image->x0, comp->dx);
        uint64_t h = CeilDiv(image->y1, comp->dy) - CeilDiv(image->y0, comp->dy);
        // Saturates far above any cap, so neither the product nor the sum wraps.
        if (h != 0 && w > kSampleCountCeiling / h) {
            return UINT64_MAX;
        }
        total += w * h;
        if (total > kSampleCountCeiling) {
            return UINT64_MAX;
        }
    }
    return total;
}

// Refuses from the header alone what would exhaust memory while decoding or
// could not become a 32-bit bitmap; the decoded image is checked again, since
// a palette can still add components.
int CheckHeaderSize(const opj_image_t* image)
{
    uint32_t limit = gSampleLimit.load();
    if (CountHeaderSamples(image) > (limit != 0 ? limit : kDefaultSampleLimit)) {
        return 0;
    }
    const opj_image_comp_t* first = &image->comps[0];
    uint64_t width = CeilDiv(image->x1, first->dx) - CeilDiv(image->x0, first->dx);
    uint64_t height = CeilDiv(image->y1, first->dy) - CeilDiv(image->y0, first->dy);
    DibLayout layout;
    return width <= 0x7FFFFFFFu && height <= 0x7FFFFFFFu &&
           ComputeDibLayout((uint32_t)width, (uint32_t)height, PictureBitCount(image), &layout);
}

const KindDecoder* FindKindDecoder(int kind)
{
    for (size_t i = 0; i < sizeof(kKindDecoders) / sizeof(kKindDecoders[0]); ++i) {
        if (kKindDecoders[i].kind == kind) {
            return &kKindDecoders[i];
        }
    }
    return NULL;
}

// The bitmap block of a large image, allocated on a helper thread while the
// codec decodes: fresh memory costs a page fault per page on its first write
// (about 20 ms for a 4000 x 4000 bitmap), and the codec leaves a core idle in
// its single-threaded stages, where the helper touches every page.
struct BlockReservation {
    uint32_t size;
    uint8_t* block;
    pthread_t thread;
    int started;
};

void* ReserveBlockPages(void* parameter)
{
    BlockReservation* reservation = (BlockReservation*)parameter;
    volatile uint8_t* block = (volatile uint8_t*)malloc(reservation->size);
    for (uint32_t at = 0; block != NULL && at < reservation->size; at += kPageBytes) {
        block[at] = 0;
    }
    reservation->block = (uint8_t*)block;
    return NULL;
}

// Bitmap block size the header promises; 0 when not worth reserving ahead.
// A palette in a JP2 file can still change the component count, so the
// conversion checks the size again.
uint32_t ExpectedBlockSize(const opj_image_t* image)
{
    const opj_image_comp_t* first = &image->comps[0];
    uint64_t width = CeilDiv(image->x1, first->dx) - CeilDiv(image->x0, first->dx);
    uint64_t height = CeilDiv(image->y1, first->dy) - CeilDiv(image->y0, first->dy);
    DibLayout layout;
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu ||
        !ComputeDibLayout((uint32_t)width, (uint32_t)height, PictureBitCount(image), &layout)) {
        return 0;
    }
    return layout.blockSize < kReserveAheadMinBytes || layout.blockSize > kReserveAheadMaxBytes ? 0 : layout.blockSize;
}

void StartBlockReservation(BlockReservation* reservation, uint32_t size)
{
    reservation->size = size;
    reservation->block = NULL;
    reservation->started = size != 0 && pthread_create(&reservation->thread, NULL, ReserveBlockPages, reservation) == 0;
}

// The reserved block (null when none was made); the caller owns it.
uint8_t* FinishBlockReservation(BlockReservation* reservation)
{
    if (reservation->started) {
        pthread_join(reservation->thread, NULL);
        reservation->started = 0;
    }
    uint8_t* block = reservation->block;
    reservation->block = NULL;
    return block;
}

// Runs one codec over (data, length); *imageOut is the decoded image or null
// with the reason in *failureOut. A large image comes with its bitmap block
// already allocated in *blockOut (*blockSizeOut bytes), else null.
void DecodeImage(opj_image_t** imageOut, uint8_t** blockOut, uint32_t* blockSizeOut, int* failureOut,
                 OPJ_CODEC_FORMAT format, const uint8_t* data, uint32_t length)
{
    *imageOut = NULL;
    *blockOut = NULL;
    *blockSizeOut = 0;
    *failureOut = DecodeFailureCorrupt;
    BlockReservation reservation = {0, NULL, pthread_t(), 0};
    MemoryStream memory;
    opj_image_t* image = NULL;
    opj_codec_t* codec = NULL;
    opj_stream_t* stream = OpenMemoryStream(&memory, data, length);
    if (stream == NULL) {
        *failureOut = DecodeFailureOutOfMemory;
        goto cleanup;
    }

    codec = opj_create_decompress(format);
    if (codec == NULL) {
        *failureOut = DecodeFailureOutOfMemory;
        goto cleanup;
    }
    opj_set_info_handler(codec, IgnoreCodecMessage, NULL);
    opj_set_warning_handler(codec, IgnoreCodecMessage, NULL);
    opj_set_error_handler(codec, IgnoreCodecMessage, NULL);
    {
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        if (!opj_setup_decoder(codec, &parameters)) {
            goto cleanup;
        }
    }
    opj_codec_set_threads(codec, ResolveThreadCount());
    if (!opj_read_header(stream, codec, &image) || image == NULL || image->numcomps == 0) {
        goto cleanup;
    }
    if (!CheckHeaderSize(image)) {
        *failureOut = DecodeFailureTooLarge;
        goto cleanup;
    }
    StartBlockReservation(&reservation, ExpectedBlockSize(image));
    if (!opj_decode(codec, stream, image) || !opj_end_decompress(codec, stream)) {
        goto cleanup;
    }
    *imageOut = image;
    image = NULL;
    *blockSizeOut = reservation.size;
    *blockOut = FinishBlockReservation(&reservation);
    *failureOut = DecodeFailureNone;
cleanup:
    free(FinishBlockReservation(&reservation));
    opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
}

} // namespace

void SetDecodeThreadCount(int threadCount)
{
    gThreadCount.store(threadCount < 0 ? 0 : threadCount);
}

void SetDecodeSampleLimit(uint32_t sampleLimit)
{
    gSampleLimit.store(sampleLimit);
}

int ConvertImageToPackedDib(uint8_t** dibOut, const opj_image_t* image)
{
    return PackImageToDib(dibOut, image, ResolveThreadCount(), NULL, 0);
}

int DecodeToPackedDibDetailed(uint8_t** dibOut, int* failureOut, const uint8_t* data, int32_t length)
{
    int kind = data != NULL && length >= 0 ? ClassifyFileKind(data, (uint32_t)length) : FileKindInvalid;
    return DecodeToPackedDibOfKind(dibOut, failureOut, kind, data, length);
}

int DecodeToPackedDibOfKind(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length)
{
    int failure = DecodeFailureArguments;
    opj_image_t* image = NULL;
    const KindDecoder* decoder = NULL;
    uint32_t offset = 0;
    if (dibOut != NULL) {
        *dibOut = NULL;
    }
    if (dibOut == NULL || data == NULL || length < 0) {
        goto done;
    }
    failure = DecodeFailureNotJpeg2000;
    if (kind == FileKindInvalid) {
        goto done;
    }
    decoder = FindKindDecoder(kind);
    failure = DecodeFailureKindNotDecoded;
    if (decoder == NULL) {
        goto done;
    }
    if (decoder->fromCodestreamBox) {
        offset = CodestreamOffsetOfKind(kind, data, (uint32_t)length);
    }
    {
        uint8_t* block = NULL;
        uint32_t blockSize = 0;
        DecodeImage(&image, &block, &blockSize, &failure, decoder->format, data + offset, (uint32_t)length - offset);
        if (image != NULL) {
            failure = PackImageToDib(dibOut, image, ResolveThreadCount(), block, blockSize);
        }
    }
done:
    opj_image_destroy(image);
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

int DecodeToPackedDib(uint8_t** dibOut, const uint8_t* data, int32_t length)
{
    return DecodeToPackedDibDetailed(dibOut, NULL, data, length);
}
