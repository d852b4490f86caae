// Decodes the first codestream of a JPEG 2000 file into a packed DIB through OpenJPEG.
#include "codestream_image.h"
#include "codestream_prefix.h"
#include "byte_order.h"
#include "jpeg2000.h"
#include "dib_layout.h"
#include "image_to_dib.h"
#include "memory_stream.h"

#include <openjpeg.h>

#include <atomic>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
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
// A picture above this many pixels gets a preview first; the preview is at
// least two halvings smaller (1/16 of the pixels) and is halved further until
// it is no larger than the budget, so it comes quickly even for huge scans.
const uint64_t kPreviewMinPixels = 2000000;
const uint64_t kPreviewPixelBudget = 1u << 20;

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

// What the codec's error texts said of a failure: the caller needs to tell
// a failed allocation from corrupt data, since it may try again later.
enum CodecErrorText {
    CodecToldNothing = 0,
    CodecToldOutOfMemory = 1,
    CodecToldOther = 2,
};

// Every error OpenJPEG 2.5.3 gives when an allocation fails contains one of
// these. "exceeds system limits" is what it says when a tile's component
// buffers cannot be had, the largest allocation of a single-tile file (and
// when their size passes size_t, which is no more decodable here either).
const char* const kCodecOutOfMemoryWords[] = {
    "memory",                // "Not enough memory to ...", "Cannot decode tile, memory error"
    "allocat",               // "Cannot allocate ...", "Error allocating ...", "Memory allocation failure ...",
                             // "... tile index allocation failed"
    "exceeds system limits", // "Size of tile data ...", "Size of code block data ..."
    "OOM",                   // "Unexpected OOM." (the palette's mapping)
    "as TLS",                // "Unable to set t1 handle as TLS" (a thread's key table grown)
};

// Said after any failure inside a tile's decode, whatever its cause.
const char* const kCodecCauselessTexts[] = {
    "Failed to decode.",
    "Failed to decode tile ",
    "Failed to decode the codestream in the JP2 file",
};

int MessageHasAny(const char* message, const char* const* words, size_t count, int atStart)
{
    for (size_t i = 0; i < count; ++i) {
        const char* found = strstr(message, words[i]);
        if (found != NULL && (!atStart || found == message)) {
            return 1;
        }
    }
    return 0;
}

void NoteCodecError(const char* message, void* user)
{
    int* told = (int*)user;
    if (message == NULL ||
        MessageHasAny(message, kCodecCauselessTexts, sizeof kCodecCauselessTexts / sizeof *kCodecCauselessTexts, 1)) {
        return;
    }
    int memory =
        MessageHasAny(message, kCodecOutOfMemoryWords, sizeof kCodecOutOfMemoryWords / sizeof *kCodecOutOfMemoryWords, 0);
    if (memory || *told == CodecToldNothing) {
        *told = memory ? CodecToldOutOfMemory : CodecToldOther;
    }
}

// The count asked for one decode, else the process-wide one, else one per core.
int ResolveThreadCount(int requested = 0)
{
    int threads = requested > 0 ? requested : gThreadCount.load();
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

// Size along one axis of a component at `reduce` halvings, from the image
// edges [start, end) and the component's step, as the codec computes it.
uint64_t ReducedExtent(uint32_t start, uint32_t end, uint32_t step, int reduce)
{
    return LevelExtent(CeilDiv(end, step), reduce) - LevelExtent(CeilDiv(start, step), reduce);
}

// A rectangle of the codec's reference grid, [x0, x1) x [y0, y1): the whole
// image, or the part of it a region decode asks for.
struct GridArea {
    uint32_t x0;
    uint32_t y0;
    uint32_t x1;
    uint32_t y1;
};

GridArea WholeArea(const opj_image_t* image)
{
    GridArea area = {image->x0, image->y0, image->x1, image->y1};
    return area;
}

// Samples the codec will allocate for `area` at `reduce` halvings, from the
// header alone.
uint64_t CountHeaderSamples(const opj_image_t* image, const GridArea* area, int reduce)
{
    uint64_t total = 0;
    for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) {
        const opj_image_comp_t* comp = &image->comps[i];
        if (comp->dx == 0 || comp->dy == 0 || area->x1 < area->x0 || area->y1 < area->y0) {
            return UINT64_MAX;
        }
        uint64_t w = ReducedExtent(area->x0, area->x1, comp->dx, reduce);
        uint64_t h = ReducedExtent(area->y0, area->y1, comp->dy, reduce);
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

// Size of the first component's part in `area` at `reduce` halvings, each
// side at most 2^31 - 1; 0 for a header without one.
int HeaderExtent(uint64_t* widthOut, uint64_t* heightOut, const opj_image_t* image, const GridArea* area, int reduce)
{
    const opj_image_comp_t* first = &image->comps[0];
    if (first->dx == 0 || first->dy == 0 || area->x1 < area->x0 || area->y1 < area->y0) {
        return 0;
    }
    *widthOut = ReducedExtent(area->x0, area->x1, first->dx, reduce);
    *heightOut = ReducedExtent(area->y0, area->y1, first->dy, reduce);
    return *widthOut <= 0x7FFFFFFFu && *heightOut <= 0x7FFFFFFFu;
}

// Bitmap layout of the first component's part in `area` at `reduce`
// halvings; 0 when it could not be a 32-bit bitmap. A palette in a JP2 file
// can still change the component count, so the conversion checks the
// decoded image again.
int ComputeHeaderLayout(DibLayout* layoutOut, uint64_t* widthOut, uint64_t* heightOut, const opj_image_t* image,
                        const GridArea* area, int reduce)
{
    return HeaderExtent(widthOut, heightOut, image, area, reduce) &&
           ComputeDibLayout((uint32_t)*widthOut, (uint32_t)*heightOut, PictureBitCount(image), layoutOut);
}

// Refuses from the header alone what would exhaust memory while decoding
// `area` at `reduce` halvings or could not become a 32-bit bitmap.
int CheckHeaderSize(const opj_image_t* image, const GridArea* area, int reduce)
{
    if (CountHeaderSamples(image, area, reduce) > DecodeSampleLimit()) {
        return 0;
    }
    DibLayout layout;
    uint64_t width = 0;
    uint64_t height = 0;
    return ComputeHeaderLayout(&layout, &width, &height, image, area, reduce);
}

// Halvings the codestream allows: one less than the fewest resolution levels
// of any component.
int MaxReduce(opj_codec_t* codec, const opj_image_t* image)
{
    opj_codestream_info_v2_t* info = opj_get_cstr_info(codec);
    int most = 0;
    if (info != NULL && info->m_default_tile_info.tccp_info != NULL) {
        most = 32;
        for (OPJ_UINT32 i = 0; i < image->numcomps && i < info->nbcomps; ++i) {
            int levels = (int)info->m_default_tile_info.tccp_info[i].numresolutions;
            most = levels - 1 < most ? levels - 1 : most;
        }
        most = most < 0 ? 0 : most;
    }
    opj_destroy_cstr_info(&info);
    return most;
}

// The plan for a header: the fewest halvings that fit the cap and make a
// 32-bit bitmap (the full size need not), and a preview two or more halvings
// below that when the shown picture is large.
int BuildPlan(DecodePlan* plan, opj_codec_t* codec, const opj_image_t* image)
{
    DibLayout layout;
    uint64_t width = 0;
    uint64_t height = 0;
    GridArea whole = WholeArea(image);
    if (!HeaderExtent(&width, &height, image, &whole, 0)) {
        return 0;
    }
    plan->fullWidth = (uint32_t)width;
    plan->fullHeight = (uint32_t)height;
    plan->componentCount = image->numcomps;
    plan->bitCount = (uint32_t)PictureBitCount(image);
    int most = MaxReduce(codec, image);
    plan->maxReduce = most;
    int shown = 0;
    while (shown <= most && !CheckHeaderSize(image, &whole, shown)) {
        ++shown;
    }
    if (shown > most || !ComputeHeaderLayout(&layout, &width, &height, image, &whole, shown)) {
        return 0;
    }
    plan->shownReduce = shown;
    plan->shownWidth = (uint32_t)width;
    plan->shownHeight = (uint32_t)height;
    plan->previewReduce = 0;
    if (width * height <= kPreviewMinPixels || shown + 2 > most) {
        return 1;
    }
    int preview = shown + 2;
    while (preview < most && ComputeHeaderLayout(&layout, &width, &height, image, &whole, preview) &&
           width * height > kPreviewPixelBudget) {
        ++preview;
    }
    plan->previewReduce = preview;
    return 1;
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
    volatile uint8_t* block = (volatile uint8_t*)AllocateBitmapBlock(reservation->size);
    for (uint32_t at = 0; block != NULL && at < reservation->size; at += kPageBytes) {
        block[at] = 0;
    }
    reservation->block = (uint8_t*)block;
    return NULL;
}

// Bitmap block size the header promises for `area` at `reduce` halvings; 0
// when not worth reserving ahead.
uint32_t ExpectedBlockSize(const opj_image_t* image, const GridArea* area, int reduce)
{
    DibLayout layout;
    uint64_t width = 0;
    uint64_t height = 0;
    if (!ComputeHeaderLayout(&layout, &width, &height, image, area, reduce)) {
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

// One codec with its stream over (data, length), the header read.
struct OpenCodec {
    MemoryStream memory;
    opj_stream_t* stream;
    opj_codec_t* codec;
    opj_image_t* image;
    int told;           // a CodecErrorText
    uint32_t blockSize; // bitmap block worth reserving ahead, 0 for none
};

// The failure reason for a decode that failed. The codec fails without
// saying why when some of the decode's own buffers cannot be allocated (the
// wavelet's work rows, a code-block's, the output image's planes), and says
// why for corrupt data: a failure it gives no cause for is lack of memory.
int FailureOfDecode(const OpenCodec* open)
{
    return open->told == CodecToldOther ? DecodeFailureCorrupt : DecodeFailureOutOfMemory;
}

void CloseCodec(OpenCodec* open)
{
    opj_image_destroy(open->image);
    opj_destroy_codec(open->codec);
    opj_stream_destroy(open->stream);
    open->image = NULL;
    open->codec = NULL;
    open->stream = NULL;
}

// Opens a codec and reads the header; the failure reason, or
// DecodeFailureNone. The caller closes `open` either way. Only a codec that
// will decode gets worker threads (`threads`, 0 for none): a header needs none.
// With `acceptCut` a codestream cut short is decoded as far as it goes.
// The codestream may lie in pieces (`segments`, `count`), read in place;
// `patch` (may be null) is read over them.
int OpenAndReadHeader(OpenCodec* open, OPJ_CODEC_FORMAT format, const StreamSegment* segments, uint32_t count,
                      int threads, int acceptCut = 0, const StreamPatch* patch = NULL)
{
    open->codec = NULL;
    open->image = NULL;
    open->told = CodecToldNothing;
    open->blockSize = 0;
    open->stream = OpenSegmentStream(&open->memory, segments, count, patch);
    if (open->stream == NULL) {
        return DecodeFailureOutOfMemory;
    }
    open->codec = opj_create_decompress(format);
    if (open->codec == NULL) {
        return DecodeFailureOutOfMemory;
    }
    opj_set_info_handler(open->codec, IgnoreCodecMessage, NULL);
    opj_set_warning_handler(open->codec, IgnoreCodecMessage, NULL);
    opj_set_error_handler(open->codec, NoteCodecError, &open->told);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(open->codec, &parameters)) {
        return DecodeFailureCorrupt;
    }
    if (threads > 0) {
        opj_codec_set_threads(open->codec, threads);
    }
    if (acceptCut && !opj_decoder_set_strict_mode(open->codec, OPJ_FALSE)) {
        return DecodeFailureCorrupt;
    }
    if (!opj_read_header(open->stream, open->codec, &open->image) || open->image == NULL ||
        open->image->numcomps == 0) {
        return open->told == CodecToldOutOfMemory ? DecodeFailureOutOfMemory : DecodeFailureCorrupt;
    }
    return DecodeFailureNone;
}

// Moves a start edge back to a multiple of `align`, not past the image's.
uint32_t AlignStart(uint32_t start, uint32_t imageStart, uint64_t align)
{
    uint64_t aligned = start - start % align;
    return aligned < imageStart ? imageStart : (uint32_t)aligned;
}

// The reference-grid area of a picture region at `reduce` halvings, clipped
// to the image; 0 when nothing of it is left. Its top-left corner moves back
// to the start of the level pixel it falls in, and onto the grid of the most
// subsampled component: the codec leaves out a subsampled sample that starts
// before the area, and the conversion would then give the first pixels a
// neighbour's colour.
int ClipRegion(GridArea* areaOut, const opj_image_t* image, const PictureRegion* region, int reduce)
{
    GridArea whole = WholeArea(image);
    if (whole.x1 < whole.x0 || whole.y1 < whole.y0) {
        return 0;
    }
    uint32_t width = whole.x1 - whole.x0;
    uint32_t height = whole.y1 - whole.y0;
    areaOut->x0 = whole.x0 + (region->left < width ? region->left : width);
    areaOut->x1 = whole.x0 + (region->right < width ? region->right : width);
    areaOut->y0 = whole.y0 + (region->top < height ? region->top : height);
    areaOut->y1 = whole.y0 + (region->bottom < height ? region->bottom : height);
    if (areaOut->x0 >= areaOut->x1 || areaOut->y0 >= areaOut->y1) {
        return 0;
    }
    uint64_t stepX = 1;
    uint64_t stepY = 1;
    for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) {
        stepX = image->comps[i].dx > stepX ? image->comps[i].dx : stepX;
        stepY = image->comps[i].dy > stepY ? image->comps[i].dy : stepY;
    }
    areaOut->x0 = AlignStart(areaOut->x0, whole.x0, stepX << reduce);
    areaOut->y0 = AlignStart(areaOut->y0, whole.y0, stepY << reduce);
    return 1;
}

// Where the first component's part in `area` starts at `reduce` halvings,
// counted from the image's own first pixel at that level.
void PlaceLevelRegion(PictureRegion* levelOut, const opj_image_t* image, const GridArea* area, int reduce)
{
    const opj_image_comp_t* first = &image->comps[0];
    levelOut->left = (uint32_t)ReducedExtent(image->x0, area->x0, first->dx, reduce);
    levelOut->top = (uint32_t)ReducedExtent(image->y0, area->y0, first->dy, reduce);
    levelOut->right = levelOut->left + (uint32_t)ReducedExtent(area->x0, area->x1, first->dx, reduce);
    levelOut->bottom = levelOut->top + (uint32_t)ReducedExtent(area->y0, area->y1, first->dy, reduce);
}

// What one decode asks of the codec: `reduce` halvings of both sides (the
// codec then allocates only that resolution) and, unless `region` is null,
// only that part of the picture (the codec then reads and allocates only the
// tiles and code-blocks it touches); `levelOut`, when given, receives where
// the decoded part lies in the level.
struct DecodeRequest {
    int reduce;
    const PictureRegion* region;
    PictureRegion* levelOut;
    int threads;   // codec and conversion threads, at least 1
    int acceptCut; // a codestream cut short is decoded as far as it goes
    int noBlock;   // the image is not packed into a bitmap of its own: nothing reserved ahead
    StreamPatch patch; // read over the file's bytes (`at` from the file's start)
};

const StreamPatch NoPatch = {0, {0, 0, 0, 0}, 0};

// The area a request decodes, checked against the limits and set on the
// codec; the failure reason, or DecodeFailureNone.
int SetDecodeArea(OpenCodec* open, const DecodeRequest* request)
{
    GridArea area = WholeArea(open->image);
    if (request->region != NULL && !ClipRegion(&area, open->image, request->region, request->reduce)) {
        return DecodeFailureArguments;
    }
    if (!CheckHeaderSize(open->image, &area, request->reduce)) {
        return DecodeFailureTooLarge;
    }
    if (request->reduce > 0 && !opj_set_decoded_resolution_factor(open->codec, (OPJ_UINT32)request->reduce)) {
        return DecodeFailureTooLarge;
    }
    // Placed first: setting the area moves the image's own edges onto it.
    if (request->levelOut != NULL) {
        PlaceLevelRegion(request->levelOut, open->image, &area, request->reduce);
    }
    if (request->region != NULL &&
        !opj_set_decode_area(open->codec, open->image, (OPJ_INT32)area.x0, (OPJ_INT32)area.y0, (OPJ_INT32)area.x1,
                             (OPJ_INT32)area.y1)) {
        return DecodeFailureArguments;
    }
    open->blockSize = ExpectedBlockSize(open->image, &area, request->reduce);
    return DecodeFailureNone;
}

// Runs one codec over (data, length) as `request` asks; *imageOut is the
// decoded image or null with the reason in *failureOut. A large image comes
// with its bitmap block already allocated in *blockOut (*blockSizeOut
// bytes), else null.
void DecodeImage(opj_image_t** imageOut, uint8_t** blockOut, uint32_t* blockSizeOut, int* failureOut,
                 OPJ_CODEC_FORMAT format, const StreamSegment* segments, uint32_t count, const DecodeRequest* request)
{
    *imageOut = NULL;
    *blockOut = NULL;
    *blockSizeOut = 0;
    BlockReservation reservation = {0, NULL, pthread_t(), 0};
    OpenCodec open;
    *failureOut =
        OpenAndReadHeader(&open, format, segments, count, request->threads, request->acceptCut, &request->patch);
    if (*failureOut != DecodeFailureNone) {
        goto cleanup;
    }
    *failureOut = SetDecodeArea(&open, request);
    if (*failureOut != DecodeFailureNone) {
        goto cleanup;
    }
    StartBlockReservation(&reservation, request->noBlock ? 0 : open.blockSize);
    if (!opj_decode(open.codec, open.stream, open.image) || !opj_end_decompress(open.codec, open.stream)) {
        *failureOut = FailureOfDecode(&open);
        goto cleanup;
    }
    *imageOut = open.image;
    open.image = NULL;
    *blockSizeOut = reservation.size;
    *blockOut = FinishBlockReservation(&reservation);
cleanup:
    ReleaseBitmapBlock(FinishBlockReservation(&reservation));
    CloseCodec(&open);
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

uint32_t DecodeSampleLimit()
{
    uint32_t limit = gSampleLimit.load();
    return limit != 0 ? limit : kDefaultSampleLimit;
}

namespace {

// The codec a file of `kind` needs and where its codestream starts; the
// failure reason, or DecodeFailureNone.
int FindFileDecoder(const KindDecoder** decoderOut, uint32_t* offsetOut, int kind, const uint8_t* data,
                    int32_t length)
{
    *decoderOut = NULL;
    *offsetOut = 0;
    if (data == NULL || length < 0) {
        return DecodeFailureArguments;
    }
    if (kind == FileKindInvalid) {
        return DecodeFailureNotJpeg2000;
    }
    *decoderOut = FindKindDecoder(kind);
    if (*decoderOut == NULL) {
        return DecodeFailureKindNotDecoded;
    }
    if ((*decoderOut)->fromCodestreamBox) {
        *offsetOut = CodestreamOffsetOfKind(kind, data, (uint32_t)length);
    }
    return DecodeFailureNone;
}

int KindOf(const uint8_t* data, int32_t length)
{
    return data != NULL && length >= 0 ? ClassifyFileKind(data, (uint32_t)length) : FileKindInvalid;
}

} // namespace

int PlanFirstCodestream(DecodePlan* planOut, int* failureOut, int kind, const uint8_t* data, int32_t length)
{
    const KindDecoder* decoder = NULL;
    uint32_t offset = 0;
    int failure = planOut == NULL ? DecodeFailureArguments : FindFileDecoder(&decoder, &offset, kind, data, length);
    if (failure == DecodeFailureNone) {
        OpenCodec open;
        StreamSegment whole = {data + offset, (uint64_t)length - offset};
        failure = OpenAndReadHeader(&open, decoder->format, &whole, 1, 0);
        if (failure == DecodeFailureNone && !BuildPlan(planOut, open.codec, open.image)) {
            failure = DecodeFailureTooLarge;
        }
        CloseCodec(&open);
    }
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

namespace {

// The decode behind DecodeLevelToPackedDib, DecodePrefixToPackedDib and
// DecodeRegionToPackedDib.
int DecodeRequestToPackedDib(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                             const DecodeRequest* request)
{
    int reduce = request->reduce;
    const KindDecoder* decoder = NULL;
    uint32_t offset = 0;
    opj_image_t* image = NULL;
    int failure = DecodeFailureArguments;
    if (dibOut != NULL) {
        *dibOut = NULL;
        failure = reduce < 0 || reduce > 32 ? DecodeFailureArguments
                                            : FindFileDecoder(&decoder, &offset, kind, data, length);
    }
    // The codec reads from `offset`: so does the patch.
    DecodeRequest atOffset = *request;
    if (failure == DecodeFailureNone && atOffset.patch.length != 0) {
        failure = atOffset.patch.at >= offset ? DecodeFailureNone : DecodeFailureArguments;
        atOffset.patch.at -= offset;
    }
    if (failure == DecodeFailureNone) {
        uint8_t* block = NULL;
        uint32_t blockSize = 0;
        StreamSegment whole = {data + offset, (uint64_t)length - offset};
        DecodeImage(&image, &block, &blockSize, &failure, decoder->format, &whole, 1, &atOffset);
        if (image != NULL) {
            failure = PackImageToDib(dibOut, image, request->threads, block, blockSize);
        }
    }
    opj_image_destroy(image);
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

} // namespace

int DecodeReducedToPackedDib(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                             int reduce)
{
    return DecodeLevelToPackedDib(dibOut, failureOut, kind, data, length, reduce, 0);
}

int DecodeFirstCodestreamLevel(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                               int reduce, int threadCount)
{
    DecodeRequest request = {reduce, NULL, NULL, ResolveThreadCount(threadCount), 0, 0, NoPatch};
    return DecodeRequestToPackedDib(dibOut, failureOut, kind, data, length, &request);
}

int DecodePrefixToPackedDib(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length,
                            int reduce, int threadCount)
{
    // Bad arguments go through unchanged, to be refused as such. A composed
    // picture is composed of what has come; its first codestream alone
    // would be a different picture.
    if (data != NULL && length >= 0 && ClassifyArrivingFile(kind, data, (uint32_t)length) == ArrivingComposed) {
        return ComposeArrivingPicture(dibOut, failureOut, kind, data, length, reduce, threadCount);
    }
    uint32_t cut = 0;
    int32_t prefix = data != NULL && length >= 0 ? (int32_t)MeasureDecodablePrefixCut(kind, data, (uint32_t)length, &cut)
                                                 : length;
    // A codec that accepts a cut codestream still sizes its tile buffer by the
    // cut tile-part's Psot, which a hostile file sets near 4 GiB: the codec
    // reads the bytes in place with that Psot saying what arrived.
    DecodeRequest request = {reduce, NULL, NULL, ResolveThreadCount(threadCount), 1, 0, NoPatch};
    if (cut != 0) {
        request.patch.at = (uint64_t)cut + 6; // Psot, past marker, Lsot and Isot
        request.patch.length = 4;
        WriteBig32(request.patch.bytes, (uint32_t)prefix - cut);
    }
    int failure = prefix == 0 ? DecodeFailureCorrupt : DecodeFailureNone;
    int decoded = 0;
    if (failure == DecodeFailureNone) {
        decoded = DecodeRequestToPackedDib(dibOut, &failure, kind, data, prefix, &request);
    } else if (dibOut != NULL) {
        *dibOut = NULL;
    }
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return decoded;
}

int DecodeRegionToPackedDib(uint8_t** dibOut, PictureRegion* levelOut, int* failureOut, int kind,
                            const uint8_t* data, int32_t length, int reduce, PictureRegion region, int threadCount)
{
    // A composed picture has no single codestream to take a part of: the
    // level shown stays.
    if (IsComposedFile(kind, data, length)) {
        if (dibOut != NULL) {
            *dibOut = NULL;
        }
        if (failureOut != NULL) {
            *failureOut = DecodeFailureTooLarge;
        }
        return 0;
    }
    DecodeRequest request = {reduce, &region, levelOut, ResolveThreadCount(threadCount), 0, 0, NoPatch};
    return DecodeRequestToPackedDib(dibOut, failureOut, kind, data, length, &request);
}

int DecodeToPackedDibDetailed(uint8_t** dibOut, int* failureOut, const uint8_t* data, int32_t length)
{
    return DecodeToPackedDibOfKind(dibOut, failureOut, KindOf(data, length), data, length);
}

int DecodeToPackedDibOfKind(uint8_t** dibOut, int* failureOut, int kind, const uint8_t* data, int32_t length)
{
    DecodePlan plan;
    int failure = DecodeFailureArguments;
    if (dibOut != NULL) {
        *dibOut = NULL;
        if (PlanDecode(&plan, &failure, kind, data, length)) {
            DecodeReducedToPackedDib(dibOut, &failure, kind, data, length, plan.shownReduce);
        }
    }
    if (failureOut != NULL) {
        *failureOut = failure;
    }
    return failure == DecodeFailureNone;
}

int DecodeToPackedDib(uint8_t** dibOut, const uint8_t* data, int32_t length)
{
    return DecodeToPackedDibDetailed(dibOut, NULL, data, length);
}

int ReadCodestreamHeader(CodestreamHeader* headerOut, const StreamSegment* segments, uint32_t count)
{
    OpenCodec open;
    int failure = OpenAndReadHeader(&open, OPJ_CODEC_J2K, segments, count, 0);
    if (failure == DecodeFailureNone) {
        uint64_t width = 0;
        uint64_t height = 0;
        GridArea whole = WholeArea(open.image);
        if (!HeaderExtent(&width, &height, open.image, &whole, 0)) {
            failure = DecodeFailureTooLarge;
        } else {
            headerOut->width = (uint32_t)width;
            headerOut->height = (uint32_t)height;
            headerOut->maxReduce = MaxReduce(open.codec, open.image);
        }
    }
    CloseCodec(&open);
    return failure;
}

namespace {

int DecodeWholeOrCut(opj_image_t** imageOut, const StreamSegment* segments, uint32_t count, int reduce,
                     int threadCount, int acceptCut, const StreamPatch* patch)
{
    DecodeRequest request = {reduce, NULL, NULL, ResolveThreadCount(threadCount), acceptCut, 1, NoPatch};
    request.patch = patch != NULL ? *patch : NoPatch;
    uint8_t* block = NULL;
    uint32_t blockSize = 0;
    int failure = DecodeFailureArguments;
    if (reduce >= 0 && reduce <= 32) {
        DecodeImage(imageOut, &block, &blockSize, &failure, OPJ_CODEC_J2K, segments, count, &request);
    } else {
        *imageOut = NULL;
    }
    free(block);
    return failure;
}

} // namespace

int DecodeCodestreamImage(opj_image_t** imageOut, const StreamSegment* segments, uint32_t count, int reduce,
                          int threadCount)
{
    return DecodeWholeOrCut(imageOut, segments, count, reduce, threadCount, 0, NULL);
}

int DecodeCutCodestreamImage(opj_image_t** imageOut, const StreamSegment* segments, uint32_t count, int reduce,
                             int threadCount, const StreamPatch* patch)
{
    return DecodeWholeOrCut(imageOut, segments, count, reduce, threadCount, 1, patch);
}

int ResolveCodecThreads(int requested)
{
    return ResolveThreadCount(requested);
}
