// Scroll bars and scroll messages of a full page shown at its own size: range,
// page and position, the show thresholds, page steps, a thumb dragged past
// 16 bits, and the update at the end of a decode.
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <gtest/gtest.h>

#include "decode/jpeg2000.h"

#include "display_support.h"
#include "window/about_dialog.h"
#include "window/context_menu.h"
#include "window/display.h"

namespace {

// A full page with fit switched off, as the menu's fit toggle leaves it.
void CreateScrolledPage(Element* element, int width, int height, const char* fixture) {
    CreateElement(element, width, height, NP_FULL, {});
    PluginInstance* record = RecordOf(element);
    record->scroll.fixedScale = 1;
    record->scroll.active = 1;
    SendFile(element, fixture);
    ASSERT_TRUE(WaitForDecode(element));
}

SCROLLINFO ReadBar(HWND window, int bar) {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window, bar, &info);
    return info;
}

TEST(ScrollBars, DecodeEndShowsTheBarWithRangePageAndPosition) {
    Element element;
    CreateScrolledPage(&element, 400, 700, "wide.j2k");
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(1, record->scroll.hBarShown);
    EXPECT_EQ(0, record->scroll.vBarShown);
    EXPECT_TRUE(GetWindowLongA(element.window, GWL_STYLE) & WS_HSCROLL);
    SCROLLINFO info = ReadBar(element.window, SB_HORZ);
    EXPECT_EQ(0, info.nMin);
    EXPECT_EQ(799, info.nMax);
    EXPECT_EQ(400u, info.nPage);
    EXPECT_EQ(0, info.nPos);

    HandleScroll(record, WM_HSCROLL, SB_PAGERIGHT, 0);
    EXPECT_EQ(385, record->scroll.x);
    EXPECT_EQ(385, ReadBar(element.window, SB_HORZ).nPos);
    HandleScroll(record, WM_HSCROLL, SB_RIGHT, 0);
    EXPECT_EQ(400, record->scroll.x);
    HandleScroll(record, WM_HSCROLL, SB_LEFT, 0);
    EXPECT_EQ(0, record->scroll.x);
    ValidateRect(element.window, NULL);
    HandleScroll(record, WM_HSCROLL, SB_LINELEFT, 0);
    EXPECT_EQ(0, record->scroll.x);
    RECT dirty;
    EXPECT_FALSE(GetUpdateRect(element.window, &dirty, FALSE));
    HandleScroll(record, WM_HSCROLL, SB_LINERIGHT, 0);
    EXPECT_EQ(40, record->scroll.x);
    DestroyElement(&element);
}

// Showing the horizontal bar shrinks the height, which brings the vertical
// bar, which shrinks the width: each bar's page is the client size left at
// the end (a stale page would keep the thumb from the image's last columns).
TEST(ScrollBars, BothBarsPagesFollowTheClientTheyLeave) {
    Element element;
    CreateScrolledPage(&element, 400, 300, "wide.j2k");
    PluginInstance* record = RecordOf(&element);
    RECT client;
    GetClientRect(element.window, &client);
    ASSERT_LT(client.right, 400);
    ASSERT_LT(client.bottom, 300);
    EXPECT_EQ((UINT)client.right, ReadBar(element.window, SB_HORZ).nPage);
    EXPECT_EQ((UINT)client.bottom, ReadBar(element.window, SB_VERT).nPage);
    EXPECT_EQ(1, record->scroll.hBarShown);
    EXPECT_EQ(1, record->scroll.vBarShown);
    DestroyElement(&element);
}

TEST(ScrollBars, ThumbTrackMovesThePicture) {
    Element element;
    CreateScrolledPage(&element, 400, 700, "wide.j2k");
    PluginInstance* record = RecordOf(&element);
    SendMessageA(element.window, WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 200), 0);
    EXPECT_EQ(200, record->scroll.x);
    Capture capture = CaptureWindow(element.window);
    EXPECT_EQ(0xC8C8C8u, capture.At(0, 0));
    EXPECT_EQ(0xD2D2D2u, capture.At(10, 5));
    HandleScroll(record, WM_HSCROLL, SB_THUMBTRACK, 40000);
    EXPECT_EQ(400, record->scroll.x);  // past the end: the end

    HandleScroll(record, WM_HSCROLL, SB_THUMBTRACK, 100);
    ValidateRect(element.window, NULL);
    const int untouching[] = {SB_THUMBPOSITION, SB_ENDSCROLL, 9, -1};
    for (int code : untouching) {
        HandleScroll(record, WM_HSCROLL, code, 300);
        EXPECT_EQ(100, record->scroll.x) << code;
    }
    HandleScroll(record, WM_MOUSEWHEEL, SB_LINERIGHT, 0);
    EXPECT_EQ(100, record->scroll.x);
    RECT dirty;
    EXPECT_FALSE(GetUpdateRect(element.window, &dirty, FALSE));
    DestroyElement(&element);
}

// A thumb dragged by the user through the bar's own tracking loop to the
// right end of a 40,000-pixel-wide image: the message carries only 16 bits
// of the position, the bar all 32.
TEST(ScrollBars, ThumbDraggedPast16BitsReachesTheRightEdge) {
    Element element;
    CreateScrolledPage(&element, 400, 60, "w40000.j2k");
    PluginInstance* record = RecordOf(&element);
    SCROLLBARINFO bar = {};
    bar.cbSize = sizeof bar;
    ASSERT_TRUE(GetScrollBarInfo(element.window, OBJID_HSCROLL, &bar));
    POINT press = {bar.rcScrollBar.left + (bar.xyThumbTop + bar.xyThumbBottom) / 2,
                   (bar.rcScrollBar.top + bar.rcScrollBar.bottom) / 2};
    POINT end = {bar.rcScrollBar.right - 1, press.y};
    ScreenToClient(element.window, &end);
    RECT client;
    GetClientRect(element.window, &client);
    PostMessageA(element.window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(end.x, end.y));
    PostMessageA(element.window, WM_LBUTTONUP, 0, MAKELPARAM(end.x, end.y));
    SendMessageA(element.window, WM_NCLBUTTONDOWN, HTHSCROLL, MAKELPARAM(press.x, press.y));
    EXPECT_EQ(40000 - client.right, record->scroll.x);
    EXPECT_EQ(40000 - client.right, ReadBar(element.window, SB_HORZ).nPos);
    EXPECT_EQ(0x3F3F3Fu, CaptureWindow(element.window).At(client.right - 1, 2));  // column 39,999
    DestroyElement(&element);
}

TEST(ScrollBars, PageStepIsClientMinus15ButAtLeast40) {
    const int widths[] = {50, 55, 56};
    const int steps[] = {40, 40, 41};
    for (int i = 0; i < 3; ++i) {
        Element element;
        CreateScrolledPage(&element, widths[i], 700, "wide.j2k");
        HandleScroll(RecordOf(&element), WM_HSCROLL, SB_PAGERIGHT, 0);
        EXPECT_EQ(steps[i], RecordOf(&element)->scroll.x) << widths[i];
        DestroyElement(&element);
    }
}

TEST(ScrollBars, VerticalMessagesMoveTheVerticalOrigin) {
    Element element;
    CreateScrolledPage(&element, 900, 300, "wide.j2k");
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(0, record->scroll.hBarShown);
    EXPECT_EQ(1, record->scroll.vBarShown);
    HandleScroll(record, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(40, record->scroll.y);
    HandleScroll(record, WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(300, record->scroll.y);
    HandleScroll(record, WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(15, record->scroll.y);
    HandleScroll(record, WM_VSCROLL, SB_TOP, 0);
    EXPECT_EQ(0, record->scroll.y);
    DestroyElement(&element);
}

TEST(ScrollBars, WidthNeedsMoreThanTwoPixelsHeightMoreThanOne) {
    struct BarCase {
        const char* fixture;
        int width, height;
        int horizontal, vertical;
    };
    const BarCase cases[] = {
        {"w502h501.j2k", 500, 1000, 0, 0},
        {"w503h502.j2k", 500, 1000, 1, 0},
        {"w502h501.j2k", 1000, 500, 0, 0},
        {"w503h502.j2k", 1000, 500, 0, 1},
    };
    for (const BarCase& c : cases) {
        Element element;
        CreateScrolledPage(&element, c.width, c.height, c.fixture);
        EXPECT_EQ(c.horizontal, RecordOf(&element)->scroll.hBarShown) << c.fixture << " " << c.width;
        EXPECT_EQ(c.vertical, RecordOf(&element)->scroll.vBarShown) << c.fixture << " " << c.width;
        DestroyElement(&element);
    }
    Element element;
    CreateScrolledPage(&element, 500, 1000, "w503h502.j2k");
    HandleScroll(RecordOf(&element), WM_HSCROLL, SB_RIGHT, 0);
    EXPECT_EQ(3, RecordOf(&element)->scroll.x);
    DestroyElement(&element);
}

TEST(ScrollBars, EnlargingClampsTheOriginAndHidesTheBar) {
    Element element;
    CreateScrolledPage(&element, 400, 700, "wide.j2k");
    PluginInstance* record = RecordOf(&element);
    HandleScroll(record, WM_HSCROLL, SB_RIGHT, 0);
    EXPECT_EQ(400, record->scroll.x);
    SetWindowPos(element.window, NULL, 0, 0, 600, 700, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(200, record->scroll.x);
    EXPECT_EQ(1, record->scroll.hBarShown);
    SetWindowPos(element.window, NULL, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(0, record->scroll.x);
    EXPECT_EQ(0, record->scroll.hBarShown);
    EXPECT_FALSE(GetWindowLongA(element.window, GWL_STYLE) & WS_HSCROLL);
    DestroyElement(&element);
}

// Scrolled to the end, the window grows and the origin comes back: what is
// shown then is the picture a full repaint at the new origin gives, not the
// old columns beside new ones.
TEST(ScrollBars, EnlargingAtTheEndShowsOnePictureAtTheClampedOrigin) {
    Element element;
    CreateScrolledPage(&element, 200, 300, "gradient.jp2");
    PluginInstance* record = RecordOf(&element);
    HandleScroll(record, WM_HSCROLL, SB_RIGHT, 0);
    int32_t endOrigin = record->scroll.x;
    CaptureWindow(element.window);
    SetWindowPos(element.window, NULL, 0, 0, 230, 300, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_LT(record->scroll.x, endOrigin);
    Capture afterResize = CaptureWindow(element.window);
    Capture repainted = RepaintAndCapture(element.window);
    EXPECT_EQ(repainted.pixels, afterResize.pixels);
    DestroyElement(&element);
}

// The origin outlives fit-to-window; when the window has grown meanwhile,
// switching fit off again brings it back to the corner, and the picture
// follows the origin it was brought to.
TEST(ScrollBars, FitOffAfterGrowingShowsOnePictureAtTheClampedOrigin) {
    Element element;
    CreateScrolledPage(&element, 200, 300, "gradient.jp2");
    PluginInstance* record = RecordOf(&element);
    HandleScroll(record, WM_HSCROLL, SB_RIGHT, 0);
    ASSERT_GT(record->scroll.x, 0);
    RunMenuCommand(record, ID_FIT_TO_WINDOW);
    SetWindowPos(element.window, NULL, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
    CaptureWindow(element.window);
    RunMenuCommand(record, ID_FIT_TO_WINDOW);
    EXPECT_EQ(0, record->scroll.x);
    Capture afterToggle = CaptureWindow(element.window);
    Capture repainted = RepaintAndCapture(element.window);
    EXPECT_EQ(repainted.pixels, afterToggle.pixels);
    DestroyElement(&element);
}

TEST(ScrollBars, FitOnOrEmbeddedIgnoresScrolling) {
    Element page;
    ASSERT_TRUE(ShowFixture(&page, 100, 100, NP_FULL, "wide.j2k"));
    Element embedded;
    ASSERT_TRUE(ShowFixture(&embedded, 100, 100, NP_EMBED, "wide.j2k"));
    for (Element* element : {&page, &embedded}) {
        SendMessageA(element->window, WM_HSCROLL, MAKEWPARAM(SB_PAGERIGHT, 0), 0);
        SendMessageA(element->window, WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
        EXPECT_EQ(0, RecordOf(element)->scroll.x);
        EXPECT_EQ(0, RecordOf(element)->scroll.y);
        EXPECT_EQ(0, RecordOf(element)->scroll.hBarShown);
    }
    DestroyElement(&page);
    DestroyElement(&embedded);
}

// While only the preview exists it is laid out, scrolled and painted at the
// shown picture's size; commands see no image and About says "preview"; the
// picture that replaces it frees it on the UI thread.
TEST(ScrollBars, PreviewTakesThePicturesGeometryUntilThePictureReplacesIt) {
    Element element;
    CreateScrolledPage(&element, 100, 80, "quad.j2k");
    PluginInstance* record = RecordOf(&element);
    uint8_t* dib = record->picture.dib;
    record->picture.dib = NULL;
    record->picture.dibHeader = NULL;
    record->picture.dibBits = NULL;
    record->picture.preview = dib;  // 64 x 48 standing for 640 x 480
    record->picture.fullWidth = record->picture.shownWidth = 640;
    record->picture.fullHeight = record->picture.shownHeight = 480;
    SendMessageA(element.window, DecodeProgressMessage(), DecodePublished, 0);
    EXPECT_EQ(dib, record->picture.preview);
    EXPECT_EQ(639, ReadBar(element.window, SB_HORZ).nMax);
    EXPECT_EQ(479, ReadBar(element.window, SB_VERT).nMax);
    HandleScroll(record, WM_HSCROLL, SB_RIGHT, 0);
    Capture shown = CaptureWindow(element.window);
    EXPECT_EQ(0x00FF00u, shown.At(2, 2));  // green: the preview's right half, ten times wider
    HandleScroll(record, WM_HSCROLL, SB_LEFT, 0);
    EXPECT_EQ(0xFF0000u, CaptureWindow(element.window).At(50, 40));
    ImageView view;
    EXPECT_EQ(0, GetPublishedImage(&view, record));
    wchar_t text[AboutTextSize];
    BuildImageText(text, record);
    EXPECT_NE(nullptr, wcsstr(text, ExpectedText(L"Dimensions:\t640 x 480\r\nShown:\tpreview",
                                                 L"画像サイズ:\t640 x 480\r\n表示:\tプレビュー")));

    uint8_t* full = (uint8_t*)malloc((size_t)PackedDibSize(dib));
    memcpy(full, dib, (size_t)PackedDibSize(dib));
    record->picture.dib = full;
    record->picture.dibHeader = (BITMAPINFOHEADER*)full;
    record->picture.dibBits = full + sizeof(BITMAPINFOHEADER);
    SendMessageA(element.window, DecodeProgressMessage(), DecodePublished, 0);
    EXPECT_EQ(nullptr, record->picture.preview);
    EXPECT_EQ(1, GetPublishedImage(&view, record));
    // A picture past the cap: About gives both sizes and says what save and
    // copy use.
    record->picture.dibReduce = record->picture.shownReduce = record->picture.fullReduce = 3;
    BuildImageText(text, record);
    EXPECT_NE(nullptr, wcsstr(text, ExpectedText(L"Dimensions:\t640 x 480\r\nShown:\t64 x 48, shown at 1/8 scale (save "
                                                 L"and copy use the picture shown)",
                                                 L"画像サイズ:\t640 x 480\r\n表示:\t64 x 48 (1/8 に縮小して表示、"
                                                 L"保存とコピーは表示中の画像)")));
    // Past the cap, where a 64-bit decoder makes commands a finer level.
    record->picture.fullReduce = 1;
    BuildImageText(text, record);
    EXPECT_NE(nullptr, wcsstr(text, ExpectedText(L"Shown:\t64 x 48, shown at 1/8 scale (save and copy use 320 x 240, "
                                                 L"made by the 64-bit decoder)",
                                                 L"表示:\t64 x 48 (1/8 に縮小して表示、保存とコピーは 64 ビットの"
                                                 L"デコーダが作る 320 x 240 の画像)")));
    // The level a small view needs, below the cap: commands use the full one.
    record->picture.shownReduce = 0;
    BuildImageText(text, record);
    EXPECT_NE(nullptr, wcsstr(text, ExpectedText(L"Dimensions:\t640 x 480\r\nShown:\t64 x 48, 1/8 scale for this view "
                                                 L"(save and copy use the full picture)",
                                                 L"画像サイズ:\t640 x 480\r\n表示:\t64 x 48 (この表示に合わせて 1/8、"
                                                 L"保存とコピーは元の大きさの画像)")));
    DestroyElement(&element);
}

TEST(ScrollBars, NoImageHidesBarsAndKeepsTheOrigin) {
    Element element;
    CreateElement(&element, 100, 100, NP_FULL, {});
    PluginInstance* record = RecordOf(&element);
    record->scroll.active = 1;
    record->scroll.fixedScale = 1;
    record->scroll.x = 77;
    UpdateScrollBars(record);
    EXPECT_EQ(77, record->scroll.x);
    EXPECT_EQ(0, record->scroll.hBarShown);
    HandleScroll(record, WM_HSCROLL, SB_LEFT, 0);
    EXPECT_EQ(77, record->scroll.x);
    DestroyElement(&element);
}

}  // namespace
