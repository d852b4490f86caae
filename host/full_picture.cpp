// The picture for the commands that need more than the level shown: the
// full picture (save as bitmap, copy, wallpaper) or the level a printer
// needs, decoded on demand while the user sees it being prepared, and the
// reason told when it cannot be had, in the words the status box uses too.
#include <stdlib.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"
#include "host/picture_section.h"

namespace {

const UiText PreparingText = {"Preparing the full picture...", "元の大きさの画像を準備しています…"};
const UiText PreparingLevelText = {"Preparing the picture...", "画像を準備しています…"};
const UiText FailedFormat = {"The full picture could not be prepared: %ls.",
                             "元の大きさの画像を用意できませんでした: %ls。"};
// The decoder words its own failures in both languages, so that j2k2bmp
// gives the same reasons; only an interrupted download is the plug-in's.
const UiText InterruptedText = {"the download was interrupted", "ダウンロードが中断されました"};

// A level at least as fine as `wanted` is there: in dib, or, for a command
// that reads it through views (`aside`), in a decoder's section.
int HasLevel(const PluginInstance* record, int32_t wanted, int aside) {
    const PictureLevels* picture = &record->picture;
    return (LoadAcquire(&picture->dib) && LoadAcquire(&picture->dibReduce) <= wanted) ||
           (aside && LoadAcquire(&picture->section) && LoadAcquire(&picture->sectionReduce) <= wanted);
}

// Dispatches messages until the level is there, no decode of the record
// runs any more, or the browser destroyed the instance meanwhile (the decode
// then goes on alone and frees the record when it ends).
void WaitForLevel(PluginInstance* record, int32_t wanted, int aside) {
    while (!HasLevel(record, wanted, aside) && !InstanceDestroyed(record)) {
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

// The level a command asks for, at least as fine as `reduce` and as the
// picture allows (fullReduce: finer than the level shown where a 64-bit
// decoder makes it), decoded first when it is not there; held until
// ReleaseFullPicture. Where memory allowed only the sample cap's level
// (shownReduce), that still serves, as it did before a decoder could do more.
int PrepareLevel(int* failureOut, PluginInstance* record, int reduce, int aside) {
    *failureOut = 0;
    if (LoadAcquire(&record->reception.loadState) != LoadStateEnded) {
        return 0;
    }
    InstallNextLevel(record);
    if (LoadAcquire(&record->picture.decodeError)) {
        return 0;
    }
    int32_t shownReduce = LoadAcquire(&record->picture.shownReduce);
    int32_t fullReduce = LoadAcquire(&record->picture.fullReduce);
    int32_t wanted = reduce > fullReduce ? reduce : fullReduce;
    if (!HasLevel(record, wanted, aside)) {
        QueueCommandLevel(record, reduce, aside);
        HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
        ShowStatusText(record, PickText(reduce <= shownReduce ? PreparingText : PreparingLevelText));
        WaitForLevel(record, wanted, aside);
        ShowStatusText(record, "");
        SetCursor(previous);
        EndCommandWait(record);
    }
    // The element is gone: the command stops without a word.
    if (InstanceDestroyed(record)) {
        return 0;
    }
    DropReplacedPreview(record);
    if (HasLevel(record, wanted, aside) || HasLevel(record, reduce > shownReduce ? reduce : shownReduce, aside)) {
        HoldPicture(record);
        return 1;
    }
    int32_t reason = LoadAcquire(&record->picture.levelFailure);
    *failureOut = reason != 0 ? reason : DecodeFailureOutOfMemory;
    return 0;
}

int SinkWholeBlock(const FullPicture* picture, PictureBytesSink sink, void* context) {
    return picture->head && picture->bytes && sink(context, picture->head, picture->bytes);
}

}  // namespace

int AcquirePictureLevel(ImageView* viewOut, int* failureOut, PluginInstance* record, int reduce) {
    *viewOut = ImageView();
    return PrepareLevel(failureOut, record, reduce, 0) && GetPublishedImage(viewOut, record);
}

int AcquireFullPicture(FullPicture* pictureOut, int* failureOut, PluginInstance* record) {
    *pictureOut = FullPicture();
    if (!PrepareLevel(failureOut, record, 0, 1)) {
        return 0;
    }
    // The finer of the two, the section when they are alike (dib may be
    // the view's level, decoded again since).
    const PictureLevels* picture = &record->picture;
    const PictureSection* section = LoadAcquire(&picture->section);
    const uint8_t* dib = LoadAcquire(&picture->dib);
    if (section && (!dib || LoadAcquire(&picture->sectionReduce) <= LoadAcquire(&picture->dibReduce))) {
        pictureOut->section = section;
        pictureOut->head = section->head;
        pictureOut->bytes = section->bytes;
        return 1;
    }
    DescribeHeldPicture(pictureOut, dib);
    return 1;
}

void DescribeHeldPicture(FullPicture* pictureOut, const uint8_t* dib) {
    *pictureOut = FullPicture();
    int size = PackedDibSize(dib);
    if (size <= 0) {
        return;
    }
    const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)dib;
    pictureOut->view = ImageView{(const BITMAPINFO*)dib, PackedDibBits(dib), header->biWidth, header->biHeight,
                                 header->biWidth, header->biHeight};
    pictureOut->head = dib;
    pictureOut->bytes = (uint32_t)size;
}

int ReadFullPicture(const FullPicture* picture, PictureBytesSink sink, void* context) {
    return picture->section ? ReadPictureSection(picture->section, sink, context)
                            : SinkWholeBlock(picture, sink, context);
}

void ReleaseFullPicture(PluginInstance* record) {
    if (DropPictureHold(record) > 0) {
        return;
    }
    // The command's section goes with the command; nothing is decoded again
    // for an element that is gone.
    DropFullSection(record);
    if (InstanceDestroyed(record)) {
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


