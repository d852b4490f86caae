// The About dialog: what the plug-in is and where it lies, what the image of
// this instance is, and an icon that steps through four frames.
#include "window/about_dialog.h"

#include <stdarg.h>
#include <string.h>
#include <wchar.h>

#include "decode/composition.h"
#include "decode/jpeg2000.h"
#include "resource_ids.h"
#include "window/display.h"

int32_t AboutFrameIndex = 0;

namespace {

const wchar_t PluginVersion[] = L"2.9.5.0";
const wchar_t PluginDate[] = L"2004-03-28";

const UiText AboutTitle = {"JPEG 2000 Plug-in for Web Browsers", "Webブラウザ用 JPEG 2000 プラグイン"};
// The plug-in text begins with the English title in both languages.
const UiText TitleLine = {"JPEG 2000 Plug-in for Web Browsers\r\n", "JPEG 2000 Plug-in for Web Browsers\r\n"};
const UiText EditionLine = {"English & Japanese Version\r\n", "日本語&英語版\r\n"};
const UiText VersionLine = {"Version: %ls\r\n", "バージョン: %ls\r\n"};
const UiText DateLine = {"Date: %ls\r\n", "日付: %ls\r\n"};
const UiText LocationLabel = {"JPEG 2000 WPI location: ", "インストールフォルダ: "};
const UiText RightsLine = {"Copyright (C) 2004 The npkavrel authors. All rights reserved.\r\n",
                           "Copyright (C) 2004 The npkavrel authors. All rights reserved.\r\n"};
const UiText WebLine = {"Web page: https://npkavrel.example/\r\n", "ホームページ: https://npkavrel.example/\r\n"};
const UiText UrlLine = {"URL:\t%ls\r\n", "URL:\t%ls\r\n"};
const UiText DimensionsLine = {"Dimensions:\t%d x %d\r\n", "画像サイズ:\t%d x %d\r\n"};
const UiText PreviewLine = {"Shown:\tpreview\r\n", "表示:\tプレビュー\r\n"};
const UiText ScaleLine = {"Shown:\t%d x %d, shown at 1/%d scale (save and copy use the picture shown)\r\n",
                          "表示:\t%d x %d (1/%d に縮小して表示、保存とコピーは表示中の画像)\r\n"};
// The full page's zoom; 100 % is one picture pixel per CSS pixel.
const UiText ZoomLine = {"Zoom:\t%d %%\r\n", "表示倍率:\t%d %%\r\n"};
const UiText FittedZoomLine = {"Zoom:\t%d %% (fit to window)\r\n", "表示倍率:\t%d %% (画面に合わせる)\r\n"};
// Past the cap, where a 64-bit decoder makes the commands a finer level:
// the size they get.
const UiText FinerCommandLine = {
    "Shown:\t%d x %d, shown at 1/%d scale (save and copy use %d x %d, made by the 64-bit decoder)\r\n",
    "表示:\t%d x %d (1/%d に縮小して表示、保存とコピーは 64 ビットのデコーダが作る %d x %d の画像)\r\n"};
const UiText ViewLevelLine = {"Shown:\t%d x %d, 1/%d scale for this view (save and copy use the full picture)\r\n",
                              "表示:\t%d x %d (この表示に合わせて 1/%d、保存とコピーは元の大きさの画像)\r\n"};
const UiText PageLine = {"Page: %u of %d\r\n", "ページ: %u / %d\r\n"};
const UiText ExternalDataLine = {"Not shown:\tdata held in other files (not fetched)\r\n",
                                 "未表示:\t他のファイルにあるデータ (取得していません)\r\n"};
const UiText FileSizeLine = {"File size:\t%u bytes\r\n", "ファイルサイズ:\t%u バイト\r\n"};
const UiText TypeLabel = {"Image type:\t", "画像の種類:\t"};
const UiText LinkLine = {"Link to:\t%ls", "リンク先:\t%ls"};
const UiText TargetLine = {"Link target:\t%ls\r\n", "リンクターゲット:\t%ls\r\n"};

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
void AppendLine(wchar_t* text, const wchar_t* format, ...) {
    wchar_t line[AboutTextSize];
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(line, AboutTextSize, format, arguments);
    va_end(arguments);
    size_t used = wcslen(text);
    wcsncat(text, line, AboutTextSize - 1 - used);
}

// Appends one stored text as it is (never taken as a format).
void AppendText(wchar_t* text, const UiText& stored) {
    size_t used = wcslen(text);
    wcsncat(text, UiString(stored), AboutTextSize - 1 - used);
}

void ShowIconFrame(HWND dialog, int frame) {
    HICON icon = AboutIconFrames[frame];
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendDlgItemMessageA(dialog, IDC_ABOUT_ICON, STM_SETICON, (WPARAM)icon, 0);
}

// The picture's full size from its header, and the level shown (a preview,
// or a reduced picture: a level the view needs, or the largest within the
// cap); nothing before the first picture.
void AppendShownLines(wchar_t* text, const PluginInstance* instance) {
    const BITMAPINFOHEADER* header = LoadAcquire(&instance->picture.dibHeader);
    bool published = LoadAcquire(&instance->picture.dib) != nullptr && header != nullptr &&
                     LoadAcquire(&instance->picture.dibBits) != nullptr;
    if (!published && LoadAcquire(&instance->picture.preview) == nullptr) {
        return;
    }
    int32_t reduce = LoadAcquire(&instance->picture.dibReduce);
    if (published && reduce == 0) {
        AppendLine(text, UiString(DimensionsLine), (int)header->biWidth, (int)header->biHeight);
        return;
    }
    AppendLine(text, UiString(DimensionsLine), (int)LoadAcquire(&instance->picture.fullWidth),
               (int)LoadAcquire(&instance->picture.fullHeight));
    // A level above the cap's is one the view needs; the full picture is
    // decoded when a command asks for it.
    int32_t fullReduce = LoadAcquire(&instance->picture.fullReduce);
    const UiText& line = reduce > LoadAcquire(&instance->picture.shownReduce) ? ViewLevelLine
                         : fullReduce < reduce                                ? FinerCommandLine
                                                                              : ScaleLine;
    if (!published) {
        AppendText(text, PreviewLine);
    } else {
        AppendLine(text, UiString(line), (int)header->biWidth, (int)header->biHeight, 1 << reduce,
                   (int)LevelExtent((uint32_t)LoadAcquire(&instance->picture.fullWidth), fullReduce),
                   (int)LevelExtent((uint32_t)LoadAcquire(&instance->picture.fullHeight), fullReduce));
    }
}

// Which page of a document is shown, and what of it could not be.
void AppendSequenceLines(wchar_t* text, const PluginInstance* instance) {
    if (HasPages(instance)) {
        AppendLine(text, UiString(PageLine), (unsigned)instance->sequence.index + 1,
                   (int)LoadAcquire(&instance->sequence.count));
    }
    if (LoadAcquire(&instance->sequence.notes) & ComposeNoteExternalData) {
        AppendText(text, ExternalDataLine);
    }
}

// An element is stretched to its box: only a full page has a zoom.
void AppendZoomLine(wchar_t* text, const PluginInstance* instance) {
    int percent = ShownPercent(instance);
    if (instance->element.mode != NP_FULL || percent <= 0) {
        return;
    }
    AppendLine(text, UiString(!instance->scroll.fixedScale ? FittedZoomLine : ZoomLine), percent);
}

BOOL InitializeAboutDialog(HWND dialog, const PluginInstance* instance) {
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)AboutIconFrames[0]);
    INT tabStop = AboutTabStop;
    SendDlgItemMessageA(dialog, IDC_ABOUT_PLUGIN_TEXT, EM_SETTABSTOPS, 1, (LPARAM)&tabStop);
    SetWindowTextW(dialog, UiString(AboutTitle));
    wchar_t text[AboutTextSize];
    BuildPluginText(text);
    SetDlgItemTextW(dialog, IDC_ABOUT_PLUGIN_TEXT, text);
    SendDlgItemMessageA(dialog, IDC_ABOUT_IMAGE_TEXT, EM_SETTABSTOPS, 1, (LPARAM)&tabStop);
    BuildImageText(text, instance);
    SetDlgItemTextW(dialog, IDC_ABOUT_IMAGE_TEXT, text);
    AboutFrameIndex = 0;
    SetTimer(dialog, AboutTimerId, AboutFrameMilliseconds, nullptr);
    return TRUE;
}

}  // namespace

void BuildPluginText(wchar_t* textOut) {
    textOut[0] = 0;
    AppendText(textOut, TitleLine);
    AppendText(textOut, EditionLine);
    AppendLine(textOut, UiString(VersionLine), PluginVersion);
    AppendLine(textOut, UiString(DateLine), PluginDate);
    AppendText(textOut, LocationLabel);
    wchar_t modulePath[AboutTextSize];
    if (GetModuleFileNameW(ModuleHandle, modulePath, AboutTextSize) != 0) {
        AppendLine(textOut, L"%ls\r\n", modulePath);
    }
    wchar_t decoder[AboutTextSize];
    DescribeDecoderPlace(decoder, AboutTextSize);
    AppendLine(textOut, L"%ls", decoder);
    AppendText(textOut, RightsLine);
    AppendText(textOut, WebLine);
}

void BuildImageText(wchar_t* textOut, const PluginInstance* instance) {
    wchar_t field[AboutTextSize];
    textOut[0] = 0;
    AnsiToWide(field, AboutTextSize, InstanceUrl(instance));
    AppendLine(textOut, UiString(UrlLine), field);
    AppendShownLines(textOut, instance);
    AppendSequenceLines(textOut, instance);
    AppendZoomLine(textOut, instance);
    AppendLine(textOut, UiString(FileSizeLine), (unsigned)instance->reception.file.length);
    AppendText(textOut, TypeLabel);
    AppendText(textOut, NameOfFileKind(LoadAcquire(&instance->picture.fileKind)));
    AppendLine(textOut, L"\r\n");
    if (instance->element.hasLink) {
        AnsiToWide(field, AboutTextSize, instance->element.href);
        AppendLine(textOut, UiString(LinkLine), field);
        AppendLine(textOut, L"\r\n");
        if (strcmp(instance->element.target, "_self") != 0) {
            AnsiToWide(field, AboutTextSize, instance->element.target);
            AppendLine(textOut, UiString(TargetLine), field);
        }
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
    DialogBoxParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_ABOUT), instance->window.hwnd, AboutDialogProc,
                    (LPARAM)instance);
}
