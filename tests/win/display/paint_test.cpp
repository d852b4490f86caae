// The window procedure under Wine: the three drawing rules and the gray
// background read back from the screen, the status box in each state, the
// cursor and the link click, and ComputeFitSize's arithmetic.
#include <gtest/gtest.h>

#include <functional>

#include "decode/jpeg2000.h"
#include "display_support.h"
#include "window/display.h"

namespace {

const uint32_t Red = 0xFF0000, Green = 0x00FF00, Blue = 0x0000FF, White = 0xFFFFFF, Gray = 0x808080;

struct FitCase {
    int32_t clientWidth, clientHeight, imageWidth, imageHeight, width, height;
};

TEST(ComputeFitSize, ShrinksKeepingAspectAndNeverEnlarges) {
    const FitCase cases[] = {
        {400, 400, 800, 600, 400, 300},  // narrower than the image
        {400, 400, 300, 900, 133, 400},  // height-limited
        {400, 200, 800, 400, 400, 200},  // tie goes to the second branch
        {400, 400, 100, 50, 100, 50},    // fits: own size
        {0, 0, 800, 600, 0, 0},          // no client area yet
        {30000, 30000, 200000, 10, 30000, 1},  // products past 2^31
        {400, 400, 0, 0, 0, 0},          // no image size: nothing to divide by
    };
    for (const FitCase& c : cases) {
        int32_t width = -1, height = -1;
        ComputeFitSize(&width, &height, c.clientWidth, c.clientHeight, c.imageWidth, c.imageHeight);
        EXPECT_EQ(c.width, width) << c.clientWidth << "x" << c.clientHeight << " " << c.imageWidth;
        EXPECT_EQ(c.height, height) << c.clientWidth << "x" << c.clientHeight << " " << c.imageWidth;
    }
    int32_t width = 7;
    ComputeFitSize(&width, NULL, 10, 10, 5, 5);
    EXPECT_EQ(0, width);
}

TEST(DrawingRules, EmbeddedStretchesToTheWholeClientArea) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 200, 100, NP_EMBED, "quad.j2k"));
    Capture capture = CaptureWindow(element.window);
    EXPECT_EQ(Red, capture.At(5, 5));
    EXPECT_EQ(Green, capture.At(195, 5));
    EXPECT_EQ(Blue, capture.At(5, 95));
    EXPECT_EQ(White, capture.At(195, 95));
    EXPECT_EQ(Red, capture.At(98, 48));
    EXPECT_EQ(White, capture.At(102, 52));
    DestroyElement(&element);
}

TEST(DrawingRules, FullPageFitDrawsAtTopLeftOverGray) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 300, 200, NP_FULL, "quad.jp2"));
    Capture small = CaptureWindow(element.window);  // 64x48 fits: own size
    EXPECT_EQ(Red, small.At(0, 0));
    EXPECT_EQ(White, small.At(63, 47));
    EXPECT_EQ(Gray, small.At(64, 10));
    EXPECT_EQ(Gray, small.At(10, 48));
    EXPECT_EQ(Gray, small.At(299, 199));

    // Shrunk to a 32-pixel-wide client: 32 x 24, aspect kept.
    SetWindowPos(element.window, NULL, 0, 0, 32, 100, SWP_NOMOVE | SWP_NOZORDER);
    Capture fitted = RepaintAndCapture(element.window);
    EXPECT_EQ(32, RecordOf(&element)->scroll.clientWidth);
    EXPECT_EQ(Red, fitted.At(0, 0));
    EXPECT_EQ(White, fitted.At(31, 23));
    EXPECT_EQ(Blue, fitted.At(0, 23));
    EXPECT_EQ(Gray, fitted.At(10, 24));
    DestroyElement(&element);
}

TEST(DrawingRules, FullPageOwnSizeAppliesTheScrollOrigin) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 100, 80, NP_FULL, "gradient.jp2"));
    PluginInstance* record = RecordOf(&element);
    record->scroll.fixedScale = 1;
    record->scroll.active = 1;
    record->scroll.x = 120;
    record->scroll.y = 40;
    // Fitted, it showed a smaller level; at its own size the full one comes.
    RepaintAndCapture(element.window);
    ASSERT_TRUE(WaitForDecode(&element));
    Capture capture = RepaintAndCapture(element.window);
    EXPECT_EQ(0x782880u, capture.At(0, 0));      // image pixel (120, 40)
    EXPECT_EQ(0x7A2B80u, capture.At(2, 3));      // image pixel (122, 43)
    DestroyElement(&element);
}

struct StatusCase {
    const char* name;
    int32_t loadState;
    int32_t decodeError;
    int32_t decoding;
    const char* english;
    const char* japanese;
    int32_t failureReason;
    const wchar_t* englishReason;  // the second line after a failure
    const wchar_t* japaneseReason;
};

// The Japanese run must really be Japanese, or it would only repeat the
// English checks.
TEST(StatusBox, RunsInTheLanguageItWasBuiltFor) {
    StartPlugin();
    EXPECT_EQ(EXPECT_JAPANESE_UI, IsJapaneseUi() ? 1 : 0);
}

TEST(StatusBox, ShowsTheTextOfEachState) {
    const char* error = "Plug-in's Error";
    const char* errorJa = "プラグインがエラーを起こしました。";
    const StatusCase cases[] = {
        {"waiting", 0, 0, 0, "JPEG 2000 plug-in waiting for image... Please wait.",
         "画像を待っています…少々お待ちください。", 0, nullptr, nullptr},
        {"ended, waiting its turn", LoadStateEnded, 0, 0, "JPEG 2000 image loading... Please wait.",
         "画像をロード中…少々お待ちください。", 0, nullptr, nullptr},
        {"decoding", LoadStateEnded, 0, 1, "JPEG 2000 image decoding... Please wait.", "画像をデコード中…少々お待ちください。", 0,
         nullptr, nullptr},
        {"error wins", 0, 1, 0, error, errorJa, 0, L"cannot be decoded", L"デコードできません"},
        {"not JPEG 2000", LoadStateEnded, 1, 0, error, errorJa, DecodeFailureNotJpeg2000, L"not a JPEG 2000 file",
         L"JPEG 2000 ファイルではありません"},
        {"damaged", LoadStateEnded, 1, 1, error, errorJa, DecodeFailureCorrupt, L"damaged or truncated",
         L"ファイルが壊れているか、途中で切れています"},
        {"3-D", LoadStateEnded, 1, 0, error, errorJa, DecodeFailureKindNotDecoded,
         L"a kind of JPEG 2000 file this plug-in does not show (3-D)",
         L"このプラグインが表示しない種類の JPEG 2000 ファイルです (3次元)"},
        {"too large", LoadStateEnded, 1, 0, error, errorJa, DecodeFailureTooLarge, L"too large for this plug-in",
         L"このプラグインには大きすぎます"},
        {"memory", LoadStateEnded, 1, 0, error, errorJa, DecodeFailureOutOfMemory, L"out of memory", L"メモリが不足しています"},
        {"interrupted", LoadStateEnded, 1, 0, error, errorJa, FailureInterrupted, L"the download was interrupted",
         L"ダウンロードが中断されました"},
    };
    Element element;
    CreateElement(&element, 160, 60, NP_EMBED, {});
    std::vector<uint32_t> previous;
    for (const StatusCase& c : cases) {
        RecordOf(&element)->reception.loadState = c.loadState;
        RecordOf(&element)->picture.decodeError = c.decodeError;
        RecordOf(&element)->picture.failureReason = c.failureReason;
        RecordOf(&element)->queue.decoding = c.decoding;
        Capture shown = RepaintAndCapture(element.window);
        const wchar_t* reason = c.englishReason ? ExpectedText(c.englishReason, c.japaneseReason) : nullptr;
        Capture expected = RenderStatusBox(160, 60, ExpectedText(c.english, c.japanese), reason);
        EXPECT_EQ(expected.pixels, shown.pixels) << c.name;
        EXPECT_EQ(0u, shown.At(0, 0)) << c.name;             // black outline
        EXPECT_EQ(White, shown.At(158, 58)) << c.name;       // white fill
    }
    // The three texts differ from one another on screen.
    EXPECT_NE(RenderStatusBox(160, 60, "a").pixels, RenderStatusBox(160, 60, "b").pixels);
    DestroyElement(&element);
}

// The first row inside the box's outline that the bar's frame fills from
// side to side; -1 when there is none.
int FindBarTop(const Capture& shown, int width) {
    for (int y = 2; y < shown.height - 2; ++y) {
        int x = 2;
        while (x < width - 2 && shown.At(x, y) == 0u) {
            ++x;
        }
        if (x == width - 2) {
            return y;
        }
    }
    return -1;
}

// While the file arrives: the loading text, under it a bar filled by the
// share received of the announced length (none without one), and the bytes.
TEST(StatusBox, ProgressWhileTheFileArrives) {
    const int Width = 300;
    struct Case {
        int32_t announced;
        int32_t received;
        int barShown;
        int filledPercent;
    } cases[] = {
        {4823449, 1258291, 1, 26},  // "1.2 MB of 4.6 MB"
        {1000, 1000, 1, 100},
        {0, 500000, 0, 0},          // no length announced: the bytes alone
    };
    Element element;
    CreateElement(&element, Width, 120, NP_EMBED, {});
    PluginInstance* record = RecordOf(&element);
    record->reception.loadState = LoadStateEnded;
    Capture ended = RepaintAndCapture(element.window);
    std::vector<std::vector<uint32_t>> bytesLines;
    for (const Case& c : cases) {
        record->reception.loadState = LoadStateReceiving;
        record->reception.announcedLength = c.announced;
        record->reception.store.length = (uint32_t)c.received;
        Capture shown = RepaintAndCapture(element.window);
        int barTop = FindBarTop(shown, Width);
        ASSERT_EQ(c.barShown, barTop > 0) << c.received;
        int textBottom = c.barShown ? barTop : 20;
        // The loading text above is the one shown once the stream has ended.
        for (int y = 0; y < textBottom; ++y) {
            for (int x = 0; x < Width; ++x) {
                ASSERT_EQ(ended.At(x, y), shown.At(x, y)) << x << "," << y;
            }
        }
        if (c.barShown) {
            int inside = Width - 6;
            int filledTo = 3 + inside * c.filledPercent / 100;
            EXPECT_EQ(0u, shown.At(2, barTop + 3)) << c.received;  // the frame
            EXPECT_NE(White, shown.At(3, barTop + 3)) << c.received;
            EXPECT_NE(White, shown.At(filledTo - 2, barTop + 3)) << c.received;
            if (c.filledPercent < 100) {
                EXPECT_EQ(White, shown.At(filledTo + 2, barTop + 3)) << c.received;
            }
        }
        std::vector<uint32_t> below;
        for (int y = textBottom + 14; y < shown.height; ++y) {
            for (int x = 0; x < Width; ++x) {
                below.push_back(shown.At(x, y));
            }
        }
        bytesLines.push_back(below);
    }
    // The bytes line is there and says something different for each amount.
    EXPECT_NE(bytesLines[0], bytesLines[1]);
    record->reception.loadState = LoadStateEnded;
    InvalidateRect(element.window, NULL, TRUE);
    EXPECT_EQ(ended.pixels, CaptureWindow(element.window).pixels);
    DestroyElement(&element);
}

TEST(Cursor, LinkCursorOverClientAreaOnlyWithHref) {
    Element linked;
    CreateElement(&linked, 50, 50, NP_EMBED, {{"href", "http://example.com/"}});
    Element plain;
    CreateElement(&plain, 50, 50, NP_EMBED, {});
    LRESULT handled = SendMessageA(linked.window, WM_SETCURSOR, (WPARAM)linked.window, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(1, handled);
    EXPECT_EQ(RecordOf(&linked)->element.linkCursor, GetCursor());
    EXPECT_NE((HCURSOR)NULL, GetCursor());
    SendMessageA(plain.window, WM_SETCURSOR, (WPARAM)plain.window, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(LoadCursorA(NULL, IDC_ARROW), GetCursor());

    PassedOnMessages.clear();
    SendMessageA(linked.window, WM_SETCURSOR, (WPARAM)linked.window, MAKELPARAM(HTBORDER, WM_MOUSEMOVE));
    ASSERT_EQ(1u, PassedOnMessages.size());
    EXPECT_EQ((UINT)WM_SETCURSOR, PassedOnMessages[0]);
    DestroyElement(&linked);
    DestroyElement(&plain);
}

TEST(Cursor, ChosenByTheUserAgentsFirstNineCharacters) {
    struct AgentCase {
        const char* agent;
        int microsoft;
    };
    const AgentCase cases[] = {
        {"Microsoft Internet Explorer", 1},
        {"Microsoft", 1},
        {"Mozilla/4.0 (compatible; Microsoft)", 0},
        {"microsoft Internet Explorer", 0},
        {"Microsof", 0},
        {"", 0},
    };
    for (const AgentCase& c : cases) {
        Browser.userAgent = c.agent;
        Element element;
        CreateElement(&element, 20, 20, NP_EMBED, {});
        EXPECT_EQ(c.microsoft ? LinkCursorMicrosoft : LinkCursorOther, RecordOf(&element)->element.linkCursor)
            << c.agent;
        DestroyElement(&element);
    }
    EXPECT_NE(LinkCursorMicrosoft, LinkCursorOther);
    Browser.userAgent = StandInUserAgent;
}

TEST(LinkClick, OpensHrefInTargetAndIsNeverPassedOn) {
    Element linked;
    CreateElement(&linked, 50, 50, NP_EMBED, {{"HREF", "next.html"}, {"Target", "_blank"}});
    Element plain;
    CreateElement(&plain, 50, 50, NP_EMBED, {{"target", "_top"}});
    Browser.urls.clear();
    Browser.targets.clear();
    PassedOnMessages.clear();
    // A release alone is no click; the link is followed when the button
    // comes up after going down on it.
    SendMessageA(linked.window, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_EQ((UINT)WM_LBUTTONUP, PassedOnMessages.back());
    for (HWND window : {linked.window, plain.window}) {
        size_t before = Browser.urls.size();
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
        EXPECT_EQ(before, Browser.urls.size());
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    }
    ASSERT_EQ(1u, Browser.urls.size());
    EXPECT_EQ("next.html", Browser.urls[0]);
    EXPECT_EQ("_blank", Browser.targets[0]);
    for (UINT message : PassedOnMessages) {
        EXPECT_NE((UINT)WM_LBUTTONDOWN, message);
    }
    EXPECT_EQ((UINT)WM_LBUTTONUP, PassedOnMessages.back());  // the plain element's
    DestroyElement(&linked);
    DestroyElement(&plain);
}

// A link press that ends anywhere but over the element leaves nothing armed:
// a later release over it is no click.
TEST(LinkClick, PressEndedOutsideTheElementIsNotFollowedLater) {
    Element linked;
    CreateElement(&linked, 50, 50, NP_EMBED, {{"href", "next.html"}});
    HWND other = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    const struct {
        const char* how;
        std::function<void()> end;
    } rows[] = {
        {"released outside", [&] { SendMessageA(linked.window, WM_LBUTTONUP, 0, MAKELPARAM(80, 20)); }},
        {"released left of it", [&] { SendMessageA(linked.window, WM_LBUTTONUP, 0, MAKELPARAM(-5, 20)); }},
        {"pointer taken", [&] { SetCapture(other); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        Browser.urls.clear();
        SendMessageA(linked.window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
        EXPECT_EQ(linked.window, GetCapture());
        row.end();
        ReleaseCapture();
        SendMessageA(linked.window, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
        EXPECT_TRUE(Browser.urls.empty());
    }
    DestroyWindow(other);
    DestroyElement(&linked);
}

TEST(Attributes, AnyLetterCaseLaterWinsAndLongValuesAreCut) {
    std::string longHref(1500, 'h');
    std::string longTarget(300, 't');
    Element element;
    CreateElement(&element, 20, 20, NP_EMBED,
                  {{"src", "a.jp2"}, {"hReF", "first"}, {"TARGET", "one"}, {"Href", longHref},
                   {"target", longTarget}, {"width", "20"}});
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(1, record->element.hasLink);
    EXPECT_EQ(longHref.substr(0, 1023), std::string(record->element.href));
    EXPECT_EQ(longTarget.substr(0, 255), std::string(record->element.target));
    DestroyElement(&element);

    Element empty;
    CreateElement(&empty, 20, 20, NP_FULL, {{"href", ""}, {"hrefx", "no"}});
    EXPECT_EQ(1, RecordOf(&empty)->element.hasLink);
    EXPECT_STREQ("", RecordOf(&empty)->element.href);
    EXPECT_STREQ("_self", RecordOf(&empty)->element.target);
    EXPECT_EQ(NP_FULL, RecordOf(&empty)->element.mode);
    EXPECT_EQ(0, RecordOf(&empty)->scroll.fixedScale);
    EXPECT_EQ(255, RecordOf(&empty)->picture.fileKind);
    DestroyElement(&empty);
}

TEST(SetWindow, SameNewAndNullHandles) {
    Element element;
    CreateElement(&element, 80, 40, NP_EMBED, {});
    PluginInstance* record = RecordOf(&element);
    WNDPROC browserProc = record->window.prevWndProc;
    ASSERT_NE((WNDPROC)NULL, browserProc);
    EXPECT_EQ((LONG_PTR)(void*)&PluginWindowProc, GetWindowLongPtrA(element.window, GWLP_WNDPROC));
    EXPECT_EQ(record, GetPropA(element.window, "pdata"));
    EXPECT_EQ(80, record->scroll.clientWidth);

    // Same handle: only a repaint, no second subclassing.
    ValidateRect(element.window, NULL);
    EXPECT_EQ(NPERR_NO_ERROR, NPP_SetWindow(&element.npp, &element.npWindow));
    EXPECT_EQ(browserProc, record->window.prevWndProc);
    RECT dirty;
    EXPECT_TRUE(GetUpdateRect(element.window, &dirty, FALSE));

    // A new handle: the first window gets its procedure back.
    HWND second = CreateChildWindow(element.frame, 60, 30);
    NPWindow secondWindow = element.npWindow;
    secondWindow.window = second;
    EXPECT_EQ(NPERR_NO_ERROR, NPP_SetWindow(&element.npp, &secondWindow));
    EXPECT_EQ((LONG_PTR)(void*)browserProc, GetWindowLongPtrA(element.window, GWLP_WNDPROC));
    EXPECT_EQ((LONG_PTR)(void*)&PluginWindowProc, GetWindowLongPtrA(second, GWLP_WNDPROC));
    EXPECT_EQ(second, record->window.hwnd);
    EXPECT_EQ(60, record->scroll.clientWidth);
    EXPECT_EQ(NULL, GetPropA(element.window, "pdata"));

    // Null: detached; a later handle attaches afresh and paints the box.
    EXPECT_EQ(NPERR_NO_ERROR, NPP_SetWindow(&element.npp, NULL));
    EXPECT_EQ(NULL, record->window.hwnd);
    EXPECT_EQ((LONG_PTR)(void*)browserProc, GetWindowLongPtrA(second, GWLP_WNDPROC));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_SetWindow(&element.npp, &element.npWindow));
    Capture capture = CaptureWindow(element.window);
    EXPECT_EQ(0u, capture.At(0, 0));
    EXPECT_EQ(White, capture.At(78, 38));
    DestroyWindow(second);
    DestroyElement(&element);
}

TEST(Lifecycle, NullArgumentsAndBareDestroy) {
    StartPlugin();
    char mime[] = "image/jp2";
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, NPP_New(mime, NULL, NP_EMBED, 0, NULL, NULL, NULL));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, NPP_Destroy(NULL, NULL));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, NPP_SetWindow(NULL, NULL));
    NPP_t npp = {};
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, NPP_Destroy(&npp, NULL));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, NPP_SetWindow(&npp, NULL));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_New(mime, &npp, NP_EMBED, 0, NULL, NULL, NULL));
    ASSERT_NE(nullptr, npp.pdata);
    EXPECT_EQ(NPERR_NO_ERROR, NPP_Destroy(&npp, NULL));
    EXPECT_EQ(nullptr, npp.pdata);
}

TEST(WindowProc, WindowWithoutRecordGetsDefaultProcessing) {
    StartPlugin();
    HWND window = CreateWindowExA(0, "STATIC", "x", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)(void*)&PluginWindowProc);
    Browser.urls.clear();
    EXPECT_EQ(0, SendMessageA(window, WM_LBUTTONDOWN, 0, 0));
    EXPECT_TRUE(Browser.urls.empty());
    DestroyWindow(window);
}

}  // namespace
