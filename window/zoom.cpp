// Zoom of a full page, owned here: the scale the picture is drawn at, the
// screen's scale (device pixels per CSS pixel), zooming about a point, the
// fit and 100 % views, where the picture lies in the client area and which
// part of it is visible, and the scale shown for a moment after a change.
// UI thread only.
#include <math.h>

#include "window/display.h"
#include "window/window.h"

namespace {

const double ZoomStep = 1.25;
// Zooming in stops at eight times the 100 % scale.
const double LargestZoom = 8.0;
const double MinimumContentsScale = 0.5;
const double MaximumContentsScale = 8.0;
const UINT BadgeMilliseconds = 1200;

typedef UINT(WINAPI* GetDpiForWindowFunc)(HWND);

// The window's DPI over 96: per window where the system knows it (Windows
// 10 from 1607), else the screen's.
double WindowDpiScale(HWND window) {
    static GetDpiForWindowFunc getDpiForWindow =
        (GetDpiForWindowFunc)(void*)GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow");
    UINT dpi = window && getDpiForWindow ? getDpiForWindow(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(NULL);
        dpi = screen ? (UINT)GetDeviceCaps(screen, LOGPIXELSX) : 96;
        if (screen) {
            ReleaseDC(NULL, screen);
        }
    }
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

// The size zooming works in: the whole picture's, which is larger than the
// bitmap shown for a picture past the sample cap.
void PictureSize(const PluginInstance* record, const ImageView& view, int32_t* widthOut, int32_t* heightOut) {
    int32_t fullWidth = LoadAcquire(&record->picture.fullWidth);
    int32_t fullHeight = LoadAcquire(&record->picture.fullHeight);
    bool known = fullWidth > 0 && fullHeight > 0;
    *widthOut = known ? fullWidth : view.width;
    *heightOut = known ? fullHeight : view.height;
}

int32_t ScaleLength(int32_t length, double scale) {
    double scaled = floor(length * scale + 0.5);
    return scaled > INT32_MAX / 2 ? INT32_MAX / 2 : (int32_t)scaled;
}

double FitScale(const PluginInstance* record, const ImageView& view) {
    int32_t width, height;
    PictureSize(record, view, &width, &height);
    double actual = ContentsScale(record);
    if (width <= 0 || height <= 0) {
        return actual;
    }
    int32_t fitWidth, fitHeight;
    ComputeFitSize(&fitWidth, &fitHeight, record->scroll.clientWidth, record->scroll.clientHeight,
                   ScaleLength(width, actual), ScaleLength(height, actual));
    return fitWidth > 0 ? (double)fitWidth / width : actual;
}

bool Zoomable(const PluginInstance* record, ImageView* view) {
    return record->element.mode == NP_FULL && record->window.hwnd &&
           LoadAcquire(&record->reception.loadState) == LoadStateEnded && GetShownImage(view, record);
}

void ShowBadge(PluginInstance* record) {
    record->zoom.badgeShown = 1;
    SetTimer(record->window.hwnd, ScaleBadgeTimerId, BadgeMilliseconds, NULL);
    InvalidateRect(record->window.hwnd, NULL, FALSE);
}

// Draws at `scale`, the picture point under `anchor` (client pixels) kept
// under it; at or below the fitted scale the view is fitted again.
void ZoomAbout(PluginInstance* record, const ImageView& view, double scale, POINT anchor) {
    double fit = FitScale(record, view);
    double largest = LargestZoom * ContentsScale(record);
    if (scale > largest) {
        scale = largest;
    }
    if (scale <= fit * (1 + 1e-9)) {
        record->zoom.scale = 0;
        ShowFittedView(record);
    } else {
        RECT picture;
        ComputePictureRect(&picture, record, &view);
        double old = ShownScale(record, &view);
        double pictureX = (anchor.x - picture.left) / old;
        double pictureY = (anchor.y - picture.top) / old;
        record->zoom.scale = scale;
        ShowZoomedView(record, (int32_t)floor(pictureX * scale - anchor.x + 0.5),
                       (int32_t)floor(pictureY * scale - anchor.y + 0.5));
    }
    RequestDrawnLevel(record);
    ShowBadge(record);
}

// A new screen scale: the percentage shown stays (a 200 % view is still
// 200 % on the new screen) and the view is laid out and drawn again.
void ApplyContentsScale(PluginInstance* record, double scale) {
    double percent = record->zoom.scale > 0 ? record->zoom.scale / ContentsScale(record) : 0;
    record->zoom.contentsScale = scale;
    record->zoom.scale = percent * scale;
    if (!record->window.hwnd) {
        return;
    }
    UpdateClientSize(record);
    UpdateScrollBars(record);
    ImageView view;
    if (Zoomable(record, &view)) {
        RequestDrawnLevel(record);
    }
    InvalidateRect(record->window.hwnd, NULL, TRUE);
}

// The badge's text, and where it lies in the top right corner: the text's
// box and the black one behind it, in `dc` with the badge's font.
struct BadgeLayout {
    wchar_t text[16];
    RECT box;
    RECT back;
};

void LayOutBadge(BadgeLayout* out, HDC dc, const PluginInstance* record) {
    FormatText(out->text, 16, L"%d %%", ShownPercent(record));
    SetRect(&out->box, 0, 0, 0, 0);
    DrawTextW(dc, out->text, -1, &out->box, DT_CALCRECT | DT_SINGLELINE);
    int margin = ScaleLength(6, ContentsScale(record));
    OffsetRect(&out->box, record->scroll.clientWidth - out->box.right - 2 * margin, margin);
    out->back = out->box;
    InflateRect(&out->back, margin / 2 + 1, margin / 2);
}

POINT ClientCentre(const PluginInstance* record) {
    POINT centre = {record->scroll.clientWidth / 2, record->scroll.clientHeight / 2};
    return centre;
}

}  // namespace

double ContentsScale(const PluginInstance* record) {
    return record->zoom.contentsScale > 0 ? record->zoom.contentsScale : 1.0;
}

void RefreshContentsScale(PluginInstance* record) {
    if (record->zoom.contentsScaleFromBrowser) {
        return;
    }
    double scale = 0;
    if (AskContentsScale(record->element.npp, &scale)) {
        record->zoom.contentsScaleFromBrowser = 1;
    } else {
        scale = WindowDpiScale(record->window.hwnd);
    }
    record->zoom.contentsScale = scale;
}

void ChangeContentsScale(PluginInstance* record, double scale) {
    if (!record || !(scale >= MinimumContentsScale) || !(scale <= MaximumContentsScale)) {
        return;
    }
    record->zoom.contentsScaleFromBrowser = 1;
    ApplyContentsScale(record, scale);
}

void RereadContentsScale(PluginInstance* record) {
    double scale = 0;
    if (AskContentsScale(record->element.npp, &scale)) {
        record->zoom.contentsScaleFromBrowser = 1;
    } else if (record->zoom.contentsScaleFromBrowser) {
        return;  // a browser that told its scale tells its changes too
    } else {
        scale = WindowDpiScale(record->window.hwnd);
    }
    if (scale != record->zoom.contentsScale) {
        ApplyContentsScale(record, scale);
    }
}

void NoticeDpiChange(PluginInstance* record) {
    if (!record->zoom.contentsScaleFromBrowser && WindowDpiScale(record->window.hwnd) != record->zoom.contentsScale) {
        RereadContentsScale(record);
    }
}

double ShownScale(const PluginInstance* record, const ImageView* view) {
    if (record->element.mode == NP_FULL && !record->scroll.fixedScale) {
        return FitScale(record, *view);
    }
    return record->zoom.scale > 0 ? record->zoom.scale : ContentsScale(record);
}

int ShownPercent(const PluginInstance* record) {
    ImageView view;
    if (!GetShownImage(&view, record)) {
        return 0;
    }
    return (int)floor(ShownScale(record, &view) / ContentsScale(record) * 100 + 0.5);
}

void ComputeDrawnSize(int32_t* widthOut, int32_t* heightOut, const PluginInstance* record, const ImageView* view) {
    int32_t width, height;
    PictureSize(record, *view, &width, &height);
    double scale = ShownScale(record, view);
    *widthOut = ScaleLength(width, scale);
    *heightOut = ScaleLength(height, scale);
}

void ComputePictureRect(RECT* pictureOut, const PluginInstance* record, const ImageView* view) {
    if (record->element.mode != NP_FULL) {
        SetRect(pictureOut, 0, 0, record->scroll.clientWidth, record->scroll.clientHeight);
        return;
    }
    int32_t width, height;
    ComputeDrawnSize(&width, &height, record, view);
    int32_t left = record->scroll.active ? -record->scroll.x : 0;
    int32_t top = record->scroll.active ? -record->scroll.y : 0;
    SetRect(pictureOut, left, top, left + width, top + height);
}

int GetVisibleRegion(RECT* regionOut, const PluginInstance* record) {
    SetRectEmpty(regionOut);
    ImageView view;
    if (!GetShownImage(&view, record)) {
        return 0;
    }
    RECT picture, client = {0, 0, record->scroll.clientWidth, record->scroll.clientHeight}, visible;
    ComputePictureRect(&picture, record, &view);
    if (!IntersectRect(&visible, &picture, &client)) {
        return 0;
    }
    int32_t width, height;
    PictureSize(record, view, &width, &height);
    double drawnWidth = picture.right - picture.left, drawnHeight = picture.bottom - picture.top;
    // In doubles: an origin times the picture's size passes 2^31 in large pictures.
    regionOut->left = (LONG)floor((double)(visible.left - picture.left) * width / drawnWidth);
    regionOut->top = (LONG)floor((double)(visible.top - picture.top) * height / drawnHeight);
    regionOut->right = (LONG)ceil((double)(visible.right - picture.left) * width / drawnWidth);
    regionOut->bottom = (LONG)ceil((double)(visible.bottom - picture.top) * height / drawnHeight);
    return 1;
}

void ZoomSteps(PluginInstance* record, int steps, POINT anchor) {
    ImageView view;
    if (steps == 0 || !Zoomable(record, &view)) {
        return;
    }
    double old = ShownScale(record, &view);
    double scale = old * pow(ZoomStep, steps);
    // Passing 100 % stops there, so the steps always reach it exactly.
    double actual = ContentsScale(record);
    if ((old < actual * (1 - 1e-9) && scale > actual) || (old > actual * (1 + 1e-9) && scale < actual)) {
        scale = actual;
    }
    ZoomAbout(record, view, scale, anchor);
}

void ZoomStepsAboutCentre(PluginInstance* record, int steps) { ZoomSteps(record, steps, ClientCentre(record)); }

void ShowActualSize(PluginInstance* record) {
    ImageView view;
    if (Zoomable(record, &view)) {
        ZoomAbout(record, view, ContentsScale(record), ClientCentre(record));
    }
}

void FitAgain(PluginInstance* record) {
    ImageView view;
    if (Zoomable(record, &view)) {
        ZoomAbout(record, view, 0, ClientCentre(record));
    }
}

int ClickZoomsIn(const PluginInstance* record) {
    ImageView view;
    return !record->scroll.fixedScale && Zoomable(record, &view) &&
           FitScale(record, view) < ContentsScale(record) * (1 - 1e-9);
}

void ToggleZoomAt(PluginInstance* record, POINT point) {
    ImageView view;
    if (!Zoomable(record, &view)) {
        return;
    }
    if (record->scroll.fixedScale) {
        ZoomAbout(record, view, 0, point);
        return;
    }
    if (!ClickZoomsIn(record)) {
        return;
    }
    // The clicked picture point goes to the middle of the window.
    RECT picture;
    ComputePictureRect(&picture, record, &view);
    double fit = FitScale(record, view);
    double actual = ContentsScale(record);
    double pictureX = (point.x - picture.left) / fit;
    double pictureY = (point.y - picture.top) / fit;
    record->zoom.scale = actual;
    ShowZoomedView(record, 0, 0);
    // The middle of the client area the scroll bars have left.
    POINT centre = ClientCentre(record);
    PanTo(record, (int32_t)floor(pictureX * actual - centre.x + 0.5), (int32_t)floor(pictureY * actual - centre.y + 0.5));
    RequestDrawnLevel(record);
    ShowBadge(record);
}

void ToggleFitToWindow(PluginInstance* instance) {
    if (!instance->scroll.fixedScale) {
        instance->zoom.scale = 0;
        ShowZoomedView(instance, instance->scroll.x, instance->scroll.y);
    } else {
        ShowFittedView(instance);
    }
    ImageView view;
    if (Zoomable(instance, &view)) {
        RequestDrawnLevel(instance);
    }
}

void HideScaleBadge(PluginInstance* record) {
    KillTimer(record->window.hwnd, ScaleBadgeTimerId);
    if (record->zoom.badgeShown) {
        record->zoom.badgeShown = 0;
        // The corner may lie beside the picture, on the erased background.
        InvalidateRect(record->window.hwnd, NULL, TRUE);
    }
}

void PaintScaleBadge(HDC dc, const PluginInstance* record) {
    if (!record->zoom.badgeShown) {
        return;
    }
    HFONT font = CreateUiFont(record);
    HGDIOBJ oldFont = SelectObject(dc, font);
    BadgeLayout badge;
    LayOutBadge(&badge, dc, record);
    FillRect(dc, &badge.back, (HBRUSH)GetStockObject(BLACK_BRUSH));
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, badge.text, -1, &badge.box, DT_SINGLELINE);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void RepaintScrolledBadge(const PluginInstance* record, int dx, int dy) {
    HWND window = record->window.hwnd;
    HDC dc = record->zoom.badgeShown ? GetDC(window) : NULL;
    if (!dc) {
        return;
    }
    HFONT font = CreateUiFont(record);
    HGDIOBJ oldFont = SelectObject(dc, font);
    BadgeLayout badge;
    LayOutBadge(&badge, dc, record);
    SelectObject(dc, oldFont);
    DeleteObject(font);
    ReleaseDC(window, dc);
    InvalidateRect(window, &badge.back, TRUE);
    OffsetRect(&badge.back, dx, dy);
    InvalidateRect(window, &badge.back, TRUE);
}

HFONT CreateUiFont(const PluginInstance* record) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    LOGFONTW font = {};
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        lstrcpyW(font.lfFaceName, L"Tahoma");
    } else {
        font = metrics.lfMessageFont;
    }
    // 9 points at 96 dpi, in the window's device pixels.
    font.lfHeight = -ScaleLength(12, ContentsScale(record));
    font.lfWidth = 0;
    // The system's character set, so that Japanese texts find their glyphs
    // whatever the message font was made for.
    font.lfCharSet = DEFAULT_CHARSET;
    return CreateFontIndirectW(&font);
}
