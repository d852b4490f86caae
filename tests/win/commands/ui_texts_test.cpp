// Every text of the plug-in read back through the wide-character functions,
// run where the interface language and the system's ANSI code page disagree:
// Japanese under a Western code page, English under code page 932. Text that
// went through the ANSI functions would come back as "?" or mojibake.
#include <gtest/gtest.h>
#include <windows.h>

#include <dlgs.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "commands/commands.h"
#include "resource_ids.h"
#include "test_instances.h"
#include "ui_driver.h"
#include "window/context_menu.h"
#include "window/display.h"

namespace {

struct Expected {
    const wchar_t* english;
    const wchar_t* japanese;
};
std::wstring Pick(const Expected& text) { return ExpectedText(text.english, text.japanese); }

// Step: the open dialog of this thread holding `control` is read by `read`,
// then cancelled.
UiStep ReadDialog(int control, std::function<void(HWND)> read) {
    return [=]() {
        HWND dialog = FindThreadWindow("#32770", nullptr, control);
        if (dialog == nullptr) return false;
        read(dialog);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    };
}

// The message box's caption and text, through the wide functions.
std::vector<std::wstring> ReadMessageBox(const std::function<void()>& command) {
    std::vector<std::wstring> seen;
    RunModal(command, {InspectPluginMessage([&](HWND box) {
                 seen = {WideText(box), WideText(GetDlgItem(box, MessageBoxTextId))};
             })});
    return seen;
}

class UiTexts : public ::testing::Test {
protected:
    void SetUp() override {
        window = CreateOwnerWindow();
        instance = NewTestInstance(window);
    }
    void TearDown() override { FreeTestInstance(instance); }
    HWND window = nullptr;
    PluginInstance* instance = nullptr;
};

// The run really is a mismatched pair (LC_MESSAGES gives Wine the user's
// language, LC_CTYPE the code page): the test's meaning depends on it.
TEST_F(UiTexts, InterfaceLanguageAndCodePageDisagree) {
    const char* messages = getenv("LC_MESSAGES");
    ASSERT_NE(messages, nullptr);
    if (strncmp(messages, "ja_JP", 5) == 0) {
        EXPECT_EQ(UiLanguage, 1041);
        EXPECT_EQ(GetACP(), 1252u);
    } else {
        EXPECT_EQ(UiLanguage, 1033);
        EXPECT_EQ(GetACP(), 932u);
    }
}

TEST_F(UiTexts, MenuItems) {
    instance->element.mode = NP_FULL;
    instance->element.hasLink = 1;
    instance->reception.loadState = LoadStateEnded;
    SetTestUrl(instance, "http://images.example/photo.jp2");
    const std::vector<Expected> expected = {
        {L"&Open This Link", L"リンクを開く(&O)"},
        {L"Open This Link by &New Window", L"リンクを新しいウインドウで開く(&N)"},
        {L"", L""},
        {L"&Refresh (photo.jp2)", L"画像を再描画(&V) (photo.jp2)"},
        {L"Save &Image As...", L"画像に名前を付けて保存(&I)..."},
        {L"&Print Picture...", L"画像を印刷(&P)..."},
        {L"&Fit image to window", L"画像を画面に合わせる(&F)"},
        {L"Set &Wallpaper As...", L"壁紙に設定(&W)..."},
        {L"", L""},
        {L"&Copy Current Frame", L"現在のフレームをコピー(&C)"},
        {L"Cop&y Image Location", L"画像の場所をコピー(&Y)"},
        {L"Copy This Shor&tcut", L"ショートカットのコピー(&T)"},
        {L"", L""},
        {L"Image co&mments", L"画像のコメントを表示(&M)"},
        {L"&About JPEG 2000 Plug-in", L"JPEG 2000 Plug-inについて(&A)"},
    };
    std::vector<std::wstring> labels;
    auto read = [&](HMENU menu) {
        for (int i = 0; i < GetMenuItemCount(menu); i++) {
            wchar_t label[256] = L"";
            GetMenuStringW(menu, i, label, 256, MF_BYPOSITION);
            labels.push_back(label);
        }
    };
    ASSERT_EQ(RunModal([&] { ShowContextMenu(instance, window); }, {UseOpenMenu(window, read, {{WM_KEYDOWN, VK_ESCAPE}})}),
              1);
    ASSERT_EQ(labels.size(), expected.size());
    for (size_t i = 0; i < labels.size(); i++) EXPECT_EQ(labels[i], Pick(expected[i])) << i;
}

TEST_F(UiTexts, MessageBoxes) {
    std::vector<std::wstring> noImage = ReadMessageBox([&] { RunMenuCommand(instance, ID_COPY_CURRENT_FRAME); });
    std::vector<std::wstring> notLoaded = ReadMessageBox([&] { RunMenuCommand(instance, ID_SAVE_IMAGE_AS); });
    ASSERT_EQ(noImage.size(), 2u);
    ASSERT_EQ(notLoaded.size(), 2u);
    EXPECT_EQ(noImage[0], L"JPEG 2000 Plug-in");
    EXPECT_EQ(noImage[1], Pick({L"No image to copy!", L"コピーすべき画像がありません"}));
    EXPECT_EQ(notLoaded[1],
              Pick({L"Cannot save: the image has not been loaded", L"画像がロードされていないためセーブできません"}));
}

TEST_F(UiTexts, AboutDialog) {
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, "file1.jp2");
    std::wstring caption, plugin, image;
    ASSERT_EQ(RunModal([&] { ShowAboutDialog(instance); }, {ReadDialog(IDC_ABOUT_ICON, [&](HWND dialog) {
                           caption = WideText(dialog);
                           plugin = WideText(GetDlgItem(dialog, IDC_ABOUT_PLUGIN_TEXT));
                           image = WideText(GetDlgItem(dialog, IDC_ABOUT_IMAGE_TEXT));
                       })}),
              1);
    EXPECT_EQ(caption, Pick({L"JPEG 2000 Plug-in for Web Browsers", L"Webブラウザ用 JPEG 2000 プラグイン"}));
    EXPECT_NE(plugin.find(Pick({L"English & Japanese Version", L"日本語&英語版"})), std::wstring::npos);
    EXPECT_NE(image.find(Pick({L"Image type:\tJP2 File (ISO 15444-1)", L"画像の種類:\tJP2 ファイル (ISO 15444-1)"})),
              std::wstring::npos);
}

TEST_F(UiTexts, SaveAsDialogAndFilters) {
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, "file1.jp2");
    std::wstring caption;
    std::vector<std::wstring> filters;
    RunModal([&] { SaveImageAs(instance); }, {ReadDialog(cmb1, [&](HWND dialog) {
                 caption = WideText(dialog);
                 HWND types = GetDlgItem(dialog, cmb1);
                 for (int i = 0; i < (int)SendMessageW(types, CB_GETCOUNT, 0, 0); i++) {
                     wchar_t text[512] = L"";
                     SendMessageW(types, CB_GETLBTEXT, i, (LPARAM)text);
                     filters.push_back(text);
                 }
             })});
    EXPECT_EQ(caption, Pick({L"Save Image As...", L"画像に名前を付けて保存..."}));
    std::vector<std::wstring> expected = {Pick({L"JP2 File <ISO 15444-1> (*.jp2)", L"JP2 ファイル <ISO 15444-1> (*.jp2)"}),
                                          Pick({L"Bitmap File(*.bmp)", L"ビットマップ(*.bmp)"})};
    EXPECT_EQ(filters, expected);
}

// The status box drawn by the plug-in against the expected text drawn with
// DrawTextW in the plug-in's font, pixel for pixel.
TEST_F(UiTexts, StatusBox) {
    const Expected loading = {L"JPEG 2000 image loading... Please wait.", L"画像をロード中…少々お待ちください。"};
    // Ended and waiting for its decode: the loading text alone (while the
    // file arrives a progress line follows it).
    instance->reception.loadState = LoadStateEnded;
    RECT box = {0, 0, 200, 60};
    HDC screen = GetDC(nullptr);
    HDC dcs[2] = {CreateCompatibleDC(screen), CreateCompatibleDC(screen)};
    HBITMAP bitmaps[2] = {CreateCompatibleBitmap(screen, 200, 60), CreateCompatibleBitmap(screen, 200, 60)};
    std::vector<uint32_t> pixels[2];
    for (int i = 0; i < 2; i++) {
        HGDIOBJ old = SelectObject(dcs[i], bitmaps[i]);
        if (i == 0) {
            PaintStatusBox(dcs[i], &box, instance);
        } else {
            Rectangle(dcs[i], 0, 0, 200, 60);
            RECT text = {2, 2, 198, 58};
            HFONT font = CreateUiFont(instance);
            HGDIOBJ oldFont = SelectObject(dcs[i], font);
            DrawTextW(dcs[i], Pick(loading).c_str(), -1, &text, DT_WORDBREAK);
            SelectObject(dcs[i], oldFont);
            DeleteObject(font);
        }
        SelectObject(dcs[i], old);
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), 200, -60, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        pixels[i].resize(200 * 60);
        GetDIBits(dcs[i], bitmaps[i], 0, 60, pixels[i].data(), &info, DIB_RGB_COLORS);
        DeleteObject(bitmaps[i]);
        DeleteDC(dcs[i]);
    }
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(pixels[0], pixels[1]);
}

}  // namespace
