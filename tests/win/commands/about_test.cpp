// The About dialog: both texts line by line for a decoded image, a failed
// one and one still loading; the tab stop; the icon frames as time passes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "decode/jpeg2000.h"
#include "test_instances.h"
#include "ui_driver.h"
#include "resource_ids.h"
#include "window/about_dialog.h"
#include "window/display.h"

namespace {

const char* AboutCaption() {
    return IsJapaneseUi() ? "Webブラウザ用 JPEG 2000 プラグイン" : "JPEG 2000 Plug-in for Web Browsers";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

struct AboutView {
    std::string caption;
    std::vector<std::string> plugin;
    std::vector<std::string> image;
};

// Step: read the open About dialog, let `more` look at it, then close it.
UiStep ReadAboutDialog(AboutView* view, std::function<void(HWND)> more = nullptr) {
    return [=]() {
        HWND dialog = FindThreadWindow("#32770", AboutCaption(), IDC_ABOUT_ICON);
        if (dialog == nullptr) return false;
        view->caption = WindowText(dialog);
        view->plugin = Lines(DialogItemText(dialog, IDC_ABOUT_PLUGIN_TEXT));
        view->image = Lines(DialogItemText(dialog, IDC_ABOUT_IMAGE_TEXT));
        if (more) more(dialog);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
}

class AboutDialog : public ::testing::Test {
protected:
    void SetUp() override {
        instance = NewTestInstance(CreateOwnerWindow());
        SetTestUrl(instance, "http://images.example/p0_09.j2k");
    }
    void TearDown() override { FreeTestInstance(instance); }
    AboutView Show(std::function<void(HWND)> more = nullptr) {
        AboutView view;
        EXPECT_EQ(RunModal([&] { ShowAboutDialog(instance); }, {ReadAboutDialog(&view, more)}), 1);
        return view;
    }
    PluginInstance* instance = nullptr;
};

TEST_F(AboutDialog, PluginTextNamesVersionDateAndLocation) {
    AboutView view = Show();
    EXPECT_EQ(view.caption, AboutCaption());
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    ASSERT_GE(view.plugin.size(), 9u);
    EXPECT_EQ(view.plugin[0], "JPEG 2000 Plug-in for Web Browsers");  // English in both languages
    EXPECT_EQ(view.plugin[1], ExpectedText("English & Japanese Version", "日本語&英語版"));
    EXPECT_EQ(view.plugin[2], ExpectedText("Version: 2.9.5.0", "バージョン: 2.9.5.0"));
    EXPECT_EQ(view.plugin[3], ExpectedText("Date: 2004-03-28", "日付: 2004-03-28"));
    EXPECT_EQ(view.plugin[4], std::string(ExpectedText("JPEG 2000 WPI location: ", "インストールフォルダ: ")) + program);
    // Where decoding runs (the decoder pool's own tests check the rest).
    EXPECT_EQ(0u, view.plugin[5].find(ExpectedText("Decoder:\t", "デコーダー:\t"))) << view.plugin[5];
    EXPECT_FALSE(view.plugin[6].empty());  // rights notice
    EXPECT_FALSE(view.plugin[7].empty());  // web page
    EXPECT_EQ(view.plugin[8], "");         // every line is closed
}

TEST_F(AboutDialog, DecodedImageWithoutLink) {
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, "p0_09.j2k");
    AboutView view = Show();
    std::vector<std::string> expected = {
        "URL:\thttp://images.example/conformance/p0_09.j2k",
        ExpectedText("Dimensions:\t17 x 37", "画像サイズ:\t17 x 37"),
        std::string(ExpectedText("File size:\t594 bytes", "ファイルサイズ:\t594 バイト")),
        std::string(ExpectedText("Image type:\t", "画像の種類:\t")) +
            ExpectedText("JPEG 2000 Code Stream (ISO 15444-1)", "JPEG 2000 コードストリーム (ISO 15444-1)"),
        ""};
    EXPECT_EQ(view.image, expected);
}

TEST_F(AboutDialog, FullPageNamesItsZoom) {
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, "p0_09.j2k");
    instance->element.mode = NP_FULL;
    instance->scroll.fixedScale = 1;
    instance->zoom.contentsScale = 1.5;
    instance->zoom.scale = 3.0;
    AboutView view = Show();
    ASSERT_GE(view.image.size(), 3u);
    EXPECT_EQ(view.image[2], ExpectedText("Zoom:\t200 %", "表示倍率:\t200 %"));
}

TEST_F(AboutDialog, HighThroughputFileHasItsKindName) {
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, "p0_09.j2k");
    instance->picture.fileKind = FileKindJph;
    AboutView view = Show();
    ASSERT_GE(view.image.size(), 4u);
    EXPECT_EQ(view.image[3], std::string(ExpectedText("Image type:\t", "画像の種類:\t")) +
                                 ExpectedText("High-Throughput JPEG 2000 File (ISO 15444-15)",
                                      "高スループット JPEG 2000 ファイル (ISO 15444-15)"));
}

TEST_F(AboutDialog, FailedDecodeWithLinkAndOwnTarget) {
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, "file1.jp2");
    FailTestDecode(instance);
    instance->element.hasLink = 1;
    strcpy(instance->element.href, "http://link.example/next.html");
    strcpy(instance->element.target, "_SELF");  // not "_self": the comparison is exact
    AboutView view = Show();
    std::vector<std::string> expected = {
        "URL:\thttp://images.example/conformance/file1.jp2",
        ExpectedText("File size:\t650678 bytes", "ファイルサイズ:\t650678 バイト"),
        std::string(ExpectedText("Image type:\t", "画像の種類:\t")) + ExpectedText("JP2 File (ISO 15444-1)", "JP2 ファイル (ISO 15444-1)"),
        ExpectedText("Link to:\thttp://link.example/next.html", "リンク先:\thttp://link.example/next.html"),
        ExpectedText("Link target:\t_SELF", "リンクターゲット:\t_SELF"),
        ""};
    EXPECT_EQ(view.image, expected);
}

TEST_F(AboutDialog, StillLoadingWithLinkToSelf) {
    instance->reception.loadState = LoadStateReceiving;
    instance->element.hasLink = 1;
    strcpy(instance->element.href, "next.html");
    AboutView view = Show();
    std::vector<std::string> expected = {
        "URL:\thttp://images.example/p0_09.j2k",
        ExpectedText("File size:\t0 bytes", "ファイルサイズ:\t0 バイト"),
        std::string(ExpectedText("Image type:\t", "画像の種類:\t")) + ExpectedText("Unknown", "不明"),
        ExpectedText("Link to:\tnext.html", "リンク先:\tnext.html"),
        ""};
    EXPECT_EQ(view.image, expected);
}

TEST_F(AboutDialog, LongFieldsAreCutAtTheBufferEnd) {
    SetTestUrl(instance, std::string(2 * AboutTextSize, 'u'));
    instance->element.hasLink = 1;
    memset(instance->element.href, 'h', sizeof instance->element.href - 1);
    memset(instance->element.target, 't', sizeof instance->element.target - 1);
    wchar_t text[AboutTextSize + 16];
    wmemset(text, L'Z', AboutTextSize + 16);
    BuildImageText(text, instance);
    EXPECT_LT(wcslen(text), (size_t)AboutTextSize);
    EXPECT_EQ(text[AboutTextSize], L'Z');
}

// Both text boxes set one tab stop of 60 dialog units: the text after each
// label starts at the same column, 60 units from the left edge.
TEST_F(AboutDialog, TabStopIsSixtyDialogUnits) {
    int pluginColumn = -1, imageColumn = -1, expectedColumn = -2, defaultColumn = -3;
    SetTestUrl(instance, "x");
    Show([&](HWND dialog) {
        HWND image = GetDlgItem(dialog, IDC_ABOUT_IMAGE_TEXT);
        LRESULT origin = SendMessageA(image, EM_POSFROMCHAR, 0, 0);
        LRESULT afterTab = SendMessageA(image, EM_POSFROMCHAR, 5, 0);  // "URL:\t" then "x"
        imageColumn = (short)LOWORD(afterTab) - (short)LOWORD(origin);
        // The same text in the plug-in box, whose tab stop was set the same way.
        HWND plugin = GetDlgItem(dialog, IDC_ABOUT_PLUGIN_TEXT);
        SetWindowTextA(plugin, "URL:\tx");
        pluginColumn = (short)LOWORD(SendMessageA(plugin, EM_POSFROMCHAR, 5, 0)) -
                       (short)LOWORD(SendMessageA(plugin, EM_POSFROMCHAR, 0, 0));
        RECT units = {0, 0, 60, 32};
        MapDialogRect(dialog, &units);
        expectedColumn = units.right;
        defaultColumn = units.bottom;  // 32 units: where a default tab stop lies
    });
    EXPECT_NEAR(imageColumn, expectedColumn, 3);
    EXPECT_NEAR(pluginColumn, expectedColumn, 3);
    EXPECT_GT(imageColumn, defaultColumn + 10);
}

// The icon steps every 2 seconds: 113 after 2 s, 114 after 4 s and 112
// again after 8 s. The timer's ticks are delivered here rather than waited for.
TEST_F(AboutDialog, IconStepsThroughFourFrames) {
    AboutFrameIndex = 3;  // left over from an earlier dialog
    std::vector<int> bigFrames, staticFrames;
    bool timerRunning = false;
    auto frameOf = [](HICON icon) {
        for (int i = 0; i < 4; i++) {
            if (AboutIconFrames[i] == icon) return i;
        }
        return -1;
    };
    Show([&](HWND dialog) {
        bigFrames.push_back(frameOf((HICON)SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)));
        for (int tick = 1; tick <= 4; tick++) {
            SendMessageA(dialog, WM_TIMER, AboutTimerId, 0);
            if (tick == 1 || tick == 2 || tick == 4) {
                bigFrames.push_back(frameOf((HICON)SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)));
                staticFrames.push_back(frameOf((HICON)SendDlgItemMessageA(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0)));
            }
        }
        timerRunning = KillTimer(dialog, AboutTimerId) != 0;
    });
    EXPECT_EQ(bigFrames, std::vector<int>({0, 1, 2, 0}));
    EXPECT_EQ(staticFrames, std::vector<int>({1, 2, 0}));
    EXPECT_TRUE(timerRunning);
    EXPECT_EQ(AboutFrameIndex, 0);
}

// One control of a plain (not extended) dialog template.
struct TemplateControl {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
};

// Steps over a zero-terminated UTF-16 text or a 0xFFFF-prefixed ordinal.
const WORD* SkipTemplateName(const WORD* at) {
    if (*at == 0xFFFF) return at + 2;
    while (*at++ != 0) {
    }
    return at;
}

std::vector<TemplateControl> ReadTemplateControls(int templateId) {
    std::vector<TemplateControl> controls;
    HRSRC found = FindResourceA(ModuleHandle, MAKEINTRESOURCEA(templateId), (LPCSTR)RT_DIALOG);
    if (found == nullptr) return controls;
    const DLGTEMPLATE* dialog = (const DLGTEMPLATE*)LockResource(LoadResource(ModuleHandle, found));
    const WORD* at = (const WORD*)(dialog + 1);
    at = SkipTemplateName(SkipTemplateName(SkipTemplateName(at)));  // menu, class, caption
    if (dialog->style & DS_SETFONT) at = SkipTemplateName(at + 1);  // point size, face
    for (int i = 0; i < dialog->cdit; i++) {
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)(((uintptr_t)at + 3) & ~(uintptr_t)3);
        controls.push_back({item->style, item->x, item->y, item->cx, item->cy, item->id});
        at = SkipTemplateName(SkipTemplateName((const WORD*)(item + 1)));  // class, text
        at += 1 + *at / sizeof(WORD);  // creation data
    }
    return controls;
}

// The resource compiler may not keep what the script says (it once made the
// icon 0 x 0): the compiled template is compared with the dialog's layout.
TEST(AboutTemplate, ControlsKeepTheirPlacesAndStyles) {
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const DWORD edit = child | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER |
                       WS_VSCROLL | WS_TABSTOP;
    std::vector<TemplateControl> controls = ReadTemplateControls(IDD_ABOUT);
    ASSERT_EQ(controls.size(), 4u);
    const TemplateControl expected[] = {
        {child | BS_DEFPUSHBUTTON | WS_TABSTOP, 255, 7, 50, 14, IDOK},
        {edit, 7, 85, 297, 73, IDC_ABOUT_IMAGE_TEXT},
        {edit, 7, 7, 232, 70, IDC_ABOUT_PLUGIN_TEXT},
        {child | SS_ICON, 269, 43, 20, 20, IDC_ABOUT_ICON},
    };
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(controls[i].id, expected[i].id);
        EXPECT_EQ(controls[i].style, expected[i].style);
        EXPECT_EQ(controls[i].x, expected[i].x);
        EXPECT_EQ(controls[i].y, expected[i].y);
        EXPECT_EQ(controls[i].cx, expected[i].cx);
        EXPECT_EQ(controls[i].cy, expected[i].cy);
    }
}

TEST_F(AboutDialog, CloseBoxAndEscapeEndTheDialog) {
    for (UINT message : {(UINT)WM_CLOSE, (UINT)WM_COMMAND}) {
        bool found = false;
        UiStep close = [&]() {
            HWND dialog = FindThreadWindow("#32770", AboutCaption(), IDC_ABOUT_ICON);
            if (dialog == nullptr) return false;
            found = true;
            PostMessageA(dialog, message, message == WM_COMMAND ? IDCANCEL : 0, 0);
            return true;
        };
        EXPECT_EQ(RunModal([&] { ShowAboutDialog(instance); }, {close}, 3000), 1);
        EXPECT_TRUE(found);
    }
}

}  // namespace
