// The About dialog (inside window/ and for its tests): its procedure, its
// texts and the icon animation state.
#ifndef WINDOW_ABOUT_DIALOG_H
#define WINDOW_ABOUT_DIALOG_H

#include <stdint.h>
#include <windows.h>

#include "host/plugin.h"

enum {
    AboutTextSize = 8192,
    AboutTabStop = 60,       // dialog template units
    AboutTimerId = 1,
    AboutFrameMilliseconds = 2000,
};

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The two texts of the dialog, each into AboutTextSize characters.
void BuildPluginText(wchar_t* textOut);
void BuildImageText(wchar_t* textOut, const PluginInstance* instance);

// Current animation frame, 0 to 3 (icon IDI_ABOUT_FRAME_1 + index); 0 at
// load and whenever a dialog opens.
extern int32_t AboutFrameIndex;

#endif
