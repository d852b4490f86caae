// What Save As shares with the wallpaper command (inside commands/) and its
// tests: the writer that replaces a file only with a complete one, the
// bitmap-file writer, the write-error text and the name the dialog suggests.
#ifndef COMMANDS_SAVE_IMAGE_H
#define COMMANDS_SAVE_IMAGE_H

#include <stdint.h>
#include <windows.h>

#include "host/plugin.h"

extern const UiText SaveTextWriteError;

// Fills an open file; 1 when every byte was written.
typedef int (*FileFiller)(HANDLE file, const void* context);

// A FileFiller: the 14-byte file header, then the whole packed DIB of the
// FullPicture `picture` (read a view at a time when it is in a section).
int WriteBitmapToHandle(HANDLE file, const void* picture);

// How WriteFileWhole ended.
enum {
    WholeFileWritten = 0,
    WholeFileNotCreated = 1,   // no temporary file could be made beside it
    WholeFileWriteFailed = 2,  // a write or the flush failed (a full disk)
    WholeFileNotReplaced = 3,  // the old file could not be replaced
};

// Writes `path` whole or not at all: `fill` writes a temporary file in the
// same folder, which replaces `path` only once complete and flushed. On any
// failure the old file, if any, is as it was and the temporary one is gone.
int WriteFileWhole(const wchar_t* path, FileFiller fill, const void* context);

// The name the Save As dialog suggests for the file at `url`, into nameOut
// (count characters): the last segment of the URL's path when it has a
// JPEG 2000 extension, else the last value of its query that has one
// ("/get.php?f=a.jp2" gives "a.jp2"); each character a file name cannot
// hold becomes "_". "" when neither names such a file.
void SuggestSaveName(wchar_t* nameOut, size_t count, const char* url);

#endif
