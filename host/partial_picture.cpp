// Pictures of a file while it arrives: when to decode the part received so
// far, the decode itself on a queue worker, and the hand-over of its
// picture to the window.
#include <stdlib.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

// Pacing: the next partial decode waits until the decodable part has grown
// by half and four times the last one's time has passed, so that partial
// decodes take at most about a quarter of a core per element.
const int32_t GrowthNumerator = 3;
const int32_t GrowthDenominator = 2;
const uint32_t TimeFactor = 4;
// A file that arrives within this long after its stream opened needs no
// partial picture: its own decode follows at once.
const uint32_t FirstPartialDelayMs = 100;

uint64_t ThreadProcessorTime() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    return ((uint64_t)kernel.dwHighDateTime << 32 | kernel.dwLowDateTime) +
           ((uint64_t)user.dwHighDateTime << 32 | user.dwLowDateTime);
}

// What a prefix job cost and the newest picture (or none), published for the
// UI thread to take; a picture it has not taken yet is replaced. A job a new
// stream killed publishes neither: the arrival part is the next file's.
void PublishPartialStage(PluginInstance* record, uint8_t* dib, uint64_t processorTime, uint32_t costMs) {
    if (!BeginJobPublish(record)) {
        FreePictureBlock(dib);
        return;
    }
    ArrivalPictures* arrival = &record->arrival;
    arrival->processorTime += processorTime;
    arrival->lastCostMs = costMs;
    arrival->count++;
    if (dib) {
        arrival->pictures++;
        FreePictureBlock(__atomic_exchange_n(&arrival->pending, dib, __ATOMIC_ACQ_REL));
    }
    EndJobPublish(record);
}

// Whether the size the window asked for is the one it will draw this
// picture at: an element always draws at its own size; a full page draws at
// the picture's proportions, so a size given before the picture's was known
// (the client area) is not it.
int IsDrawnSize(const PluginInstance* record, const DecodePlan* plan, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    if (record->element.mode != NP_FULL) {
        return 1;
    }
    int64_t skew = (int64_t)width * plan->fullHeight - (int64_t)height * plan->fullWidth;
    return llabs(skew) <= (int64_t)plan->fullWidth + plan->fullHeight;
}

// The level shrunk here to the size it is drawn at, by the same filtered
// stretch the window would make, so that the UI thread's paints (one per
// picture and one per step of the arrival bar) only copy it: under Wine the
// filtered stretch was nearly all of such a paint's time. NULL when the
// level is not larger than that size or the shrink fails; the level is then
// shown as it is.
uint8_t* ShrinkToDrawnSize(const uint8_t* level, int32_t width, int32_t height) {
    const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)level;
    if (header->biWidth <= width && header->biHeight <= height) {
        return NULL;
    }
    int64_t stride = (int64_t)width * 4;
    if (stride * height > INT32_MAX - (int64_t)sizeof(BITMAPINFOHEADER)) {
        return NULL;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = (DWORD)(stride * height);
    const uint8_t* levelBits = PackedDibBits(level);
    uint8_t* shrunk = NULL;
    void* bits = NULL;
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0) : NULL;
    HGDIOBJ old = bitmap ? SelectObject(dc, bitmap) : NULL;
    if (old) {
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, NULL);
        int copied = StretchDIBits(dc, 0, 0, width, height, 0, 0, header->biWidth, header->biHeight,
                                   levelBits, (const BITMAPINFO*)level, DIB_RGB_COLORS, SRCCOPY);
        GdiFlush();
        shrunk = copied > 0 ? (uint8_t*)malloc(sizeof(BITMAPINFOHEADER) + (size_t)(stride * height)) : NULL;
        if (shrunk) {
            memcpy(shrunk, &info.bmiHeader, sizeof(BITMAPINFOHEADER));
            memcpy(shrunk + sizeof(BITMAPINFOHEADER), bits, (size_t)(stride * height));
        }
        SelectObject(dc, old);
    }
    if (bitmap) {
        DeleteObject(bitmap);
    }
    if (dc) {
        DeleteDC(dc);
    }
    return shrunk;
}

// The part of the picture in the prefix job's view of the bytes, at the level its request
// chose, shrunk to the size it is drawn at; the geometry is published
// before the picture. *decoderTimeOut: the processor time a decoder process
// spent on it (0 when the job ran here).
uint8_t* DecodePartialPicture(PluginInstance* record, uint64_t* decoderTimeOut) {
    const PrefixRequest* request = &record->queue.prefix.queued;
    DecodeJob job = {};
    job.kind = DecodeJobPrefix;
    job.fileKind = request->kind;
    job.reduce = request->reduce;
    DecodeJobResult result = {};
    int ran = RunRecordJob(record, &job, &result);
    *decoderTimeOut = result.decoderProcessorTime;
    if (!ran) {
        return NULL;
    }
    uint8_t* dib = result.dib;
    uint8_t* shrunk = IsDrawnSize(record, &request->plan, request->viewWidth, request->viewHeight)
                          ? ShrinkToDrawnSize(dib, request->viewWidth, request->viewHeight)
                          : NULL;
    if (shrunk) {
        FreePictureBlock(dib);
        dib = shrunk;
    }
    PublishPictureSize(record, &request->plan);
    return dib;
}

}  // namespace

void ConsiderPartialDecode(PluginInstance* record, int lastChance) {
    ArrivalPictures* arrival = &record->arrival;
    uint32_t received = 0;
    const uint8_t* data = ReceivedSoFar(record, &received);
    // The length the decodable part must reach; the last chance only asks
    // for more than last time.
    int64_t needed = lastChance ? (int64_t)arrival->lastLength + 1
                                : ((int64_t)arrival->lastLength * GrowthNumerator + GrowthDenominator - 1) /
                                      GrowthDenominator;
    // Cheap tests first: this runs after every block.
    if (!record->window.hwnd || !data || received < needed) {
        return;
    }
    // Until the first partial decode, lastStartTick is when the stream opened.
    DWORD now = GetTickCount();
    uint32_t wait = arrival->lastLength > 0 ? TimeFactor * arrival->lastCostMs : FirstPartialDelayMs;
    if (!lastChance && (IsDecodeBusy(record) || now - arrival->lastStartTick < wait)) {
        return;
    }
    PrefixRequest request = {};
    request.kind = ClassifyFileKind(data, received);
    uint32_t length = MeasureDecodablePrefixFrom(&arrival->measure, request.kind, data, received);
    // The header alone: the level and the memory the job needs are known
    // before it is queued.
    BytesView bytes;
    if (length == 0 || length < needed || !PlanDecode(&request.plan, NULL, request.kind, data, (int32_t)length) ||
        !TakeReceivedView(&bytes, record, length)) {
        return;
    }
    request.length = (int32_t)length;
    // The size the picture is drawn at, once the window has said it.
    request.viewWidth =
        LoadAcquire(&record->queue.viewWidth) > 0 ? LoadAcquire(&record->queue.viewWidth) : record->scroll.clientWidth;
    request.viewHeight = LoadAcquire(&record->queue.viewHeight) > 0 ? LoadAcquire(&record->queue.viewHeight)
                                                                    : record->scroll.clientHeight;
    const DecodePlan& plan = request.plan;
    request.reduce = ChooseViewReduce(plan.fullWidth, plan.fullHeight, (uint32_t)request.viewWidth,
                                      (uint32_t)request.viewHeight, plan.shownReduce, plan.maxReduce);
    if (QueuePrefixDecode(record, &request, &bytes)) {
        arrival->lastLength = (int32_t)length;
        arrival->lastStartTick = now;
    }
}

void ForgetPrefixMeasure(PluginInstance* record) {
    record->arrival.measure = PrefixMeasure{};
}

int RunPartialStage(PluginInstance* record) {
    HANDLE thread = GetCurrentThread();
    int priority = GetThreadPriority(thread);
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    DWORD start = GetTickCount();
    uint64_t processorStart = ThreadProcessorTime();
    uint64_t decoderTime = 0;
    uint8_t* dib = DecodePartialPicture(record, &decoderTime);
    int pictured = dib != NULL;
    // This thread's time covers a job run here; a decoder's is its own.
    PublishPartialStage(record, dib, ThreadProcessorTime() - processorStart + decoderTime, GetTickCount() - start);
    SetThreadPriority(thread, priority);
    return pictured;
}

void AdoptPartialPicture(PluginInstance* record) {
    ArrivalPictures* arrival = &record->arrival;
    uint8_t* fresh = __atomic_exchange_n(&arrival->pending, (uint8_t*)NULL, __ATOMIC_ACQ_REL);
    if (fresh) {
        FreePictureBlock(arrival->shown);
        arrival->shown = fresh;
    }
    int failed =
        LoadAcquire(&record->picture.decodeError) && LoadAcquire(&record->picture.failureReason) != FailureInterrupted;
    if (arrival->shown && (LoadAcquire(&record->picture.dib) || LoadAcquire(&record->picture.preview) || failed)) {
        FreePictureBlock(arrival->shown);
        arrival->shown = NULL;
    }
}

void ReleasePartialPictures(PluginInstance* record) {
    ArrivalPictures* arrival = &record->arrival;
    FreePictureBlock(arrival->shown);
    FreePictureBlock(__atomic_exchange_n(&arrival->pending, (uint8_t*)NULL, __ATOMIC_ACQ_REL));
    arrival->shown = NULL;
    arrival->lastLength = 0;
    arrival->measure = PrefixMeasure{};
    // Pacing counts from now: the next stream opens right after this.
    arrival->lastStartTick = GetTickCount();
    arrival->lastCostMs = 0;
    arrival->count = 0;
    arrival->processorTime = 0;
    arrival->pictures = 0;
}
