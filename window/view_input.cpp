// Keys and pointer on the plug-in's window: the key map (one table), keys
// the view does not answer handed to the browser's own window so that its
// shortcuts keep working while the picture has the focus, the wheel, and a
// left-button press that is either a click (fit <-> 100 %) or a drag that
// pans. UI thread only.
#include <stdlib.h>

#include "window/context_menu.h"
#include "window/display.h"

namespace {

const int WheelNotch = WHEEL_DELTA;
const int WheelLines = 3;

// One key the view answers, with the modifiers that must be held (exactly).
struct KeyRule {
    UINT virtualKey;
    int modifiers;
    KeyAction action;
};

const KeyRule KeyRules[] = {
    {VK_UP, 0, KeyLineUp},
    {VK_DOWN, 0, KeyLineDown},
    {VK_LEFT, 0, KeyLineLeft},
    {VK_RIGHT, 0, KeyLineRight},
    {VK_PRIOR, 0, KeyPageUp},
    {VK_NEXT, 0, KeyPageDown},
    {VK_SPACE, 0, KeyPageDown},
    {VK_SPACE, ModifierShift, KeyPageUp},
    {VK_HOME, 0, KeyTop},
    {VK_END, 0, KeyBottom},
    // "+" is the shifted "=" on many layouts, and the keypad's.
    {VK_OEM_PLUS, 0, KeyZoomIn},
    {VK_OEM_PLUS, ModifierShift, KeyZoomIn},
    {VK_ADD, 0, KeyZoomIn},
    {VK_OEM_MINUS, 0, KeyZoomOut},
    {VK_SUBTRACT, 0, KeyZoomOut},
    {'0', 0, KeyFit},
    {VK_NUMPAD0, 0, KeyFit},
    {'1', 0, KeyActualSize},
    {VK_NUMPAD1, 0, KeyActualSize},
    {'S', ModifierControl, KeySaveAs},
    {'C', ModifierControl, KeyCopy},
    {VK_INSERT, ModifierControl, KeyCopy},
    {'P', ModifierControl, KeyPrint},
    {VK_F10, ModifierShift, KeyContextMenu},
    {VK_APPS, 0, KeyContextMenu},
    {VK_APPS, ModifierShift, KeyContextMenu},
    // Tab and Shift+Tab move the focus on from the element, in the browser.
    {VK_TAB, 0, KeyLeaveFocus},
    {VK_TAB, ModifierShift, KeyLeaveFocus},
    // Reload, address bar and full screen belong to the browser.
    {VK_F5, 0, KeyToBrowser},
    {VK_F6, 0, KeyToBrowser},
    {VK_F11, 0, KeyToBrowser},
};

// Keys that are only modifiers never act alone, nor go to the browser.
bool IsModifierKey(UINT virtualKey) {
    return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU ||
           virtualKey == VK_LSHIFT || virtualKey == VK_RSHIFT || virtualKey == VK_LCONTROL ||
           virtualKey == VK_RCONTROL || virtualKey == VK_LMENU || virtualKey == VK_RMENU || virtualKey == VK_LWIN ||
           virtualKey == VK_RWIN;
}

// Alt shows in a system key message's context bit rather than the key
// state alone (F10 is a system key without it).
int HeldModifiers(UINT message, LPARAM lParam) {
    bool system = message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
    int held = 0;
    held |= (GetKeyState(VK_SHIFT) & 0x8000) ? ModifierShift : 0;
    held |= (GetKeyState(VK_CONTROL) & 0x8000) ? ModifierControl : 0;
    held |= (system && (lParam & (1 << 29))) || (GetKeyState(VK_MENU) & 0x8000) ? ModifierAlt : 0;
    return held;
}

// A scroll step as the scroll bars take it; the view must be zoomed.
struct ScrollRule {
    KeyAction action;
    UINT message;
    int code;
};
const ScrollRule ScrollRules[] = {
    {KeyLineUp, WM_VSCROLL, SB_LINEUP},     {KeyLineDown, WM_VSCROLL, SB_LINEDOWN},
    {KeyLineLeft, WM_HSCROLL, SB_LINELEFT}, {KeyLineRight, WM_HSCROLL, SB_LINERIGHT},
    {KeyPageUp, WM_VSCROLL, SB_PAGEUP},     {KeyPageDown, WM_VSCROLL, SB_PAGEDOWN},
    {KeyTop, WM_VSCROLL, SB_TOP},           {KeyBottom, WM_VSCROLL, SB_BOTTOM},
};

// The menu key opens the menu over the middle of the picture's visible part.
void OpenMenuAtPictureCentre(PluginInstance* record, HWND window) {
    RECT client = {0, 0, record->scroll.clientWidth, record->scroll.clientHeight};
    ImageView view;
    if (GetShownImage(&view, record)) {
        RECT picture;
        ComputePictureRect(&picture, record, &view);
        IntersectRect(&client, &client, &picture);
    }
    POINT centre = {(client.left + client.right) / 2, (client.top + client.bottom) / 2};
    ClientToScreen(window, &centre);
    ShowContextMenuAt(record, window, centre);
}

// Scrolling and zooming belong to a full page; on an embedded element
// those keys go on to the browser, which scrolls its page. So does Ctrl+P:
// the browser prints a page with an element on it (its own print of a full
// page would be blank).
bool IsFullPageAction(KeyAction action) {
    return (action >= KeyLineUp && action <= KeyActualSize) || action == KeyPrint;
}

// Page Down at the bottom of a page goes on to the next page, Page Up at
// its top back to the one before; elsewhere they scroll.
bool TurnPageAtEnd(PluginInstance* record, KeyAction action) {
    int step = action == KeyPageDown ? 1 : action == KeyPageUp ? -1 : 0;
    return step != 0 && HasPages(record) && AtScrollEnd(record, step) && TurnPage(record, step);
}

void RunKeyAction(PluginInstance* record, HWND window, KeyAction action) {
    if (TurnPageAtEnd(record, action)) {
        return;
    }
    for (const ScrollRule& rule : ScrollRules) {
        if (rule.action == action) {
            HandleScroll(record, rule.message, rule.code, 0);
            return;
        }
    }
    switch (action) {
    case KeyZoomIn: ZoomStepsAboutCentre(record, 1); break;
    case KeyZoomOut: ZoomStepsAboutCentre(record, -1); break;
    case KeyFit: FitAgain(record); break;
    case KeyActualSize: ShowActualSize(record); break;
    case KeySaveAs: RunEnabledCommand(record, ID_SAVE_IMAGE_AS); break;
    case KeyCopy: RunEnabledCommand(record, ID_COPY_CURRENT_FRAME); break;
    case KeyPrint: RunEnabledCommand(record, ID_PRINT_PICTURE); break;
    case KeyContextMenu: OpenMenuAtPictureCentre(record, window); break;
    default: break;
    }
}

// The offset of the pointer in the client area from a wheel message, whose
// position is in screen coordinates.
POINT WheelPoint(HWND window, LPARAM lParam) {
    POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    ScreenToClient(window, &point);
    return point;
}

// Whole notches from the rest kept and a new delta; the rest keeps the part
// below a notch (fine-grained wheels send less).
int TakeNotches(int32_t* rest, int delta) {
    *rest += delta;
    int notches = *rest / WheelNotch;
    *rest -= notches * WheelNotch;
    return notches;
}

}  // namespace

KeyAction ChooseKeyAction(UINT virtualKey, int modifiers) {
    if (IsModifierKey(virtualKey)) {
        return KeyUnhandled;
    }
    for (const KeyRule& rule : KeyRules) {
        if (rule.virtualKey == virtualKey && rule.modifiers == modifiers) {
            return rule.action;
        }
    }
    return (modifiers & (ModifierControl | ModifierAlt)) ? KeyToBrowser : KeyUnhandled;
}

// A key the browser gets, it gets the release of too (the same message
// posted to its top-level window); the release of a key the view answered
// goes nowhere.
LRESULT HandleKey(PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    KeyAction action = ChooseKeyAction((UINT)wParam, HeldModifiers(message, lParam));
    if (action == KeyUnhandled) {
        return PassOnMessage(record, window, message, wParam, lParam);
    }
    bool toBrowser = action == KeyToBrowser || action == KeyLeaveFocus ||
                     (record->element.mode != NP_FULL && IsFullPageAction(action));
    HWND root = GetAncestor(window, GA_ROOT);
    if (toBrowser) {
        if (root && root != window) {
            // The browser moves its focus on only from a window that has it.
            if (action == KeyLeaveFocus && message == WM_KEYDOWN) {
                SetFocus(root);
            }
            PostMessageA(root, message, wParam, lParam);
        }
        return 0;
    }
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) {
        RunKeyAction(record, window, action);
    }
    return 0;
}

LRESULT HandleWheel(PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    int delta = GET_WHEEL_DELTA_WPARAM(wParam);
    int keys = GET_KEYSTATE_WPARAM(wParam);
    if (record->element.mode != NP_FULL) {
        return PassOnMessage(record, window, message, wParam, lParam);
    }
    if (message == WM_MOUSEWHEEL && (keys & MK_CONTROL)) {
        ZoomSteps(record, TakeNotches(&record->pointer.zoomWheelRest, delta), WheelPoint(window, lParam));
        return 0;
    }
    // Shift turns the wheel sideways; a tilt wheel's right is positive.
    bool sideways = message == WM_MOUSEHWHEEL || (keys & MK_SHIFT);
    int32_t* rest = sideways ? &record->pointer.hwheelRest : &record->pointer.wheelRest;
    int notches = TakeNotches(rest, message == WM_MOUSEHWHEEL ? -delta : delta);
    UINT scroll = sideways ? WM_HSCROLL : WM_VSCROLL;
    int code = notches > 0 ? SB_LINEUP : SB_LINEDOWN;
    for (int i = 0; i < WheelLines * (notches > 0 ? notches : -notches); ++i) {
        HandleScroll(record, scroll, code, 0);
    }
    return 0;
}

LRESULT HandleButtonDown(PluginInstance* record, HWND window, LPARAM lParam) {
    // Keys come to a window with the focus; a click gives it, as the
    // browser gives it to its own content.
    SetFocus(window);
    // A link press holds the pointer, so that its release is seen wherever
    // it happens: one outside the element, or a loss of the capture,
    // disarms it.
    if (record->element.hasLink || record->element.mode != NP_FULL) {
        record->pointer.linkPressed = record->element.hasLink;
        if (record->pointer.linkPressed) {
            SetCapture(window);
        }
        return 0;
    }
    record->pointer.pressed = 1;
    record->pointer.dragging = 0;
    record->pointer.pressPoint.x = (short)LOWORD(lParam);
    record->pointer.pressPoint.y = (short)HIWORD(lParam);
    record->pointer.pressOriginX = record->scroll.x;
    record->pointer.pressOriginY = record->scroll.y;
    SetCapture(window);
    return 0;
}

// Only a move with the button held drags: a move without it (the system's
// own pointer passing by) neither pans nor ends the press, whose end comes
// with the release or the loss of the capture.
LRESULT HandlePointerMove(PluginInstance* record, HWND window, WPARAM wParam, LPARAM lParam) {
    if (!record->pointer.pressed || !(wParam & MK_LBUTTON)) {
        return PassOnMessage(record, window, WM_MOUSEMOVE, wParam, lParam);
    }
    int dx = (short)LOWORD(lParam) - record->pointer.pressPoint.x;
    int dy = (short)HIWORD(lParam) - record->pointer.pressPoint.y;
    if (!record->pointer.dragging && (abs(dx) > GetSystemMetrics(SM_CXDRAG) || abs(dy) > GetSystemMetrics(SM_CYDRAG))) {
        record->pointer.dragging = 1;
        SetCursor(ChooseViewCursor(record));
    }
    if (record->pointer.dragging) {
        PanTo(record, record->pointer.pressOriginX - dx, record->pointer.pressOriginY - dy);
    }
    return 0;
}

LRESULT HandleButtonUp(PluginInstance* record, HWND window, WPARAM wParam, LPARAM lParam) {
    if (record->pointer.linkPressed) {
        RECT client;
        POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        bool inside = GetClientRect(window, &client) && PtInRect(&client, point);
        EndPointerPress(record);
        if (inside) {
            OpenUrlForUser(record->element.npp, record->element.href, record->element.target);
        }
        return 0;
    }
    if (!record->pointer.pressed) {
        return PassOnMessage(record, window, WM_LBUTTONUP, wParam, lParam);
    }
    bool click = !record->pointer.dragging;
    EndPointerPress(record);
    if (click) {
        POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        ToggleZoomAt(record, point);
    }
    return 0;
}

void EndPointerPress(PluginInstance* record) {
    bool captured = record->pointer.pressed || record->pointer.linkPressed;
    record->pointer.pressed = 0;
    record->pointer.linkPressed = 0;
    record->pointer.dragging = 0;
    if (captured && GetCapture() == record->window.hwnd) {
        ReleaseCapture();
    }
}

// Zoom-in where a click zooms in, zoom-out where it fits again, the
// size-all arrows while dragging; the arrow elsewhere.
HCURSOR ChooseViewCursor(const PluginInstance* record) {
    if (record->pointer.dragging) {
        return LoadCursorA(NULL, IDC_SIZEALL);
    }
    if (record->element.mode == NP_FULL && record->scroll.fixedScale && ZoomOutCursor) {
        ImageView view;
        if (GetShownImage(&view, record)) {
            return ZoomOutCursor;
        }
    }
    if (ClickZoomsIn(record) && ZoomInCursor) {
        return ZoomInCursor;
    }
    return LoadCursorA(NULL, IDC_ARROW);
}
