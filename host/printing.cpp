// Printing the picture onto a printer's page: the level the printer's dots
// need, drawn with a filtered stretch in bands of rows; where no picture can
// be had, the reason written in its place. NPP_Print of in-process browsers
// draws an embedded element so; the Print Picture command (commands/) draws
// the page it laid out.
#include <stdlib.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "host/host_internal.h"

namespace {

// Source bytes handed to the printer per stretch: some drivers refuse, or
// spool slowly, one call with a whole large bitmap.
const int64_t PrintBandBytes = 4 << 20;
// The reason's type size, in points.
const int ReasonPoints = 10;

const UiText NotPrintedFormat = {"JPEG 2000 picture not printed: %ls.", "JPEG 2000 画像を印刷できませんでした: %ls。"};
const UiText NotArrivedText = {"the file has not arrived yet", "ファイルをまだ受信していません"};

int64_t BitmapStride(const BITMAPINFOHEADER* header) {
    return ((int64_t)header->biWidth * header->biBitCount + 31) / 32 * 4;
}

// Rows [first, last) of the bitmap (counted from the top) stretched over
// rows [top, bottom) of the target: the band's rows are handed over as a
// bitmap of their own, so no driver has to agree on where a bottom-up
// bitmap's source rows start.
int DrawBand(HDC dc, const RECT* target, int32_t top, int32_t bottom, const ImageView* view, int32_t first,
             int32_t last) {
    const BITMAPINFOHEADER* header = &view->info->bmiHeader;
    union {
        BITMAPINFO info;
        uint8_t bytes[sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)];
    } band;
    size_t palette = (size_t)PackedDibPaletteSize((const uint8_t*)view->info);
    memcpy(band.bytes, view->info, sizeof(BITMAPINFOHEADER) + (palette <= 256 * sizeof(RGBQUAD) ? palette : 0));
    int bottomUp = header->biHeight > 0;
    band.info.bmiHeader.biHeight = bottomUp ? last - first : first - last;
    band.info.bmiHeader.biSizeImage = 0;
    int32_t startRow = bottomUp ? view->bitmapHeight - last : first;
    const uint8_t* bits = (const uint8_t*)view->bits + startRow * BitmapStride(header);
    int drawn = StretchDIBits(dc, target->left, top, target->right - target->left, bottom - top, 0, 0,
                              view->bitmapWidth, last - first, bits, &band.info, DIB_RGB_COLORS, SRCCOPY);
    return drawn != 0 && drawn != (int)GDI_ERROR;
}

// The reason a picture cannot be printed, as stored text.
const char* DescribePrintFailure(const PluginInstance* record, int failure) {
    if (failure != 0) return DescribeDecodeFailure(failure, IsJapaneseUi());
    if (LoadAcquire(&record->reception.loadState) != LoadStateEnded) return PickText(NotArrivedText);
    return ChooseFailureReason(LoadAcquire(&record->picture.failureReason));
}

// The rectangle's size in the printer's dots (its corners through the dc's
// mapping and world transform).
void MeasureDots(int32_t* widthOut, int32_t* heightOut, HDC dc, const RECT* area) {
    POINT corners[2] = {{area->left, area->top}, {area->right, area->bottom}};
    LPtoDP(dc, corners, 2);
    *widthOut = abs(corners[1].x - corners[0].x);
    *heightOut = abs(corners[1].y - corners[0].y);
}

}  // namespace

int DrawPrintedPicture(HDC dc, const RECT* target, const ImageView* view) {
    int32_t height = target->bottom - target->top;
    if (view->bitmapWidth <= 0 || view->bitmapHeight <= 0 || height <= 0) return 0;
    // Shrinking averages the pixels (dropping rows and columns would alias);
    // the brush origin aligns the halftone.
    int previousMode = SetStretchBltMode(dc, HALFTONE);
    POINT previousOrigin;
    SetBrushOrgEx(dc, 0, 0, &previousOrigin);
    int64_t stride = BitmapStride(&view->info->bmiHeader);
    int32_t bandRows = stride * view->bitmapHeight > PrintBandBytes ? (int32_t)(PrintBandBytes / stride) : 0;
    if (bandRows < 1) bandRows = view->bitmapHeight;
    int drawn = 1;
    // Each band ends on the target row its last source row ends on, so the
    // bands meet without a gap or an overlap.
    for (int32_t first = 0; first < view->bitmapHeight && drawn; first += bandRows) {
        int32_t last = first + bandRows < view->bitmapHeight ? first + bandRows : view->bitmapHeight;
        int32_t top = target->top + (int32_t)((int64_t)first * height / view->bitmapHeight);
        int32_t bottom = target->top + (int32_t)((int64_t)last * height / view->bitmapHeight);
        drawn = bottom <= top || DrawBand(dc, target, top, bottom, view, first, last);
    }
    SetBrushOrgEx(dc, previousOrigin.x, previousOrigin.y, NULL);
    if (previousMode != 0) SetStretchBltMode(dc, previousMode);
    return drawn;
}

void DrawPrintFailure(HDC dc, const RECT* area, const PluginInstance* record, int failure) {
    wchar_t reason[256], text[512];
    StoredTextToWide(reason, sizeof reason / sizeof reason[0], DescribePrintFailure(record, failure));
    FormatText(text, sizeof text / sizeof text[0], UiString(NotPrintedFormat), reason);
    // The type size in the dc's own units, whatever its mapping.
    POINT size[2] = {{0, 0}, {0, MulDiv(ReasonPoints, GetDeviceCaps(dc, LOGPIXELSY), 72)}};
    DPtoLP(dc, size, 2);
    HFONT font = CreateFontW(-abs(size[1].y - size[0].y), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    HGDIOBJ oldFont = SelectObject(dc, font);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, area->left, area->top, area->right, area->bottom);
    RECT inside = *area;
    int margin = abs(size[1].y - size[0].y) / 2;
    InflateRect(&inside, -margin, -margin);
    int previousBackground = SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &inside, DT_WORDBREAK | DT_NOPREFIX);
    SetBkMode(dc, previousBackground);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

int ChoosePrintReduce(const PluginInstance* record, int32_t dotsWidth, int32_t dotsHeight) {
    const PictureLevels* picture = &record->picture;
    return ChooseViewReduce((uint32_t)LoadAcquire(&picture->fullWidth), (uint32_t)LoadAcquire(&picture->fullHeight),
                            (uint32_t)dotsWidth, (uint32_t)dotsHeight, LoadAcquire(&picture->shownReduce),
                            LoadAcquire(&picture->maxReduce));
}

namespace {

// An embedded element's print: the browser's dc and the element's box in it.
struct EmbeddedPrint {
    HDC dc;
    RECT area;
};

void PrintEmbedded(PluginInstance* record, void* context) {
    const EmbeddedPrint* print = (const EmbeddedPrint*)context;
    int32_t dotsWidth, dotsHeight;
    MeasureDots(&dotsWidth, &dotsHeight, print->dc, &print->area);
    ImageView view;
    int failure = 0;
    if (AcquirePictureLevel(&view, &failure, record, ChoosePrintReduce(record, dotsWidth, dotsHeight))) {
        if (!DrawPrintedPicture(print->dc, &print->area, &view)) {
            DrawPrintFailure(print->dc, &print->area, record, DecodeFailureOutOfMemory);
        }
        ReleaseFullPicture(record);
    } else if (!InstanceDestroyed(record)) {
        DrawPrintFailure(print->dc, &print->area, record, failure);
    }
}

}  // namespace

void NPP_Print(NPP instance, NPPrint* platformPrint) {
    if (!instance || !instance->pdata || !platformPrint) {
        return;
    }
    PluginInstance* record = (PluginInstance*)instance->pdata;
    // A full page is left to the browser, which then prints it as an
    // embedded element.
    if (platformPrint->mode == NP_FULL) {
        platformPrint->print.fullPrint.pluginPrinted = 0;
        return;
    }
    const NPWindow* window = &platformPrint->print.embedPrint.window;
    EmbeddedPrint print = {(HDC)platformPrint->print.embedPrint.platformPrint,
                           {window->x, window->y, window->x + (LONG)window->width, window->y + (LONG)window->height}};
    if (!print.dc || window->width == 0 || window->height == 0) {
        return;
    }
    // Messages are dispatched while the level is decoded: the guard keeps
    // the record should the browser destroy the instance meanwhile.
    RunCommand(record, PrintEmbedded, &print);
}
