// Playback of an animation in the window: the timer on the browser's thread
// that drives it, the frames it puts in place, whether the element can be
// seen (a hidden or clipped-away element decodes nothing), and the bar along
// the bottom edge that gives the position. UI thread only.
#include "window/display.h"

namespace {

// Fine enough for 100 frames a second; a tick costs a few checks.
const UINT TickMilliseconds = 10;
const int EdgeHeight = 3;

// Hidden, or clipped away entirely (scrolled out of the page's view, a
// background tab): nothing of it would be seen.
int IsElementVisible(HWND window) {
    if (!window || !IsWindowVisible(window)) {
        return 0;
    }
    RECT box;
    HDC dc = GetDC(window);
    int region = dc ? GetClipBox(dc, &box) : NULLREGION;
    if (dc) {
        ReleaseDC(window, dc);
    }
    return region != NULLREGION && region != ERROR;
}

void KeepTicking(PluginInstance* record) {
    if (record->window.hwnd && PlaybackActive(record)) {
        SetTimer(record->window.hwnd, PlaybackTimerId, TickMilliseconds, NULL);
    }
}

}  // namespace

void BeginPlaybackWhenShown(PluginInstance* record) {
    ImageView view;
    if (IsAnimation(record) && GetPublishedImage(&view, record)) {
        StartPlayback(record, GetTickCount());
        KeepTicking(record);
    }
}

// A paint says the element can be seen (again, or in a new window): the
// ticks stopped for it resume where playback is under way. Ticks that run
// are left alone: setting the timer again would put its next tick off.
void ResumePlaybackTicks(PluginInstance* record) {
    if (record->sequence.unseen) {
        NoteElementSeen(record, 1);
        KeepTicking(record);
    }
}

// A frame decoded since is put in place here as well as when the decode's
// message comes, so that a message overtaken by the tick costs no frame.
// Playback that ended, or an element that cannot be seen, stops the ticks:
// the clock runs on unseen, and the paint that shows the element again
// resumes them (the frame due then is asked for, those between dropped).
void RunPlaybackTick(PluginInstance* record) {
    HWND window = record->window.hwnd;
    SwitchToWantedPicture(record);
    if (InstallNextLevel(record)) {
        NoteFrameShown(record);
        InvalidateRect(window, NULL, FALSE);
    }
    SettleAwaitedFrame(record);
    int visible = IsElementVisible(window);
    NoteElementSeen(record, visible);
    if (PlaybackDue(record, GetTickCount())) {
        AdvancePlayback(record, GetTickCount(), visible);
    }
    if (!PlaybackActive(record) || !visible) {
        KillTimer(window, PlaybackTimerId);
    }
}

void TogglePlay(PluginInstance* record) {
    TogglePlayback(record, GetTickCount());
    KeepTicking(record);
}

void StepShownFrame(PluginInstance* record, int step) {
    StepFrame(record, step);
    KeepTicking(record);
}

void PaintPlaybackEdge(HDC dc, const PluginInstance* record) {
    int32_t count = LoadAcquire(&record->sequence.count);
    if (!IsAnimation(record) || count <= 0) {
        return;
    }
    int height = (int)(EdgeHeight * ContentsScale(record) + 0.5);
    RECT edge = {0, record->scroll.clientHeight - height, record->scroll.clientWidth, record->scroll.clientHeight};
    FillRect(dc, &edge, (HBRUSH)GetStockObject(LTGRAY_BRUSH));
    edge.right = (int)((int64_t)edge.right * (record->sequence.index + 1) / count);
    FillRect(dc, &edge, (HBRUSH)GetStockObject(DKGRAY_BRUSH));
}
