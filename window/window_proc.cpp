// The window procedure put on the browser's window: attaching and detaching
// it, and one handler per message it answers.
#include "window/window.h"

#include "window/display.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

namespace {

const char PropertyName[] = "pdata";
// Set while PluginWindowProc is in the window's chain: the procedure it
// passes messages on to, also once no record is attached.
const char PreviousProcProperty[] = "npkavrel previous procedure";

// The browser's procedure, or the default one when there is none to call
// (a window subclassed twice by this plug-in must not call itself forever).
LRESULT PassOn(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!previous || previous == &PluginWindowProc) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

LRESULT PassOn(const PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PassOn(record->window.prevWndProc, window, message, wParam, lParam);
}

// A window whose chain still holds PluginWindowProc from an earlier
// attachment (left there under a host's subclass) is not subclassed again:
// the host's procedure calls ours, and ours would call the host's again.
void Attach(PluginInstance* record, HWND window) {
    WNDPROC inChain = (WNDPROC)GetPropA(window, PreviousProcProperty);
    record->window.prevWndProc =
        inChain ? inChain : (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)(void*)&PluginWindowProc);
    SetPropA(window, PreviousProcProperty, (HANDLE)record->window.prevWndProc);
    StoreRelease(&record->window.hwnd, window);
    SetPropA(window, PropertyName, record);
    RefreshContentsScale(record);
    // Pairs with the fence in the decode thread: a decode that finishes now
    // either posts to this window or is seen by the update below.
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    UpdateClientSize(record);
    UpdateScrollBars(record);
    RequestDrawnLevel(record);
    InvalidateRect(window, NULL, TRUE);
    UpdateWindow(window);
}

// The record property always goes: a window left behind keeps no pointer to
// a record that may be freed later. The saved procedure goes back only while
// ours is on top: a host that subclassed the window after us (the UXP
// browsers do after every NPP_SetWindow) would otherwise be cut out of the
// chain, and would later write our procedure back itself. Left in the chain,
// ours passes everything on to the procedure it replaced.
void Detach(PluginInstance* record) {
    EndPointerPress(record);
    KillTimer(record->window.hwnd, RegionTimerId);
    KillTimer(record->window.hwnd, PictureTimerId);
    HideScaleBadge(record);
    if (GetWindowLongPtrA(record->window.hwnd, GWLP_WNDPROC) == (LONG_PTR)(void*)&PluginWindowProc) {
        SetWindowLongPtrA(record->window.hwnd, GWLP_WNDPROC, (LONG_PTR)(void*)record->window.prevWndProc);
        RemovePropA(record->window.hwnd, PreviousProcProperty);
    }
    RemovePropA(record->window.hwnd, PropertyName);
    record->window.prevWndProc = NULL;
    StoreRelease(&record->window.hwnd, (HWND)NULL);
}

LRESULT OnDecodeProgress(PluginInstance* record, HWND window) {
    // A larger level is drawn over the smaller one at the same place: no
    // erase, so the picture never blinks.
    InstallNextLevel(record);
    DropReplacedPreview(record);
    AdoptRegionBitmap(record);
    AdoptPartialPicture(record);
    UpdateScrollBars(record);
    InvalidateRect(window, NULL, record->paint.picturePainted ? FALSE : TRUE);
    UpdateWindow(window);
    return 0;
}

LRESULT OnSize(PluginInstance* record, HWND window) {
    NoticeDpiChange(record);
    int32_t oldScrollX = record->scroll.x;
    int32_t oldScrollY = record->scroll.y;
    UpdateClientSize(record);
    UpdateScrollBars(record);
    RequestDrawnLevel(record);
    // A fitted full page is drawn at a size that follows the client area, and
    // the paint covers only the picture: without an erase the part a
    // shrinking picture leaves keeps its old pixels. A scrolled page whose
    // origin the clamp moved would likewise keep the columns of the old
    // origin beside the newly exposed ones of the new.
    bool fitted = record->element.mode == NP_FULL && !record->scroll.fixedScale;
    if (fitted || record->scroll.x != oldScrollX || record->scroll.y != oldScrollY) {
        InvalidateRect(window, NULL, TRUE);
    }
    return 0;
}

LRESULT OnPaint(PluginInstance* record, HWND window) {
    ScheduleRegionRequest(record);
    PaintWindow(window, record);
    return 0;
}

LRESULT OnEraseBackground(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, (HBRUSH)GetStockObject(GRAY_BRUSH));
    return 1;
}

LRESULT OnSetCursor(PluginInstance* record, HWND window, WPARAM wParam, LPARAM lParam) {
    if (LOWORD(lParam) != HTCLIENT) {
        return PassOn(record, window, WM_SETCURSOR, wParam, lParam);
    }
    SetCursor(record->element.hasLink ? record->element.linkCursor : ChooseViewCursor(record));
    return 1;
}

// A menu asked for from the keyboard (position -1, -1) opens over the
// picture as the menu key does.
LRESULT OnContextMenu(PluginInstance* record, HWND window, UINT message, LPARAM lParam) {
    if (message == WM_CONTEXTMENU && lParam == (LPARAM)-1) {
        return HandleKey(record, window, WM_KEYDOWN, VK_APPS, 0);
    }
    ShowContextMenu(record, window);
    return 0;
}

LRESULT OnDpiChanged(PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RereadContentsScale(record);
    return PassOn(record, window, message, wParam, lParam);
}

LRESULT OnScroll(PluginInstance* record, UINT message, WPARAM wParam) {
    HandleScroll(record, message, LOWORD(wParam), HIWORD(wParam));
    return 0;
}

// Another window took the pointer (a menu, a dialog): the press ends
// without a click.
LRESULT OnCaptureChanged(PluginInstance* record) {
    EndPointerPress(record);
    return 0;
}

// A key passed on to the browser's window makes its own character there;
// the one made here would reach the browser a second time (Alt+F would
// open its menu twice).
LRESULT OnSystemCharacter() { return 0; }

// The plug-in's own timers; any other is the replaced procedure's.
struct TimerHandler {
    UINT_PTR id;
    void (*handle)(PluginInstance* record);
};

const TimerHandler TimerHandlers[] = {
    {ScaleBadgeTimerId, HideScaleBadge},
    {RegionTimerId, RequestRegionInView},
    {PictureTimerId, RetryPictureSwitch},
};

LRESULT OnTimer(PluginInstance* record, HWND window, WPARAM wParam, LPARAM lParam) {
    for (const TimerHandler& timer : TimerHandlers) {
        if (wParam == timer.id) {
            timer.handle(record);
            return 0;
        }
    }
    return PassOn(record, window, WM_TIMER, wParam, lParam);
}

LRESULT OnAllocationFailed(PluginInstance* record) {
    WarnAllocationFailed(record);
    return 0;
}

}  // namespace

LRESULT PassOnMessage(const PluginInstance* record, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PassOn(record, window, message, wParam, lParam);
}

void AttachWindow(PluginInstance* record, HWND window) {
    if (record->window.hwnd && window == record->window.hwnd) {
        InvalidateRect(window, NULL, FALSE);
        return;
    }
    if (record->window.hwnd) {
        Detach(record);
    }
    if (window) {
        Attach(record, window);
    }
}

LRESULT CALLBACK PluginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PluginInstance* record = (PluginInstance*)GetPropA(window, PropertyName);
    if (!record) {
        return PassOn((WNDPROC)GetPropA(window, PreviousProcProperty), window, message, wParam, lParam);
    }
    if (message == DecodeProgressMessage()) {
        return OnDecodeProgress(record, window);
    }
    if (message == AllocationFailedMessage()) {
        return OnAllocationFailed(record);
    }
    switch (message) {
    case WM_SIZE: return OnSize(record, window);
    case WM_PAINT: return OnPaint(record, window);
    case WM_ERASEBKGND: return OnEraseBackground(window, (HDC)wParam);
    case WM_SETCURSOR: return OnSetCursor(record, window, wParam, lParam);
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP: return OnContextMenu(record, window, message, lParam);
    case WM_HSCROLL:
    case WM_VSCROLL: return OnScroll(record, message, wParam);
    case WM_LBUTTONDOWN: return HandleButtonDown(record, window, lParam);
    case WM_MOUSEMOVE: return HandlePointerMove(record, window, wParam, lParam);
    case WM_LBUTTONUP: return HandleButtonUp(record, window, wParam, lParam);
    case WM_CAPTURECHANGED: return OnCaptureChanged(record);
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP: return HandleKey(record, window, message, wParam, lParam);
    case WM_SYSCHAR: return OnSystemCharacter();
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: return HandleWheel(record, window, message, wParam, lParam);
    case WM_TIMER: return OnTimer(record, window, wParam, lParam);
    case WM_DPICHANGED:
    case WM_DPICHANGED_AFTERPARENT: return OnDpiChanged(record, window, message, wParam, lParam);
    default: return PassOn(record, window, message, wParam, lParam);
    }
}
