// Module start-up, the language rule and its texts, the warning box and the
// client-size helper, on the plug-in's code linked into this program. Built
// twice: once run in the English and once in the Japanese locale.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "host/host_internal.h"
#include "ui_driver.h"
#include "window/display.h"

namespace {

// What a message box looked like while it was open.
struct SeenBox {
    int found;
    HWND owner;
    char caption[256];
    char text[4096];
    HICON icon;
    int hasOk;
    int hasCancel;
};

// Runs `show` and records the plug-in's warning box it opens, through the
// commands tests' one message-box watcher.
SeenBox ShowAndSee(const std::function<void()>& show) {
    SeenBox seen = {};
    RunModal(show, {InspectPluginMessage([&](HWND box) {
                 seen.found = 1;
                 seen.owner = GetWindow(box, GW_OWNER);
                 GetWindowTextA(box, seen.caption, sizeof(seen.caption));
                 GetDlgItemTextA(box, MessageBoxTextId, seen.text, sizeof(seen.text));
                 seen.icon = reinterpret_cast<HICON>(SendDlgItemMessageA(box, 0x0440, STM_GETICON, 0, 0));
                 seen.hasOk = GetDlgItem(box, IDOK) != nullptr;
                 seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
             })});
    return seen;
}

std::string Format(const char* format, const char* argument) {
    char text[2048];
    wsprintfA(text, format, argument);
    return text;
}

TEST(LanguageRule, OnlyJapaneseJapanSelectsJapanese) {
    EXPECT_EQ(IsJapaneseLanguage(1041), 1);
    EXPECT_EQ(IsJapaneseLanguage(2052), 0);  // Chinese (PRC), also a CJK code page
    EXPECT_EQ(IsJapaneseLanguage(1033), 0);
    EXPECT_EQ(IsJapaneseLanguage(MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL)), 0);
}

// The Japanese text must be Shift_JIS in the binary: it decodes through code
// page 932 to the same characters as the UTF-16 literal, and "ソ" carries
// the trail byte 0x5C that a mistaken UTF-8 build would not produce.
TEST(LanguageRule, JapaneseTextIsStoredAsShiftJis) {
    const char* text = LoadFailureFormat.japanese;
    const wchar_t* expected = L"リソースをロードできません。ファイル名が「%s」かどうか確認して下さい";
    wchar_t decoded[256] = {};
    int count = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, decoded, 256);
    ASSERT_GT(count, 0);
    EXPECT_EQ(std::wstring(decoded), std::wstring(expected));
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    EXPECT_EQ(bytes[0], 0x83);  // リ
    EXPECT_EQ(bytes[1], 0x8A);
    EXPECT_EQ(bytes[2], 0x83);  // ソ
    EXPECT_EQ(bytes[3], 0x5C);
    EXPECT_EQ(strlen(text), wcslen(expected) * 2 - 2);  // all double-byte except "%s"
}

TEST(ModuleStartUp, LanguageIsTheUsersDefault) {
    InitializeModule(GetModuleHandleA(nullptr));
    EXPECT_EQ(UiLanguage, GetUserDefaultLangID());
#ifdef EXPECT_JAPANESE_LOCALE
    EXPECT_EQ(UiLanguage, 1041);
    EXPECT_TRUE(IsJapaneseUi());
#else
    EXPECT_FALSE(IsJapaneseUi());
#endif
}

TEST(ModuleStartUp, NullModuleWarnsWithoutOwnerAndLoadsNothing) {
    LinkCursorOther = nullptr;
    CommentsIcon = nullptr;
    SeenBox seen = ShowAndSee([&] { InitializeModule(nullptr); });
    ASSERT_EQ(seen.found, 1);
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_STREQ(seen.caption, "JPEG 2000 Plug-in");
    EXPECT_EQ(std::string(seen.text), Format(PickText(LoadFailureFormat), "npkavrel.dll"));
    EXPECT_EQ(ModuleHandle, nullptr);
    EXPECT_EQ(LinkCursorOther, nullptr);
    EXPECT_EQ(CommentsIcon, nullptr);
}

TEST(PluginMessage, OwnedByTheRecordsWindowWithFixedCaption) {
    HWND owner = CreateOwnerWindow();
    ASSERT_NE(owner, nullptr);
    PluginInstance record = {};
    record.window.hwnd = owner;
    SeenBox seen = ShowAndSee([&] { ShowPluginMessage(&record, L"Saved %d bytes to %s", 1234, L"C:\\a.jp2"); });
    ASSERT_EQ(seen.found, 1);
    EXPECT_EQ(seen.owner, owner);
    EXPECT_STREQ(seen.caption, "JPEG 2000 Plug-in");
    EXPECT_STREQ(seen.text, "Saved 1234 bytes to C:\\a.jp2");
    EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_WARNING));
    EXPECT_EQ(seen.hasOk, 1);
    EXPECT_EQ(seen.hasCancel, 0);
}

TEST(PluginMessage, NullRecordHasNoOwner) {
    SeenBox seen = ShowAndSee([&] { ShowPluginMessage(nullptr, L"%s", L"plain"); });
    ASSERT_EQ(seen.found, 1);
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_STREQ(seen.text, "plain");
}

// An argument far longer than the text buffer is cut, not written past it.
TEST(PluginMessage, OverlongTextIsBounded) {
    static wchar_t longArgument[6000];
    wmemset(longArgument, L'x', 6000 - 1);
    SeenBox seen = ShowAndSee([&] { ShowPluginMessage(nullptr, L"head %s tail", longArgument); });
    ASSERT_EQ(seen.found, 1);
    EXPECT_EQ(strncmp(seen.text, "head xxxx", 9), 0);
    EXPECT_LT(strlen(seen.text), 2048u);
}

TEST(InstanceRecord, ClientSizeFollowsTheWindowAndIsZeroWhenDetached) {
    // A child has no frame: its client area is the size it is given.
    HWND window = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 321, 123, CreateOwnerWindow(), nullptr, nullptr,
                                  nullptr);
    ASSERT_NE(window, nullptr);
    PluginInstance record = {};
    record.window.hwnd = window;
    UpdateClientSize(&record);
    EXPECT_EQ(record.scroll.clientWidth, 321);
    EXPECT_EQ(record.scroll.clientHeight, 123);
    SetWindowPos(window, nullptr, 0, 0, 50, 60, SWP_NOMOVE | SWP_NOZORDER);
    UpdateClientSize(&record);
    EXPECT_EQ(record.scroll.clientWidth, 50);
    EXPECT_EQ(record.scroll.clientHeight, 60);
    DestroyWindow(window);
    UpdateClientSize(&record);
    EXPECT_EQ(record.scroll.clientWidth, 0);
    EXPECT_EQ(record.scroll.clientHeight, 0);
    record.window.hwnd = nullptr;
    record.scroll.clientWidth = 7;
    UpdateClientSize(&record);
    EXPECT_EQ(record.scroll.clientWidth, 0);
}

}  // namespace
