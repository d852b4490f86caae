// Operations on the instance record itself: the published-image snapshot and
// the record's release.
#include <stdlib.h>

#include "host/host_internal.h"

int GetPublishedImage(ImageView* viewOut, const PluginInstance* record) {
    viewOut->info = NULL;
    viewOut->bits = NULL;
    viewOut->width = 0;
    viewOut->height = 0;
    const uint8_t* dib = LoadAcquire(&record->dib);
    const BITMAPINFOHEADER* header = LoadAcquire(&record->dibHeader);
    const uint8_t* bits = LoadAcquire(&record->dibBits);
    if (!dib || !header || !bits) {
        return 0;
    }
    viewOut->info = (const BITMAPINFO*)dib;
    viewOut->bits = bits;
    viewOut->width = header->biWidth;
    viewOut->height = header->biHeight;
    return 1;
}

void ReleaseRecord(PluginInstance* record) {
    free(record->url);
    free(record->data);
    free(record->dib);
    free(record->comments);
    free(record);
}
