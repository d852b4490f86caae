// The status box's progress while a file arrives: a bar filled by the share
// received of the announced length, and the bytes received in words.
#include <stdio.h>

#include "host/plugin.h"
#include "window/display.h"

namespace {

const int BarHeight = 10;
const int BarGap = 4;
const int32_t Kilobyte = 1024;
const int32_t Megabyte = 1024 * 1024;

// The bytes line when the length is announced, indexed by Japanese; the
// Japanese one names the whole first.
struct AmountFormat {
    const char* format;
    int wholeFirst;
};
const AmountFormat AmountFormats[2] = {{"%s of %s", 0}, {"%s 中 %s", 1}};

// "850 KB", "1.2 MB": tenths of a megabyte from one megabyte on.
void FormatAmount(char* textOut, size_t size, int32_t bytes) {
    if (bytes < Megabyte) {
        snprintf(textOut, size, "%d KB", (int)((bytes + Kilobyte - 1) / Kilobyte));
        return;
    }
    int64_t tenths = ((int64_t)bytes * 10 + Megabyte / 2) / Megabyte;
    snprintf(textOut, size, "%d.%d MB", (int)(tenths / 10), (int)(tenths % 10));
}

}  // namespace

void PaintLoadProgress(HDC dc, const RECT* below, const PluginInstance* record) {
    if (LoadAcquire(&record->loadState) != LoadStateReceiving || LoadAcquire(&record->decodeError)) {
        return;
    }
    int32_t received = record->dataLength;
    int32_t announced = record->announcedLength;
    RECT bar = {below->left, below->top + BarGap, below->right, below->top + BarGap + BarHeight};
    if (announced > 0 && bar.right - bar.left > 2) {
        FrameRect(dc, &bar, (HBRUSH)GetStockObject(BLACK_BRUSH));
        int32_t shown = received < announced ? received : announced;
        RECT filled = bar;
        InflateRect(&filled, -1, -1);
        filled.right = filled.left + (int)((int64_t)(filled.right - filled.left) * shown / announced);
        FillRect(dc, &filled, (HBRUSH)GetStockObject(DKGRAY_BRUSH));
    }
    char receivedText[32];
    char announcedText[32];
    char line[96];
    FormatAmount(receivedText, sizeof receivedText, received);
    FormatAmount(announcedText, sizeof announcedText, announced);
    const AmountFormat& format = AmountFormats[IsJapaneseUi() ? 1 : 0];
    if (announced <= 0) {
        snprintf(line, sizeof line, "%s", receivedText);
    } else if (format.wholeFirst) {
        snprintf(line, sizeof line, format.format, announcedText, receivedText);
    } else {
        snprintf(line, sizeof line, format.format, receivedText, announcedText);
    }
    RECT text = *below;
    text.top = bar.bottom + BarGap;
    wchar_t wide[96];
    StoredTextToWide(wide, sizeof wide / sizeof wide[0], line);
    DrawTextW(dc, wide, -1, &text, DT_WORDBREAK);
}
