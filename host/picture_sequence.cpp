// The pictures of a file that holds several (pages, frames) and the switch
// from the one shown to another: the one file that writes the sequence part
// of the record.
#include "host/host_internal.h"

namespace {

// UI thread: while the record is settled (its file decoded, no job queued
// or running) and no command holds the picture, nothing but this thread
// reads the picture's blocks or the index; only this thread queues a job.
int RecordIsFree(const PluginInstance* record) {
    return LoadAcquire(&record->queue.state) == PipeSettled && !LoadAcquire(&record->picture.decodeError) &&
           record->picture.holds == 0 && !InstanceDestroyed(record);
}

}  // namespace

void PublishSequence(PluginInstance* record, const ComposedPicture* composed) {
    StoreRelease(&record->sequence.pages, (int32_t)composed->pages);
    StoreRelease(&record->sequence.durationMs, composed->durationMs);
    StoreRelease(&record->sequence.loops, composed->loops);
    StoreRelease(&record->sequence.count, (int32_t)composed->count);
}

void PublishSequenceNotes(PluginInstance* record, uint32_t notes) { StoreRelease(&record->sequence.notes, notes); }

void ResetSequence(PluginInstance* record) { record->sequence = PictureSequence(); }

int RequestPicture(PluginInstance* record, uint32_t index) {
    int32_t count = LoadAcquire(&record->sequence.count);
    if (count <= 0 || index >= (uint32_t)count) {
        return 0;
    }
    record->sequence.wanted = index;
    SwitchToWantedPicture(record);
    return 1;
}

int SwitchToWantedPicture(PluginInstance* record) {
    if (!PictureSwitchPending(record)) {
        return 1;
    }
    if (!RecordIsFree(record)) {
        return 0;
    }
    ClearPicture(record);
    ReleaseRegionBitmaps(record);
    record->sequence.index = record->sequence.wanted;
    StoreRelease(&record->sequence.notes, 0u);
    // The user would otherwise wait for ever on the decoding text.
    if (!QueuePictureDecode(record)) {
        PublishFailure(record, DecodeFailureOutOfMemory, 0);
    }
    return 1;
}
