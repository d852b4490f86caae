// The test browser end to end through npkavrel.dll: pages of embedded images,
// full pages, stream delivery options, link navigation (_self, _blank, remote
// URLs), resizing and printing, all read back as pixels; and what only the
// UXP hosts do: late streams broken off, their subclass on top at detach,
// backgrounding, idle shutdown; pictures shown while they arrive.
#include <stdio.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "browser_suite.h"
#include "fixture_path.h"
#include "pixel_capture.h"
#include "test_files.h"

namespace {

const uint32_t Red = 0xFF0000, Green = 0x00FF00, Blue = 0x0000FF, White = 0xFFFFFF, Gray = 0x808080;

Capture ReadFrame(BrowserFrame* frame) { return CaptureClient(frame->window); }

// The .bmp files the browser writes: 24-bit, bottom-up.
Capture ReadBmp(const std::string& path) {
    Capture pixels = {0, 0, {}};
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        return pixels;
    }
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER info;
    if (fread(&fileHeader, sizeof fileHeader, 1, file) == 1 && fread(&info, sizeof info, 1, file) == 1 &&
        info.biBitCount == 24) {
        int stride = (info.biWidth * 3 + 3) & ~3;
        std::vector<uint8_t> rows((size_t)stride * info.biHeight);
        if (fread(rows.data(), rows.size(), 1, file) == 1) {
            pixels.width = info.biWidth;
            pixels.height = info.biHeight;
            for (int y = 0; y < info.biHeight; ++y) {
                const uint8_t* row = rows.data() + (size_t)(info.biHeight - 1 - y) * stride;
                for (int x = 0; x < info.biWidth; ++x) {
                    pixels.pixels.push_back((uint32_t)row[3 * x + 2] << 16 | row[3 * x + 1] << 8 | row[3 * x]);
                }
            }
        }
    }
    fclose(file);
    return pixels;
}

void WritePage(const char* name, const std::string& body) {
    ASSERT_TRUE(WriteFileText(FixturePath(name), "<html><body>" + body + "</body></html>"));
}

// A 1000 x 1000 picture (about 480 KB) arriving in blocks of 32 KiB, each
// followed by a pause, into a 200 x 200 element (plain host only: it
// streams at once). Half way is 0.7 s after the first picture may start, a
// margin for a loaded machine.
StreamOptions SlowDelivery() {
    StreamOptions slow = DefaultStreamOptions();
    slow.blockSize = 32768;
    slow.blockDelayMs = 100;
    return slow;
}
const RECT ArrivingElement = {8, 8, 208, 208};

typedef BrowserSuite BrowserTest;

TEST_F(BrowserTest, PageLaysOutEveryEmbedAndPassesItsAttributes) {
    WritePage("page.html",
              "<EMBED src=quad.j2k width=200 height=100>"
              "<embed SRC='gradient.jp2' WIDTH=\"256\" height=\"256\" data-x=1 hidden>"
              "<embed src=\"quad.jp2\" width=\"64\" height=\"48\" Href=\"quad.jp2\" TARGET=\"_self\">"
              "<embed src=\"missing.j2k\" width=\"160\" height=\"60\">");
    BrowserFrame* frame = Open(FixturePath("page.html"), 800, 400);
    ASSERT_EQ(4u, frame->instances.size());
    EXPECT_EQ(0, frame->fullPage);
    const AttributeList& second = frame->instances[1]->element.attributes;
    ASSERT_EQ(5u, second.size());
    EXPECT_EQ("SRC", second[0].first);
    EXPECT_EQ("WIDTH", second[1].first);
    EXPECT_EQ("256", second[1].second);
    EXPECT_EQ("data-x", second[3].first);
    EXPECT_EQ("hidden", second[4].first);
    EXPECT_EQ("", second[4].second);

    Capture page = ReadFrame(frame);
    // Flow layout: 8-pixel margins, one row.
    EXPECT_EQ(Red, page.At(8 + 5, 8 + 5));        // quad stretched to 200x100
    EXPECT_EQ(White, page.At(8 + 195, 8 + 95));
    EXPECT_EQ(Green, page.At(8 + 195, 8 + 5));
    EXPECT_EQ(0x102080u, page.At(216 + 16, 8 + 32));  // gradient at (16, 32)
    EXPECT_EQ(Blue, page.At(480 + 2, 8 + 46));        // quad.jp2 64x48
    EXPECT_EQ(White, page.At(8 + 205, 8 + 5));        // page background between
    // No file: the instance waits; its box is outlined in black.
    EXPECT_EQ(0u, page.At(552, 8));
    EXPECT_EQ(White, page.At(552 + 150, 8 + 50));
}

TEST_F(BrowserTest, SamplePageShowsAllFourImages) {
    BrowserFrame* frame = Open(SAMPLE_DIR "/four.html", 800, 600);
    ASSERT_EQ(4u, frame->instances.size());
    Capture page = ReadFrame(frame);
    for (PageInstance* instance : frame->instances) {
        // The sample's sky is pink at the top and its hills green at the
        // bottom; the status box would be white with black text.
        int x = instance->npWindow.x + (int)instance->npWindow.width / 2;
        uint32_t sky = page.At(x, instance->npWindow.y + 3);
        uint32_t hill = page.At(x, instance->npWindow.y + (int)instance->npWindow.height - 3);
        EXPECT_GT((int)(sky >> 16), (int)(sky >> 8 & 255) + 60) << instance->npWindow.x;
        EXPECT_GT((int)(hill >> 8 & 255), (int)(hill >> 16) + 40) << instance->npWindow.x;
    }
}

// Where the four flat quadrants of a tiled fixture fall in each element
// (stretched to its box), and the level each should show.
struct QuadrantPoint {
    PageInstance* instance;
    int x;
    int y;
    uint32_t level;
};

std::vector<QuadrantPoint> QuadrantPoints(BrowserFrame* frame, const uint32_t levels[4]) {
    std::vector<QuadrantPoint> points;
    for (PageInstance* instance : frame->instances) {
        int left = instance->npWindow.x, top = instance->npWindow.y;
        int right = left + (int)instance->npWindow.width - 3, bottom = top + (int)instance->npWindow.height - 3;
        const int xs[4] = {left + 2, right, left + 2, right};
        const int ys[4] = {top + 2, top + 2, bottom, bottom};
        for (int q = 0; q < 4; ++q) {
            points.push_back(QuadrantPoint{instance, xs[q], ys[q], levels[q]});
        }
    }
    return points;
}

// Serves the page until every element shows its quadrants (a busy machine
// can starve the decodes long enough to look quiet), then checks them.
void ExpectQuadrantsInEveryElement(BrowserFrame* frame, const uint32_t levels[4]) {
    std::vector<QuadrantPoint> points = QuadrantPoints(frame, levels);
    DWORD start = GetTickCount();
    Capture page = ReadFrame(frame);
    for (;;) {
        size_t shown = 0;
        while (shown < points.size() && page.At(points[shown].x, points[shown].y) == points[shown].level) {
            ++shown;
        }
        if (shown == points.size() || GetTickCount() - start > 120000) {
            break;
        }
        WaitUntilQuiet(200, 1000);
        page = ReadFrame(frame);
    }
    for (const QuadrantPoint& point : points) {
        EXPECT_EQ(point.level, page.At(point.x, point.y))
            << point.instance->element.attributes[0].second << " at " << point.x << "," << point.y;
    }
}

const uint32_t ColourQuadrants[4] = {Red, Green, Blue, White};

// Crowded pages: every decode waits its turn, so no picture runs out of the
// 32-bit address space and every element shows its picture.
TEST_F(BrowserTest, EveryPictureOfACrowdedPageShows) {
    struct Gallery {
        const char* file;
        int count;
        int side;
    } galleries[] = {{"gallery4000.j2k", 12, 90}, {"gallery2000.j2k", 40, 60}};
    for (const Gallery& g : galleries) {
        std::string body;
        char embed[128];
        for (int i = 0; i < g.count; ++i) {
            snprintf(embed, sizeof embed, "<embed src=%s width=%d height=%d id=%d>", g.file, g.side, g.side, i);
            body += embed;
        }
        WritePage("gallery.html", body);
        BrowserFrame* frame = OpenFrame(&browser, FixturePath("gallery.html"), 800, 600, DefaultStreamOptions());
        ASSERT_NE(nullptr, frame);
        ASSERT_EQ((size_t)g.count, frame->instances.size());
        ExpectQuadrantsInEveryElement(frame, ColourQuadrants);
        CloseFrame(frame);
    }
}

// 12000 x 12000 grey is past the 2^27-sample cap: the picture is shown at
// the largest reduced resolution within it, embedded and as a fitted full
// page.
TEST_F(BrowserTest, PicturePastTheCapShowsAtTheLargestScaleThatFits) {
    const uint32_t Greys[4] = {0x282828, 0x646464, 0xA0A0A0, 0xDCDCDC};
    WritePage("overcap.html", "<embed src=overcap.j2k width=120 height=120>");
    BrowserFrame* frame = OpenFrame(&browser, FixturePath("overcap.html"), 300, 200, DefaultStreamOptions());
    ASSERT_NE(nullptr, frame);
    ExpectQuadrantsInEveryElement(frame, Greys);
    CloseFrame(frame);

    frame = OpenFrame(&browser, FixturePath("overcap.j2k"), 300, 200, DefaultStreamOptions());
    ASSERT_NE(nullptr, frame);
    // Fitted: 6000 x 6000 drawn into the 200-pixel height.
    Capture fitted = ReadFrame(frame);
    for (DWORD start = GetTickCount(); fitted.At(197, 197) != Greys[3] && GetTickCount() - start < 120000;) {
        WaitUntilQuiet(200, 1000);
        fitted = ReadFrame(frame);
    }
    EXPECT_EQ(Greys[0], fitted.At(2, 2));
    EXPECT_EQ(Greys[3], fitted.At(197, 197));
    EXPECT_EQ(Gray, fitted.At(250, 100));
    CloseFrame(frame);
}

TEST_F(BrowserTest, FullPageFitsThenFollowsResize) {
    BrowserFrame* frame = Open(FixturePath("quad.jp2"), 300, 200);
    ASSERT_EQ(1u, frame->instances.size());
    EXPECT_EQ(1, frame->fullPage);
    Capture own = ReadFrame(frame);
    EXPECT_EQ(Red, own.At(0, 0));
    EXPECT_EQ(White, own.At(63, 47));
    EXPECT_EQ(Gray, own.At(64, 0));
    EXPECT_EQ(Gray, own.At(0, 48));
    ResizeFrame(frame, 300, 36);  // 64x48 fitted to a 36-pixel height: 48x36
    WaitUntilQuiet(200, 10000);
    Capture fitted = ReadFrame(frame);
    ASSERT_EQ(36, fitted.height);
    EXPECT_EQ(White, fitted.At(47, 35));
    EXPECT_EQ(Blue, fitted.At(0, 35));
    EXPECT_EQ(Red, fitted.At(0, 0));
    EXPECT_EQ(Gray, fitted.At(48, 10));
}

TEST_F(BrowserTest, YCbCrPhotographShowsAsItsReference) {
    std::string path = ConformancePath("file3.jp2");
    if (!FileExists(path)) GTEST_SKIP() << "conformance data absent: " << path;
    // sYCC with 4:2:0 chroma, 480 x 640: pixels of the suite's own picture
    // of it (jp2_3.tif), within its tolerance of 4 per channel.
    const struct {
        int x, y;
        uint32_t rgb;
    } probes[] = {{40, 30, 0x8FADC5},   {200, 100, 0x675B4B}, {384, 256, 0xB47A66}, {240, 400, 0xD5A785},
                  {450, 600, 0x7A7468}, {100, 480, 0x323641}, {10, 630, 0x25012F},  {470, 5, 0x8AA7B9}};
    BrowserFrame* frame = Open(path, 520, 700);
    Capture page = ReadFrame(frame);
    for (const auto& probe : probes) {
        uint32_t got = page.At(probe.x, probe.y);
        for (int shift : {16, 8, 0}) {
            EXPECT_NEAR((int)(probe.rgb >> shift & 255), (int)(got >> shift & 255), 4)
                << probe.x << "," << probe.y << " shift " << shift;
        }
    }
}

TEST_F(BrowserTest, DeliveryOrderLengthAndBlockSizeDoNotChangeThePicture) {
    struct Delivery {
        int32_t block;
        int announce;
        int order;
    };
    const Delivery deliveries[] = {{7, 0, StreamReversed}, {100, 1, StreamPairsSwapped}, {1, 0, StreamInOrder}};
    for (const Delivery& d : deliveries) {
        BrowserFrame* frame =
            Open(FixturePath("gradient.jp2"), 256, 256, StreamOptions{d.block, d.announce, d.order, NPRES_DONE, 0});
        Capture page = ReadFrame(frame);
        EXPECT_EQ(0x102080u, page.At(16, 32)) << d.block;
        EXPECT_EQ(0xFFFF80u, page.At(255, 255)) << d.block;
        CloseFrame(frame);
    }
}

// A broken stream keeps the picture of what arrived; with nothing
// decodable (only part of the header) it shows the status box.
TEST_F(BrowserTest, BrokenStreamShowsWhatArrivedElseTheStatusBox) {
    std::vector<uint8_t> quad = FileBytes(FixturePath("quad.j2k"));
    ASSERT_TRUE(WriteFileBytes(FixturePath("quad_head.j2k"), std::vector<uint8_t>(quad.begin(), quad.begin() + 60)));
    const struct {
        const char* file;
        bool picture;
    } cases[] = {{"quad_head.j2k", false}, {"quad.j2k", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        BrowserFrame* frame =
            Open(FixturePath(c.file), 200, 100, StreamOptions{100, 1, StreamInOrder, NPRES_NETWORK_ERR, 0});
        WaitUntilQuiet(300, 5000);
        Capture page = ReadFrame(frame);
        EXPECT_EQ(0u, page.At(0, 0));
        // Blue: the quadrant the reason's box leaves uncovered.
        EXPECT_EQ(c.picture, std::count(page.pixels.begin(), page.pixels.end(), Blue) > 0);
        if (!c.picture) EXPECT_EQ(White, page.At(190, 90));
        CloseFrame(frame);
    }
}

void Click(HWND window) {
    PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

TEST_F(BrowserTest, LinkClickFollowsSelfBlankAndRecordsRemote) {
    WritePage("links.html",
              "<embed src=quad.j2k width=64 height=48 HREF=gradient.jp2 target=_self>"
              "<embed src=quad.j2k width=64 height=48 href=\"file:quad.jp2\" target=_blank>"
              "<embed src=quad.j2k width=64 height=48 href=\"http://example.com/x.jp2\" target=_self>");
    BrowserFrame* frame = Open(FixturePath("links.html"), 400, 300);
    ASSERT_EQ(3u, frame->instances.size());
    HWND remote = frame->instances[2]->window;
    HWND blank = frame->instances[1]->window;
    HWND self = frame->instances[0]->window;

    Click(remote);
    WaitUntilQuiet(200, 10000);
    ASSERT_EQ(1, browser.urlRequestCount);
    EXPECT_STREQ("http://example.com/x.jp2", browser.urlRequests[0].url);
    EXPECT_STREQ("_self", browser.urlRequests[0].target);
    EXPECT_EQ(3u, frame->instances.size());

    Click(blank);
    WaitUntilQuiet(300, 20000);
    EXPECT_EQ(0, browser.popupsBlocked);
    ASSERT_EQ(2u, OpenFrames().size());
    EXPECT_EQ(1, OpenFrames()[1]->fullPage);
    EXPECT_EQ(Red, ReadFrame(OpenFrames()[1]).At(1, 1));

    Click(self);
    WaitUntilQuiet(300, 20000);
    ASSERT_EQ(3, browser.urlRequestCount);
    EXPECT_STREQ("gradient.jp2", browser.urlRequests[2].url);
    ASSERT_EQ(1u, frame->instances.size());
    EXPECT_EQ(1, frame->fullPage);
    EXPECT_EQ(0x102080u, ReadFrame(frame).At(16, 32));
}

// Out of process the host never prints a plug-in; in process it prints an
// embedded element twice with no window, and a full page after offering
// NP_FULL without a device context.
TEST_F(BrowserTest, PrintsAsTheHostDoes) {
    struct Case {
        const char* document;
        int width, height;
        int calls[3];  // by host: plain, in process, out of process
    };
    WritePage("print.html", "<embed src=quad.j2k width=120 height=60>");
    const Case cases[] = {{"print.html", 120, 60, {1, 2, 0}}, {"quad.jp2", 64, 48, {1, 3, 0}}};
    for (const Case& c : cases) {
        BrowserFrame* frame = Open(FixturePath(c.document), 120, 60);
        ASSERT_EQ(1u, frame->instances.size());
        std::string path = FixturePath("printed.bmp");
        browser.printCalls = 0;
        ASSERT_TRUE(PrintElementToFile(frame->instances[0], path));
        EXPECT_EQ(c.calls[browser.host], browser.printCalls) << c.document;
        Capture printed = ReadBmp(path);
        ASSERT_EQ(120, printed.width);
        bool drawn = browser.host != HostUxpOutOfProcess;
        EXPECT_EQ(drawn ? Red : White, printed.At(2, 2)) << c.document;
        EXPECT_EQ(drawn ? Blue : White, printed.At(2, c.height - 3)) << c.document;
        CloseFrame(frame);
    }
}

// An <object> passes its data as "SRC" and its <param> pairs after a
// "PARAM" entry whose value is null; the plug-in finds its link there.
TEST_F(BrowserTest, ObjectParametersReachThePlugin) {
    WritePage("object.html",
              "<object data=quad.j2k type=image/x-jpeg2000 width=64 height=48>"
              "<param name=href value=gradient.jp2><param name=target value=_self></object>");
    BrowserFrame* frame = Open(FixturePath("object.html"), 300, 200);
    ASSERT_EQ(1u, frame->instances.size());
    PageInstance* instance = frame->instances[0];
    if (Uxp()) {
        const std::vector<char*>& names = instance->argn;
        ASSERT_GE(names.size(), 8u);
        EXPECT_STREQ("SRC", names[4]);
        EXPECT_STREQ("PARAM", names[5]);
        EXPECT_EQ(nullptr, instance->argv[5]);
        EXPECT_EQ(browser.host == HostUxpOutOfProcess, names.back() == nullptr);
    }
    EXPECT_EQ(Red, ReadFrame(frame).At(8 + 1, 8 + 1));
    Click(instance->window);
    WaitUntilQuiet(300, 20000);
    ASSERT_EQ(1, browser.urlRequestCount);
    EXPECT_STREQ("gradient.jp2", browser.urlRequests[0].url);
}

// The page goes away while blocks are still coming: the open stream ends
// with NPRES_USER_BREAK before NPP_Destroy, and nothing is left running.
TEST_F(BrowserTest, DestroyWithBlocksPending) {
    if (!Uxp()) GTEST_SKIP() << "plain mode delivers the whole file at once";
    StreamOptions slow = {64, 0, StreamInOrder, NPRES_DONE, 0};
    BrowserFrame* frame = OpenFrame(&browser, FixturePath("gradient.jp2"), 256, 256, slow);
    ASSERT_NE(nullptr, frame);
    PageInstance* instance = frame->instances[0];
    MSG message;  // one message at a time: each block is one
    for (DWORD start = GetTickCount(); instance->bytesDelivered == 0 && GetTickCount() - start < 5000;) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    ASSERT_EQ(StreamOpen, instance->stream.state);
    EXPECT_GT((int)instance->stream.stream.end, 0);  // grows with what arrived
    EXPECT_LT((int)instance->stream.stream.end, (int)instance->stream.bytes.size());
    DestroyInstance(instance);
    EXPECT_EQ(NPRES_USER_BREAK, instance->stream.endReason);
    EXPECT_EQ(0, PendingStreams());
    EXPECT_EQ(nullptr, instance->npp.pdata);
}

// After NPP_Destroy the host's subclass must still be on top, and the
// window must keep working for the host until it goes.
TEST_F(BrowserTest, HostSubclassStaysOnTopAtDetach) {
    if (!Uxp()) GTEST_SKIP() << "plain mode does not subclass";
    BrowserFrame* frame = Open(FixturePath("quad.jp2"), 100, 80);
    PageInstance* instance = frame->instances[0];
    ASSERT_TRUE(HostSubclassOnTop(instance));
    browser.pluginFuncs.destroy(&instance->npp, nullptr);
    EXPECT_TRUE(HostSubclassOnTop(instance));
    SendMessageA(instance->window, WM_LBUTTONUP, 0, 0);
    RedrawWindow(instance->window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    instance->newResult = NPERR_GENERIC_ERROR;  // destroyed already; the frame only undoes the subclass
}

// In process: a reflow re-parents the windows without telling the plug-in,
// a background tab gets an empty clip rectangle; the picture survives both.
TEST_F(BrowserTest, ReflowAndBackgroundKeepThePicture) {
    WritePage("reflow.html", "<embed src=quad.j2k width=64 height=48>");
    BrowserFrame* frame = Open(FixturePath("reflow.html"), 200, 100);
    int calls = frame->instances[0]->setWindowCalls;
    EXPECT_EQ(browser.host == HostUxpInProcess ? 3 : 1, calls);
    ResizeFrame(frame, 220, 110);
    SetFrameBackground(frame, 1);
    SetFrameBackground(frame, 0);
    WaitUntilQuiet(200, 10000);
    EXPECT_EQ(calls + (browser.host == HostUxpInProcess ? 3 : 1), frame->instances[0]->setWindowCalls);
    Capture page = ReadFrame(frame);
    EXPECT_EQ(Red, page.At(8 + 2, 8 + 2));
    EXPECT_EQ(Blue, page.At(8 + 2, 8 + 45));
}

// Half way through a slow download the element shows the picture, close to
// the final one, not the progress box: a plain file, and a document whose
// page (one object, the same picture) comes before its codestream.
TEST_F(BrowserTest, PictureShowsHalfWayThroughASlowDownload) {
    if (Uxp()) GTEST_SKIP() << "the slow delivery is the plain host's";
    for (const char* file : {"arriving.j2k", "arriving.jpm"}) {
        SCOPED_TRACE(file);
        WritePage("arriving.html", std::string("<embed src=") + file + " width=200 height=200>");
        std::string halfway = FixturePath("arriving_half.bmp");
        remove(halfway.c_str());
        StreamOptions slow = SlowDelivery();
        slow.halfwayScreenshot = halfway.c_str();
        BrowserFrame* frame = Open(FixturePath("arriving.html"), 240, 240, slow);
        Capture final = ReadFrame(frame);
        CloseFrame(frame);
        RECT aboveProgressEdge = ArrivingElement;
        aboveProgressEdge.bottom -= 4;
        EXPECT_GE(Psnr(ReadBmp(halfway), final, aboveProgressEdge), 20.0);
    }
}

// A download broken off half way keeps its picture, with the reason over it.
TEST_F(BrowserTest, InterruptedDownloadKeepsItsPictureAndSaysWhy) {
    if (Uxp()) GTEST_SKIP() << "the slow delivery is the plain host's";
    WritePage("arriving.html", "<embed src=arriving.j2k width=200 height=200>");
    Capture final = ReadFrame(Open(FixturePath("arriving.html"), 240, 240));
    std::vector<uint8_t> bytes = FileBytes(FixturePath("arriving.j2k"));
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(WriteFileBytes(FixturePath("arriving_cut.j2k"), bytes));
    WritePage("cut.html", "<embed src=arriving_cut.j2k width=200 height=200>");
    StreamOptions broken = SlowDelivery();
    broken.endReason = NPRES_NETWORK_ERR;
    BrowserFrame* frame = Open(FixturePath("cut.html"), 240, 240, broken);
    WaitUntilQuiet(500, 5000);
    Capture shown = ReadFrame(frame);
    RECT belowReason = ArrivingElement;
    belowReason.top += 60;
    EXPECT_GE(Psnr(shown, final, belowReason), 20.0);
    // The reason's box: white above its line (the picture is dark there),
    // then dark letters.
    int white = 0, dark = 0;
    for (int x = 12; x < 100; ++x) {
        white += shown.At(x, 10) == White;
        for (int y = 13; y < 26; ++y) dark += (shown.At(x, y) & 0xFFFFFF) < 0x404040;
    }
    EXPECT_GT(white, 80);
    EXPECT_GT(dark, 20);
}

// Out of process the plug-in is shut down once idle and started afresh for
// the next page.
TEST_F(BrowserTest, IdlePluginShutsDownAndStartsAgain) {
    if (browser.host != HostUxpOutOfProcess) GTEST_SKIP() << "in process the plug-in lives until exit";
    browser.idleShutdownMs = 100;
    CloseFrame(Open(FixturePath("quad.jp2"), 64, 48));
    WaitUntilQuiet(400, 5000);
    browser.idleShutdownMs = 30000;
    EXPECT_EQ(1, browser.idleShutdowns);
    EXPECT_EQ(0, browser.initialized);
    BrowserFrame* frame = Open(FixturePath("quad.jp2"), 64, 48);
    EXPECT_EQ(1, browser.initialized);
    EXPECT_EQ(Red, ReadFrame(frame).At(1, 1));
}

}  // namespace
