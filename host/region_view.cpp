// Parts of a picture past the sample cap decoded at a finer level than the
// one shown: which part the view needs, the decode that makes it (a job of
// the decode queue), and the hand-over of each decoded part from the decode
// thread to the window.
#include <stdlib.h>
#include <windows.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

// A part is decoded with a margin of this share of its size on every side,
// so that small pans need no new decode.
const int32_t MarginDivisor = 4;

// Guards every record's wanted, decoding and next. Never held while the
// decode queue's lock is taken (the queue takes this one inside its own).
struct RegionLock {
    CRITICAL_SECTION section;
    RegionLock() { InitializeCriticalSection(&section); }
    ~RegionLock() { DeleteCriticalSection(&section); }
};
RegionLock Lock;

void FreeRegionBitmap(RegionBitmap* bitmap) {
    if (bitmap) {
        FreePictureBlock(bitmap->dib);
        free(bitmap);
    }
}

// 1 when `area` (full-resolution pixels) at `reduce` holds every pixel of
// `visible` at least as finely as `needed`.
int CoversPart(const RECT* area, int32_t reduce, const RECT* visible, int32_t needed) {
    return reduce <= needed && area->left <= visible->left && area->top <= visible->top &&
           area->right >= visible->right && area->bottom >= visible->bottom;
}

int BitmapCovers(const RegionBitmap* bitmap, const PluginInstance* record, const RECT* visible, int32_t needed) {
    if (!bitmap) {
        return 0;
    }
    int32_t fullWidth = LoadAcquire(&record->picture.fullWidth);
    int32_t fullHeight = LoadAcquire(&record->picture.fullHeight);
    // In 64 bits: the last level pixel reaches past the picture's edge.
    int64_t right = (int64_t)bitmap->level.right << bitmap->reduce;
    int64_t bottom = (int64_t)bitmap->level.bottom << bitmap->reduce;
    RECT area = {(LONG)((int64_t)bitmap->level.left << bitmap->reduce),
                 (LONG)((int64_t)bitmap->level.top << bitmap->reduce), right < fullWidth ? (LONG)right : fullWidth,
                 bottom < fullHeight ? (LONG)bottom : fullHeight};
    return CoversPart(&area, bitmap->reduce, visible, needed);
}

// The part in view with its margin, inside the picture.
RECT GrowPart(const RECT* visible, int32_t fullWidth, int32_t fullHeight) {
    int32_t marginX = (visible->right - visible->left) / MarginDivisor;
    int32_t marginY = (visible->bottom - visible->top) / MarginDivisor;
    RECT part = {visible->left - marginX, visible->top - marginY, visible->right + marginX, visible->bottom + marginY};
    part.left = part.left > 0 ? part.left : 0;
    part.top = part.top > 0 ? part.top : 0;
    part.right = part.right < fullWidth ? part.right : fullWidth;
    part.bottom = part.bottom < fullHeight ? part.bottom : fullHeight;
    return part;
}

// UI thread: forgets the parts decoded and wanted (the view no longer needs
// a finer level than the one shown).
void DropRegions(PluginInstance* record) {
    EnterCriticalSection(&Lock.section);
    RegionBitmap* next = record->region.next;
    record->region.next = NULL;
    record->region.isWanted = 0;
    LeaveCriticalSection(&Lock.section);
    FreeRegionBitmap(next);
    FreeRegionBitmap(record->region.shown);
    record->region.shown = NULL;
}

// Under the region lock: 1 when neither the part being decoded nor the one
// waiting for the window covers `visible` at `needed`.
int NeedsNewPart(const PluginInstance* record, const RECT* visible, int32_t needed) {
    const RegionState& region = record->region;
    return !(region.isDecoding && CoversPart(&region.decoding, region.decodingReduce, visible, needed)) &&
           !BitmapCovers(region.next, record, visible, needed);
}

}  // namespace

void RequestVisibleRegion(PluginInstance* record, const RECT* visible, int32_t drawnWidth, int32_t drawnHeight) {
    int32_t shownReduce = LoadAcquire(&record->picture.shownReduce);
    int32_t fullWidth = LoadAcquire(&record->picture.fullWidth);
    int32_t fullHeight = LoadAcquire(&record->picture.fullHeight);
    if (LoadAcquire(&record->reception.loadState) != LoadStateEnded || LoadAcquire(&record->picture.decodeError) ||
        shownReduce <= 0 || drawnWidth <= 0 || drawnHeight <= 0 || IsRectEmpty(visible) || visible->left < 0 ||
        visible->top < 0 || visible->right > fullWidth || visible->bottom > fullHeight) {
        return;
    }
    int32_t needed = ChooseViewReduce((uint32_t)fullWidth, (uint32_t)fullHeight, (uint32_t)drawnWidth,
                                      (uint32_t)drawnHeight, 0, shownReduce);
    if (needed >= shownReduce) {
        DropRegions(record);
        return;
    }
    if (BitmapCovers(record->region.shown, record, visible, needed)) {
        return;
    }
    EnterCriticalSection(&Lock.section);
    int queue = NeedsNewPart(record, visible, needed);
    if (queue) {
        record->region.wanted = GrowPart(visible, fullWidth, fullHeight);
        record->region.wantedReduce = needed;
        record->region.isWanted = 1;
    }
    LeaveCriticalSection(&Lock.section);
    if (queue) {
        QueueRegionDecode(record);
    }
}

void AdoptRegionBitmap(PluginInstance* record) {
    EnterCriticalSection(&Lock.section);
    RegionBitmap* next = record->region.next;
    record->region.next = NULL;
    LeaveCriticalSection(&Lock.section);
    if (next) {
        FreeRegionBitmap(record->region.shown);
        record->region.shown = next;
    }
}

int RegionJobWanted(PluginInstance* record) {
    EnterCriticalSection(&Lock.section);
    int wanted = record->region.isWanted;
    LeaveCriticalSection(&Lock.section);
    return wanted;
}

void WantedRegionExtent(const PluginInstance* record, uint32_t* widthOut, uint32_t* heightOut, int32_t* reduceOut) {
    EnterCriticalSection(&Lock.section);
    const RegionState& region = record->region;
    *widthOut = region.isWanted ? (uint32_t)(region.wanted.right - region.wanted.left) : 0;
    *heightOut = region.isWanted ? (uint32_t)(region.wanted.bottom - region.wanted.top) : 0;
    *reduceOut = region.isWanted ? region.wantedReduce : 0;
    LeaveCriticalSection(&Lock.section);
}

void RunRegionJob(PluginInstance* record) {
    RegionState& region = record->region;
    EnterCriticalSection(&Lock.section);
    int wanted = region.isWanted;
    region.isWanted = 0;
    region.isDecoding = wanted;
    region.decoding = region.wanted;
    region.decodingReduce = region.wantedReduce;
    // A new stream resets the region part while this job runs: it keeps its own copy.
    RECT decoding = region.decoding;
    int32_t reduce = region.decodingReduce;
    LeaveCriticalSection(&Lock.section);
    if (!wanted) {
        return;
    }
    PictureRegion part = {(uint32_t)decoding.left, (uint32_t)decoding.top, (uint32_t)decoding.right,
                          (uint32_t)decoding.bottom};
    DecodeJob job = {};
    job.kind = DecodeJobRegion;
    job.fileKind = LoadAcquire(&record->picture.fileKind);
    job.reduce = reduce;
    job.region = part;
    DecodeJobResult result = {};
    uint8_t* dib = NULL;
    RegionBitmap* bitmap = NULL;
    // A part that cannot be decoded leaves the coarser level painted.
    if (RunRecordJob(record, &job, &result)) {
        dib = result.dib;
        bitmap = (RegionBitmap*)malloc(sizeof(RegionBitmap));
    }
    if (bitmap) {
        const PictureRegion& level = result.level;
        SetRect(&bitmap->level, (int)level.left, (int)level.top, (int)level.right, (int)level.bottom);
        bitmap->dib = dib;
        bitmap->reduce = reduce;
        bitmap->levelWidth = (int32_t)LevelExtent((uint32_t)LoadAcquire(&record->picture.fullWidth), bitmap->reduce);
        bitmap->levelHeight = (int32_t)LevelExtent((uint32_t)LoadAcquire(&record->picture.fullHeight), bitmap->reduce);
        dib = NULL;
    }
    FreePictureBlock(dib);
    // The queue's lock before the region's, as everywhere; a job a new
    // stream killed leaves the next file's region part alone.
    if (!BeginJobPublish(record)) {
        FreeRegionBitmap(bitmap);
        return;
    }
    EnterCriticalSection(&Lock.section);
    RegionBitmap* replaced = bitmap ? region.next : NULL;
    region.next = bitmap ? bitmap : region.next;
    region.isDecoding = 0;
    LeaveCriticalSection(&Lock.section);
    EndJobPublish(record);
    FreeRegionBitmap(replaced);
}

void ReleaseRegionBitmaps(PluginInstance* record) {
    // Under the lock: a region job of the last stream may still be starting.
    EnterCriticalSection(&Lock.section);
    RegionBitmap* next = record->region.next;
    RegionBitmap* shown = record->region.shown;
    record->region = RegionState();
    LeaveCriticalSection(&Lock.section);
    FreeRegionBitmap(next);
    FreeRegionBitmap(shown);
}
