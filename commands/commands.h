// What window/ may use from commands/: the commands the context menu runs,
// each on one instance, and the file-name rule its view item shows.
#ifndef COMMANDS_COMMANDS_H
#define COMMANDS_COMMANDS_H

#include <stdint.h>

#include "host/plugin.h"

void SaveImageAs(PluginInstance* instance);
void CopyCurrentFrame(PluginInstance* instance);
void CopyImageLocation(PluginInstance* instance);
void CopyShortcut(PluginInstance* instance);
void ViewImage(PluginInstance* instance);
void OpenLink(PluginInstance* instance);
void OpenLinkInNewWindow(PluginInstance* instance);
void SetWallpaper(PluginInstance* owner, const FullPicture* picture);
void ShowCommentsDialog(PluginInstance* instance);
// Through the system's print dialog, the picture fitted to the paper (or at
// the size the file states), from the level the printer's dots need.
void PrintPicture(PluginInstance* instance);

// The file name at the end of a URL with a JPEG 2000 extension, up to 259
// bytes, into nameOut (at least 260 bytes); "" for any other URL.
void FileNameFromUrl(char* nameOut, const char* url);

#endif
