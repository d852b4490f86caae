// The window procedure installed on the browser's window: painting of the
// image by the three drawing rules, the status box, cursor and link click.
#include <stdint.h>

#include "host/plugin.h"
#include "window/display.h"

namespace {

// Status texts, tested in order; the first row whose test holds is shown.
struct StatusText {
    int (*applies)(int32_t loadState, int32_t decodeError);
    const char* english;
    const char* japanese;
};

int HasFailed(int32_t, int32_t decodeError) { return decodeError != 0; }
int IsWaiting(int32_t loadState, int32_t) { return loadState <= LoadStateWaiting; }
int IsLoading(int32_t, int32_t) { return 1; }

const StatusText StatusTexts[] = {
    {HasFailed, "Plug-in's Error", "プラグインがエラーを起こしました。"},
    {IsWaiting, "JPEG 2000 plug-in waiting for image... Please wait.", "画像を待っています…少々お待ちください。"},
    {IsLoading, "JPEG 2000 image loading... Please wait.", "画像をロード中…少々お待ちください。"},
};

const char* ChooseStatusText(const PluginInstance* record) {
    int32_t loadState = LoadAcquire(&record->loadState);
    int32_t decodeError = LoadAcquire(&record->decodeError);
    for (const StatusText& row : StatusTexts) {
        if (row.applies(loadState, decodeError)) {
            return IsJapaneseUi() ? row.japanese : row.english;
        }
    }
    return "";
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
    StretchDIBits(dc, 0, 0, width, height, 0, 0, view->width, view->height, view->bits, view->info, DIB_RGB_COLORS,
                  SRCCOPY);
}

void Paint(HWND window, const PluginInstance* record) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (record->scrollActive == 1) {
        SetWindowOrgEx(dc, record->scrollX, record->scrollY, NULL);
    }
    ImageView view;
    if (LoadAcquire(&record->loadState) == LoadStateEnded && GetPublishedImage(&view, record)) {
        PaintImage(dc, record, &view);
    } else {
        RECT client;
        GetClientRect(window, &client);
        PaintStatusBox(dc, &client, record);
    }
    EndPaint(window, &paint);
}

// The browser's procedure, or the default one when there is none to call
// (a window subclassed twice by this plug-in must not call itself forever).
LRESULT PassOn(const PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = record->prevWndProc;
    if (!previous || previous == &PluginWindowProc) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

}  // namespace

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

UINT DecodeFinishedMessage() {
    // Registered once; both threads may race to store the same value.
    static UINT message = 0;
    UINT value = LoadAcquire(&message);
    if (value == 0) {
        value = RegisterWindowMessageA("npkavrel decode finished");
        StoreRelease(&message, value);
    }
    return value;
}

void PaintStatusBox(HDC dc, const RECT* clientRect, const PluginInstance* record) {
    RECT text = *clientRect;
    Rectangle(dc, text.left, text.top, text.right, text.bottom);
    InflateRect(&text, -2, -2);
    RECT below = text;
    below.top += DrawTextA(dc, ChooseStatusText(record), -1, &text, DT_WORDBREAK);
    PaintFailureReason(dc, &below, record);
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

LRESULT CALLBACK PluginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PluginInstance* record = (PluginInstance*)GetPropA(window, "pdata");
    if (!record) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == DecodeFinishedMessage()) {
        UpdateScrollBars(record);
        InvalidateRect(window, NULL, TRUE);
        UpdateWindow(window);
        return 0;
    }
    switch (message) {
    case WM_SIZE: {
        int32_t oldScrollX = record->scrollX;
        int32_t oldScrollY = record->scrollY;
        UpdateClientSize(record);
        UpdateScrollBars(record);
        // A fitted full page is drawn at a size that follows the client
        // area, and the paint covers only the picture: without an erase the
        // part a shrinking picture leaves keeps its old pixels. A scrolled
        // page whose origin the clamp moved would likewise keep the columns
        // of the old origin beside the newly exposed ones of the new.
        bool fitted = record->mode == NP_FULL && record->fitToWindow;
        if (fitted || record->scrollX != oldScrollX || record->scrollY != oldScrollY) {
            InvalidateRect(window, NULL, TRUE);
        }
        return 0;
    }
    case WM_PAINT:
        Paint(window, record);
        return 0;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect((HDC)wParam, &client, (HBRUSH)GetStockObject(GRAY_BRUSH));
        return 1;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) != HTCLIENT) {
            break;
        }
        SetCursor(record->hasLink ? record->linkCursor : LoadCursorA(NULL, IDC_ARROW));
        return 1;
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP:
        BeginModalUse(record);
        ShowContextMenu(record, window);
        EndModalUse(record);
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        HandleScroll(record, message, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_LBUTTONDOWN:
        if (record->hasLink) {
            NPN_GetURL(record->npp, record->href, record->target);
        }
        return 0;
    default:
        break;
    }
    return PassOn(record, window, message, wParam, lParam);
}
