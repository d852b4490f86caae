// A full page used as a viewer, through npkavrel.dll and the test browser's
// inputs: keys zoom, fit again and scroll, browser shortcuts reach the
// browser's window, a click zooms to 100 % about the clicked pixel, Ctrl+
// wheel zooms about the pointer, a drag pans, any part of a picture past the
// sample cap shows at 100 %; and the screen's scale from the browser sizes
// pictures in CSS pixels and the texts with them.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser_suite.h"
#include "fixture_path.h"
#include "pixel_capture.h"
#include "user_input.h"

namespace {

// The picture pixel shown at (x, y), read back from the gradient's colour.
POINT PicturePixelAt(const Capture& capture, int x, int y) {
    uint32_t colour = capture.At(x, y);
    POINT pixel = {(LONG)(colour >> 16), (LONG)(colour >> 8 & 255)};
    return pixel;
}

void ExpectPicturePixel(const Capture& capture, int x, int y, int pictureX, int pictureY) {
    POINT shown = PicturePixelAt(capture, x, y);
    EXPECT_NEAR(pictureX, shown.x, 2) << "at " << x << "," << y;
    EXPECT_NEAR(pictureY, shown.y, 2) << "at " << x << "," << y;
}

class Viewer : public BrowserSuite {
protected:
    void TearDown() override {
        browser.contentsScale = 0;
        BrowserSuite::TearDown();
    }
    // gradient.jp2 (256 x 256, red = x, green = y) as a full page, fitted
    // into 200 x 160 at 0.625 device pixels per picture pixel.
    // Null until the fitted picture shows (a busy machine may take a while).
    BrowserFrame* OpenGradient() {
        BrowserFrame* frame = Open(FixturePath("gradient.jp2"), 200, 160);
        for (int wait = 0; frame && frame->instances.size() == 1 && wait < 50; ++wait) {
            POINT shown = PicturePixelAt(CaptureClient(frame->window), 100, 100);
            if (abs(shown.x - 160) <= 2 && abs(shown.y - 160) <= 2) {
                return frame;
            }
            WaitUntilQuiet(100, 1000);
        }
        return nullptr;
    }
    // The limit only ends a run whose key was lost: each key waits for the
    // page to settle twice, so nine keys take some 9 s on a quiet machine.
    Capture Send(BrowserFrame* frame, const char* inputs) {
        EXPECT_TRUE(SendUserInput(frame->instances[0], inputs, 40000)) << inputs;
        return CaptureClient(frame->window);
    }
};

TEST_F(Viewer, PlusZoomsZeroFitsAgainAndBrowserShortcutsReachTheBrowser) {
    BrowserFrame* frame = OpenGradient();
    ASSERT_NE(frame, nullptr);
    Capture fitted = CaptureClient(frame->window);
    ExpectPicturePixel(fitted, 100, 100, 160, 160);
    Capture zoomed = Send(frame, "plus");
    EXPECT_NE(fitted.pixels, zoomed.pixels);
    Send(frame, "0");
    // The scale shown in the corner goes after a moment.
    WaitUntilQuiet(1500, 5000);
    EXPECT_EQ(fitted.pixels, CaptureClient(frame->window).pixels);

    // The menu key's menu takes the keys while it is open.
    Send(frame, "ctrl+w f5 shift+f10 esc alt+left ctrl+t 1 right down");
    const std::vector<std::string> expected = {"ctrl+w", "f5", "alt+left", "ctrl+t"};
    EXPECT_EQ(expected, frame->browserKeys);
}

// Tab and Shift+Tab give the focus back to the browser, which gets the key
// to move its own focus on.
TEST_F(Viewer, TabLeavesThePlugin) {
    BrowserFrame* frame = OpenGradient();
    ASSERT_NE(frame, nullptr);
    // The focus is read as the key reaches the browser: later, another test's
    // window in the same display may have taken the activation away.
    for (const char* key : {"tab", "shift+tab"}) {
        SetFocus(frame->instances[0]->window);
        Send(frame, key);
        ASSERT_FALSE(frame->browserKeys.empty()) << key;
        EXPECT_EQ(key, frame->browserKeys.back());
        EXPECT_TRUE(frame->focusedAtKey.back()) << key;
    }
}

TEST_F(Viewer, ClickShows100PercentCentredOnTheClickedPixelAndClickFitsAgain) {
    BrowserFrame* frame = OpenGradient();
    ASSERT_NE(frame, nullptr);
    Capture actual = Send(frame, "click@80,80");  // picture pixel (128, 128)
    RECT client;
    GetClientRect(frame->instances[0]->window, &client);
    ASSERT_LT(client.right, 200);  // scroll bars came
    ExpectPicturePixel(actual, client.right / 2, client.bottom / 2, 128, 128);
    ExpectPicturePixel(actual, client.right / 2 + 30, client.bottom / 2 + 20, 158, 148);
    Capture fitted = Send(frame, "click@10,10");
    ExpectPicturePixel(fitted, 150, 100, 240, 160);
}

TEST_F(Viewer, CtrlWheelZoomsAboutThePointerAndDragPans) {
    BrowserFrame* frame = OpenGradient();
    ASSERT_NE(frame, nullptr);
    // 0.78125 device pixels per picture pixel, picture pixel (64, 192) kept
    // under the pointer.
    Capture zoomed = Send(frame, "ctrl+wheel-up@40,120");
    ExpectPicturePixel(zoomed, 40, 120, 64, 192);
    ExpectPicturePixel(zoomed, 0, 0, 13, 38);
    // Fitted again, then 100 % about the middle: picture pixel (160, 128)
    // stays at (100, 80).
    Capture back = Send(frame, "ctrl+wheel-down@40,120 1");
    ExpectPicturePixel(back, 100, 70, 160, 118);
    Capture panned = Send(frame, "drag@100,70-120,40");
    ExpectPicturePixel(panned, 100, 70, 140, 148);
    // Three lines of 40 pixels a notch: down to the bottom edge, and left
    // to the left one.
    Capture scrolled = Send(frame, "wheel-down shift+wheel-up");
    RECT client;
    GetClientRect(frame->instances[0]->window, &client);
    ExpectPicturePixel(scrolled, 100, 70, 100, 256 - client.bottom + 70);
}

// 1 when row y of the capture, from x0 to x1, alternates between the two
// grey levels of one tile's one-pixel stripes.
bool ShowsStripes(const Capture& capture, int y, int x0, int x1, uint32_t even, uint32_t odd) {
    for (int x = x0; x < x1; ++x) {
        uint32_t here = capture.At(x, y), next = capture.At(x + 1, y);
        if ((here != even * 0x010101u && here != odd * 0x010101u) || here == next) {
            return false;
        }
    }
    return true;
}

// 50,000 x 50,000 is past the sample cap: fitted, the picture is its 1/8
// level, where the one-pixel stripes of each 2048-pixel tile average to one
// grey. At 100 % the part in view is decoded at full resolution wherever it
// lies, so the stripes of the tile clicked on show (tile (c, r) is mosaic
// tile (c + 2r) mod 4, stripes 40 + 50k and 40 levels lighter).
TEST_F(Viewer, AnyPartOfAPicturePastTheCapShowsAtFullResolution) {
    BrowserFrame* frame = Open(FixturePath("striped50000.j2k"), 400, 300);
    ASSERT_NE(frame, nullptr);
    // The whole picture first (a grey darker than the status box's white).
    Capture fitted = CaptureClient(frame->window);
    for (DWORD start = GetTickCount(); (fitted.At(290, 150) & 0xFF) > 0xE0 && GetTickCount() - start < 60000;) {
        WaitUntilQuiet(200, 1000);
        fitted = CaptureClient(frame->window);
    }
    // A preview may come first; clicks wait for the picture itself.
    WaitUntilQuiet(1000, 30000);
    struct Case {
        int column, row;
        uint32_t even, odd;
        const char* then;  // more inputs once the part shows
    } cases[] = {
        // Then panned past the part decoded with its margin: the new part shows.
        {16, 12, 40, 80, "drag@300,150-20,150"},
        {5, 20, 90, 130, nullptr},
        {7, 24, 190, 230, nullptr},  // the last row, cut short: the view stops at its bottom
    };
    // Fitted into 300 x 300: 0.006 device pixels per picture pixel.
    for (const Case& c : cases) {
        int x = (int)((c.column * 2048 + 1024) * 0.006 + 0.5);
        int y = (int)((c.row * 2048 + 1024) * 0.006 + 0.5);
        std::string click = "0 click@" + std::to_string(x) + "," + std::to_string(y);
        for (const char* inputs : {click.c_str(), c.then}) {
            if (!inputs) {
                continue;
            }
            Capture shown = Send(frame, inputs);
            for (DWORD start = GetTickCount(); !ShowsStripes(shown, shown.height / 2, 20, shown.width - 40, c.even, c.odd) &&
                                               GetTickCount() - start < 60000;) {
                WaitUntilQuiet(200, 1000);
                shown = CaptureClient(frame->window);
            }
            EXPECT_TRUE(ShowsStripes(shown, shown.height / 2, 20, shown.width - 40, c.even, c.odd))
                << "tile " << c.column << "," << c.row << " after " << inputs << ": " << std::hex
                << shown.At(shown.width / 2, shown.height / 2);
        }
    }
}

// The width of the dark pixels of the status box's texts (a file that is
// not a picture), inside its outline.
int InkWidth(const Capture& capture) {
    int left = capture.width, right = -1;
    for (int y = 3; y < capture.height / 2; ++y) {
        for (int x = 3; x < capture.width - 3; ++x) {
            if ((capture.At(x, y) & 0xFF) < 0x60) {
                left = x < left ? x : left;
                right = x > right ? x : right;
            }
        }
    }
    return right - left;
}

TEST_F(Viewer, ScreenScaleDrawsCssPixelsAndScaledTexts) {
    // The scale changes once the window is attached: told by the browser, or
    // the window moved to a screen of another DPI (the browser's answer is
    // read again then).
    const struct {
        const char* how;
        void (*change)(BrowserFrame* frame);
    } changes[] = {
        {"told", [](BrowserFrame* frame) { RescaleFrame(frame, 1.5); }},
        {"DPI changed",
         [](BrowserFrame* frame) {
             frame->browser->contentsScale = 1.5;
             SendMessageA(frame->instances[0]->window, 0x02E3 /* WM_DPICHANGED_AFTERPARENT */, 0, 0);
         }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.how);
        browser.contentsScale = 0;
        BrowserFrame* small = Open(FixturePath("quad.jp2"), 300, 200);  // 64 x 48
        Capture atOne = CaptureClient(small->window);
        for (int wait = 0; atOne.At(70, 46) != 0x808080u && wait < 50; ++wait) {  // the status box first
            WaitUntilQuiet(100, 1000);
            atOne = CaptureClient(small->window);
        }
        EXPECT_EQ(0xFFFFFFu, atOne.At(62, 46));
        EXPECT_EQ(0x808080u, atOne.At(70, 46));
        change.change(small);
        WaitUntilQuiet(300, 5000);
        Capture rescaled = CaptureClient(small->window);
        EXPECT_EQ(0xFFFFFFu, rescaled.At(94, 70));
        EXPECT_EQ(0x808080u, rescaled.At(98, 70));
        CloseFrame(small);
    }

    browser.contentsScale = 1.0;
    BrowserFrame* text = Open(FixturePath("garbage.j2k"), 400, 200);
    int widthAtOne = InkWidth(CaptureClient(text->window));
    CloseFrame(text);
    browser.contentsScale = 1.5;
    text = Open(FixturePath("garbage.j2k"), 400, 200);
    int widthAtOneAndAHalf = InkWidth(CaptureClient(text->window));
    ASSERT_GT(widthAtOne, 20);
    EXPECT_NEAR(1.5, (double)widthAtOneAndAHalf / widthAtOne, 0.15);
}

}  // namespace
