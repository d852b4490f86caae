// The test browser end to end through npkavrel.dll: pages of embedded images,
// full pages, stream delivery options, link navigation (_self, _blank, remote
// URLs), resizing and printing, all read back as pixels.
#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

#include "browser_suite.h"
#include "pixel_capture.h"

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

std::string Fixture(const char* name) { return std::string(FIXTURE_DIR) + "/" + name; }

void WritePage(const char* name, const std::string& body) {
    FILE* file = fopen(Fixture(name).c_str(), "wb");
    ASSERT_NE(nullptr, file);
    fputs(("<html><body>" + body + "</body></html>").c_str(), file);
    fclose(file);
}

typedef BrowserSuite BrowserTest;

TEST_F(BrowserTest, PageLaysOutEveryEmbedAndPassesItsAttributes) {
    WritePage("page.html",
              "<EMBED src=quad.j2k width=200 height=100>"
              "<embed SRC='gradient.jp2' WIDTH=\"256\" height=\"256\" data-x=1 hidden>"
              "<embed src=\"quad.jp2\" width=\"64\" height=\"48\" Href=\"quad.jp2\" TARGET=\"_self\">"
              "<embed src=\"missing.j2k\" width=\"160\" height=\"60\">");
    BrowserFrame* frame = Open(Fixture("page.html"), 800, 400);
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

TEST_F(BrowserTest, FullPageFitsThenFollowsResize) {
    BrowserFrame* frame = Open(Fixture("quad.jp2"), 300, 200);
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

TEST_F(BrowserTest, DeliveryOrderLengthAndBlockSizeDoNotChangeThePicture) {
    struct Delivery {
        int32_t block;
        int announce;
        int order;
    };
    const Delivery deliveries[] = {{7, 0, StreamReversed}, {100, 1, StreamPairsSwapped}, {1, 0, StreamInOrder}};
    for (const Delivery& d : deliveries) {
        BrowserFrame* frame = Open(Fixture("gradient.jp2"), 256, 256, StreamOptions{d.block, d.announce, d.order, NPRES_DONE});
        Capture page = ReadFrame(frame);
        EXPECT_EQ(0x102080u, page.At(16, 32)) << d.block;
        EXPECT_EQ(0xFFFF80u, page.At(255, 255)) << d.block;
        CloseFrame(frame);
    }
}

TEST_F(BrowserTest, BrokenStreamKeepsTheLoadingBox) {
    BrowserFrame* frame =
        Open(Fixture("quad.j2k"), 200, 100, StreamOptions{100, 1, StreamInOrder, NPRES_NETWORK_ERR});
    Capture page = ReadFrame(frame);
    EXPECT_EQ(0u, page.At(0, 0));
    EXPECT_EQ(White, page.At(190, 90));
    for (uint32_t pixel : page.pixels) {
        ASSERT_NE(Red, pixel);
    }
}

TEST_F(BrowserTest, LinkClickFollowsSelfBlankAndRecordsRemote) {
    WritePage("links.html",
              "<embed src=quad.j2k width=64 height=48 HREF=gradient.jp2 target=_self>"
              "<embed src=quad.j2k width=64 height=48 href=\"file:quad.jp2\" target=_blank>"
              "<embed src=quad.j2k width=64 height=48 href=\"http://example.com/x.jp2\" target=_self>");
    BrowserFrame* frame = Open(Fixture("links.html"), 400, 300);
    ASSERT_EQ(3u, frame->instances.size());
    HWND remote = frame->instances[2]->window;
    HWND blank = frame->instances[1]->window;
    HWND self = frame->instances[0]->window;

    PostMessageA(remote, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    WaitUntilQuiet(200, 10000);
    ASSERT_EQ(1, browser.urlRequestCount);
    EXPECT_STREQ("http://example.com/x.jp2", browser.urlRequests[0].url);
    EXPECT_STREQ("_self", browser.urlRequests[0].target);
    EXPECT_EQ(3u, frame->instances.size());

    PostMessageA(blank, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    WaitUntilQuiet(300, 20000);
    ASSERT_EQ(2u, OpenFrames().size());
    EXPECT_EQ(1, OpenFrames()[1]->fullPage);
    EXPECT_EQ(Red, ReadFrame(OpenFrames()[1]).At(1, 1));

    PostMessageA(self, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    WaitUntilQuiet(300, 20000);
    ASSERT_EQ(3, browser.urlRequestCount);
    EXPECT_STREQ("gradient.jp2", browser.urlRequests[2].url);
    ASSERT_EQ(1u, frame->instances.size());
    EXPECT_EQ(1, frame->fullPage);
    EXPECT_EQ(0x102080u, ReadFrame(frame).At(16, 32));
}

TEST_F(BrowserTest, PrintsAnEmbeddedElementIntoAMemoryDc) {
    WritePage("print.html", "<embed src=quad.j2k width=120 height=60>");
    BrowserFrame* frame = Open(Fixture("print.html"), 300, 200);
    ASSERT_EQ(1u, frame->instances.size());
    std::string path = Fixture("printed.bmp");
    ASSERT_TRUE(PrintElementToFile(frame->instances[0], path));
    Capture printed = ReadBmp(path);
    ASSERT_EQ(120, printed.width);
    EXPECT_EQ(Red, printed.At(2, 2));
    EXPECT_EQ(Green, printed.At(117, 2));
    EXPECT_EQ(Blue, printed.At(2, 57));
    EXPECT_EQ(White, printed.At(117, 57));
}

}  // namespace
