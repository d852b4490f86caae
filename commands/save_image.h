// What Save As shares with the wallpaper command (inside commands/): the
// bitmap-file writer and the write-error text.
#ifndef COMMANDS_SAVE_IMAGE_H
#define COMMANDS_SAVE_IMAGE_H

#include <stdint.h>
#include <windows.h>

#include "host/plugin.h"

extern const UiText SaveTextWriteError;

// The 14-byte file header, then the whole PackedDib; 1 when every byte was
// written.
int WriteBitmapToHandle(HANDLE file, const uint8_t* dib);

#endif
