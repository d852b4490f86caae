// Display-internal operations shared by the lifecycle, stream and window code:
// the published-image snapshot, the decode-finished message, window attachment.
#ifndef WINDOW_DISPLAY_H
#define WINDOW_DISPLAY_H

#include "host/plugin.h"

// Values of DecodeThreadBlock::running. Orphaned marks a record whose
// instance was destroyed while its decode ran: the thread then owns it.
enum {
    DecodeIdle = 0,
    DecodeRunning = 1,
    DecodeOrphaned = 2,
};

// One consistent view of the decoded image, taken with acquire loads.
struct ImageView {
    const BITMAPINFO* info;
    const void* bits;
    int32_t width;
    int32_t height;
};

// 1 with the view filled when dib, dibHeader and dibBits are all published;
// 0 with the view zeroed otherwise.
int GetPublishedImage(ImageView* viewOut, const PluginInstance* record);

// The message the decode thread posts to the attached window when its result
// is published; the UI thread then updates the scroll bars and repaints.
UINT DecodeFinishedMessage();

// Window attachment steps of NPP_SetWindow and NPP_Destroy.
void AttachWindow(PluginInstance* record, HWND windowHandle, NPWindow* window);
void DetachWindow(PluginInstance* record);

// Frees the stream buffer, the image and the comments of a record, then the
// record itself. Only for a record no decode thread reads any more.
void ReleaseRecord(PluginInstance* record);

// Body of the decode thread; block is the record's decodeThread.
void DecodeThreadMain(DecodeThreadBlock* block);

// Paints the status box (outline, white fill, status text) into dc.
void PaintStatusBox(HDC dc, const RECT* clientRect, const PluginInstance* record);

// After a failure, the reason for it in the interface language (a
// DecodeFailure value or FailureInterrupted), drawn into `area`, the part
// of the status box below its first text.
const char* ChooseFailureReason(int32_t reason);
void PaintFailureReason(HDC dc, const RECT* area, const PluginInstance* record);

#endif
