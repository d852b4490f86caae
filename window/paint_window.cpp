// Painting of the image by the three drawing rules (stretched to the
// element, fitted to or zoomed in a full page, where zoom.cpp puts it) and
// of the status box, its texts at the window's scale.
#include <math.h>
#include <stdint.h>

#include "host/plugin.h"
#include "window/display.h"

namespace {

// Status texts, tested in order; the first row whose test holds is shown.
struct StatusText {
    int (*applies)(const PluginInstance* record);
    UiText text;
};

int HasFailed(const PluginInstance* record) { return LoadAcquire(&record->picture.decodeError) != 0; }
int IsWaiting(const PluginInstance* record) { return LoadAcquire(&record->reception.loadState) <= LoadStateWaiting; }
int IsDecoding(const PluginInstance* record) { return LoadAcquire(&record->queue.decoding) != 0; }
int IsLoading(const PluginInstance*) { return 1; }

const StatusText StatusTexts[] = {
    {HasFailed, {"Plug-in's Error", "プラグインがエラーを起こしました。"}},
    {IsWaiting, {"JPEG 2000 plug-in waiting for image... Please wait.", "画像を待っています…少々お待ちください。"}},
    {IsDecoding, {"JPEG 2000 image decoding... Please wait.", "画像をデコード中…少々お待ちください。"}},
    {IsLoading, {"JPEG 2000 image loading... Please wait.", "画像をロード中…少々お待ちください。"}},
};

const wchar_t* ChooseStatusText(const PluginInstance* record) {
    for (const StatusText& row : StatusTexts) {
        if (row.applies(record)) {
            return UiString(row.text);
        }
    }
    return L"";
}

}  // namespace

// Only the part of the bitmap that shows is stretched: a picture zoomed to
// many times the window would otherwise be drawn at its whole size. The
// source is cut at whole bitmap pixels and drawn where those pixels fall.
void PaintBitmapAt(HDC dc, const PluginInstance* record, const RECT* bitmapRect, const ImageView* view) {
    RECT picture = *bitmapRect, visible, client = {0, 0, record->scroll.clientWidth, record->scroll.clientHeight};
    if (!IntersectRect(&visible, &picture, &client)) {
        return;
    }
    // Shrinking averages the pixels (dropping rows and columns would alias);
    // enlarging keeps them sharp. The brush origin aligns the halftone.
    if (view->bitmapWidth > picture.right - picture.left || view->bitmapHeight > picture.bottom - picture.top) {
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, NULL);
    } else {
        SetStretchBltMode(dc, COLORONCOLOR);
    }
    double width = picture.right - picture.left, height = picture.bottom - picture.top;
    // In doubles: an origin times the bitmap's size passes 2^31 in large pictures.
    int32_t left = (int32_t)floor((double)(visible.left - picture.left) * view->bitmapWidth / width);
    int32_t top = (int32_t)floor((double)(visible.top - picture.top) * view->bitmapHeight / height);
    int32_t right = (int32_t)ceil((double)(visible.right - picture.left) * view->bitmapWidth / width);
    int32_t bottom = (int32_t)ceil((double)(visible.bottom - picture.top) * view->bitmapHeight / height);
    right = right < view->bitmapWidth ? right : view->bitmapWidth;
    bottom = bottom < view->bitmapHeight ? bottom : view->bitmapHeight;
    int destLeft = picture.left + (int)floor(left * width / view->bitmapWidth + 0.5);
    int destTop = picture.top + (int)floor(top * height / view->bitmapHeight + 0.5);
    int destRight = picture.left + (int)floor(right * width / view->bitmapWidth + 0.5);
    int destBottom = picture.top + (int)floor(bottom * height / view->bitmapHeight + 0.5);
    // A bottom-up bitmap counts its source rows from the bottom.
    int sourceY = view->info->bmiHeader.biHeight > 0 ? view->bitmapHeight - bottom : top;
    StretchDIBits(dc, destLeft, destTop, destRight - destLeft, destBottom - destTop, left, sourceY, right - left,
                  bottom - top, view->bits, view->info, DIB_RGB_COLORS, SRCCOPY);
}

void RequestDrawnLevel(PluginInstance* record) {
    ImageView view;
    int shown = GetShownImage(&view, record);
    RECT picture = {0, 0, record->scroll.clientWidth, record->scroll.clientHeight};
    // Before the picture's size is known a page is drawn at the client's.
    if (shown || LoadAcquire(&record->picture.fullWidth) > 0) {
        ComputePictureRect(&picture, record, &view);
    }
    RequestViewSize(record, picture.right - picture.left, picture.bottom - picture.top);
}

void PaintWindow(HWND window, PluginInstance* record) {
    RequestDrawnLevel(record);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    ImageView view;
    int32_t state = LoadAcquire(&record->reception.loadState);
    record->paint.picturePainted = state >= LoadStateReceiving && GetShownImage(&view, record);
    if (record->paint.picturePainted) {
        RECT picture;
        ComputePictureRect(&picture, record, &view);
        PaintBitmapAt(dc, record, &picture, &view);
        PaintRegionOver(dc, record, &picture);
        // The picture of what has arrived so far: how much has, or why no
        // more will.
        if (state == LoadStateReceiving) {
            PaintArrivalEdge(dc, record);
        } else if (HasFailed(record)) {
            PaintReasonOverPicture(dc, record);
        } else {
            PaintScaleBadge(dc, record);
        }
    } else {
        RECT client;
        GetClientRect(window, &client);
        PaintStatusBox(dc, &client, record);
    }
    EndPaint(window, &paint);
}

void PaintStatusBox(HDC dc, const RECT* clientRect, const PluginInstance* record) {
    RECT text = *clientRect;
    Rectangle(dc, text.left, text.top, text.right, text.bottom);
    InflateRect(&text, -2, -2);
    HFONT font = CreateUiFont(record);
    HGDIOBJ oldFont = SelectObject(dc, font);
    RECT below = text;
    below.top += DrawTextW(dc, ChooseStatusText(record), -1, &text, DT_WORDBREAK);
    PaintFailureReason(dc, &below, record);
    PaintLoadProgress(dc, &below, record);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void ComputeFitSize(int32_t* outWidth, int32_t* outHeight, int32_t clientWidth, int32_t clientHeight,
                    int32_t imageWidth, int32_t imageHeight) {
    if (!outWidth) {
        return;
    }
    *outWidth = 0;
    if (!outHeight) {
        return;
    }
    *outHeight = 0;
    if (imageWidth <= 0 || imageHeight <= 0) {
        return;
    }
    if (clientWidth >= imageWidth && clientHeight >= imageHeight) {
        *outWidth = imageWidth;
        *outHeight = imageHeight;
        return;
    }
    // 64-bit products: a tall client times a wide image passes 2^31.
    int64_t heightLimitedWidth = (int64_t)clientHeight * imageWidth / imageHeight;
    if (clientWidth < heightLimitedWidth) {
        *outWidth = clientWidth;
        *outHeight = (int32_t)((int64_t)clientWidth * imageHeight / imageWidth);
    } else {
        *outWidth = (int32_t)heightLimitedWidth;
        *outHeight = clientHeight;
    }
}
