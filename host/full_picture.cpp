// The full picture for the commands that need it (save as bitmap, copy,
// wallpaper, print): decoded on demand while the user sees it being
// prepared, and the reason told when it cannot be had.
#include <stdlib.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

const UiText PreparingText = {"Preparing the full picture...", "元の大きさの画像を準備しています…"};
const UiText FailedFormat = {"The full picture could not be prepared: %ls.",
                             "元の大きさの画像を用意できませんでした: %ls。"};

// A full picture up to this size stays shown after a command: decoding it
// again for the next one would cost more than it holds.
const int32_t KeptFullPictureBytes = 4 << 20;

int HasFullPicture(const PluginInstance* record) {
    const PictureLevels* picture = &record->picture;
    return LoadAcquire(&picture->dib) && LoadAcquire(&picture->dibReduce) <= LoadAcquire(&picture->shownReduce);
}

// Dispatches messages until the record's full picture is there or no
// decode of it runs any more.
void WaitForFullPicture(PluginInstance* record) {
    while (!HasFullPicture(record)) {
        if (LoadAcquire(&record->queue.running) == DecodeIdle && !LoadAcquire(&record->picture.nextLevel)) {
            return;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage((int)message.wParam);
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        InstallNextLevel(record);
    }
}

}  // namespace

int AcquireFullPicture(ImageView* viewOut, int* failureOut, PluginInstance* record) {
    *viewOut = ImageView();
    *failureOut = 0;
    if (LoadAcquire(&record->reception.loadState) != LoadStateEnded) {
        return 0;
    }
    InstallNextLevel(record);
    if (LoadAcquire(&record->picture.decodeError)) {
        return 0;
    }
    if (!HasFullPicture(record)) {
        QueueFullPicture(record);
        HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
        NPN_Status(record->element.npp, PickText(PreparingText));
        WaitForFullPicture(record);
        NPN_Status(record->element.npp, "");
        SetCursor(previous);
        EndFullPictureWait(record);
    }
    DropReplacedPreview(record);
    if (HasFullPicture(record)) {
        HoldPicture(record);
        return GetPublishedImage(viewOut, record);
    }
    int32_t reason = LoadAcquire(&record->picture.levelFailure);
    *failureOut = reason != 0 ? reason : DecodeFailureOutOfMemory;
    return 0;
}

void ReleaseFullPicture(PluginInstance* record) {
    if (DropPictureHold(record) > 0) {
        return;
    }
    // A level that came while the command ran was left waiting.
    if (InstallNextLevel(record) && record->window.hwnd) {
        InvalidateRect(record->window.hwnd, NULL, FALSE);
    }
    const uint8_t* dib = LoadAcquire(&record->picture.dib);
    if (HasFullPicture(record) && PackedDibSize(dib) > KeptFullPictureBytes) {
        QueueViewLevel(record);
    }
}

void WarnNoFullPicture(PluginInstance* record, int failure) {
    wchar_t reason[256];
    StoredTextToWide(reason, sizeof reason / sizeof reason[0], DescribeDecodeFailure(failure, IsJapaneseUi()));
    ShowPluginMessage(record, UiString(FailedFormat), reason);
}


