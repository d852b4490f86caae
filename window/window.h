// What host/ may use from window/: the one entry through which an instance
// is shown in the browser's window. It names no other folder's header, so
// host/ depends on window/ through this declaration only.
#ifndef WINDOW_WINDOW_H
#define WINDOW_WINDOW_H

#include <windows.h>

struct PluginInstance;

// Puts the plug-in's window procedure on `window` and shows the instance
// there, after taking it off the window it had before; null only takes it
// off. The same window again is only repainted.
void AttachWindow(PluginInstance* record, HWND window);

#endif
