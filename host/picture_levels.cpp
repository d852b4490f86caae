// The record's picture: what the decodes publish of a file (its kind, its
// size, the preview, each level, the comments, the failure) and the UI
// thread's side of it (the snapshots painted and handed to commands, the
// swap of a larger level, the preview's release). The one file that writes
// the picture part of the record, on whichever thread publishes.
#include <stdlib.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"
#include "host/picture_section.h"

namespace {

// The view of a packed DIB laid out at width x height (0: its own size).
int ViewPackedDib(ImageView* viewOut, const uint8_t* dib, const uint8_t* bits, int32_t width, int32_t height) {
    const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)dib;
    viewOut->info = (const BITMAPINFO*)dib;
    viewOut->bits = bits;
    viewOut->bitmapWidth = header->biWidth;
    viewOut->bitmapHeight = header->biHeight;
    viewOut->width = width > 0 ? width : header->biWidth;
    viewOut->height = height > 0 ? height : header->biHeight;
    return 1;
}

// Bits before header before the block: a reader that sees dib sees the rest.
void PublishDib(PictureLevels* picture, uint8_t* dib, int32_t reduce) {
    StoreRelease(&picture->dibReduce, reduce);
    StoreRelease(&picture->dibCount, picture->dibCount + 1);
    StoreRelease(&picture->dibBits, (uint8_t*)PackedDibBits(dib));
    StoreRelease(&picture->dibHeader, (BITMAPINFOHEADER*)dib);
    StoreRelease(&picture->dib, dib);
}

// The level of a bitmap of the record's picture: the one whose width is
// nearest its own (a picture not at the grid's origin may be a pixel off).
int32_t LevelOfBitmap(const PictureLevels* picture, const uint8_t* dib) {
    int64_t width = ((const BITMAPINFOHEADER*)dib)->biWidth;
    int64_t full = LoadAcquire(&picture->fullWidth);
    int32_t best = LoadAcquire(&picture->shownReduce);
    int64_t bestDistance = INT64_MAX;
    for (int32_t reduce = best; reduce <= LoadAcquire(&picture->maxReduce) && reduce < 32; ++reduce) {
        int64_t distance = llabs((int64_t)LevelExtent((uint64_t)full, reduce) - width);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = reduce;
        }
    }
    return best;
}

void FreePictureBlocks(const PictureLevels* picture) {
    FreePictureSection(picture->section);
    FreePictureBlock(picture->dib);
    FreePictureBlock(picture->preview);
    FreePictureBlock(picture->nextLevel);
    free(picture->comments);
}

}  // namespace

int GetPublishedImage(ImageView* viewOut, const PluginInstance* record) {
    *viewOut = ImageView();
    const PictureLevels* picture = &record->picture;
    const uint8_t* dib = LoadAcquire(&picture->dib);
    const BITMAPINFOHEADER* header = LoadAcquire(&picture->dibHeader);
    const uint8_t* bits = LoadAcquire(&picture->dibBits);
    if (!dib || !header || !bits) {
        return 0;
    }
    // A level smaller than the picture is laid out at the picture's size.
    return ViewPackedDib(viewOut, dib, bits, LoadAcquire(&picture->shownWidth), LoadAcquire(&picture->shownHeight));
}

int GetShownImage(ImageView* viewOut, const PluginInstance* record) {
    if (GetPublishedImage(viewOut, record)) {
        return 1;
    }
    // A preview, else the picture of the part received so far, stands in.
    const uint8_t* standIn = LoadAcquire(&record->picture.preview);
    if (!standIn) {
        standIn = record->arrival.shown;
    }
    if (!standIn) {
        return 0;
    }
    return ViewPackedDib(viewOut, standIn, PackedDibBits(standIn), LoadAcquire(&record->picture.shownWidth),
                         LoadAcquire(&record->picture.shownHeight));
}

void DropReplacedPreview(PluginInstance* record) {
    uint8_t* preview = LoadAcquire(&record->picture.preview);
    if (preview && LoadAcquire(&record->picture.dib)) {
        StoreRelease(&record->picture.preview, (uint8_t*)NULL);
        FreePictureBlock(preview);
    }
}

int InstallNextLevel(PluginInstance* record) {
    PictureLevels* picture = &record->picture;
    if (picture->holds > 0) {
        return 0;
    }
    uint8_t* next = __atomic_exchange_n(&picture->nextLevel, (uint8_t*)NULL, __ATOMIC_ACQ_REL);
    if (!next) {
        return 0;
    }
    uint8_t* old = picture->dib;
    PublishDib(picture, next, LevelOfBitmap(picture, next));
    FreePictureBlock(old);
    return 1;
}

void HoldPicture(PluginInstance* record) { record->picture.holds++; }

int DropPictureHold(PluginInstance* record) { return --record->picture.holds; }

void ClearPicture(PluginInstance* record) {
    PictureLevels* picture = &record->picture;
    const PictureLevels old = *picture;
    PublishDib(picture, NULL, 0);
    StoreRelease(&picture->preview, (uint8_t*)NULL);
    StoreRelease(&picture->nextLevel, (uint8_t*)NULL);
    StoreRelease(&picture->section, (PictureSection*)NULL);
    StoreRelease(&picture->fullReduce, 0);
    StoreRelease(&picture->comments, (uint8_t*)NULL);
    StoreRelease(&picture->commentsLength, 0u);
    StoreRelease(&picture->shownReduce, 0);
    StoreRelease(&picture->maxReduce, 0);
    StoreRelease(&picture->levelFailure, 0);
    StoreRelease(&picture->fileKind, (int32_t)FileKindUnclassified);
    // Each stream is judged on its own: an earlier failure says nothing
    // about this one.
    StoreRelease(&picture->failureReason, 0);
    StoreRelease(&picture->decodeError, 0);
    FreePictureBlocks(&old);
}

void FreePicture(PluginInstance* record) { FreePictureBlocks(&record->picture); }

// Each of the workers' publishers takes BeginJobPublish itself: a job a new
// stream killed puts nothing of the last file into the next one's picture.
void PublishFileKind(PluginInstance* record, int kind) {
    if (BeginJobPublish(record)) {
        StoreRelease(&record->picture.fileKind, (int32_t)kind);
        EndJobPublish(record);
    }
}

void PublishPictureSize(PluginInstance* record, const DecodePlan* plan) {
    if (BeginJobPublish(record)) {
        StoreRelease(&record->picture.fullWidth, (int32_t)plan->fullWidth);
        StoreRelease(&record->picture.fullHeight, (int32_t)plan->fullHeight);
        StoreRelease(&record->picture.shownWidth, (int32_t)plan->shownWidth);
        StoreRelease(&record->picture.shownHeight, (int32_t)plan->shownHeight);
        EndJobPublish(record);
    }
}

void PublishLevelRange(PluginInstance* record, const DecodePlan* plan, int fullReduce) {
    if (BeginJobPublish(record)) {
        StoreRelease(&record->picture.fullReduce, (int32_t)fullReduce);
        StoreRelease(&record->picture.shownReduce, (int32_t)plan->shownReduce);
        StoreRelease(&record->picture.maxReduce, (int32_t)plan->maxReduce);
        EndJobPublish(record);
    }
}

void PublishPreview(PluginInstance* record, uint8_t* preview) {
    if (!BeginJobPublish(record)) {
        FreePictureBlock(preview);
        return;
    }
    StoreRelease(&record->picture.preview, preview);
    EndJobPublish(record);
}

int PublishLevel(PluginInstance* record, uint8_t* dib, int reduce) {
    if (!BeginJobPublish(record)) {
        FreePictureBlock(dib);
        return 0;
    }
    int first = !LoadAcquire(&record->picture.dib);
    if (first) {
        PublishDib(&record->picture, dib, (int32_t)reduce);
    } else {
        FreePictureBlock(__atomic_exchange_n(&record->picture.nextLevel, dib, __ATOMIC_ACQ_REL));
    }
    EndJobPublish(record);
    return first;
}

void PublishFullSection(PluginInstance* record, PictureSection* section, int reduce) {
    if (!BeginJobPublish(record)) {
        FreePictureSection(section);
        return;
    }
    StoreRelease(&record->picture.sectionReduce, (int32_t)reduce);
    FreePictureSection(__atomic_exchange_n(&record->picture.section, section, __ATOMIC_ACQ_REL));
    EndJobPublish(record);
}

void DropFullSection(PluginInstance* record) {
    FreePictureSection(__atomic_exchange_n(&record->picture.section, (PictureSection*)NULL, __ATOMIC_ACQ_REL));
}

void PublishLevelFailure(PluginInstance* record, int failure) {
    if (BeginJobPublish(record)) {
        StoreRelease(&record->picture.levelFailure, (int32_t)failure);
        EndJobPublish(record);
    }
}

void NoteFailureReason(PluginInstance* record, int32_t reason, int keepEarlier) {
    if (reason != 0 && !(keepEarlier && LoadAcquire(&record->picture.failureReason) != 0)) {
        StoreRelease(&record->picture.failureReason, reason);
    }
}

void PublishFailure(PluginInstance* record, int32_t reason, int keepEarlier) {
    NoteFailureReason(record, reason, keepEarlier);
    StoreRelease(&record->picture.decodeError, 1);
}

void PublishEnd(PluginInstance* record, int failure, uint8_t* comments, uint32_t commentsLength) {
    if (!BeginJobPublish(record)) {
        free(comments);
        return;
    }
    if (failure == DecodeFailureNone) {
        StoreRelease(&record->picture.commentsLength, commentsLength);
        StoreRelease(&record->picture.comments, comments);
    } else {
        free(comments);
        PublishFailure(record, failure, 0);
    }
    EndJobPublish(record);
}
