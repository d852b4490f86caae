// The pages of a document: which page comes next, the switch to it (kept
// for the timer while a decode of the record runs), and where the new page
// is scrolled to. UI thread only.
#include "window/display.h"

namespace {

const UINT RetryMilliseconds = 30;

int64_t PageAfter(const PluginInstance* record, int step) {
    return (int64_t)record->sequence.wanted + step;
}

int PageExists(const PluginInstance* record, int64_t page) {
    return HasPages(record) && page >= 0 && page < LoadAcquire(&record->sequence.count);
}

}  // namespace

int HasNextPage(const PluginInstance* record) { return PageExists(record, PageAfter(record, 1)); }

int HasPreviousPage(const PluginInstance* record) { return PageExists(record, PageAfter(record, -1)); }

int TurnPage(PluginInstance* record, int step) {
    int64_t page = PageAfter(record, step);
    if (!PageExists(record, page) || !RequestPicture(record, (uint32_t)page)) {
        return 0;
    }
    // Going back lands at the bottom of the page before, as reading upwards.
    ScrollToPageEnd(record, step < 0);
    if (PictureSwitchPending(record)) {
        SetTimer(record->window.hwnd, PictureTimerId, RetryMilliseconds, NULL);
    }
    InvalidateRect(record->window.hwnd, NULL, TRUE);
    return 1;
}

void RetryPictureSwitch(PluginInstance* record) {
    if (SwitchToWantedPicture(record)) {
        KillTimer(record->window.hwnd, PictureTimerId);
        InvalidateRect(record->window.hwnd, NULL, TRUE);
    }
}

void ShowNextPage(PluginInstance* record) { TurnPage(record, 1); }

void ShowPreviousPage(PluginInstance* record) { TurnPage(record, -1); }
