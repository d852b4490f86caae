// Scroll and fit state of an instance, owned here: the client size, the
// fit-to-window switch, and the scroll bars of a full-page picture drawn
// larger than fitted (keeping the origin in range, showing and sizing the
// bars, and panning on their messages, the keys and the pointer). The size
// the picture is drawn at is the zoom's (zoom.cpp). UI thread only.
#include "window/display.h"

namespace {

const int32_t LineStep = 40;
const int32_t MinimumPageStep = 40;
const int32_t PageMargin = 15;

// One direction of scrolling: which members and which bar it uses, and how
// much larger than the client area the image must be to need the bar.
struct ScrollAxis {
    int bar;
    int32_t ScrollState::*origin;
    int32_t ScrollState::*clientSize;
    int32_t ScrollState::*shown;
    int32_t neededMargin;
};

const ScrollAxis Horizontal = {SB_HORZ, &ScrollState::x, &ScrollState::clientWidth, &ScrollState::hBarShown, 2};
const ScrollAxis Vertical = {SB_VERT, &ScrollState::y, &ScrollState::clientHeight, &ScrollState::vBarShown, 1};

void HideBar(PluginInstance* record, const ScrollAxis& axis) {
    if (record->scroll.*axis.shown) {
        ShowScrollBar(record->window.hwnd, axis.bar, FALSE);
        record->scroll.*axis.shown = 0;
    }
}

void UpdateAxis(PluginInstance* record, const ScrollAxis& axis, int32_t imageSize) {
    int32_t client = record->scroll.*axis.clientSize;
    int32_t maximum = imageSize - client > 0 ? imageSize - client : 0;
    if (record->scroll.*axis.origin > maximum) {
        record->scroll.*axis.origin = maximum;
    }
    if (record->scroll.*axis.origin < 0) {
        record->scroll.*axis.origin = 0;
    }
    if (client < imageSize - axis.neededMargin) {
        if (!(record->scroll.*axis.shown)) {
            ShowScrollBar(record->window.hwnd, axis.bar, TRUE);
            record->scroll.*axis.shown = 1;
        }
        // Showing a bar sends WM_SIZE, whose nested update may show the other
        // bar and shrink the client area: the bar is described from the
        // values as they are now, else its page keeps the old client size
        // and the thumb never reaches the image's end.
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        info.nMin = 0;
        info.nMax = imageSize - 1;
        info.nPage = (UINT)(record->scroll.*axis.clientSize);
        info.nPos = record->scroll.*axis.origin;
        SetScrollInfo(record->window.hwnd, axis.bar, &info, TRUE);
    } else {
        HideBar(record, axis);
    }
}

// The thumb position of a drag. The message carries only its low 16 bits;
// the bar holds all 32 while the user drags. A message whose bits do not
// match the bar's (one sent by a program, not by the bar) is taken as it is.
int32_t TrackPosition(const PluginInstance* record, const ScrollAxis& axis, int position) {
    int32_t low = position & 0xFFFF;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_TRACKPOS;
    if (GetScrollInfo(record->window.hwnd, axis.bar, &info) && (info.nTrackPos & 0xFFFF) == low) {
        return info.nTrackPos;
    }
    return low;
}

// The origin a scroll code moves to, before clamping; false for a code that
// does not move. Codes mean the same for both bars (SB_LINELEFT == SB_LINEUP
// and so on).
bool ScrollTarget(int32_t* targetOut, const PluginInstance* instance, const ScrollAxis& axis, int code,
                  int32_t pageStep, int32_t imageSize, int position) {
    int32_t origin = instance->scroll.*axis.origin;
    switch (code) {
    case SB_LINELEFT: *targetOut = origin - LineStep; return true;
    case SB_LINERIGHT: *targetOut = origin + LineStep; return true;
    case SB_PAGELEFT: *targetOut = origin - pageStep; return true;
    case SB_PAGERIGHT: *targetOut = origin + pageStep; return true;
    case SB_THUMBTRACK: *targetOut = TrackPosition(instance, axis, position); return true;
    case SB_LEFT: *targetOut = 0; return true;
    case SB_RIGHT: *targetOut = imageSize; return true;
    default: return false;
    }
}

}  // namespace

void UpdateClientSize(PluginInstance* record) {
    // A detached record or a vanished window has no client area: it reads as
    // 0 x 0 rather than keeping a size from an earlier window.
    RECT client = {0, 0, 0, 0};
    if (record->window.hwnd == nullptr || !GetClientRect(record->window.hwnd, &client)) {
        client.right = 0;
        client.bottom = 0;
    }
    record->scroll.clientWidth = client.right;
    record->scroll.clientHeight = client.bottom;
}

// Runs on the UI thread only (the decode thread posts its update), so the
// scroll members have one writer.
void UpdateScrollBars(PluginInstance* instance) {
    if (!instance || !instance->scroll.active || !instance->window.hwnd) {
        return;
    }
    ImageView view;
    if (!GetShownImage(&view, instance)) {
        HideBar(instance, Horizontal);
        HideBar(instance, Vertical);
        return;
    }
    int32_t width, height;
    ComputeDrawnSize(&width, &height, instance, &view);
    UpdateAxis(instance, Horizontal, width);
    UpdateAxis(instance, Vertical, height);
}

void HandleScroll(PluginInstance* instance, UINT message, int code, int position) {
    ImageView view;
    if (!instance || !instance->scroll.active || !GetShownImage(&view, instance)) {
        return;
    }
    if (message != WM_HSCROLL && message != WM_VSCROLL) {
        return;
    }
    const ScrollAxis& axis = message == WM_HSCROLL ? Horizontal : Vertical;
    int32_t width, height;
    ComputeDrawnSize(&width, &height, instance, &view);
    int32_t imageSize = message == WM_HSCROLL ? width : height;
    int32_t pageStep = instance->scroll.*axis.clientSize - PageMargin;
    if (pageStep < MinimumPageStep) {
        pageStep = MinimumPageStep;
    }
    int32_t target = 0;
    if (!ScrollTarget(&target, instance, axis, code, pageStep, imageSize, position)) {
        return;
    }
    if (message == WM_HSCROLL) {
        PanTo(instance, target, instance->scroll.y);
    } else {
        PanTo(instance, instance->scroll.x, target);
    }
}

void PanTo(PluginInstance* instance, int32_t x, int32_t y) {
    if (!instance->scroll.active) {
        return;
    }
    int32_t x0 = instance->scroll.x;
    int32_t y0 = instance->scroll.y;
    instance->scroll.x = x;
    instance->scroll.y = y;
    UpdateScrollBars(instance);
    int dx = x0 - instance->scroll.x;
    int dy = y0 - instance->scroll.y;
    if (dx != 0 || dy != 0) {
        ScrollWindowEx(instance->window.hwnd, dx, dy, NULL, NULL, NULL, NULL, SW_INVALIDATE);
        RepaintScrolledBadge(instance, dx, dy);
    }
}

// Both views repaint the whole window once the bars have settled: the
// picture changes size, and an origin asked for near an edge (or kept from
// a smaller window) is clamped first.
void ShowFittedView(PluginInstance* instance) {
    instance->scroll.fixedScale = 0;
    instance->scroll.active = 0;
    HideBar(instance, Horizontal);
    HideBar(instance, Vertical);
    UpdateClientSize(instance);
    InvalidateRect(instance->window.hwnd, nullptr, TRUE);
    UpdateWindow(instance->window.hwnd);
}

void ShowZoomedView(PluginInstance* instance, int32_t originX, int32_t originY) {
    instance->scroll.fixedScale = 1;
    instance->scroll.active = instance->element.mode == NP_FULL ? 1 : 0;
    UpdateClientSize(instance);
    // Once for the bars to settle (each one shown shrinks the client area),
    // again to clamp the origin asked for to the client area they leave.
    for (int pass = 0; pass < 2; ++pass) {
        instance->scroll.x = originX;
        instance->scroll.y = originY;
        UpdateScrollBars(instance);
    }
    InvalidateRect(instance->window.hwnd, nullptr, TRUE);
    UpdateWindow(instance->window.hwnd);
}

int AtScrollEnd(const PluginInstance* instance, int direction) {
    ImageView view;
    if (!instance->scroll.active || !instance->scroll.vBarShown || !GetShownImage(&view, instance)) {
        return 1;
    }
    int32_t width, height;
    ComputeDrawnSize(&width, &height, instance, &view);
    int32_t maximum = height - instance->scroll.clientHeight > 0 ? height - instance->scroll.clientHeight : 0;
    return direction > 0 ? instance->scroll.y >= maximum : instance->scroll.y <= 0;
}

// The bottom is not known before the new page's size is: an origin past
// any page is clamped to its bottom once its picture is there.
void ScrollToPageEnd(PluginInstance* instance, int bottom) {
    if (instance->scroll.active) {
        instance->scroll.y = bottom ? INT32_MAX / 2 : 0;
    }
}
