// Declarations shared inside window/ (and by the tests that drive it): the
// window procedure, painting, and the scroll and fit state that
// scrolling.cpp owns.
#ifndef WINDOW_DISPLAY_H
#define WINDOW_DISPLAY_H

#include "host/plugin.h"

LRESULT CALLBACK PluginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Paints the image or the status box into the window.
void PaintWindow(HWND window, const PluginInstance* record);

// Paints the status box (outline, white fill, status text) into dc.
void PaintStatusBox(HDC dc, const RECT* clientRect, const PluginInstance* record);

// After a failure, the reason for it in the interface language (a
// DecodeFailure value or FailureInterrupted), drawn into `area`, the part
// of the status box below its first text.
const char* ChooseFailureReason(int32_t reason);
void PaintFailureReason(HDC dc, const RECT* area, const PluginInstance* record);

// Into the same area: while the file arrives, a progress bar and the bytes
// received.
void PaintLoadProgress(HDC dc, const RECT* below, const PluginInstance* record);

// The largest size of the image's proportions that fits the client area,
// never larger than the image itself.
void ComputeFitSize(int32_t* outWidth, int32_t* outHeight, int32_t clientWidth, int32_t clientHeight,
                    int32_t imageWidth, int32_t imageHeight);

// Scroll and fit state (scrolling.cpp), UI thread only.
void UpdateClientSize(PluginInstance* record);
void UpdateScrollBars(PluginInstance* instance);
void HandleScroll(PluginInstance* instance, UINT message, int code, int position);
void ToggleFitToWindow(PluginInstance* instance);

// The right-click menu and the About dialog, each a modal loop.
void ShowContextMenu(PluginInstance* instance, HWND window);
void ShowAboutDialog(PluginInstance* instance);

#endif
