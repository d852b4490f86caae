// The comments dialog as the user sees it, read back in UTF-16: caption, the
// text in each detected encoding and its label, its icon, and how it closes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "commands/commands.h"
#include "commands/comments_dialog.h"
#include "resource_ids.h"
#include "test_instances.h"
#include "ui_driver.h"

namespace {

struct CommentsView {
    std::wstring caption;
    std::wstring text;
    std::wstring label;
    HICON icon = nullptr;
};

const wchar_t* CommentsCaption() { return IsJapaneseUi() ? L"画像のコメント" : L"Image comments"; }
std::wstring Label(const wchar_t* name, const wchar_t* englishSuffix, const wchar_t* japaneseSuffix) {
    return IsJapaneseUi() ? std::wstring(L"文字列エンコーディング:  ") + name + japaneseSuffix
                          : std::wstring(L"Encoding:  ") + name + englishSuffix;
}
// Bytes read in the system code page are named after it.
std::wstring SystemLabel() {
    if (GetACP() == 932) return Label(L"Shift_JIS", L"(* Un-recommending)", L"(※非推奨)");
    return Label((L"windows-" + std::to_wstring(GetACP())).c_str(), L"", L"");
}

// Step: read the open dialog and end it with `command` (or WM_CLOSE for 0).
UiStep ReadCommentsDialog(CommentsView* view, WPARAM command) {
    return [=]() {
        HWND dialog = FindThreadWindow("#32770", nullptr, IDC_COMMENTS_ENCODING);
        if (dialog == nullptr) return false;
        view->caption = WideText(dialog);
        view->text = WideText(GetDlgItem(dialog, IDC_COMMENTS_TEXT));
        view->label = WideText(GetDlgItem(dialog, IDC_COMMENTS_ENCODING));
        view->icon = (HICON)SendMessageW(dialog, WM_GETICON, ICON_BIG, 0);
        PostMessageW(dialog, command == 0 ? WM_CLOSE : WM_COMMAND, command, 0);
        return true;
    };
}

class CommentsDialog : public ::testing::Test {
protected:
    void SetUp() override { instance = NewTestInstance(CreateOwnerWindow()); }
    void TearDown() override { FreeTestInstance(instance); }

    // Comment bytes as the decoder stores them: terminated plus nine bytes.
    void SetComments(const std::string& bytes) {
        free(instance->picture.comments);
        instance->picture.comments = (uint8_t*)calloc(1, bytes.size() + 10);
        memcpy(instance->picture.comments, bytes.data(), bytes.size());
        instance->picture.commentsLength = (uint32_t)bytes.size();
    }
    CommentsView Show(WPARAM command = IDOK) {
        CommentsView view;
        EXPECT_EQ(RunModal([&] { ShowCommentsDialog(instance); }, {ReadCommentsDialog(&view, command)}), 1);
        return view;
    }
    PluginInstance* instance = nullptr;
};

// Each encoding is read in its own code page and shown through a Unicode
// window, so Japanese reads right on a Western system and the other way round.
TEST_F(CommentsDialog, ShowsEachEncodingAsUtf16) {
    const bool western = GetACP() == 1252;
    struct Case {
        std::string bytes;
        std::wstring shown;  // empty: not compared
        std::wstring label;
    } cases[] = {
        {"Created by a scanner\r\nsecond line", L"Created by a scanner\r\nsecond line",
         Label(L"ISO-8859-1", L"", L"")},
        {"\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"日本語", Label(L"UTF-8", L"(B)", L"(B)")},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n2nd", L"日本語\r\n2nd", Label(L"UTF-8", L"(N)", L"(N)")},
        {"\x93\xFA\x96\x7B\x8C\xEA", L"日本語", Label(L"Shift_JIS", L"(* Un-recommending)", L"(※非推奨)")},
        {"caf\xE9 cr\xE8me", western ? L"café crème" : L"", SystemLabel()},
        {"", L"", Label(L"ISO-8859-1", L"", L"")},
        {std::string("abc\0def", 7), L"abc", Label(L"ISO-8859-1", L"", L"")},  // a zero byte ends the text
        {"\xA4\xA2\xA4\xA4", L"", SystemLabel()},  // EUC-JP is not recognised
    };
    WPARAM closings[] = {IDOK, IDCANCEL, 0};
    int index = 0;
    for (const Case& c : cases) {
        SetComments(c.bytes);
        CommentsView view = Show(closings[index++ % 3]);
        EXPECT_EQ(view.caption, CommentsCaption());
        if (!c.shown.empty() || c.bytes.empty()) {
            EXPECT_EQ(view.text, c.shown) << c.bytes;
        }
        EXPECT_EQ(view.label, c.label) << c.bytes;
        EXPECT_EQ(view.icon, CommentsIcon);
    }
}

TEST_F(CommentsDialog, NoCommentsOpensNothing) {
    CommentsView view;
    EXPECT_EQ(RunModal([&] { ShowCommentsDialog(instance); }, {ReadCommentsDialog(&view, IDOK)}, 300), 0);
    RunModal([&] { ShowCommentsDialog(nullptr); }, {}, 100);
}

TEST(EncodingLabel, JoinsPrefixNameAndSuffixWithinTheBuffer) {
    wchar_t label[256];
    BuildEncodingLabel(label, 256, CodePageUtf8, true);
    EXPECT_EQ(std::wstring(label), Label(L"UTF-8", L"(B)", L"(B)"));
    BuildEncodingLabel(label, 256, 1251, false);
    EXPECT_EQ(std::wstring(label), Label(L"windows-1251", L"", L""));
    wchar_t small[10];
    BuildEncodingLabel(small, 10, CodePageShiftJis, false);
    EXPECT_EQ(wcslen(small), 9u);
}

}  // namespace
