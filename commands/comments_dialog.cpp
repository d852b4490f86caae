// The "Image comments" dialog: the codestream's comment bytes as text, read
// in the encoding that was detected and shown as UTF-16 whatever the
// system code page, with a label naming that encoding.
#include "commands/comments_dialog.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "commands/commands.h"
#include "resource_ids.h"

namespace {

const UiText CommentsTitle = {"Image comments", "画像のコメント"};
const UiText EncodingPrefix = {"Encoding:  ", "文字列エンコーディング:  "};

// Name and suffix of each detected encoding; a UTF-8 text is told apart by
// whether it carried a byte-order mark.
struct EncodingName {
    CodePage codePage;
    int markPresent;  // -1: either
    const char* name;
    UiText suffix;
};
const EncodingName EncodingNames[] = {
    {CodePageUtf8, 1, "UTF-8", {"(B)", "(B)"}},
    {CodePageUtf8, 0, "UTF-8", {"(N)", "(N)"}},
    {CodePageShiftJis, -1, "Shift_JIS", {"(* Un-recommending)", "(※非推奨)"}},
    {CodePageOem, -1, "ISO-8859-1", {"", ""}},
};

// Any other code page is the system's own, named as the registry of
// character sets names the Windows code pages.
const char SystemCodePageFormat[] = "windows-%u";

const EncodingName* FindEncodingName(CodePage codePage, bool markPresent) {
    for (const EncodingName& entry : EncodingNames) {
        if (entry.codePage == codePage && (entry.markPresent < 0 || entry.markPresent == (markPresent ? 1 : 0))) {
            return &entry;
        }
    }
    return nullptr;
}

// Fills the edit control with the text read in its own code page; leaves it
// empty when the text cannot be converted.
void ShowConvertedText(HWND dialog, const char* text, CodePage codePage) {
    wchar_t* wide = NewWideText(text, codePage);
    if (wide == nullptr) return;
    SetDlgItemTextW(dialog, IDC_COMMENTS_TEXT, wide);
    free(wide);
}

BOOL InitializeCommentsDialog(HWND dialog, const PluginInstance* instance) {
    SetWindowTextW(dialog, UiString(CommentsTitle));
    const uint8_t* comments = instance->picture.comments;
    uint32_t length = instance->picture.commentsLength;
    bool markPresent = StartsWithByteOrderMark(comments, length);
    const char* text = (const char*)comments + (markPresent ? 3 : 0);
    CodePage codePage = DetectTextCodePage(comments, length);
    ShowConvertedText(dialog, text, codePage);
    wchar_t label[256];
    BuildEncodingLabel(label, sizeof label / sizeof label[0], codePage, markPresent);
    SetDlgItemTextW(dialog, IDC_COMMENTS_ENCODING, label);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, (LPARAM)CommentsIcon);
    return TRUE;
}

}  // namespace

void BuildEncodingLabel(wchar_t* labelOut, uint32_t labelSize, CodePage codePage, bool markPresent) {
    const EncodingName* entry = FindEncodingName(codePage, markPresent);
    char label[256];
    if (entry == nullptr) {
        char name[32];
        snprintf(name, sizeof name, SystemCodePageFormat, codePage);
        snprintf(label, sizeof label, "%s%s", PickText(EncodingPrefix), name);
    } else {
        snprintf(label, sizeof label, "%s%s%s", PickText(EncodingPrefix), entry->name, PickText(entry->suffix));
    }
    StoredTextToWide(labelOut, labelSize, label);
}

INT_PTR CALLBACK CommentsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const PluginInstance* instance = (const PluginInstance*)lParam;
        if (instance == nullptr || instance->picture.comments == nullptr) return FALSE;
        return InitializeCommentsDialog(dialog, instance);
    }
    case WM_COMMAND:
        if (wParam != IDOK && wParam != IDCANCEL) return FALSE;
        EndDialog(dialog, 0);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

void ShowCommentsDialog(PluginInstance* instance) {
    if (instance == nullptr || LoadAcquire(&instance->picture.comments) == nullptr) return;
    // A Unicode dialog, so that its edit control keeps every character.
    DialogBoxParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_COMMENTS), instance->window.hwnd, CommentsDialogProc,
                    (LPARAM)instance);
}
