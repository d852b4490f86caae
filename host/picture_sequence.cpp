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

// A job a new stream killed publishes nothing (BeginJobPublish).
void PublishSequence(PluginInstance* record, const ComposedPicture* composed) {
    if (BeginJobPublish(record)) {
        StoreRelease(&record->sequence.pages, (int32_t)composed->pages);
        StoreRelease(&record->sequence.durationMs, composed->durationMs);
        StoreRelease(&record->sequence.loops, composed->loops);
        StoreRelease(&record->sequence.count, (int32_t)composed->count);
        EndJobPublish(record);
    }
}

void PublishSequenceNotes(PluginInstance* record, uint32_t notes) {
    if (BeginJobPublish(record)) {
        StoreRelease(&record->sequence.notes, notes);
        EndJobPublish(record);
    }
}

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
    // A page starts blank; a frame keeps the one before until it is there.
    if (IsAnimation(record)) {
        record->sequence.awaiting = 1;
    } else {
        ClearPicture(record);
        ReleaseRegionBitmaps(record);
    }
    record->sequence.index = record->sequence.wanted;
    StoreRelease(&record->sequence.notes, 0u);
    // The user would otherwise wait for ever on the decoding text.
    if (!QueuePictureDecode(record)) {
        PublishFailure(record, DecodeFailureOutOfMemory, 0);
    }
    return 1;
}

// Frames of an animation (UI thread): playback starts once the first frame
// shows; each frame after the shown one is due durationMs after it (frames
// stay for ever at 0 ms: playback ends there). When the decode of a frame
// cannot keep up, the frames whose time has passed are dropped: the frame
// asked for next is the one due now, so the timing never stretches.
namespace {

const uint32_t ShortestFrameMs = 10;

uint32_t ShownDuration(const PluginInstance* record) {
    uint32_t duration = LoadAcquire(&record->sequence.durationMs);
    return duration < ShortestFrameMs ? ShortestFrameMs : duration;
}

// The frame `ahead` frames on from the shown one, through the loops the
// file allows; the last frame when they are done (playback then ends).
uint32_t FrameAhead(PluginInstance* record, uint64_t ahead) {
    PictureSequence* sequence = &record->sequence;
    uint64_t count = (uint64_t)LoadAcquire(&sequence->count);
    uint32_t loops = LoadAcquire(&sequence->loops);
    uint64_t next = sequence->index + ahead;
    while (next >= count) {
        if (loops != 0 && sequence->loopsDone + 1 >= loops) {
            sequence->playing = 0;
            return (uint32_t)(count - 1);
        }
        sequence->loopsDone++;
        next -= count;
    }
    return (uint32_t)next;
}

}  // namespace

void StartPlayback(PluginInstance* record, uint32_t now) {
    if (record->sequence.started || !IsAnimation(record)) {
        return;
    }
    record->sequence.started = 1;
    record->sequence.playing = LoadAcquire(&record->sequence.durationMs) != 0;
    record->sequence.dueTick = now + ShownDuration(record);
}

void TogglePlayback(PluginInstance* record, uint32_t now) {
    PictureSequence* sequence = &record->sequence;
    if (!IsAnimation(record)) {
        return;
    }
    sequence->started = 1;
    if (sequence->playing) {
        sequence->playing = 0;
        return;
    }
    // Played to its end, it starts again from the first frame.
    if (sequence->wanted + 1 >= (uint32_t)LoadAcquire(&sequence->count)) {
        sequence->loopsDone = 0;
        RequestPicture(record, 0);
    }
    sequence->playing = 1;
    sequence->dueTick = now + ShownDuration(record);
}

int StepFrame(PluginInstance* record, int step) {
    int64_t count = LoadAcquire(&record->sequence.count);
    if (!IsAnimation(record) || record->sequence.playing) {
        return 0;
    }
    int64_t frame = ((int64_t)record->sequence.wanted + step + count) % count;
    return RequestPicture(record, (uint32_t)frame);
}

int PlaybackDue(const PluginInstance* record, uint32_t now) {
    const PictureSequence* sequence = &record->sequence;
    return sequence->playing && !sequence->awaiting && !PictureSwitchPending(record) && record->modal.depth == 0 &&
           (int32_t)(now - sequence->dueTick) >= 0;
}

void AdvancePlayback(PluginInstance* record, uint32_t now, int visible) {
    PictureSequence* sequence = &record->sequence;
    if (!PlaybackDue(record, now)) {
        return;
    }
    if (LoadAcquire(&sequence->durationMs) == 0) {
        sequence->playing = 0;
        return;
    }
    uint32_t duration = ShownDuration(record);
    uint32_t ahead = 1 + (now - sequence->dueTick) / duration;
    sequence->dueTick += ahead * duration;
    // Unseen, the clock runs on and nothing is decoded.
    if (!visible) {
        return;
    }
    sequence->framesDue += ahead;
    uint32_t next = FrameAhead(record, ahead);
    if (next != sequence->index) {
        RequestPicture(record, next);
    }
}

// The worker publishes a frame's bitmap before it lets go of the record: a
// record let go with none waiting gave none.
void SettleAwaitedFrame(PluginInstance* record) {
    if (record->sequence.awaiting && !IsDecodeBusy(record) &&
        !LoadAcquire(&record->picture.nextLevel)) {
        record->sequence.awaiting = 0;
    }
}

void NoteFrameShown(PluginInstance* record) {
    if (record->sequence.awaiting) {
        record->sequence.awaiting = 0;
        record->sequence.framesShown += record->sequence.playing ? 1 : 0;
    }
}

void NoteElementSeen(PluginInstance* record, int seen) { record->sequence.unseen = !seen; }
