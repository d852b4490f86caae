// Where the wallpaper bitmap goes, by Windows version, so that the choice
// can be exercised for every version on any one system.
#ifndef COMMANDS_WALLPAPER_H
#define COMMANDS_WALLPAPER_H

#include <stdint.h>
#include <windows.h>

enum { WallpaperPathSize = 8192 };

// Writes into dirOut (WallpaperPathSize bytes) the directory that the
// HKEY_LOCAL_MACHINE registry names for a system whose GetVersion() value is
// `version`, or "C:" when the key cannot be opened or holds no directory.
void ChooseWallpaperDirectory(char* dirOut, DWORD version);

// The full path of the wallpaper file for that version.
void BuildWallpaperPath(char* pathOut, DWORD version);

#endif
