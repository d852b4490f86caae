// The About dialog: template and control identifiers (also read by the
// resource compiler), its procedure, its texts and the icon animation state.
#ifndef WINDOW_ABOUT_DIALOG_H
#define WINDOW_ABOUT_DIALOG_H

#define IDD_ABOUT 107
#define IDC_ABOUT_IMAGE_TEXT 1001
#define IDC_ABOUT_PLUGIN_TEXT 1002
#define IDC_ABOUT_ICON 1003
#define IDI_ABOUT_FRAME_FIRST 112

#ifndef RC_INVOKED
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

// The two texts of the dialog, each into AboutTextSize bytes.
void BuildPluginText(char* textOut);
void BuildImageText(char* textOut, const PluginInstance* instance);
#endif

#endif
