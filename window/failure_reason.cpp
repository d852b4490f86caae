// The second line of the status box after a failure, or a box over the
// picture kept: why there is no (whole) picture, in the interface language.
#include "host/plugin.h"
#include "window/display.h"

void PaintReasonOverPicture(HDC dc, const PluginInstance* record) {
    HFONT font = CreateUiFont(record);
    HGDIOBJ oldFont = SelectObject(dc, font);
    int margin = (int)(4 * ContentsScale(record) + 0.5);
    wchar_t text[256];
    StoredTextToWide(text, 256, ChooseFailureReason(LoadAcquire(&record->picture.failureReason)));
    RECT line = {margin, margin, record->scroll.clientWidth - margin, record->scroll.clientHeight};
    DrawTextW(dc, text, -1, &line, DT_WORDBREAK | DT_CALCRECT);
    RECT box = line;
    InflateRect(&box, margin, margin);
    Rectangle(dc, box.left, box.top, box.right, box.bottom);
    DrawTextW(dc, text, -1, &line, DT_WORDBREAK);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void PaintFailureReason(HDC dc, const RECT* area, const PluginInstance* record) {
    if (!LoadAcquire(&record->picture.decodeError)) return;
    wchar_t text[256];
    StoredTextToWide(text, 256, ChooseFailureReason(LoadAcquire(&record->picture.failureReason)));
    RECT line = *area;
    DrawTextW(dc, text, -1, &line, DT_WORDBREAK);
}
