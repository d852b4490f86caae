// "Set Wallpaper": writes the decoded image as a bitmap file into the
// directory the system names for wallpapers, or into the user's own
// application-data folder when a standard user may not write there, and
// points the desktop at it.
#include "commands/wallpaper.h"

#include <wchar.h>

#include "commands/commands.h"
#include "commands/save_image.h"

namespace {

const wchar_t NtVersionKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t Win9xVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t WallpaperFileName[] = L"\\npkavrel.bmp";
const wchar_t UserFolderVariable[] = L"APPDATA";
const DWORD RegistryReadLimit = 2048;  // bytes
const UiText WallpaperTextNotSet = {"The desktop wallpaper could not be changed.",
                                    "デスクトップの壁紙を変更できませんでした。"};

// Which key and which values, first choice first, name the directory.
struct WallpaperSource {
    const wchar_t* subKey;
    const wchar_t* values[2];
};
const WallpaperSource XpSource = {NtVersionKey, {L"SystemRoot", nullptr}};
const WallpaperSource NtSource = {NtVersionKey, {L"WallPaperDir", L"SystemRoot"}};
const WallpaperSource Win9xSource = {Win9xVersionKey, {L"WallPaperDir", L"SystemRoot"}};

// Registry places the desktop reads the wallpaper path from.
const wchar_t* const WallpaperValueKeys[] = {
    L"Software\\Microsoft\\Internet Explorer\\Desktop\\General",
    L"Control Panel\\desktop",
};

const WallpaperSource* ChooseWallpaperSource(DWORD version) {
    DWORD major = version & 0xFF;
    if ((version & 0xFFFF) == 0x0105) return &XpSource;
    if ((version & 0x80000000u) != 0 && major >= 4) return &Win9xSource;
    return &NtSource;
}

// Reads one text value into dirOut (WallpaperPathSize units); a
// REG_EXPAND_SZ value is expanded there, any non-text value refused.
bool ReadDirectoryValue(wchar_t* dirOut, HKEY key, const wchar_t* name) {
    wchar_t raw[RegistryReadLimit / sizeof(wchar_t) + 1];
    DWORD size = RegistryReadLimit;
    DWORD type = REG_NONE;
    dirOut[0] = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, (BYTE*)raw, &size) != ERROR_SUCCESS) return false;
    raw[size / sizeof(wchar_t)] = 0;
    if (type == REG_SZ) {
        wcsncpy(dirOut, raw, WallpaperPathSize - 1);
        dirOut[WallpaperPathSize - 1] = 0;
    } else if (type == REG_EXPAND_SZ) {
        DWORD needed = ExpandEnvironmentStringsW(raw, dirOut, WallpaperPathSize);
        if (needed == 0 || needed > WallpaperPathSize) dirOut[0] = 0;
    }
    return dirOut[0] != 0;
}

// Joins text pieces into out (WallpaperPathSize units); false when they do
// not fit.
bool JoinText(wchar_t* out, const wchar_t* first, const wchar_t* second) {
    size_t firstLength = wcslen(first);
    size_t secondLength = wcslen(second);
    if (firstLength >= WallpaperPathSize || secondLength >= WallpaperPathSize - firstLength) return false;
    wmemcpy(out, first, firstLength);
    wmemcpy(out + firstLength, second, secondLength + 1);
    return true;
}

// The bitmap file at `path`, written whole or not at all, so that a failed
// write leaves the old wallpaper intact.
bool WriteWallpaperFile(const wchar_t* path, const FullPicture* picture) {
    return WriteFileWhole(path, WriteBitmapToHandle, picture) == WholeFileWritten;
}

// The user's own application-data folder, which every user may write.
bool ReadUserFolder(wchar_t* dirOut) {
    DWORD length = GetEnvironmentVariableW(UserFolderVariable, dirOut, WallpaperPathSize);
    return length > 0 && length < WallpaperPathSize;
}

void StoreWallpaperValue(const wchar_t* subKey, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegSetValueExW(key, L"Wallpaper", 0, REG_SZ, (const BYTE*)path, (DWORD)((wcslen(path) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Writes the bitmap into the first directory that takes it, leaving its
// path in pathOut; false when none did.
bool WriteIntoFirstWritable(wchar_t* pathOut, const FullPicture* picture) {
    wchar_t directory[WallpaperPathSize];
    ChooseWallpaperDirectory(directory, GetVersion());
    if (BuildWallpaperPath(pathOut, directory) && WriteWallpaperFile(pathOut, picture)) return true;
    return ReadUserFolder(directory) && BuildWallpaperPath(pathOut, directory) &&
           WriteWallpaperFile(pathOut, picture);
}

}  // namespace

void ChooseWallpaperDirectory(wchar_t* dirOut, DWORD version) {
    dirOut[0] = 0;
    const WallpaperSource* source = ChooseWallpaperSource(version);
    HKEY key = nullptr;
    // Reading only: a standard user is refused any wider access to this key.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, source->subKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        for (const wchar_t* name : source->values) {
            if (name != nullptr && ReadDirectoryValue(dirOut, key, name)) break;
        }
        RegCloseKey(key);
    }
    if (dirOut[0] == 0) wcscpy(dirOut, L"C:");
}

bool BuildWallpaperPath(wchar_t* pathOut, const wchar_t* directory) {
    return JoinText(pathOut, directory, WallpaperFileName);
}

void SetWallpaper(PluginInstance* owner, const FullPicture* picture) {
    if (picture == nullptr || picture->head == nullptr) return;
    wchar_t path[WallpaperPathSize];
    // Without the file, pointing the desktop at it would blank the wallpaper.
    if (!WriteIntoFirstWritable(path, picture)) {
        ShowUiMessage(owner, SaveTextWriteError);
        return;
    }
    for (const wchar_t* subKey : WallpaperValueKeys) StoreWallpaperValue(subKey, path);
    if (!SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE)) {
        ShowUiMessage(owner, WallpaperTextNotSet);
    }
}
