// The full picture for the commands that need it (save as bitmap, copy,
// wallpaper, print): decoded on demand while the user sees it being
// prepared, and the reason told when it cannot be had, in the words the
// status box uses too.
#include <stdlib.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

const UiText PreparingText = {"Preparing the full picture...", "元の大きさの画像を準備しています…"};
const UiText FailedFormat = {"The full picture could not be prepared: %ls.",
                             "元の大きさの画像を用意できませんでした: %ls。"};
// The decoder words its own failures in both languages, so that j2k2bmp
// gives the same reasons; only an interrupted download is the plug-in's.
const UiText InterruptedText = {"the download was interrupted", "ダウンロードが中断されました"};

// A full picture up to this size stays shown after a command: decoding it
// again for the next one would cost more than it holds.
const int32_t KeptFullPictureBytes = 4 << 20;

int HasFullPicture(const PluginInstance* record) {
    const PictureLevels* picture = &record->picture;
    return LoadAcquire(&picture->dib) && LoadAcquire(&picture->dibReduce) <= LoadAcquire(&picture->shownReduce);
}

// Dispatches messages until the record's full picture is there, no decode
// of it runs any more, or the browser destroyed the instance meanwhile (the
// decode then goes on alone and frees the record when it ends).
void WaitForFullPicture(PluginInstance* record) {
    while (!HasFullPicture(record) && !InstanceDestroyed(record)) {
        if (!IsDecodeBusy(record) && !LoadAcquire(&record->picture.nextLevel)) {
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
        ShowStatusText(record, PickText(PreparingText));
        WaitForFullPicture(record);
        ShowStatusText(record, "");
        SetCursor(previous);
        EndFullPictureWait(record);
    }
    // The element is gone: the command stops without a word.
    if (InstanceDestroyed(record)) {
        return 0;
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
    // Nothing is decoded again for an element that is gone.
    if (DropPictureHold(record) > 0 || InstanceDestroyed(record)) {
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

const char* ChooseFailureReason(int32_t reason) {
    if (reason == FailureInterrupted) return PickText(InterruptedText);
    return DescribeDecodeFailure(reason, IsJapaneseUi());
}

void WarnNoFullPicture(PluginInstance* record, int failure) {
    wchar_t reason[256];
    StoredTextToWide(reason, sizeof reason / sizeof reason[0], ChooseFailureReason(failure));
    ShowPluginMessage(record, UiString(FailedFormat), reason);
}


