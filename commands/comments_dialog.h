// The comments dialog (inside commands/ and for its tests): its procedure
// and the encoding label it shows.
#ifndef COMMANDS_COMMENTS_DIALOG_H
#define COMMANDS_COMMENTS_DIALOG_H

#include <stdint.h>
#include <windows.h>

#include "commands/text_encoding.h"

INT_PTR CALLBACK CommentsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The label naming the detected encoding, in the UI language, into labelOut
// (labelSize UTF-16 units, always terminated).
void BuildEncodingLabel(wchar_t* labelOut, uint32_t labelSize, CodePage codePage, bool markPresent);

#endif
