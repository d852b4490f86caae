// Painting of the image by the three drawing rules (stretched to the
// element, fitted to or scrolled in a full page) and of the status box.
#include <stdint.h>

#include "host/plugin.h"
#include "window/display.h"

namespace {

// Status texts, tested in order; the first row whose test holds is shown.
struct StatusText {
    int (*applies)(const PluginInstance* record);
    UiText text;
};

int HasFailed(const PluginInstance* record) { return LoadAcquire(&record->decodeError) != 0; }
int IsWaiting(const PluginInstance* record) { return LoadAcquire(&record->loadState) <= LoadStateWaiting; }
int IsDecoding(const PluginInstance* record) { return LoadAcquire(&record->decoding) != 0; }
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

void PaintImage(HDC dc, const PluginInstance* record, const ImageView* view) {
    SetStretchBltMode(dc, COLORONCOLOR);
    int32_t width = view->width;
    int32_t height = view->height;
    if (record->mode != NP_FULL) {
        width = record->clientWidth;
        height = record->clientHeight;
    } else if (record->fitToWindow) {
        ComputeFitSize(&width, &height, record->clientWidth, record->clientHeight, view->width, view->height);
    }
    StretchDIBits(dc, 0, 0, width, height, 0, 0, view->bitmapWidth, view->bitmapHeight, view->bits, view->info,
                  DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace

void PaintWindow(HWND window, const PluginInstance* record) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (record->scrollActive == 1) {
        SetWindowOrgEx(dc, record->scrollX, record->scrollY, NULL);
    }
    ImageView view;
    if (LoadAcquire(&record->loadState) == LoadStateEnded && GetShownImage(&view, record)) {
        PaintImage(dc, record, &view);
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
    RECT below = text;
    below.top += DrawTextW(dc, ChooseStatusText(record), -1, &text, DT_WORDBREAK);
    PaintFailureReason(dc, &below, record);
    PaintLoadProgress(dc, &below, record);
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
