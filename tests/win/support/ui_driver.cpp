// Timer-driven answers to the modal loops that the commands open.
#include "ui_driver.h"

#include <stdio.h>
#include <string.h>

#include <commdlg.h>
#include <dlgs.h>

namespace {

struct ScriptState {
    const std::vector<UiStep>* steps;
    size_t next;
    DWORD deadline;
};
ScriptState* CurrentScript = nullptr;

struct WindowQuery {
    const char* className;
    const char* caption;
    int control;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    WindowQuery* query = (WindowQuery*)context;
    char className[64];
    if (!IsWindowVisible(window) || !GetClassNameA(window, className, sizeof className)) return TRUE;
    if (strcmp(className, query->className) != 0) return TRUE;
    if (query->caption != nullptr && WindowText(window) != query->caption) return TRUE;
    if (query->control != 0 && GetDlgItem(window, query->control) == nullptr) return TRUE;
    query->found = window;
    return FALSE;
}

BOOL CALLBACK CancelWindow(HWND window, LPARAM) {
    char className[64];
    if (GetClassNameA(window, className, sizeof className) && strcmp(className, "#32770") == 0) {
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    }
    return TRUE;
}

void CALLBACK ScriptTick(HWND, UINT, UINT_PTR, DWORD) {
    ScriptState* script = CurrentScript;
    if (script == nullptr) return;
    if (script->next < script->steps->size() && (*script->steps)[script->next]()) {
        script->next++;
        return;
    }
    // Past the deadline, keep cancelling: a closed box may uncover another.
    if (script->next < script->steps->size() && GetTickCount() > script->deadline) {
        script->deadline = GetTickCount() + 500;
        EndMenu();
        EnumThreadWindows(GetCurrentThreadId(), CancelWindow, 0);
    }
}

LRESULT CALLBACK OwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int RunModal(const std::function<void()>& modal, const std::vector<UiStep>& steps, DWORD timeoutMs) {
    // A key an earlier loop's script posted after that loop ended would end
    // this one before its first step: start from an empty key queue.
    MSG stale;
    while (PeekMessageA(&stale, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    ScriptState script = {&steps, 0, GetTickCount() + timeoutMs};
    ScriptState* outer = CurrentScript;
    CurrentScript = &script;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, ScriptTick);
    modal();
    KillTimer(nullptr, timer);
    CurrentScript = outer;
    // Drop a cancel posted too late to reach the loop it was meant for.
    MSG pending;
    while (PeekMessageA(&pending, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
    return (int)script.next;
}

HWND FindThreadWindow(const char* className, const char* caption, int control) {
    WindowQuery query = {className, caption, control, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchWindow, (LPARAM)&query);
    return query.found;
}

std::string WindowText(HWND window) {
    char text[8192];
    int length = GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? (size_t)length : 0);
}

std::wstring WideText(HWND window) {
    wchar_t text[8192] = L"";
    GetWindowTextW(window, text, 8192);
    return text;
}

std::string DialogItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? WindowText(item) : std::string("<no control>");
}

UiStep InspectPluginMessage(const std::function<void(HWND box)>& inspect) {
    return [inspect]() {
        HWND box = FindThreadWindow("#32770", "JPEG 2000 Plug-in", MessageBoxTextId);
        if (box == nullptr) return false;
        inspect(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return true;
    };
}

UiStep AnswerPluginMessage(std::vector<std::string>* texts) {
    return InspectPluginMessage([texts](HWND box) { texts->push_back(DialogItemText(box, MessageBoxTextId)); });
}

UiStep AnswerPrintDialog(const char* printer) {
    return [printer]() {
        HWND dialog = FindThreadWindow("#32770", nullptr, cmb4);
        if (dialog == nullptr) return false;
        HWND list = GetDlgItem(dialog, cmb4);
        if (printer != nullptr && SendMessageA(list, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)printer) != CB_ERR) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(cmb4, CBN_SELCHANGE), (LPARAM)list);
        }
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
}

UiStep UseOpenMenu(HWND owner, const std::function<void(HMENU)>& inspect, const std::vector<KeyPress>& keys) {
    return [owner, inspect, keys]() {
        HWND popup = FindThreadWindow("#32768", nullptr);
        if (popup == nullptr) return false;
        inspect((HMENU)SendMessageA(popup, MN_GETHMENU, 0, 0));
        for (const KeyPress& key : keys) PostMessageA(owner, key.message, key.code, 1);
        return true;
    };
}

bool JapaneseUser() { return GetUserDefaultLangID() == 1041; }
const char* ExpectedText(const char* english, const char* japanese) { return JapaneseUser() ? japanese : english; }
const wchar_t* ExpectedText(const wchar_t* english, const wchar_t* japanese) {
    return JapaneseUser() ? japanese : english;
}

const char* SaveDialogCaption() { return ExpectedText("Save Image As...", "画像に名前を付けて保存..."); }

UiStep AnswerSaveDialog(SaveDialogView* view, int filterIndex, std::string path) {
    return [=]() {
        HWND dialog = FindThreadWindow("#32770", SaveDialogCaption(), cmb1);
        if (dialog == nullptr) return false;
        HWND types = GetDlgItem(dialog, cmb1);
        view->suggestedName = DialogItemText(dialog, cmb13);
        int count = (int)SendMessageA(types, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; i++) {
            char text[512] = "";
            SendMessageA(types, CB_GETLBTEXT, i, (LPARAM)text);
            view->filters.push_back(text);
        }
        view->selectedFilter = (int)SendMessageA(types, CB_GETCURSEL, 0, 0);
        if (filterIndex > 0) {
            SendMessageA(types, CB_SETCURSEL, filterIndex - 1, 0);
            // A pick in the list is announced as a change, then as accepted.
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELCHANGE), (LPARAM)types);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELENDOK), (LPARAM)types);
        }
        if (path.empty()) {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            return true;
        }
        SetDlgItemTextA(dialog, cmb13, path.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
}

HWND CreateOwnerWindow() {
    // One window for the whole program: without a window manager Wine waits
    // for each destroyed window to be withdrawn.
    static HWND window = nullptr;
    if (window != nullptr) return window;
    {
        WNDCLASSA description = {};
        description.lpfnWndProc = OwnerWindowProc;
        description.hInstance = GetModuleHandleA(nullptr);
        description.lpszClassName = "CommandsTestOwner";
        description.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        RegisterClassA(&description);
    }
    window = CreateWindowA("CommandsTestOwner", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 300,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetCursorPos(100, 100);
    return window;
}

bool OpenClipboardPatiently(HWND owner) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (OpenClipboard(owner)) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

std::string TempPath(const char* name) {
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return std::string(directory) + name;
}
