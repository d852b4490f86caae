// Operations on the instance record itself: the published-image and shown
// (preview) snapshots, the preview's release, and the record's release.
#include <stdlib.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

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

}  // namespace

int GetPublishedImage(ImageView* viewOut, const PluginInstance* record) {
    *viewOut = ImageView();
    const uint8_t* dib = LoadAcquire(&record->dib);
    const BITMAPINFOHEADER* header = LoadAcquire(&record->dibHeader);
    const uint8_t* bits = LoadAcquire(&record->dibBits);
    if (!dib || !header || !bits) {
        return 0;
    }
    // A level smaller than the picture is laid out at the picture's size.
    return ViewPackedDib(viewOut, dib, bits, LoadAcquire(&record->shownWidth), LoadAcquire(&record->shownHeight));
}

int GetShownImage(ImageView* viewOut, const PluginInstance* record) {
    if (GetPublishedImage(viewOut, record)) {
        return 1;
    }
    // A preview, else the picture of the part received so far, stands in.
    const uint8_t* standIn = LoadAcquire(&record->preview);
    if (!standIn) {
        standIn = record->partial.shown;
    }
    if (!standIn) {
        return 0;
    }
    return ViewPackedDib(viewOut, standIn, standIn + sizeof(BITMAPINFOHEADER) + PackedDibPaletteSize(standIn),
                         LoadAcquire(&record->shownWidth), LoadAcquire(&record->shownHeight));
}

void DropReplacedPreview(PluginInstance* record) {
    uint8_t* preview = LoadAcquire(&record->preview);
    if (preview && LoadAcquire(&record->dib)) {
        StoreRelease(&record->preview, (uint8_t*)NULL);
        free(preview);
    }
}

void ReleaseRecord(PluginInstance* record) {
    free(record->url);
    free(record->data);
    free(record->dib);
    free(record->preview);
    free(record->nextLevel);
    free(record->comments);
    ReleaseRegionBitmaps(record);
    ReleasePartialPictures(record);
    free(record);
}
