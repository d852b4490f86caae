// Pictures of a file while it arrives: when to decode the part received so
// far, the decode itself on a queue worker, and the hand-over of its
// picture to the window.
#include <stdlib.h>

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

// The newest picture, published for the UI thread to take; a picture it has
// not taken yet is replaced.
void PublishPartialPicture(PluginInstance* record, uint8_t* dib) {
    free(__atomic_exchange_n(&record->partial.pending, dib, __ATOMIC_ACQ_REL));
}

// The part of the picture in (block, length) at the level the view needs;
// the geometry is published before the picture.
uint8_t* DecodePartialPicture(PluginInstance* record) {
    const PartialJob* job = &record->queue.partial;
    DecodePlan plan;
    uint8_t* dib = NULL;
    if (!PlanDecode(&plan, NULL, job->kind, job->block, job->length)) {
        return NULL;
    }
    int reduce = ChooseViewReduce(plan.fullWidth, plan.fullHeight, (uint32_t)job->viewWidth,
                                  (uint32_t)job->viewHeight, plan.shownReduce, plan.maxReduce);
    if (!DecodePrefixToPackedDib(&dib, NULL, job->kind, job->block, job->length, reduce, 1)) {
        return NULL;
    }
    PublishPictureSize(record, &plan);
    return dib;
}

}  // namespace

void ConsiderPartialDecode(PluginInstance* record, int lastChance) {
    PartialPictures* partial = &record->partial;
    int32_t received = record->reception.dataLength;
    // The length the decodable part must reach; the last chance only asks
    // for more than last time.
    int64_t needed = lastChance ? (int64_t)partial->lastLength + 1
                                : ((int64_t)partial->lastLength * GrowthNumerator + GrowthDenominator - 1) /
                                      GrowthDenominator;
    // Cheap tests first: this runs after every block.
    if (!record->window.hwnd || !record->reception.data || received < needed) {
        return;
    }
    // Until the first partial decode, lastStartTick is when the stream opened.
    DWORD now = GetTickCount();
    uint32_t wait = partial->lastLength > 0 ? TimeFactor * partial->lastCostMs : FirstPartialDelayMs;
    if (!lastChance &&
        (LoadAcquire(&record->queue.partial.state) != PartialIdle || now - partial->lastStartTick < wait)) {
        return;
    }
    int kind = ClassifyFileKind(record->reception.data, (uint32_t)received);
    int32_t length = (int32_t)MeasureDecodablePrefix(kind, record->reception.data, (uint32_t)received);
    if (length == 0 || length < needed) {
        return;
    }
    // The size the picture is drawn at, once the window has said it.
    int32_t width =
        LoadAcquire(&record->queue.viewWidth) > 0 ? LoadAcquire(&record->queue.viewWidth) : record->scroll.clientWidth;
    int32_t height = LoadAcquire(&record->queue.viewHeight) > 0 ? LoadAcquire(&record->queue.viewHeight)
                                                                : record->scroll.clientHeight;
    if (QueuePartialDecode(record, kind, length, width, height, lastChance)) {
        partial->lastLength = length;
        partial->lastStartTick = now;
    }
}

int RunPartialStage(PluginInstance* record) {
    HANDLE thread = GetCurrentThread();
    int priority = GetThreadPriority(thread);
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    DWORD start = GetTickCount();
    uint64_t processorStart = ThreadProcessorTime();
    uint8_t* dib = DecodePartialPicture(record);
    record->partial.processorTime += ThreadProcessorTime() - processorStart;
    record->partial.lastCostMs = GetTickCount() - start;
    record->partial.count++;
    if (dib) {
        record->partial.pictures++;
        PublishPartialPicture(record, dib);
    }
    SetThreadPriority(thread, priority);
    return dib != NULL;
}

void AdoptPartialPicture(PluginInstance* record) {
    PartialPictures* partial = &record->partial;
    uint8_t* fresh = __atomic_exchange_n(&partial->pending, (uint8_t*)NULL, __ATOMIC_ACQ_REL);
    if (fresh) {
        free(partial->shown);
        partial->shown = fresh;
    }
    int failed =
        LoadAcquire(&record->picture.decodeError) && LoadAcquire(&record->picture.failureReason) != FailureInterrupted;
    if (partial->shown && (LoadAcquire(&record->picture.dib) || LoadAcquire(&record->picture.preview) || failed)) {
        free(partial->shown);
        partial->shown = NULL;
    }
}

void ReleasePartialPictures(PluginInstance* record) {
    PartialPictures* partial = &record->partial;
    free(partial->shown);
    free(__atomic_exchange_n(&partial->pending, (uint8_t*)NULL, __ATOMIC_ACQ_REL));
    partial->shown = NULL;
    partial->lastLength = 0;
    // Pacing counts from now: the next stream opens right after this.
    partial->lastStartTick = GetTickCount();
    partial->lastCostMs = 0;
    partial->count = 0;
    partial->processorTime = 0;
    partial->pictures = 0;
}
