// The right-click menu: its rows for each state of an instance, the label of
// the view item, the live Win32 menu, and commands chosen with the keyboard.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "test_instances.h"
#include "ui_driver.h"
#include "window/context_menu.h"
#include "window/display.h"

namespace {

struct ExpectedRow {
    UINT id;  // 0: separator
    const char* english;
    const char* japanese;
    UINT state;  // MF_GRAYED and MF_CHECKED
};

const char* Pick(const ExpectedRow& row) { return ExpectedText(row.english, row.japanese); }

const ExpectedRow OpenLink = {ID_OPEN_LINK, "&Open This Link", "リンクを開く(&O)", 0};
const ExpectedRow OpenLinkNew = {ID_OPEN_LINK_NEW_WINDOW, "Open This Link by &New Window",
                                 "リンクを新しいウインドウで開く(&N)", 0};
const ExpectedRow Separator = {0, nullptr, nullptr, 0};
const ExpectedRow NextPage = {ID_NEXT_PAGE, "Ne&xt Page", "次のページ(&X)", 0};
const ExpectedRow PreviousPage = {ID_PREVIOUS_PAGE, "Pr&evious Page", "前のページ(&E)", 0};
const ExpectedRow Save = {ID_SAVE_IMAGE_AS, "Save &Image As...", "画像に名前を付けて保存(&I)...", 0};
const ExpectedRow Print = {ID_PRINT_PICTURE, "&Print Picture...", "画像を印刷(&P)...", 0};
const ExpectedRow Fit = {ID_FIT_TO_WINDOW, "&Fit image to window", "画像を画面に合わせる(&F)", 0};
const ExpectedRow Wallpaper = {ID_SET_WALLPAPER, "Set &Wallpaper As...", "壁紙に設定(&W)...", 0};
const ExpectedRow CopyFrame = {ID_COPY_CURRENT_FRAME, "&Copy Current Frame", "現在のフレームをコピー(&C)", 0};
const ExpectedRow CopyLocation = {ID_COPY_IMAGE_LOCATION, "Cop&y Image Location", "画像の場所をコピー(&Y)", 0};
const ExpectedRow CopyShortcut = {ID_COPY_SHORTCUT, "Copy This Shor&tcut", "ショートカットのコピー(&T)", 0};
const ExpectedRow Comments = {ID_IMAGE_COMMENTS, "Image co&mments", "画像のコメントを表示(&M)", 0};
const ExpectedRow About = {ID_ABOUT, "&About JPEG 2000 Plug-in", "JPEG 2000 Plug-inについて(&A)", 0};

ExpectedRow With(ExpectedRow row, UINT state) {
    row.state |= state;
    return row;
}
ExpectedRow View(const char* english, const char* japanese, UINT state) {
    return {ID_VIEW_IMAGE, english, japanese, state};
}

// A 16-byte stand-in for an image: the menu only asks whether one exists.
uint8_t* SomeImage() { return (uint8_t*)calloc(1, 64); }

struct MenuState {
    const char* name;
    uint16_t mode;
    int hasLink;
    int loadState;
    int decodeError;
    bool hasImage;
    bool hasComments;
    int fitToWindow;
    std::vector<ExpectedRow> rows;
    int32_t pageCount = 0;  // of a document; 0: not one
    uint32_t page = 0;      // the one shown
};

std::vector<MenuState> MenuStates() {
    return {
        {"embedded, no link, receiving", NP_EMBED, 0, LoadStateReceiving, 0, false, false, 1,
         {View("&View Image (photo.jp2)", "画像を表示(&V) (photo.jp2)", MF_GRAYED), With(Save, MF_GRAYED), With(Print, MF_GRAYED),
          With(Wallpaper, MF_GRAYED), Separator, With(CopyFrame, MF_GRAYED), CopyLocation, Separator,
          With(Comments, MF_GRAYED), About}},
        {"full page, no link, decoded, fitted", NP_FULL, 0, LoadStateEnded, 0, true, true, 1,
         {View("&Refresh (photo.jp2)", "画像を再描画(&V) (photo.jp2)", 0), Save, Print, With(Fit, MF_CHECKED), Wallpaper,
          Separator, CopyFrame, CopyLocation, Separator, Comments, About}},
        {"embedded, link, failed", NP_EMBED, 1, LoadStateEnded, 1, false, false, 1,
         {OpenLink, OpenLinkNew, Separator, View("&View Image (photo.jp2)", "画像を表示(&V) (photo.jp2)", 0), Save, With(Print, MF_GRAYED),
          With(Wallpaper, MF_GRAYED), Separator, With(CopyFrame, MF_GRAYED), CopyLocation, CopyShortcut, Separator,
          With(Comments, MF_GRAYED), About}},
        {"full page, link, waiting, at own size", NP_FULL, 1, LoadStateWaiting, 0, false, false, 0,
         {OpenLink, OpenLinkNew, Separator, View("&Refresh (photo.jp2)", "画像を再描画(&V) (photo.jp2)", MF_GRAYED),
          With(Save, MF_GRAYED), With(Print, MF_GRAYED), With(Fit, MF_GRAYED), With(Wallpaper, MF_GRAYED), Separator,
          With(CopyFrame, MF_GRAYED), CopyLocation, CopyShortcut, Separator, With(Comments, MF_GRAYED), About}},
        {"full page, failed while receiving", NP_FULL, 0, LoadStateReceiving, 1, false, false, 1,
         {View("&Refresh (photo.jp2)", "画像を再描画(&V) (photo.jp2)", 0), With(Save, MF_GRAYED), With(Print, MF_GRAYED),
          With(Fit, MF_GRAYED | MF_CHECKED), With(Wallpaper, MF_GRAYED), Separator, With(CopyFrame, MF_GRAYED),
          CopyLocation, Separator, With(Comments, MF_GRAYED), About}},
        {"full page, first of three pages", NP_FULL, 0, LoadStateEnded, 0, true, false, 1,
         {View("&Refresh (photo.jp2)", "画像を再描画(&V) (photo.jp2)", 0), NextPage, With(PreviousPage, MF_GRAYED),
          Save, Print, With(Fit, MF_CHECKED), Wallpaper, Separator, CopyFrame, CopyLocation, Separator,
          With(Comments, MF_GRAYED), About},
         3, 0},
        {"embedded, last of two pages", NP_EMBED, 0, LoadStateEnded, 0, true, false, 1,
         {View("&View Image (photo.jp2)", "画像を表示(&V) (photo.jp2)", 0), With(NextPage, MF_GRAYED), PreviousPage,
          Save, Print, Wallpaper, Separator, CopyFrame, CopyLocation, Separator, With(Comments, MF_GRAYED),
          About},
         2, 1},
    };
}

PluginInstance* InstanceIn(const MenuState& state, HWND window) {
    PluginInstance* instance = NewTestInstance(window);
    instance->element.mode = state.mode;
    instance->element.hasLink = state.hasLink;
    strcpy(instance->element.href, "http://link.example/next.html");
    SetTestUrl(instance, "http://images.example/dir/photo.jp2");
    instance->reception.loadState = state.loadState;
    instance->picture.decodeError = state.decodeError;
    instance->scroll.fixedScale = !state.fitToWindow;
    if (state.hasImage) instance->picture.dib = SomeImage();
    instance->sequence.pages = state.pageCount > 0;
    instance->sequence.count = state.pageCount;
    instance->sequence.index = instance->sequence.wanted = state.page;
    if (state.hasComments) {
        instance->picture.comments = (uint8_t*)calloc(1, 16);
        instance->picture.commentsLength = 1;
        instance->picture.comments[0] = 'x';
    }
    return instance;
}

// What the live menu holds, row by row, in the same shape as the description.
std::vector<MenuRow> ReadLiveMenu(HMENU menu, std::vector<std::string>* labels) {
    std::vector<MenuRow> rows;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; i++) {
        MenuRow row = {};
        UINT state = GetMenuState(menu, i, MF_BYPOSITION);
        row.flags = state & (MF_SEPARATOR | MF_GRAYED | MF_CHECKED);
        row.id = (state & MF_SEPARATOR) ? 0 : GetMenuItemID(menu, i);
        char label[512] = "";
        GetMenuStringA(menu, i, label, sizeof label, MF_BYPOSITION);
        labels->push_back(label);
        rows.push_back(row);
    }
    return rows;
}

class ContextMenu : public ::testing::Test {
protected:
    void SetUp() override { window = CreateOwnerWindow(); }
    HWND window = nullptr;
};

TEST_F(ContextMenu, JapaneseTextsAreShiftJisBytes) {
    EXPECT_STREQ("画像を表示(&V)", "\x89\xe6\x91\x9c\x82\xf0\x95\x5c\x8e\xa6(&V)");
    const char* locale = getenv("LC_ALL");
    bool japaneseRun = locale != nullptr && strncmp(locale, "ja_JP", 5) == 0;
    EXPECT_EQ(IsJapaneseUi(), japaneseRun);
    if (japaneseRun) {
        EXPECT_EQ(GetACP(), 932u);
    }
}

TEST_F(ContextMenu, ViewItemLabelFollowsModeAndFileName) {
    struct LabelCase {
        const char* url;
        uint16_t mode;
        const char* english;
        const char* japanese;
    };
    const std::string sixty(56, 'n');
    const std::string sixtyUrl = "http://h.example/" + sixty + ".jp2";
    const std::string fifty = "&View Image (" + sixty.substr(0, 50) + ")";
    const std::string fiftyJapanese = "画像を表示(&V) (" + sixty.substr(0, 50) + ")";
    const LabelCase cases[] = {
        {"http://h.example/photo.JP2", NP_EMBED, "&View Image (photo.JP2)", "画像を表示(&V) (photo.JP2)"},
        {"http://h.example/photo.JP2", NP_FULL, "&Refresh (photo.JP2)", "画像を再描画(&V) (photo.JP2)"},
        {"http://h.example/a&b.jp2", NP_EMBED, "&View Image (a&&b.jp2)", "画像を表示(&V) (a&&b.jp2)"},
        {"http://h.example/show.cgi?id=3", NP_EMBED, "&View Image", "画像を表示(&V)"},
        {"http://h.example/show.cgi?id=3", NP_FULL, "&Refresh", "画像を再描画(&V)"},
        {"", NP_EMBED, "&View Image", "画像を表示(&V)"},
        {"file:C:\\pics\\tab\x09name.j2k", NP_EMBED, "&View Image (tab_name.j2k)", "画像を表示(&V) (tab_name.j2k)"},
        {sixtyUrl.c_str(), NP_EMBED, fifty.c_str(), fiftyJapanese.c_str()},
    };
    for (const LabelCase& labelCase : cases) {
        SCOPED_TRACE(labelCase.url);
        PluginInstance* instance = NewTestInstance(window);
        instance->element.mode = labelCase.mode;
        SetTestUrl(instance, labelCase.url);
        wchar_t label[MenuLabelSize];
        FormatViewImageLabel(label, instance);
        EXPECT_EQ(std::wstring(label), StoredText(IsJapaneseUi() ? labelCase.japanese : labelCase.english));
        FreeTestInstance(instance);
    }
}

TEST_F(ContextMenu, EscapeDoublesAmpersandsAfterCuttingAtFiftyBytes) {
    char text[256];
    std::string fifty(49, 'x');
    strcpy(text, (fifty + "&&&").c_str());  // the cut keeps one ampersand
    EscapeMenuLabel(text);
    EXPECT_EQ(std::string(text), fifty + "&&");
    strcpy(text, std::string(60, '&').c_str());
    EscapeMenuLabel(text);
    EXPECT_EQ(strlen(text), 100u);
    strcpy(text, "\x01\x1f \x80\x9f");
    EscapeMenuLabel(text);
    EXPECT_STREQ(text, "__ \x80\x9f");
}

// The menu TrackPopupMenuEx shows, row by row, for each state.
TEST_F(ContextMenu, LiveMenuHasTheRowsOfEachState) {
    for (const MenuState& state : MenuStates()) {
        SCOPED_TRACE(state.name);
        PluginInstance* instance = InstanceIn(state, window);
        std::vector<MenuRow> live;
        std::vector<std::string> labels;
        int steps = RunModal([&] { ShowContextMenu(instance, window); },
                             {UseOpenMenu(window, [&](HMENU menu) { live = ReadLiveMenu(menu, &labels); },
                                          {{WM_KEYDOWN, VK_ESCAPE}})});
        ASSERT_EQ(steps, 1);
        ASSERT_EQ(live.size(), state.rows.size());
        for (size_t i = 0; i < live.size(); i++) {
            SCOPED_TRACE(i);
            const ExpectedRow& expected = state.rows[i];
            EXPECT_EQ(live[i].id, expected.id);
            if (expected.id == 0) {
                EXPECT_TRUE(live[i].flags & MF_SEPARATOR);
                continue;
            }
            EXPECT_EQ(live[i].flags, expected.state);
            EXPECT_EQ(labels[i], Pick(expected));
        }
        FreeTestInstance(instance);
    }
}

// Keyboard: the mnemonic of "Copy Image Location" copies the URL.
TEST_F(ContextMenu, MnemonicCopiesImageLocation) {
    PluginInstance* instance = InstanceIn(MenuStates()[1], window);
    int steps = RunModal([&] { ShowContextMenu(instance, window); },
                         {UseOpenMenu(window, [](HMENU) {}, {{WM_CHAR, 'y'}})});
    ASSERT_EQ(steps, 1);
    ASSERT_TRUE(OpenClipboardPatiently());
    HANDLE text = GetClipboardData(CF_TEXT);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ((const char*)GlobalLock(text), "http://images.example/dir/photo.jp2");
    GlobalUnlock(text);
    CloseClipboard();
    FreeTestInstance(instance);
}

// Keyboard: arrows and Enter on "Fit image to window" toggle the fit, twice.
TEST_F(ContextMenu, ArrowKeysAndEnterToggleFitToWindow) {
    PluginInstance* instance = InstanceIn(MenuStates()[1], window);
    // View, Save, Print, Fit: the fifth row.
    std::vector<KeyPress> keys = {{WM_KEYDOWN, VK_DOWN}, {WM_KEYDOWN, VK_DOWN}, {WM_KEYDOWN, VK_DOWN},
                                  {WM_KEYDOWN, VK_DOWN}, {WM_KEYDOWN, VK_RETURN}};
    ASSERT_EQ(RunModal([&] { ShowContextMenu(instance, window); }, {UseOpenMenu(window, [](HMENU) {}, keys)}), 1);
    EXPECT_EQ(instance->scroll.fixedScale, 1);
    EXPECT_EQ(instance->scroll.active, 1);
    ASSERT_EQ(RunModal([&] { ShowContextMenu(instance, window); }, {UseOpenMenu(window, [](HMENU) {}, keys)}), 1);
    EXPECT_EQ(instance->scroll.fixedScale, 0);
    EXPECT_EQ(instance->scroll.active, 0);
    FreeTestInstance(instance);
}

// What the stand-in browser was asked since the last call, "url -> target".
std::vector<std::string> TakeRequests() {
    std::vector<std::string> requests;
    for (size_t i = 0; i < Browser.urls.size(); i++) requests.push_back(Browser.urls[i] + " -> " + Browser.targets[i]);
    Browser.urls.clear();
    Browser.targets.clear();
    return requests;
}

TEST_F(ContextMenu, BrowserCommandsAskForTheRightAddressAndTarget) {
    PluginInstance* instance = InstanceIn(MenuStates()[2], window);
    strcpy(instance->element.target, "other_frame");
    TakeRequests();
    for (UINT id : {(UINT)ID_VIEW_IMAGE, (UINT)ID_OPEN_LINK, (UINT)ID_OPEN_LINK_NEW_WINDOW, 0u, 47005u, 47006u}) {
        RunMenuCommand(instance, id);
    }
    std::vector<std::string> expected = {"http://images.example/dir/photo.jp2 -> _self",
                                         "http://link.example/next.html -> _self",
                                         "http://link.example/next.html -> _blank"};
    EXPECT_EQ(TakeRequests(), expected);
    // Before a stream has begun there is no address, and the link commands
    // wait for it too.
    SetTestUrl(instance, "");
    for (UINT id : {(UINT)ID_VIEW_IMAGE, (UINT)ID_OPEN_LINK, (UINT)ID_OPEN_LINK_NEW_WINDOW}) RunMenuCommand(instance, id);
    EXPECT_TRUE(TakeRequests().empty());
    FreeTestInstance(instance);
}

TEST_F(ContextMenu, CopyFrameWithoutImageWarns) {
    PluginInstance* instance = InstanceIn(MenuStates()[2], window);
    std::vector<std::string> messages;
    RunModal([&] { RunMenuCommand(instance, ID_COPY_CURRENT_FRAME); }, {AnswerPluginMessage(&messages)});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], IsJapaneseUi() ? "コピーすべき画像がありません" : "No image to copy!");
    FreeTestInstance(instance);
}

}  // namespace
