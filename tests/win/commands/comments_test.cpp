// The comments dialog as the user sees it: caption, the converted text and
// the encoding label for each kind of comment, its icon, and how it closes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "commands/comments_dialog.h"
#include "test_instances.h"
#include "ui_driver.h"

namespace {

struct CommentsView {
    std::string caption;
    std::string text;
    std::string label;
    HICON icon = nullptr;
};

const char* CommentsCaption() { return IsJapaneseUi() ? "画像のコメント" : "Image comments"; }
std::string Label(const char* name, const char* englishSuffix, const char* japaneseSuffix) {
    return IsJapaneseUi() ? std::string("文字列エンコーディング:  ") + name + japaneseSuffix
                          : std::string("Encoding:  ") + name + englishSuffix;
}

// Step: read the open dialog and end it with `command` (or WM_CLOSE for 0).
UiStep ReadCommentsDialog(CommentsView* view, WPARAM command) {
    return [=]() {
        HWND dialog = FindThreadWindow("#32770", CommentsCaption(), IDC_COMMENTS_ENCODING);
        if (dialog == nullptr) return false;
        view->caption = WindowText(dialog);
        view->text = DialogItemText(dialog, IDC_COMMENTS_TEXT);
        view->label = DialogItemText(dialog, IDC_COMMENTS_ENCODING);
        view->icon = (HICON)SendMessageA(dialog, WM_GETICON, ICON_BIG, 0);
        if (command == 0) {
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        } else {
            PostMessageA(dialog, WM_COMMAND, command, 0);
        }
        return true;
    };
}

class CommentsDialog : public ::testing::Test {
protected:
    void SetUp() override { instance = NewTestInstance(CreateOwnerWindow()); }
    void TearDown() override { FreeTestInstance(instance); }

    // Comment bytes as the decoder stores them: terminated plus nine bytes.
    void SetComments(const std::string& bytes) {
        free(instance->comments);
        instance->comments = (uint8_t*)calloc(1, bytes.size() + 10);
        memcpy(instance->comments, bytes.data(), bytes.size());
        instance->commentsLength = (uint32_t)bytes.size();
    }
    CommentsView Show(WPARAM command = IDOK) {
        CommentsView view;
        EXPECT_EQ(RunModal([&] { ShowCommentsDialog(instance); }, {ReadCommentsDialog(&view, command)}), 1);
        return view;
    }
    PluginInstance* instance = nullptr;
};

TEST_F(CommentsDialog, SevenBitTextIsShownAsItIs) {
    SetComments("Created by a scanner\r\nsecond line");
    CommentsView view = Show();
    EXPECT_EQ(view.caption, CommentsCaption());
    EXPECT_EQ(view.text, "Created by a scanner\r\nsecond line");
    EXPECT_EQ(view.label, Label("ISO-8859-1", "", ""));
    EXPECT_EQ(view.icon, CommentsIcon);
}

TEST_F(CommentsDialog, Utf8WithAndWithoutMark) {
    // Japanese systems show kanji, the others a Latin-1 letter.
    bool japanese = GetACP() == 932;
    std::string utf8 = japanese ? "\xE6\x97\xA5\xE6\x9C\xAC" : "caf\xC3\xA9";
    std::string shown = japanese ? "日本" : "caf\xE9";
    if (!japanese) {
        ASSERT_EQ(GetACP(), 1252u);
    }

    SetComments("\xEF\xBB\xBF" + utf8);
    CommentsView marked = Show();
    EXPECT_EQ(marked.text, shown);  // the mark itself is not shown
    EXPECT_EQ(marked.label, Label("UTF-8", "(B)", "(B)"));

    SetComments(utf8 + "\r\n2nd");
    CommentsView plain = Show(IDCANCEL);
    EXPECT_EQ(plain.text, shown + "\r\n2nd");
    EXPECT_EQ(plain.label, Label("UTF-8", "(N)", "(N)"));
}

TEST_F(CommentsDialog, ShiftJisIsConvertedToTheSystemCodePage) {
    SetComments("\x93\xFA\x96\x7B\x8C\xEA");  // three kanji in Shift_JIS
    CommentsView view = Show(0);
    EXPECT_EQ(view.text, GetACP() == 932 ? "日本語" : "???");
    EXPECT_EQ(view.label, Label("Shift_JIS", "(* Un-recommending)", "(※非推奨)"));
}

TEST_F(CommentsDialog, EdgeCases) {
    SetComments("");
    CommentsView empty = Show();
    EXPECT_EQ(empty.text, "");
    EXPECT_EQ(empty.label, Label("ISO-8859-1", "", ""));

    SetComments("\x82");  // one byte: code page 437, where 0x82 is e-acute
    CommentsView single = Show();
    EXPECT_EQ(single.label, Label("ISO-8859-1", "", ""));
    EXPECT_EQ(single.text, GetACP() == 932 ? "e" : "\xE9");

    SetComments(std::string("abc\0def", 7));  // a zero byte ends the text
    CommentsView cut = Show();
    EXPECT_EQ(cut.text, "abc");
    EXPECT_EQ(cut.label, Label("ISO-8859-1", "", ""));

    SetComments("\xA4\xA2\xA4\xA4");  // EUC-JP is not recognised: read as UTF-8
    EXPECT_EQ(Show().label, Label("UTF-8", "(N)", "(N)"));
}

TEST_F(CommentsDialog, NoCommentsOpensNothing) {
    CommentsView view;
    EXPECT_EQ(RunModal([&] { ShowCommentsDialog(instance); }, {ReadCommentsDialog(&view, IDOK)}, 300), 0);
    RunModal([&] { ShowCommentsDialog(nullptr); }, {}, 100);
}

TEST(EncodingLabel, JoinsPrefixNameAndSuffixWithinTheBuffer) {
    char label[256];
    BuildEncodingLabel(label, sizeof label, CodePageUtf8, true);
    EXPECT_EQ(std::string(label), Label("UTF-8", "(B)", "(B)"));
    char small[10];
    BuildEncodingLabel(small, sizeof small, CodePageShiftJis, false);
    EXPECT_EQ(strlen(small), 9u);
}

}  // namespace
