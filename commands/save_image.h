// Choices behind the Save As dialog: the filter list and default extension
// for each kind of received file, and the texts the command shows.
#ifndef COMMANDS_SAVE_IMAGE_H
#define COMMANDS_SAVE_IMAGE_H

#include <stdint.h>
#include <windows.h>

#include "commands/ui_text.h"

// One row of the filter table. The lists are runs of zero-terminated texts
// closed by an empty one, as the common dialog expects.
struct SaveFilter {
    int fileKind;
    const char* defaultExtension;
    const char* englishList;
    const char* japaneseList;
    int offersBitmap;  // 1 when the second filter writes a bitmap file
};

// The row for `fileKind`, or the catch-all row for any other value.
const SaveFilter* FindSaveFilter(int fileKind);
const char* SaveFilterList(const SaveFilter* filter);

// The 14-byte file header, then the whole PackedDib; 1 when every byte was
// written.
int WriteBitmapToHandle(HANDLE file, const uint8_t* dib);

extern const UiText SaveTextNotLoaded;
extern const UiText SaveTextCannotCreate;
extern const UiText SaveTextWriteError;
extern const UiText SaveTextTitle;

#endif
