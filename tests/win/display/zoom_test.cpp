// The view's key map as one table, and the zoom in the plug-in's own code:
// zooming about a point keeps that point, steps stop at 100 % and 800 %, the
// visible region in the whole picture's pixels, the cursor of each view and
// the menu key's menu over the picture.
#include <string.h>

#include <gtest/gtest.h>

#include "display_support.h"
#include "window/display.h"

namespace {

struct KeyCase {
    UINT virtualKey;
    int modifiers;
    KeyAction action;
};

TEST(KeyMap, EachKeyWithItsModifiersGivesOneAction) {
    const int Shift = ModifierShift, Ctrl = ModifierControl, Alt = ModifierAlt;
    const KeyCase cases[] = {
        {VK_UP, 0, KeyLineUp},           {VK_DOWN, 0, KeyLineDown},        {VK_LEFT, 0, KeyLineLeft},
        {VK_RIGHT, 0, KeyLineRight},     {VK_PRIOR, 0, KeyPageUp},         {VK_NEXT, 0, KeyPageDown},
        {VK_HOME, 0, KeyTop},            {VK_END, 0, KeyBottom},           {VK_OEM_PLUS, 0, KeyZoomIn},
        {VK_OEM_PLUS, Shift, KeyZoomIn}, {VK_ADD, 0, KeyZoomIn},           {VK_OEM_MINUS, 0, KeyZoomOut},
        {VK_SUBTRACT, 0, KeyZoomOut},    {'0', 0, KeyFit},                 {'1', 0, KeyActualSize},
        {'S', Ctrl, KeySaveAs},          {'C', Ctrl, KeyCopy},             {VK_F10, Shift, KeyContextMenu},
        {VK_APPS, 0, KeyContextMenu},
        // The browser's: F5, F6, F11 and every other Ctrl or Alt combination.
        {VK_F5, 0, KeyToBrowser},        {VK_F6, 0, KeyToBrowser},         {VK_F11, 0, KeyToBrowser},
        {'W', Ctrl, KeyToBrowser},       {'T', Ctrl, KeyToBrowser},        {VK_TAB, Ctrl, KeyToBrowser},
        {VK_LEFT, Alt, KeyToBrowser},    {VK_OEM_PLUS, Ctrl, KeyToBrowser}, {'0', Ctrl, KeyToBrowser},
        {'S', Ctrl | Shift, KeyToBrowser}, {VK_F4, Alt, KeyToBrowser},
        // Neither: plain keys without a row, and modifiers pressed alone.
        {'S', 0, KeyUnhandled},          {VK_F10, 0, KeyUnhandled},        {VK_UP, Shift, KeyUnhandled},
        {VK_CONTROL, Ctrl, KeyUnhandled}, {VK_MENU, Alt, KeyUnhandled},    {VK_SHIFT, Shift, KeyUnhandled},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(c.action, ChooseKeyAction(c.virtualKey, c.modifiers)) << c.virtualKey << " " << c.modifiers;
    }
}

// gradient.jp2 is 256 x 256, red = x and green = y: fitted into 200 x 160 it
// is drawn at 0.625 device pixels per picture pixel.
struct ZoomCase {
    int steps;
    POINT anchor;
    double scale;
};

TEST(Zoom, StepsKeepTheAnchorAndStopAt100And800Percent) {
    const ZoomCase cases[] = {
        {1, {40, 120}, 0.625 * 1.25},
        {2, {100, 20}, 1.0},     // 1.22 would pass 100 %: stops there
        {30, {0, 0}, 8.0},       // the largest
        {-30, {10, 10}, 1.0},    // 100 % again on the way out
        {-30, {10, 10}, 0.625},  // the fitted scale: fitted again
    };
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 200, 160, NP_FULL, "gradient.jp2"));
    PluginInstance* record = RecordOf(&element);
    for (const ZoomCase& c : cases) {
        ImageView view;
        ASSERT_TRUE(GetShownImage(&view, record));
        RECT before;
        ComputePictureRect(&before, record, &view);
        double oldScale = ShownScale(record, &view);
        ZoomSteps(record, c.steps, c.anchor);
        EXPECT_NEAR(c.scale, ShownScale(record, &view), 1e-6) << c.steps;
        RECT after;
        ComputePictureRect(&after, record, &view);
        // The picture point under the anchor stays (no anchor here needs a
        // clamped origin).
        if (record->scroll.fixedScale) {
            EXPECT_NEAR((c.anchor.x - before.left) / oldScale, (c.anchor.x - after.left) / c.scale, 1.0);
            EXPECT_NEAR((c.anchor.y - before.top) / oldScale, (c.anchor.y - after.top) / c.scale, 1.0);
        }
    }
    EXPECT_EQ(0, record->scroll.fixedScale);
    DestroyElement(&element);
}

TEST(Zoom, VisibleRegionIsInTheWholePicturesPixels) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 200, 160, NP_FULL, "gradient.jp2"));
    PluginInstance* record = RecordOf(&element);
    RECT region;
    ASSERT_TRUE(GetVisibleRegion(&region, record));
    EXPECT_EQ(0, region.left);
    EXPECT_EQ(256, region.right);
    EXPECT_EQ(256, region.bottom);
    ShowActualSize(record);
    PanTo(record, 30, 50);
    ASSERT_TRUE(GetVisibleRegion(&region, record));
    EXPECT_EQ(30, region.left);
    EXPECT_EQ(50, region.top);
    EXPECT_EQ(30 + record->scroll.clientWidth, region.right);
    EXPECT_EQ(50 + record->scroll.clientHeight, region.bottom);
    DestroyElement(&element);
}

// Panned while the scale shows in the corner: the scroll leaves no copy of
// it behind, whichever way the picture moves.
TEST(Zoom, PanningWhileTheScaleShowsLeavesNoCopyOfIt) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 200, 160, NP_FULL, "gradient.jp2"));
    PluginInstance* record = RecordOf(&element);
    ShowActualSize(record);
    KillTimer(element.window, ScaleBadgeTimerId);  // the scale stays shown
    ASSERT_EQ(1, record->zoom.badgeShown);
    const POINT steps[] = {{-12, 9}, {10, -20}, {0, 15}, {-25, 0}};
    for (const POINT& step : steps) {
        UpdateWindow(element.window);
        PanTo(record, record->scroll.x + step.x, record->scroll.y + step.y);
        UpdateWindow(element.window);
        Capture panned = CaptureWindow(element.window);
        EXPECT_EQ(RepaintAndCapture(element.window).pixels, panned.pixels) << step.x << "," << step.y;
    }
    DestroyElement(&element);
}

struct CursorCase {
    const char* fixture;
    const char* inputs;  // what was done before
    HCURSOR cursor;
};

TEST(Zoom, CursorSaysWhatAClickDoes) {
    const CursorCase cases[] = {
        {"gradient.jp2", "fitted", ZoomInCursor},       // larger than the window
        {"gradient.jp2", "zoomed", ZoomOutCursor},
        {"quad.jp2", "fitted", LoadCursorA(NULL, IDC_ARROW)},  // shown whole at 100 %
    };
    for (const CursorCase& c : cases) {
        Element element;
        ASSERT_TRUE(ShowFixture(&element, 200, 160, NP_FULL, c.fixture));
        if (strcmp(c.inputs, "zoomed") == 0) {
            ShowActualSize(RecordOf(&element));
        }
        SendMessageA(element.window, WM_SETCURSOR, (WPARAM)element.window, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(c.cursor, GetCursor()) << c.fixture << " " << c.inputs;
        DestroyElement(&element);
    }
    EXPECT_NE((HCURSOR)NULL, ZoomInCursor);
    EXPECT_NE(ZoomInCursor, ZoomOutCursor);
}

TEST(Zoom, MenuKeyOpensTheMenuOverThePicturesMiddle) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 200, 160, NP_FULL, "gradient.jp2"));  // fitted 160 x 160
    POINT middle = {80, 80};
    ClientToScreen(element.window, &middle);
    RECT menu = {-1, -1, -1, -1};
    auto readPlace = [&](HMENU) { GetWindowRect(FindWindowA("#32768", NULL), &menu); };
    EXPECT_EQ(1, RunModal([&] { SendMessageA(element.window, WM_KEYDOWN, VK_APPS, 0); },
                          {UseOpenMenu(element.window, readPlace, {{WM_KEYDOWN, VK_ESCAPE}})}));
    EXPECT_EQ(middle.x, menu.left);
    EXPECT_EQ(middle.y, menu.top);
    DestroyElement(&element);
}

}  // namespace
