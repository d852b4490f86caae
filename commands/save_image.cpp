// The "Save Image As" command: the received file or a bitmap file, through
// the common Save As dialog with filters fitted to the kind of file.
#include "commands/commands.h"

#include <commdlg.h>
#include <string.h>
#include <wchar.h>

#include "commands/save_image.h"
#include "decode/jpeg2000.h"

const UiText SaveTextWriteError = {"Error writing file", "ファイル書き込み中にエラーが発生しました"};

namespace {

const UiText SaveTextNotLoaded = {"Cannot save: the image has not been loaded",
                                  "画像がロードされていないためセーブできません"};
const UiText SaveTextCannotCreate = {"Unable to write file", "ファイルに書き込めません"};
const UiText SaveTextTitle = {"Save Image As...", "画像に名前を付けて保存..."};
// The common dialog refused to open (CommDlgExtendedError's code).
const UiText SaveTextDialogFailed = {"The Save As dialog could not be opened (error 0x%04X).",
                                     "保存のダイアログを開けませんでした (エラー 0x%04X)。"};
// A stream that ended early: the received bytes, then the announced length.
const UiText SaveTextInterrupted = {
    "The download was interrupted: %d of %d bytes arrived. Save the bytes that arrived?",
    "ダウンロードが中断されました (%d / %d バイト受信)。受信した分を保存しますか?"};
const UiText SaveTextInterruptedUnannounced = {
    "The download was interrupted after %d bytes. Save the bytes that arrived?",
    "ダウンロードが %d バイトで中断されました。受信した分を保存しますか?"};

// Beside the target, never over another file: "<path>.<n>.part".
const wchar_t TemporaryNameFormat[] = L"%ls.%u.part";
const unsigned TemporaryNameTries = 100;
enum { TemporaryNameExtra = 16, TemporaryPathSize = 8192 + TemporaryNameExtra };

// One row of the filter table. The lists are runs of zero-terminated texts
// closed by an empty one, as the common dialog expects.
struct SaveFilter {
    int fileKind;
    const wchar_t* defaultExtension;
    UiText list;
    // 1 when the second filter, a bitmap file, is offered: a kind the
    // decoder never decodes (3-D) has no bitmap to give.
    int offersBitmap;
};

const SaveFilter SaveFilters[] = {
    {FileKindCodestream, L"j2k",
     {"JPEG 2000 Code Stream <ISO 15444-1> (*.j2k)\0*.j2k\0Bitmap File(*.bmp)\0*.bmp\0",
      "JPEG 2000 コードストリーム <ISO 15444-1> (*.j2k)\0*.j2k\0ビットマップ(*.bmp)\0*.bmp\0"}, 1},
    {FileKindJp2, L"jp2", {"JP2 File <ISO 15444-1> (*.jp2)\0*.jp2\0Bitmap File(*.bmp)\0*.bmp\0",
      "JP2 ファイル <ISO 15444-1> (*.jp2)\0*.jp2\0ビットマップ(*.bmp)\0*.bmp\0"}, 1},
    {FileKindJpx, L"jpx", {"JP2 Extentions File <ISO 15444-2>(*.jpx)\0*.jpx\0Bitmap File(*.bmp)\0*.bmp\0",
      "JP2 機能拡張ファイル <ISO 15444-2>(*.jpx)\0*.jpx\0ビットマップ(*.bmp)\0*.bmp\0"}, 1},
    {FileKindMj2, L"mj2", {"Motion JPEG 2000 File <ISO 15444-3>(*.mj2)\0*.mj2\0Bitmap File(*.bmp)\0*.bmp\0",
      "Motion JPEG 2000 ファイル <ISO 15444-3>(*.mj2)\0*.mj2\0ビットマップ(*.bmp)\0*.bmp\0"}, 1},
    {FileKindJpm, L"jpm",
     {"JP2 Extentions Multi Layer File <ISO 15444-6>(*.jpm)\0*.jpm\0Bitmap File(*.bmp)\0*.bmp\0",
      "JP2 機能拡張多層ファイル <ISO 15444-6>(*.jpm)\0*.jpm\0ビットマップ(*.bmp)\0*.bmp\0"}, 1},
    {FileKindJ3d, L"j3d", {"JP2 3-D Object File <ISO 15444-10>(*.j3d)\0*.j3d\0Bitmap File(*.bmp)\0*.bmp\0",
      "JP2 3次元立体 <ISO 15444-10>(*.j3d)\0*.j3d\0ビットマップ(*.bmp)\0*.bmp\0"}, 0},
    {FileKindJph, L"jph",
     {"High-Throughput JPEG 2000 File <ISO 15444-15>(*.jph)\0*.jph\0Bitmap File(*.bmp)\0*.bmp\0",
      "高スループット JPEG 2000 ファイル <ISO 15444-15>(*.jph)\0*.jph\0ビットマップ(*.bmp)\0*.bmp\0"}, 1},
};
const SaveFilter UnknownKindFilter = {FileKindUnclassified, L"j2k",
                                      {"JPEG 2000?(*.j2k)\0*.j2k\0", "JPEG 2000?(*.j2k)\0*.j2k\0"}, 0};

const char* const JpegFileExtensions[] = {"j2k", "jpc", "j2c", "jp2", "jpx", "mj2", "m2c", "jpm", "j3d", "jph", "jhc"};

bool IsJpegFileExtension(const char* extension) {
    for (const char* known : JpegFileExtensions) {
        if (EqualsIgnoringAsciiCase(extension, known)) return true;
    }
    return false;
}

// A file name cannot hold these (nor control characters); a name taken from
// a URL may.
const wchar_t UnfitNameCharacters[] = L"\\/:*?\"<>|";
enum { FilterListSize = 512 };

// The last segment of text[0, length) (segments end at any of `separators`)
// into nameOut (MAX_PATH bytes, cut to 259), when it has a JPEG 2000
// extension; 0 otherwise.
int TakeJpegName(char* nameOut, const char* text, size_t length, const char* separators) {
    size_t start = 0;
    size_t dot = length;
    for (size_t i = 0; i < length; i++) {
        if (strchr(separators, text[i]) != nullptr) {
            start = i + 1;
            dot = length;
        } else if (text[i] == '.') {
            dot = i;
        }
    }
    char extension[8];
    size_t extensionLength = dot < length ? length - dot - 1 : sizeof extension;
    if (extensionLength >= sizeof extension) return 0;
    memcpy(extension, text + dot + 1, extensionLength);
    extension[extensionLength] = 0;
    if (!IsJpegFileExtension(extension)) return 0;
    size_t nameLength = length - start < MAX_PATH - 1 ? length - start : MAX_PATH - 1;
    memcpy(nameOut, text + start, nameLength);
    nameOut[nameLength] = 0;
    return 1;
}

// The filters the dialog gets, in listOut (FilterListSize characters): the
// row's list, cut after its first filter when no bitmap is offered.
const wchar_t* ListOfferedFilters(wchar_t* listOut, const SaveFilter* filter) {
    const wchar_t* list = UiStringList(filter->list);
    if (filter->offersBitmap) return list;
    size_t length = wcslen(list) + 1;
    length += wcslen(list + length) + 1;
    if (length + 1 > FilterListSize) return list;
    wmemcpy(listOut, list, length);
    listOut[length] = 0;
    return listOut;
}

// One WriteFile of `size` bytes; 1 only when all of them were written.
int WriteExactly(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, nullptr) && written == size ? 1 : 0;
}

// A PictureBytesSink into the open file `context`.
int WritePiece(void* context, const uint8_t* bytes, uint32_t count) {
    return WriteExactly((HANDLE)context, bytes, count);
}

// A new file beside `path` under a name nobody uses, its name in
// temporaryOut (TemporaryPathSize units); INVALID_HANDLE_VALUE when none
// could be made.
HANDLE CreateTemporaryBeside(wchar_t* temporaryOut, const wchar_t* path) {
    if (wcslen(path) + TemporaryNameExtra > TemporaryPathSize) return INVALID_HANDLE_VALUE;
    for (unsigned n = 0; n < TemporaryNameTries; n++) {
        FormatText(temporaryOut, TemporaryPathSize, TemporaryNameFormat, path, n);
        HANDLE file = CreateFileW(temporaryOut, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

int WriteFileView(HANDLE file, const void* context) {
    const BytesView* bytes = (const BytesView*)context;
    return WriteExactly(file, bytes->data, bytes->length);
}

// A stream that ended before its announced length is said to be so before
// anything is written; 1 when the user still wants it saved.
int ConfirmIncompleteSave(PluginInstance* instance) {
    int32_t received = (int32_t)instance->reception.file.length;
    int32_t announced = instance->reception.announcedLength;
    int interrupted = LoadAcquire(&instance->picture.failureReason) == FailureInterrupted;
    if (!interrupted && (announced <= 0 || received >= announced)) return 1;
    wchar_t text[512];
    if (announced > received) {
        FormatText(text, 512, UiString(SaveTextInterrupted), received, announced);
    } else {
        FormatText(text, 512, UiString(SaveTextInterruptedUnannounced), received);
    }
    return AskPluginQuestion(instance, text);
}

// The row for `fileKind`, or the catch-all row for any other value.
const SaveFilter* FindSaveFilter(int fileKind) {
    for (const SaveFilter& filter : SaveFilters) {
        if (filter.fileKind == fileKind) return &filter;
    }
    return &UnknownKindFilter;
}

}  // namespace

int WriteBitmapToHandle(HANDLE file, const void* context) {
    const FullPicture* picture = (const FullPicture*)context;
    if (picture == nullptr || PackedDibSize(picture->head) <= 0) return 0;
    uint8_t header[14];
    BuildBitmapFileHeader(header, picture->head);
    return WriteExactly(file, header, sizeof header) && ReadFullPicture(picture, WritePiece, file);
}

int WriteFileWhole(const wchar_t* path, FileFiller fill, const void* context) {
    wchar_t temporary[TemporaryPathSize];
    HANDLE file = CreateTemporaryBeside(temporary, path);
    if (file == INVALID_HANDLE_VALUE) return WholeFileNotCreated;
    // A network share or a full disk may refuse the last blocks only when
    // they are flushed.
    int outcome = fill(file, context) && FlushFileBuffers(file) ? WholeFileWritten : WholeFileWriteFailed;
    if (!CloseHandle(file) && outcome == WholeFileWritten) outcome = WholeFileWriteFailed;
    if (outcome == WholeFileWritten &&
        !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        outcome = WholeFileNotReplaced;
    }
    if (outcome != WholeFileWritten) DeleteFileW(temporary);
    return outcome;
}

void FileNameFromUrl(char* nameOut, const char* url) {
    nameOut[0] = 0;
    size_t afterDot = 0;
    size_t afterSeparator = 0;
    size_t i = 0;
    for (; url[i] != 0; i++) {
        char c = url[i];
        if (c == '.') afterDot = i + 1;
        if (c == '/' || c == '\\' || c == ':') afterSeparator = i + 1;
    }
    if (!IsJpegFileExtension(url + afterDot)) return;
    size_t length = i - afterSeparator;
    if (length > 259) length = 259;
    memcpy(nameOut, url + afterSeparator, length);
    nameOut[length] = 0;
}

void SuggestSaveName(wchar_t* nameOut, size_t count, const char* url) {
    char name[MAX_PATH] = "";
    size_t pathEnd = strcspn(url, "?#");
    if (!TakeJpegName(name, url, pathEnd, "/\\:") && url[pathEnd] == '?') {
        // "get.php?f=a.jp2": the file is named by a value of the query.
        const char* query = url + pathEnd + 1;
        size_t queryLength = strcspn(query, "#");
        for (size_t start = 0; start < queryLength;) {
            size_t end = start + strcspn(query + start, "&");
            if (end > queryLength) end = queryLength;
            TakeJpegName(name, query + start, end - start, "=/\\:");
            start = end + 1;
        }
    }
    AnsiToWide(nameOut, count, name);
    for (wchar_t* c = nameOut; *c != 0; c++) {
        if (*c < 0x20 || wcschr(UnfitNameCharacters, *c) != nullptr) *c = L'_';
    }
}

void SaveImageAs(PluginInstance* instance) {
    if (instance == nullptr) return;
    if (instance->reception.file.data == nullptr || LoadAcquire(&instance->reception.loadState) < LoadStateEnded) {
        ShowUiMessage(instance, SaveTextNotLoaded);
        return;
    }
    if (!ConfirmIncompleteSave(instance)) return;
    wchar_t path[MAX_PATH];
    SuggestSaveName(path, MAX_PATH, InstanceUrl(instance));
    // While the decode has yet to classify the bytes, the dialog still
    // offers what their kind allows (reading them beside the decode is safe).
    int kind = LoadAcquire(&instance->picture.fileKind);
    if (kind == FileKindUnclassified && IsDecodeBusy(instance)) {
        kind = ClassifyFileKind(instance->reception.file.data, instance->reception.file.length);
    }
    const SaveFilter* filter = FindSaveFilter(kind);
    wchar_t filters[FilterListSize];

    OPENFILENAMEW dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = instance->window.hwnd;
    dialog.lpstrFilter = ListOfferedFilters(filters, filter);
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = UiString(SaveTextTitle);
    dialog.lpstrDefExt = filter->defaultExtension;
    // The current directory is the browser's, not the dialog's to move.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) {
        // 0 when the user cancelled; otherwise the dialog never showed.
        DWORD error = CommDlgExtendedError();
        if (error != 0) ShowPluginMessage(instance, UiString(SaveTextDialogFailed), (unsigned)error);
        return;
    }
    // The element may have gone while the dialog was open.
    if (InstanceDestroyed(instance)) return;

    // The full picture, decoded now when only a smaller level is shown; a
    // header without pixels is no bitmap: keep whatever file was there.
    bool asBitmap = filter->offersBitmap && dialog.nFilterIndex == 2;
    FullPicture full;
    int failure = 0;
    if (asBitmap && !AcquireFullPicture(&full, &failure, instance)) {
        // Nothing was written: the reason is the decode's (the file's own
        // failure when it has no picture at all).
        WarnNoFullPicture(instance, failure != 0 ? failure : LoadAcquire(&instance->picture.failureReason));
        return;
    }
    int outcome = asBitmap ? WriteFileWhole(path, WriteBitmapToHandle, &full)
                           : WriteFileWhole(path, WriteFileView, &instance->reception.file);
    if (asBitmap) ReleaseFullPicture(instance);
    if (outcome == WholeFileWriteFailed) {
        ShowUiMessage(instance, SaveTextWriteError);
    } else if (outcome != WholeFileWritten) {
        ShowUiMessage(instance, SaveTextCannotCreate);
    }
}
