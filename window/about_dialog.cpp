// The About dialog: what the plug-in is and where it lies, what the image of
// this instance is, and an icon that steps through four frames.
#include "window/about_dialog.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "resource_ids.h"
#include "window/display.h"

int32_t AboutFrameIndex = 0;

namespace {

const char PluginVersion[] = "2.9.5.0";
const char PluginDate[] = "2004-03-28";
const char EnglishTitle[] = "JPEG 2000 Plug-in for Web Browsers";

const UiText AboutTitle = {EnglishTitle, "Webブラウザ用 JPEG 2000 プラグイン"};
const UiText EditionLine = {"English & Japanese Version\r\n", "日本語&英語版\r\n"};
const UiText VersionLine = {"Version: %s\r\n", "バージョン: %s\r\n"};
const UiText DateLine = {"Date: %s\r\n", "日付: %s\r\n"};
const UiText LocationLabel = {"JPEG 2000 WPI location: ", "インストールフォルダ: "};
const UiText RightsLine = {"Copyright (C) 2004 The npkavrel authors. All rights reserved.\r\n",
                           "Copyright (C) 2004 The npkavrel authors. All rights reserved.\r\n"};
const UiText WebLine = {"Web page: https://npkavrel.example/\r\n", "ホームページ: https://npkavrel.example/\r\n"};
const UiText UrlLine = {"URL:\t%s\r\n", "URL:\t%s\r\n"};
const UiText DimensionsLine = {"Dimensions:\t%d x %d\r\n", "画像サイズ:\t%d x %d\r\n"};
const UiText FileSizeLine = {"File size:\t%u bytes\r\n", "ファイルサイズ:\t%u バイト\r\n"};
const UiText TypeLabel = {"Image type:\t", "画像の種類:\t"};
const UiText LinkLine = {"Link to:\t%s", "リンク先:\t%s"};
const UiText TargetLine = {"Link target:\t%s\r\n", "リンクターゲット:\t%s\r\n"};

struct FileKindName {
    int fileKind;
    UiText name;
};
const FileKindName FileKindNames[] = {
    {FileKindCodestream, {"JPEG 2000 Code Stream (ISO 15444-1)", "JPEG 2000 コードストリーム (ISO 15444-1)"}},
    {FileKindJp2, {"JP2 File (ISO 15444-1)", "JP2 ファイル (ISO 15444-1)"}},
    {FileKindJpx, {"JP2 Extentions File (ISO 15444-2)", "JP2 機能拡張ファイル (ISO 15444-2)"}},
    {FileKindMj2, {"Motion JPEG 2000 File (ISO 15444-3)", "Motion JPEG 2000 ファイル (ISO 15444-3)"}},
    {FileKindJpm, {"JP2 Multi Layer File (ISO 15444-6)", "JP2 機能拡張多層ファイル (ISO 15444-6)"}},
    {FileKindJ3d, {"JP2 3-D Object File (ISO 15444-10)", "JP2 3次元立体 ファイル (ISO 15444-10)"}},
    {FileKindJph, {"High-Throughput JPEG 2000 File (ISO 15444-15)", "高スループット JPEG 2000 ファイル (ISO 15444-15)"}},
};
const UiText UnknownKindName = {"Unknown", "不明"};

const UiText& NameOfFileKind(int fileKind) {
    for (const FileKindName& entry : FileKindNames) {
        if (entry.fileKind == fileKind) return entry.name;
    }
    return UnknownKindName;
}

// Appends one formatted line to the text, cutting at the text buffer's end.
void AppendLine(char* text, const char* format, ...) {
    char line[AboutTextSize];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    size_t used = strlen(text);
    snprintf(text + used, AboutTextSize - used, "%s", line);
}

void ShowIconFrame(HWND dialog, int frame) {
    HICON icon = AboutIconFrames[frame];
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendDlgItemMessageA(dialog, IDC_ABOUT_ICON, STM_SETICON, (WPARAM)icon, 0);
}

BOOL InitializeAboutDialog(HWND dialog, const PluginInstance* instance) {
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)AboutIconFrames[0]);
    INT tabStop = AboutTabStop;
    SendDlgItemMessageA(dialog, IDC_ABOUT_PLUGIN_TEXT, EM_SETTABSTOPS, 1, (LPARAM)&tabStop);
    SetWindowTextA(dialog, PickText(AboutTitle));
    char text[AboutTextSize];
    BuildPluginText(text);
    SetDlgItemTextA(dialog, IDC_ABOUT_PLUGIN_TEXT, text);
    SendDlgItemMessageA(dialog, IDC_ABOUT_IMAGE_TEXT, EM_SETTABSTOPS, 1, (LPARAM)&tabStop);
    BuildImageText(text, instance);
    SetDlgItemTextA(dialog, IDC_ABOUT_IMAGE_TEXT, text);
    AboutFrameIndex = 0;
    SetTimer(dialog, AboutTimerId, AboutFrameMilliseconds, nullptr);
    return TRUE;
}

}  // namespace

void BuildPluginText(char* textOut) {
    textOut[0] = 0;
    AppendLine(textOut, "%s\r\n", EnglishTitle);
    AppendLine(textOut, "%s", PickText(EditionLine));
    AppendLine(textOut, PickText(VersionLine), PluginVersion);
    AppendLine(textOut, PickText(DateLine), PluginDate);
    AppendLine(textOut, "%s", PickText(LocationLabel));
    char modulePath[AboutTextSize];
    if (GetModuleFileNameA(ModuleHandle, modulePath, sizeof modulePath) != 0) {
        AppendLine(textOut, "%s\r\n", modulePath);
    }
    AppendLine(textOut, "%s", PickText(RightsLine));
    AppendLine(textOut, "%s", PickText(WebLine));
}

void BuildImageText(char* textOut, const PluginInstance* instance) {
    textOut[0] = 0;
    AppendLine(textOut, PickText(UrlLine), instance->url);
    ImageView view;
    if (GetPublishedImage(&view, instance)) {
        AppendLine(textOut, PickText(DimensionsLine), (int)view.width, (int)view.height);
    }
    AppendLine(textOut, PickText(FileSizeLine), (unsigned)instance->dataSize);
    AppendLine(textOut, "%s%s\r\n", PickText(TypeLabel), PickText(NameOfFileKind(LoadAcquire(&instance->fileKind))));
    if (instance->hasLink) {
        AppendLine(textOut, PickText(LinkLine), instance->href);
        AppendLine(textOut, "\r\n");
        if (strcmp(instance->target, "_self") != 0) AppendLine(textOut, PickText(TargetLine), instance->target);
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (lParam == 0) return FALSE;
        return InitializeAboutDialog(dialog, (const PluginInstance*)lParam);
    case WM_TIMER:
        AboutFrameIndex = (AboutFrameIndex + 1) % 4;
        ShowIconFrame(dialog, AboutFrameIndex);
        return TRUE;
    case WM_CLOSE:
        KillTimer(dialog, AboutTimerId);
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        if (wParam != IDOK && wParam != IDCANCEL) return FALSE;
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

void ShowAboutDialog(PluginInstance* instance) {
    if (instance == nullptr) return;
    DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_ABOUT), instance->hwnd, AboutDialogProc, (LPARAM)instance);
}
