// What host/ may use from window/: the entry through which an instance is
// shown in the browser's window, and the browser's change of screen scale.
// It names no other folder's header, so host/ depends on window/ through
// these declarations only.
#ifndef WINDOW_WINDOW_H
#define WINDOW_WINDOW_H

#include <windows.h>

struct PluginInstance;

// Puts the plug-in's window procedure on `window` and shows the instance
// there, after taking it off the window it had before; null only takes it
// off. The same window again is only repainted.
void AttachWindow(PluginInstance* record, HWND window);

// The browser's new device pixels per CSS pixel: the view keeps its zoom
// percentage and its texts follow. Values outside 0.5 to 8 are ignored.
void ChangeContentsScale(PluginInstance* record, double scale);

#endif
