// Every menu command end to end: npkavrel.dll in the test browser, the menu
// opened by a right click on the image, items chosen with the keyboard, the
// Save As dialog answered by typing, and the effect looked at afterwards;
// and the browser's calls that arrive while the menu or a dialog is open.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "browser_suite.h"
#include "decode/jpeg2000.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {


// A path as a user types it, with backslashes only.
std::string WorkPath(const char* name) {
    std::string path = std::string(E2E_DIR) + "\\" + name;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// The decoded image as the bitmap file j2k2bmp writes for it.
std::vector<unsigned char> ExpectedBitmapFile(const char* name) {
    std::vector<uint8_t> bytes = FileBytes(WorkPath(name));
    uint8_t* dib = nullptr;
    std::vector<uint8_t> file;
    if (!bytes.empty() && DecodeToPackedDib(&dib, bytes.data(), (int32_t)bytes.size())) file = BitmapFileOf(dib);
    free(dib);
    return file;
}

std::string ClipboardText() {
    std::string text = "<none>";
    if (OpenClipboardPatiently()) {
        HANDLE data = GetClipboardData(CF_TEXT);
        if (data != nullptr) text = (const char*)GlobalLock(data);
        if (data != nullptr) GlobalUnlock(data);
        CloseClipboard();
    }
    return text;
}

UiStep Mnemonic(HWND owner, char letter) { return Pick(owner, {{WM_CHAR, (WPARAM)letter}}); }

class BrowserCommands : public BrowserSuite {
protected:
    static void SetUpTestSuite() {
        CreateDirectoryA(E2E_DIR, nullptr);
        for (const char* name : {"p0_09.j2k", "file1.jp2"}) {
            CopyFileA(ConformancePath(name).c_str(), WorkPath(name).c_str(), FALSE);
        }
        WriteFileText(WorkPath("linked.html"),
                      "<html><body><embed src=\"p0_09.j2k\" width=\"120\" height=\"90\" href=\"file1.jp2\"></body></html>");
        BrowserSuite::SetUpTestSuite();
    }
    // Every test here opens a conformance file.
    void SetUp() override {
        if (!FileExists(ConformancePath("p0_09.j2k"))) {
            GTEST_SKIP() << "conformance data absent: " << ConformancePath("");
        }
        BrowserSuite::SetUp();
    }
    // The image window of the first element of a file in the work folder.
    HWND Open(const char* name, int width, int height, StreamOptions options = DefaultStreamOptions()) {
        frame = BrowserSuite::Open(WorkPath(name), width, height, options);
        return frame != nullptr && !frame->instances.empty() ? frame->instances[0]->window : nullptr;
    }
    BrowserFrame* frame = nullptr;
};

TEST_F(BrowserCommands, SaveAsBitmapByArrowKeysAndTypedPath) {
    HWND image = Open("p0_09.j2k", 300, 200);
    ASSERT_NE(image, nullptr);
    std::string path = WorkPath("typed.bmp");
    DeleteFileA(path.c_str());
    std::vector<std::string> labels;
    SaveDialogView dialog;
    // Full page without link: Refresh, Save Image As, ...
    EXPECT_EQ(RightClickAndRun(image, {Pick(image, Down(2), &labels), AnswerSaveDialog(&dialog, 2, path)}), 2);
    ASSERT_GE(labels.size(), 2u);
    EXPECT_EQ(labels[0], ExpectedText("&Refresh (p0_09.j2k)", "画像を再描画(&V) (p0_09.j2k)"));
    EXPECT_EQ(dialog.suggestedName, "p0_09.j2k");
    std::vector<unsigned char> expected = ExpectedBitmapFile("p0_09.j2k");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(FileBytes(path), expected);
}

TEST_F(BrowserCommands, CopiesReachTheClipboard) {
    HWND image = Open("p0_09.j2k", 300, 200);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'y')}), 1);
    std::string url = ClipboardText();
    EXPECT_EQ(url.substr(0, 5), "file:");
    EXPECT_EQ(url.substr(url.size() - 10), "/p0_09.j2k");

    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'c')}), 1);
    std::vector<unsigned char> file = ExpectedBitmapFile("p0_09.j2k");
    ASSERT_TRUE(OpenClipboardPatiently());
    HANDLE dib = GetClipboardData(CF_DIB);
    ASSERT_NE(dib, nullptr);
    ASSERT_GE(GlobalSize(dib), file.size() - 14);
    const unsigned char* bytes = (const unsigned char*)GlobalLock(dib);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + file.size() - 14),
              std::vector<unsigned char>(file.begin() + 14, file.end()));
    GlobalUnlock(dib);
    CloseClipboard();
}

// Browsers read the status line as UTF-8, whatever the interface language.
TEST_F(BrowserCommands, StatusLineSaysThePictureIsPreparedInUtf8) {
    HWND image = Open("file1.jp2", 200, 150);  // shown at a quarter of its size
    ASSERT_NE(image, nullptr);
    browser.status[0] = 0;
    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'c')}), 1);
    // u8: this program's other literals are stored in code page 932.
    EXPECT_STREQ(browser.status, ExpectedText(u8"Preparing the full picture...", u8"元の大きさの画像を準備しています…"));
}

// A page may go away while its menu is open (a script navigates, the user
// closes the tab): the browser destroys the instance from inside the menu's
// loop. The item chosen afterwards must not run on the instance that is gone.
TEST_F(BrowserCommands, InstanceDestroyedWhileItsMenuIsOpen) {
    HWND image = Open("p0_09.j2k", 300, 200);
    ASSERT_NE(image, nullptr);
    PageInstance* instance = frame->instances[0];
    ASSERT_TRUE(OpenClipboardPatiently());
    EmptyClipboard();
    CloseClipboard();
    UiStep destroy = [&]() {
        if (FindThreadWindow("#32768", nullptr) == nullptr) return false;
        browser.pluginFuncs.destroy(&instance->npp, nullptr);
        instance->newResult = NPERR_GENERIC_ERROR;  // closing the frame must not destroy it twice
        return true;
    };
    EXPECT_EQ(RightClickAndRun(image, {destroy, Mnemonic(image, 'y')}), 2);
    EXPECT_EQ(ClipboardText(), "<none>");
    EXPECT_EQ(instance->npp.pdata, nullptr);
}

TEST_F(BrowserCommands, FitToggleShowsAndHidesScrollBars) {
    HWND image = Open("file1.jp2", 200, 150);  // 768 x 512: larger than the window
    ASSERT_NE(image, nullptr);
    auto hasScrollBars = [&]() { return (GetWindowLongA(image, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL)) != 0; };
    EXPECT_FALSE(hasScrollBars());
    UINT checkedBefore = 0, checkedAfter = 0;
    auto fitState = [](UINT* state) {
        return [state](HMENU menu) { *state = GetMenuState(menu, 47013, MF_BYCOMMAND) & MF_CHECKED; };
    };
    EXPECT_EQ(RightClickAndRun(image, {UseOpenMenu(image, fitState(&checkedBefore), {{WM_CHAR, 'f'}})}), 1);
    WaitUntilQuiet(200, 5000);
    EXPECT_TRUE(checkedBefore);
    EXPECT_TRUE(hasScrollBars());
    EXPECT_EQ(RightClickAndRun(image, {UseOpenMenu(image, fitState(&checkedAfter), {{WM_CHAR, 'f'}})}), 1);
    WaitUntilQuiet(200, 5000);
    EXPECT_FALSE(checkedAfter);
    EXPECT_FALSE(hasScrollBars());
}

TEST_F(BrowserCommands, LinkOpensInANewFrameAndViewReloads) {
    HWND image = Open("linked.html", 400, 300);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'n')}), 1);
    WaitUntilQuiet(300, 30000);
    ASSERT_EQ(browser.urlRequestCount, 1);
    EXPECT_STREQ(browser.urlRequests[0].url, "file1.jp2");
    EXPECT_STREQ(browser.urlRequests[0].target, "_blank");
    ASSERT_EQ(OpenFrames().size(), 2u);
    EXPECT_EQ(OpenFrames()[1]->fullPage, 1);

    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'v')}), 1);
    WaitUntilQuiet(300, 30000);
    ASSERT_EQ(browser.urlRequestCount, 2);
    EXPECT_STREQ(browser.urlRequests[1].target, "_self");
    std::string viewed = browser.urlRequests[1].url;
    EXPECT_EQ(viewed.substr(viewed.size() - 10), "/p0_09.j2k");
}

TEST_F(BrowserCommands, AboutAndCommentsDialogsDescribeTheImage) {
    HWND image = Open("p0_09.j2k", 300, 200);
    ASSERT_NE(image, nullptr);
    std::string aboutImage, commentText, commentLabel;
    UiStep readAbout = [&]() {
        HWND dialog = FindThreadWindow("#32770", nullptr, 1003);
        if (dialog == nullptr) return false;
        aboutImage = DialogItemText(dialog, 1001);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    };
    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'a'), readAbout}), 2);
    EXPECT_NE(aboutImage.find(ExpectedText("Dimensions:\t17 x 37\r\n", "画像サイズ:\t17 x 37\r\n")), std::string::npos)
        << aboutImage;
    EXPECT_NE(aboutImage.find(ExpectedText("File size:\t594 bytes\r\n", "ファイルサイズ:\t594 バイト\r\n")), std::string::npos);

    UiStep readComments = [&]() {
        HWND dialog = FindThreadWindow("#32770", ExpectedText("Image comments", "画像のコメント"), 1004);
        if (dialog == nullptr) return false;
        commentText = DialogItemText(dialog, 1002);
        commentLabel = DialogItemText(dialog, 1004);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'm'), readComments}), 2);
    EXPECT_EQ(commentText, "Kakadu-3.0.7");
    EXPECT_EQ(commentLabel, ExpectedText("Encoding:  ISO-8859-1", "文字列エンコーディング:  ISO-8859-1"));
}

TEST_F(BrowserCommands, WallpaperPointsTheDesktopAtTheImage) {
    HWND image = Open("p0_09.j2k", 300, 200);
    ASSERT_NE(image, nullptr);
    char before[MAX_PATH] = "";
    SystemParametersInfoA(SPI_GETDESKWALLPAPER, sizeof before, before, 0);
    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'w')}), 1);
    char after[MAX_PATH] = "";
    SystemParametersInfoA(SPI_GETDESKWALLPAPER, sizeof after, after, 0);
    std::string path = after;
    ASSERT_GT(path.size(), 13u);
    EXPECT_EQ(path.substr(path.size() - 13), "\\npkavrel.bmp");
    EXPECT_EQ(FileBytes(after), ExpectedBitmapFile("p0_09.j2k"));
    DeleteFileA(after);
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, before, SPIF_UPDATEINIFILE);
}

// The UXP hosts open an <embed>'s stream from the event loop after the
// instance exists: the user may already have the menu or About open. The
// first stream must be taken (a refused one is never offered again).
TEST_F(BrowserCommands, FirstStreamArrivesWhileMenuOrAboutIsOpen) {
    if (!Uxp()) GTEST_SKIP() << "plain mode streams before anything can open";
    StreamOptions held = DefaultStreamOptions();
    held.held = 1;
    UiStep release = [&]() {
        if (FindThreadWindow("#32768", nullptr) == nullptr && FindThreadWindow("#32770", nullptr, 1003) == nullptr)
            return false;
        ReleaseStreams(frame);
        return true;
    };
    UiStep delivered = []() { return PendingStreams() == 0; };
    UiStep closeAbout = [&]() {
        HWND dialog = FindThreadWindow("#32770", nullptr, 1003);
        if (dialog != nullptr) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return dialog != nullptr;
    };
    for (int about = 0; about < 2; about++) {
        HWND image = Open("p0_09.j2k", 300, 200, held);
        ASSERT_NE(image, nullptr);
        std::vector<UiStep> steps = about ? std::vector<UiStep>{Mnemonic(image, 'a'), release, delivered, closeAbout}
                                          : std::vector<UiStep>{release, delivered, Pick(image, {{WM_KEYDOWN, VK_ESCAPE}})};
        EXPECT_EQ(RightClickAndRun(image, steps), (int)steps.size()) << about;
        PageInstance* instance = frame->instances[0];
        EXPECT_EQ(instance->stream.newResult, NPERR_NO_ERROR) << about;
        EXPECT_EQ(instance->stream.endReason, NPRES_DONE) << about;
        CloseFrame(frame);
    }
}

// The browser keeps calling while the plug-in runs a modal loop: a reflow,
// the tab going to the background and back, and finally the page closing
// under the open About dialog.
TEST_F(BrowserCommands, CallsArriveInsideTheAboutDialog) {
    HWND image = Open("p0_09.j2k", 300, 200);
    ASSERT_NE(image, nullptr);
    UiStep browse = [&]() {
        if (FindThreadWindow("#32770", nullptr, 1003) == nullptr) return false;
        ResizeFrame(frame, 320, 220);
        SetFrameBackground(frame, 1);
        SetFrameBackground(frame, 0);
        CloseFrame(frame);
        frame = nullptr;
        return true;
    };
    EXPECT_EQ(RightClickAndRun(image, {Mnemonic(image, 'a'), browse}), 2);
    EXPECT_TRUE(OpenFrames().empty());
}

// A warning must not hold up the browser's call: the plug-in returns from
// NPP_Write at once and shows the box from its window afterwards (the
// watchdog counts a call still running after 200 ms as a hang).
TEST_F(BrowserCommands, OutOfMemoryWarningComesAfterTheWriteReturns) {
    StreamOptions held = DefaultStreamOptions();
    held.held = 1;
    HWND image = Open("p0_09.j2k", 300, 200, held);
    ASSERT_NE(image, nullptr);
    NPP npp = &frame->instances[0]->npp;
    NPStream stream = {};
    stream.url = "file:///far.j2k";
    uint16_t type = 0;
    char mime[] = "image/x-jpeg2000";
    ASSERT_EQ(browser.pluginFuncs.newstream(npp, mime, &stream, 0, &type), NPERR_NO_ERROR);
    std::vector<std::wstring> texts;
    DWORD seenAt = 0;
    bool done = false;
    // The warning stays open half a second before it is answered.
    UiStep shownAWhile = [&]() {
        if (FindThreadWindow("#32770", nullptr, MessageBoxTextId) == nullptr) return false;
        if (seenAt == 0) seenAt = GetTickCount();
        return GetTickCount() - seenAt >= 500;
    };
    char bytes[10] = {};
    int32_t written = 0;
    browser.hangMs = 200;
    RunModal(
        [&] {
            {
                PluginCall call(&browser, "NPP_Write");
                written = browser.pluginFuncs.write(npp, &stream, INT32_MAX - 100, sizeof bytes, bytes);
            }
            for (DWORD start = GetTickCount(); !done && GetTickCount() - start < 8000;) WaitUntilQuiet(0, 20);
        },
        {shownAWhile,
         InspectPluginMessage([&texts](HWND box) { texts.push_back(WideText(GetDlgItem(box, MessageBoxTextId))); }),
         [&]() { return done = true; }});
    browser.hangMs = 11000;
    EXPECT_EQ(written, -1);
    ASSERT_EQ(texts.size(), 1u);
    // Compared as UTF-16: the box shows the text through the wide functions; the
    // literal is stored as Shift_JIS in the binary, so it converts from code page 932.
    const char* warning = JapaneseUser() ? "画像用のメモリを確保できません (2147483547, 10, "
                                         : "Cannot allocate memory for image (2147483547, 10, ";
    wchar_t wide[128];
    MultiByteToWideChar(932, 0, warning, -1, wide, 128);
    EXPECT_EQ(texts[0].find(wide), 0u);
    browser.pluginFuncs.destroystream(npp, &stream, NPRES_NETWORK_ERR);
}

}  // namespace
