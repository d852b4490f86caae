// The picture for the commands that need more than the level shown: the
// full picture (save as bitmap, copy, wallpaper) or the level a printer
// needs, decoded on demand while the user sees it being prepared, and the
// reason told when it cannot be had, in the words the status box uses too.
#include <stdlib.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

const UiText PreparingText = {"Preparing the full picture...", "元の大きさの画像を準備しています…"};
const UiText PreparingLevelText = {"Preparing the picture...", "画像を準備しています…"};
const UiText FailedFormat = {"The full picture could not be prepared: %ls.",
                             "元の大きさの画像を用意できませんでした: %ls。"};
// The decoder words its own failures in both languages, so that j2k2bmp
// gives the same reasons; only an interrupted download is the plug-in's.
const UiText InterruptedText = {"the download was interrupted", "ダウンロードが中断されました"};

// A full picture (or a printer's level) up to this size stays shown after a
// command: decoding it again for the next one would cost more than it holds.
const int32_t KeptFullPictureBytes = 4 << 20;

// A level at least as fine as `reduce` is there, or as fine as the sample
// cap allows (known once the header has been read).
int HasLevel(const PluginInstance* record, int reduce) {
    const PictureLevels* picture = &record->picture;
    int32_t shownReduce = LoadAcquire(&picture->shownReduce);
    int32_t wanted = reduce > shownReduce ? reduce : shownReduce;
    return LoadAcquire(&picture->dib) && LoadAcquire(&picture->dibReduce) <= wanted;
}

// Dispatches messages until the level is there, no decode of the record
// runs any more, or the browser destroyed the instance meanwhile (the decode
// then goes on alone and frees the record when it ends).
void WaitForLevel(PluginInstance* record, int reduce) {
    while (!HasLevel(record, reduce) && !InstanceDestroyed(record)) {
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

int AcquirePictureLevel(ImageView* viewOut, int* failureOut, PluginInstance* record, int reduce) {
    *viewOut = ImageView();
    *failureOut = 0;
    if (LoadAcquire(&record->reception.loadState) != LoadStateEnded) {
        return 0;
    }
    InstallNextLevel(record);
    if (LoadAcquire(&record->picture.decodeError)) {
        return 0;
    }
    if (!HasLevel(record, reduce)) {
        QueueCommandLevel(record, reduce);
        HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
        int full = reduce <= LoadAcquire(&record->picture.shownReduce);
        ShowStatusText(record, PickText(full ? PreparingText : PreparingLevelText));
        WaitForLevel(record, reduce);
        ShowStatusText(record, "");
        SetCursor(previous);
        EndCommandWait(record);
    }
    // The element is gone: the command stops without a word.
    if (InstanceDestroyed(record)) {
        return 0;
    }
    DropReplacedPreview(record);
    if (HasLevel(record, reduce)) {
        HoldPicture(record);
        return GetPublishedImage(viewOut, record);
    }
    int32_t reason = LoadAcquire(&record->picture.levelFailure);
    *failureOut = reason != 0 ? reason : DecodeFailureOutOfMemory;
    return 0;
}

int AcquireFullPicture(ImageView* viewOut, int* failureOut, PluginInstance* record) {
    return AcquirePictureLevel(viewOut, failureOut, record, 0);
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
    // (A level no finer than the view's is kept: QueueViewLevel steps down only.)
    const uint8_t* dib = LoadAcquire(&record->picture.dib);
    if (dib && PackedDibSize(dib) > KeptFullPictureBytes) {
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


