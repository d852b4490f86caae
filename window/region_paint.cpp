// The part in view of a picture past the sample cap, decoded at the finer
// level the view needs: asked for from the view's state once it has rested
// after a paint (so zooming, panning and resizing all ask, and a drag asks
// when it pauses rather than at every step), and painted over the coarser
// picture at its place. UI thread only.
#include <math.h>

#include "decode/jpeg2000.h"
#include "window/display.h"

namespace {

const UINT RegionSettleMilliseconds = 60;

}  // namespace

void ScheduleRegionRequest(PluginInstance* record) {
    // A picture within the cap never needs a part decoded finer.
    if (record->window.hwnd && LoadAcquire(&record->picture.shownReduce) > 0) {
        SetTimer(record->window.hwnd, RegionTimerId, RegionSettleMilliseconds, NULL);
    }
}

void RequestRegionInView(PluginInstance* record) {
    KillTimer(record->window.hwnd, RegionTimerId);
    ImageView view;
    RECT visible, picture;
    if (!GetShownImage(&view, record) || !GetVisibleRegion(&visible, record)) {
        return;
    }
    ComputePictureRect(&picture, record, &view);
    RequestVisibleRegion(record, &visible, picture.right - picture.left, picture.bottom - picture.top);
}

void PaintRegionOver(HDC dc, const PluginInstance* record, const RECT* picture) {
    const RegionBitmap* region = GetRegionBitmap(record);
    if (!region) {
        return;
    }
    // The level's pixels lie over the picture as the whole level would.
    double scaleX = (double)(picture->right - picture->left) / region->levelWidth;
    double scaleY = (double)(picture->bottom - picture->top) / region->levelHeight;
    RECT placed = {picture->left + (LONG)floor(region->level.left * scaleX + 0.5),
                   picture->top + (LONG)floor(region->level.top * scaleY + 0.5),
                   picture->left + (LONG)floor(region->level.right * scaleX + 0.5),
                   picture->top + (LONG)floor(region->level.bottom * scaleY + 0.5)};
    const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)region->dib;
    ImageView view;
    view.info = (const BITMAPINFO*)region->dib;
    view.bits = PackedDibBits(region->dib);
    view.width = view.bitmapWidth = header->biWidth;
    view.height = view.bitmapHeight = header->biHeight;
    PaintBitmapAt(dc, record, &placed, &view);
}
