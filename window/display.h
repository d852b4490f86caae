// Declarations shared inside window/ (and by the tests that drive it): the
// window procedure, painting, and the scroll and fit state that
// scrolling.cpp owns.
#ifndef WINDOW_DISPLAY_H
#define WINDOW_DISPLAY_H

#include "host/plugin.h"

LRESULT CALLBACK PluginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A message the plug-in does not answer, to the procedure it replaced.
LRESULT PassOnMessage(const PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Paints the image or the status box into the window, after telling the
// decode queue the size the picture is drawn at.
void PaintWindow(HWND window, PluginInstance* record);

// Asks the decode queue for the level the whole picture's drawn size needs:
// the size (device pixels) of the element, of the page's picture rectangle,
// or, before the picture's size is known, of the client area.
void RequestDrawnLevel(PluginInstance* record);

// Stretches the part of a bitmap that shows in the client area, the whole
// bitmap being drawn over bitmapRect (client coordinates).
void PaintBitmapAt(HDC dc, const PluginInstance* record, const RECT* bitmapRect, const ImageView* view);

// The part in view of a picture past the sample cap at a finer level
// (region_paint.cpp), UI thread: each paint schedules the request, made once
// the view has rested (RegionTimerId), and the part decoded is painted over
// the picture drawn over `picture`.
enum { RegionTimerId = 0x4E5B };
void ScheduleRegionRequest(PluginInstance* record);
void RequestRegionInView(PluginInstance* record);
void PaintRegionOver(HDC dc, const PluginInstance* record, const RECT* picture);

// Paints the status box (outline, white fill, status text) into dc.
void PaintStatusBox(HDC dc, const RECT* clientRect, const PluginInstance* record);

// After a failure, the reason for it (ChooseFailureReason), drawn into
// `area`, the part of the status box below its first text.
void PaintFailureReason(HDC dc, const RECT* area, const PluginInstance* record);

// Into the same area: while the file arrives, a progress bar and the bytes
// received.
void PaintLoadProgress(HDC dc, const RECT* below, const PluginInstance* record);

// Over the picture of the part received so far: a thin bar along the bottom
// edge while the file arrives, filled by the share received; after an
// interrupted download, the reason in a box at the top.
void PaintArrivalEdge(HDC dc, const PluginInstance* record);
void PaintReasonOverPicture(HDC dc, const PluginInstance* record);

// The largest size of the image's proportions that fits the client area,
// never larger than the image itself.
void ComputeFitSize(int32_t* outWidth, int32_t* outHeight, int32_t clientWidth, int32_t clientHeight,
                    int32_t imageWidth, int32_t imageHeight);

// Scroll and fit state (scrolling.cpp), UI thread only. PanTo moves the
// origin of a zoomed view (clamped) and scrolls the window's contents; the
// two views set fit on or off and repaint.
void UpdateClientSize(PluginInstance* record);
void UpdateScrollBars(PluginInstance* instance);
void HandleScroll(PluginInstance* instance, UINT message, int code, int position);
void PanTo(PluginInstance* instance, int32_t x, int32_t y);
void ShowFittedView(PluginInstance* instance);
void ShowZoomedView(PluginInstance* instance, int32_t originX, int32_t originY);
// 1 when the view cannot scroll further down (direction > 0) or up (< 0):
// no bar, or the origin at that end. ScrollToPageEnd puts a new page's
// origin at its top, or its bottom.
int AtScrollEnd(const PluginInstance* instance, int direction);
void ScrollToPageEnd(PluginInstance* instance, int bottom);

// Pages of a document (picture_pages.cpp), UI thread. TurnPage shows the
// page `step` pages on from the one asked for last; 0 when there is none.
// A switch that waits for a running decode is retried on PictureTimerId.
enum { PictureTimerId = 0x4E5C };
int TurnPage(PluginInstance* record, int step);
void RetryPictureSwitch(PluginInstance* record);
int HasNextPage(const PluginInstance* record);
int HasPreviousPage(const PluginInstance* record);
void ShowNextPage(PluginInstance* record);
void ShowPreviousPage(PluginInstance* record);

// Zoom state (zoom.cpp), UI thread only. Scales are device pixels per
// picture pixel; the picture is the whole one (its full size), whatever
// level the bitmap shown holds.
enum { ScaleBadgeTimerId = 0x4E5A };
double ContentsScale(const PluginInstance* record);
// Asks the browser for its scale once, else takes the window's DPI again.
void RefreshContentsScale(PluginInstance* record);
// The window's DPI changed (it moved to another screen): the scale is read
// again as on attach, and the view follows it.
void RereadContentsScale(PluginInstance* record);
// The same when the window's DPI no longer gives the scale in use (a change
// no message told of).
void NoticeDpiChange(PluginInstance* record);
double ShownScale(const PluginInstance* record, const ImageView* view);
// The scale as the user sees it: 100 is one picture pixel per CSS pixel;
// 0 without a picture.
int ShownPercent(const PluginInstance* record);
void ComputeDrawnSize(int32_t* widthOut, int32_t* heightOut, const PluginInstance* record, const ImageView* view);
// Where the whole picture is drawn, in client coordinates.
void ComputePictureRect(RECT* pictureOut, const PluginInstance* record, const ImageView* view);
// The part of the picture the client area shows, in the whole picture's
// pixels (covering every partly visible pixel); 0 with an empty rectangle
// when nothing of it is visible.
int GetVisibleRegion(RECT* regionOut, const PluginInstance* record);
// Zooms by steps of 1.25 (negative: out) about a client point, from the
// fitted scale to 800 %, stopping at 100 % on the way.
void ZoomSteps(PluginInstance* record, int steps, POINT anchor);
void ZoomStepsAboutCentre(PluginInstance* record, int steps);
void ShowActualSize(PluginInstance* record);
void FitAgain(PluginInstance* record);
// A click: fitted and larger than the window, 100 % with the clicked point
// in the middle; zoomed, fitted again. ClickZoomsIn says which a click does.
void ToggleZoomAt(PluginInstance* record, POINT point);
int ClickZoomsIn(const PluginInstance* record);
// The menu's fit switch: off shows 100 % at the origin kept.
void ToggleFitToWindow(PluginInstance* instance);
void PaintScaleBadge(HDC dc, const PluginInstance* record);
// After the window's pixels were scrolled by (dx, dy): the badge stays in
// its corner, so its place and the copy the scroll made are painted again.
void RepaintScrolledBadge(const PluginInstance* record, int dx, int dy);
void HideScaleBadge(PluginInstance* record);
// The font of the plug-in's own texts at the window's scale; the caller
// deletes it.
HFONT CreateUiFont(const PluginInstance* record);

// Keys and pointer (view_input.cpp). Each key the view answers is one row
// of a table; ChooseKeyAction is that table's lookup with the modifiers
// held (KeyModifier bits).
enum KeyModifier { ModifierShift = 1, ModifierControl = 2, ModifierAlt = 4 };
enum KeyAction {
    KeyUnhandled = 0,
    KeyLineUp,
    KeyLineDown,
    KeyLineLeft,
    KeyLineRight,
    KeyPageUp,
    KeyPageDown,
    KeyTop,
    KeyBottom,
    KeyZoomIn,
    KeyZoomOut,
    KeyFit,
    KeyActualSize,
    KeySaveAs,
    KeyCopy,
    KeyPrint,
    KeyContextMenu,
    KeyToBrowser,
    KeyLeaveFocus,  // to the browser, with the focus
};
KeyAction ChooseKeyAction(UINT virtualKey, int modifiers);
LRESULT HandleKey(PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT HandleWheel(PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT HandleButtonDown(PluginInstance* record, HWND window, LPARAM lParam);
LRESULT HandlePointerMove(PluginInstance* record, HWND window, WPARAM wParam, LPARAM lParam);
LRESULT HandleButtonUp(PluginInstance* record, HWND window, WPARAM wParam, LPARAM lParam);
void EndPointerPress(PluginInstance* record);
HCURSOR ChooseViewCursor(const PluginInstance* record);

// The right-click menu and the About dialog, each a modal loop. The menu
// opens at the pointer, or at a screen point given.
void ShowContextMenu(PluginInstance* instance, HWND window);
void ShowContextMenuAt(PluginInstance* instance, HWND window, POINT screenPoint);
void ShowAboutDialog(PluginInstance* instance);

#endif
