// Where the wallpaper bitmap goes, by Windows version, so that the choice
// can be exercised for every version on any one system.
#ifndef COMMANDS_WALLPAPER_H
#define COMMANDS_WALLPAPER_H

#include <stdint.h>
#include <windows.h>

// UTF-16 units of the directory and path buffers.
enum { WallpaperPathSize = 8192 };

// Writes into dirOut (WallpaperPathSize units) the directory that the
// HKEY_LOCAL_MACHINE registry names for a system whose GetVersion() value is
// `version`, with environment references of a REG_EXPAND_SZ value expanded,
// or "C:" when the key cannot be read or holds no directory.
void ChooseWallpaperDirectory(wchar_t* dirOut, DWORD version);

// The full path of the wallpaper file in `directory`; false when it does
// not fit into pathOut (WallpaperPathSize units).
bool BuildWallpaperPath(wchar_t* pathOut, const wchar_t* directory);

#endif
