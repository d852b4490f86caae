// The status box's progress while a file arrives: a bar filled by the share
// received of the announced length, and the bytes received in words.
#include "host/plugin.h"
#include "window/display.h"

namespace {

const int BarHeight = 10;
const int BarGap = 4;
const int EdgeHeight = 3;
const int32_t Kilobyte = 1024;
const int32_t Megabyte = 1024 * 1024;

// The bytes line when the length is announced: received, then the whole in
// English; the Japanese one names the whole first.
const UiText AmountLine = {"%ls of %ls", "%ls 中 %ls"};

// "850 KB", "1.2 MB": tenths of a megabyte from one megabyte on.
void FormatAmount(wchar_t* textOut, size_t count, int32_t bytes) {
    if (bytes < Megabyte) {
        FormatText(textOut, count, L"%d KB", (int)((bytes + Kilobyte - 1) / Kilobyte));
        return;
    }
    int64_t tenths = ((int64_t)bytes * 10 + Megabyte / 2) / Megabyte;
    FormatText(textOut, count, L"%d.%d MB", (int)(tenths / 10), (int)(tenths % 10));
}

}  // namespace

void PaintArrivalEdge(HDC dc, const PluginInstance* record) {
    int32_t announced = record->reception.announcedLength;
    int height = (int)(EdgeHeight * ContentsScale(record) + 0.5);
    RECT edge = {0, record->scroll.clientHeight - height, record->scroll.clientWidth, record->scroll.clientHeight};
    FillRect(dc, &edge, (HBRUSH)GetStockObject(LTGRAY_BRUSH));
    if (announced > 0) {
        int64_t received = record->reception.store.length;
        int32_t shown = received < announced ? (int32_t)received : announced;
        edge.right = (int)((int64_t)edge.right * shown / announced);
        FillRect(dc, &edge, (HBRUSH)GetStockObject(DKGRAY_BRUSH));
    }
}

void PaintLoadProgress(HDC dc, const RECT* below, const PluginInstance* record) {
    if (LoadAcquire(&record->reception.loadState) != LoadStateReceiving || LoadAcquire(&record->picture.decodeError)) {
        return;
    }
    int32_t received = (int32_t)record->reception.store.length;
    int32_t announced = record->reception.announcedLength;
    double scale = ContentsScale(record);
    int gap = (int)(BarGap * scale + 0.5), height = (int)(BarHeight * scale + 0.5);
    RECT bar = {below->left, below->top + gap, below->right, below->top + gap + height};
    if (announced > 0 && bar.right - bar.left > 2) {
        FrameRect(dc, &bar, (HBRUSH)GetStockObject(BLACK_BRUSH));
        int32_t shown = received < announced ? received : announced;
        RECT filled = bar;
        InflateRect(&filled, -1, -1);
        filled.right = filled.left + (int)((int64_t)(filled.right - filled.left) * shown / announced);
        FillRect(dc, &filled, (HBRUSH)GetStockObject(DKGRAY_BRUSH));
    }
    wchar_t receivedText[32];
    wchar_t announcedText[32];
    wchar_t line[96];
    FormatAmount(receivedText, 32, received);
    FormatAmount(announcedText, 32, announced);
    if (announced <= 0) {
        FormatText(line, 96, L"%ls", receivedText);
    } else if (IsJapaneseUi()) {
        FormatText(line, 96, UiString(AmountLine), announcedText, receivedText);
    } else {
        FormatText(line, 96, UiString(AmountLine), receivedText, announcedText);
    }
    RECT text = *below;
    text.top = bar.bottom + gap;
    DrawTextW(dc, line, -1, &text, DT_WORDBREAK);
}
