// "Set Wallpaper": writes the decoded image as a bitmap file beside the
// system and points the desktop at it.
#include "commands/wallpaper.h"

#include <stdio.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "host/plugin.h"

namespace {

const char NtVersionKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
const char Win9xVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char WallpaperFileName[] = "\\npkavrel.bmp";
const DWORD RegistryReadLimit = 2048;

// Which key and which values, first choice first, name the directory.
struct WallpaperSource {
    const char* subKey;
    const char* values[2];
};
const WallpaperSource XpSource = {NtVersionKey, {"SystemRoot", nullptr}};
const WallpaperSource NtSource = {NtVersionKey, {"WallPaperDir", "SystemRoot"}};
const WallpaperSource Win9xSource = {Win9xVersionKey, {"WallPaperDir", "SystemRoot"}};

// Registry places the desktop reads the wallpaper path from.
const char* const WallpaperValueKeys[] = {
    "Software\\Microsoft\\Internet Explorer\\Desktop\\General",
    "Control Panel\\desktop",
};

const WallpaperSource* ChooseWallpaperSource(DWORD version) {
    DWORD major = version & 0xFF;
    if ((version & 0xFFFF) == 0x0105) return &XpSource;
    if ((version & 0x80000000u) != 0 && major >= 4) return &Win9xSource;
    return &NtSource;
}

// Reads one text value into dirOut (at least RegistryReadLimit + 1 bytes).
bool ReadTextValue(char* dirOut, HKEY key, const char* name) {
    DWORD size = RegistryReadLimit;
    if (RegQueryValueExA(key, name, nullptr, nullptr, (BYTE*)dirOut, &size) != ERROR_SUCCESS) {
        dirOut[0] = 0;
        return false;
    }
    dirOut[size < RegistryReadLimit ? size : RegistryReadLimit] = 0;
    return true;
}

// The bitmap file at `path`, written whole or not at all: it goes to a
// temporary name first so that a failed write leaves the old file intact.
bool WriteWallpaperFile(const char* path, const uint8_t* dib) {
    int dibSize = PackedDibSize(dib);
    if (dibSize <= 0) return false;
    char temporary[WallpaperPathSize + 8];
    snprintf(temporary, sizeof temporary, "%s.part", path);
    FILE* file = fopen(temporary, "wb");
    if (file == nullptr) return false;
    uint8_t header[14];
    BuildBitmapFileHeader(header, dib);
    bool written = fwrite(header, 1, sizeof header, file) == sizeof header &&
                   fwrite(dib, 1, (size_t)dibSize, file) == (size_t)dibSize;
    if (fclose(file) != 0) written = false;
    if (written) written = MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!written) remove(temporary);
    return written;
}

void StoreWallpaperValue(const char* subKey, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegSetValueExA(key, "Wallpaper", 0, REG_SZ, (const BYTE*)path, (DWORD)strlen(path) + 1);
    RegCloseKey(key);
}

}  // namespace

void ChooseWallpaperDirectory(char* dirOut, DWORD version) {
    dirOut[0] = 0;
    const WallpaperSource* source = ChooseWallpaperSource(version);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, source->subKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        for (const char* name : source->values) {
            if (name != nullptr && ReadTextValue(dirOut, key, name)) break;
        }
        RegCloseKey(key);
    }
    if (dirOut[0] == 0) strcpy(dirOut, "C:");
}

void BuildWallpaperPath(char* pathOut, DWORD version) {
    ChooseWallpaperDirectory(pathOut, version);
    size_t used = strlen(pathOut);
    snprintf(pathOut + used, WallpaperPathSize - used, "%s", WallpaperFileName);
}

void SetWallpaper(const uint8_t* dib) {
    if (dib == nullptr) return;
    char path[WallpaperPathSize];
    BuildWallpaperPath(path, GetVersion());
    // Without the file, pointing the desktop at it would blank the wallpaper.
    if (!WriteWallpaperFile(path, dib)) return;
    for (const char* subKey : WallpaperValueKeys) StoreWallpaperValue(subKey, path);
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
}
