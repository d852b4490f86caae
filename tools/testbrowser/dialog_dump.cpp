// Finding the thread's new dialogs from a timer and printing their texts
// as UTF-8: "dialog: TITLE", then "  control ID CLASS: TEXT" for each
// control, a text's further lines indented under it.
#include "dialog_dump.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const UINT LookEveryMs = 50;

// The dialogs printed and still open; a closed one's handle may come back.
std::vector<HWND> Printed;

// A control made from a template with a resource (an icon) holds 0xFFFF and
// the resource's number instead of text: that reads as "".
std::string WindowTextUtf8(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring wide(length + 1, L'\0');
    wide.resize(GetWindowTextW(window, &wide[0], length + 1));
    if (!wide.empty() && wide[0] == 0xFFFF) {
        wide.clear();
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), NULL, 0, NULL, NULL);
    std::string text(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), &text[0], size, NULL, NULL);
    return text;
}

// Each line break of a control's text starts an indented line; the breaks
// that end it are dropped.
std::string IndentLines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            continue;
        }
        out += text[i] == '\n' ? std::string("\n    ") : std::string(1, text[i]);
    }
    return out;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
    char className[64] = "";
    GetClassNameA(control, className, sizeof className);
    printf("  control %d %s: %s\n", GetDlgCtrlID(control), className, IndentLines(WindowTextUtf8(control)).c_str());
    return TRUE;
}

BOOL CALLBACK PrintIfNewDialog(HWND window, LPARAM) {
    char className[16] = "";
    if (!IsWindowVisible(window) ||
        !GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0) {
        return TRUE;
    }
    for (HWND printed : Printed) {
        if (printed == window) {
            return TRUE;
        }
    }
    Printed.push_back(window);
    printf("dialog: %s\n", WindowTextUtf8(window).c_str());
    EnumChildWindows(window, PrintControl, 0);
    fflush(stdout);
    return TRUE;
}

void CALLBACK LookForDialogs(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> open;
    for (HWND printed : Printed) {
        if (IsWindow(printed)) {
            open.push_back(printed);
        }
    }
    Printed.swap(open);
    EnumThreadWindows(GetCurrentThreadId(), PrintIfNewDialog, 0);
}

}  // namespace

void StartDumpingDialogs() { SetTimer(NULL, 0, LookEveryMs, LookForDialogs); }
