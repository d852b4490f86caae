// The "Image comments" dialog: the codestream's comment bytes as text in the
// system code page, with the encoding that was detected.
#include "commands/comments_dialog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands/ui_text.h"
#include "host/plugin.h"

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

const EncodingName* FindEncodingName(CodePage codePage, bool markPresent) {
    for (const EncodingName& entry : EncodingNames) {
        if (entry.codePage == codePage && (entry.markPresent < 0 || entry.markPresent == (markPresent ? 1 : 0))) {
            return &entry;
        }
    }
    return nullptr;
}

bool StartsWithByteOrderMark(const uint8_t* bytes, uint32_t length) {
    return length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
}

// Fills the edit control with the text converted to the system code page;
// leaves it empty when the text cannot be converted.
void ShowConvertedText(HWND dialog, const char* text, CodePage codePage) {
    uint32_t size = ConvertedTextSize(CP_ACP, text, codePage);
    if (size > UINT32_MAX - 16) return;
    char* converted = (char*)calloc(1, (size_t)size + 16);
    if (converted == nullptr) return;
    if (ConvertText(converted, CP_ACP, text, codePage)) SetDlgItemTextA(dialog, IDC_COMMENTS_TEXT, converted);
    free(converted);
}

BOOL InitializeCommentsDialog(HWND dialog, const PluginInstance* instance) {
    SetWindowTextA(dialog, PickText(CommentsTitle));
    const uint8_t* comments = instance->comments;
    uint32_t length = instance->commentsLength;
    bool markPresent = StartsWithByteOrderMark(comments, length);
    const char* text = (const char*)comments + (markPresent ? 3 : 0);
    CodePage codePage = DetectTextCodePage(comments, length);
    ShowConvertedText(dialog, text, codePage);
    char label[256];
    BuildEncodingLabel(label, sizeof label, codePage, markPresent);
    SetDlgItemTextA(dialog, IDC_COMMENTS_ENCODING, label);
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)CommentsIcon);
    return TRUE;
}

}  // namespace

void BuildEncodingLabel(char* labelOut, uint32_t labelSize, CodePage codePage, bool markPresent) {
    const EncodingName* entry = FindEncodingName(codePage, markPresent);
    if (entry == nullptr) {
        snprintf(labelOut, labelSize, "%s", PickText(EncodingPrefix));
        return;
    }
    snprintf(labelOut, labelSize, "%s%s%s", PickText(EncodingPrefix), entry->name, PickText(entry->suffix));
}

INT_PTR CALLBACK CommentsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const PluginInstance* instance = (const PluginInstance*)lParam;
        if (instance == nullptr || instance->comments == nullptr) return FALSE;
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
    if (instance == nullptr || LoadAcquire(&instance->comments) == nullptr) return;
    DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_IMAGE_COMMENTS), instance->hwnd, CommentsDialogProc,
                    (LPARAM)instance);
}
