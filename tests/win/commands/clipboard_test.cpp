// Clipboard copies: the image as CF_DIB and the two addresses as CF_TEXT,
// read back from the clipboard, and the warning while another window holds
// the clipboard open.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "commands/clipboard.h"
#include "decode/jpeg2000.h"
#include "test_instances.h"
#include "ui_driver.h"
#include "window/context_menu.h"

namespace {

// The bytes of one clipboard format, or "absent".
struct ClipboardBytes {
    bool present;
    std::vector<unsigned char> bytes;
};

ClipboardBytes ReadClipboard(UINT format, size_t count) {
    ClipboardBytes result = {false, {}};
    if (!OpenClipboardPatiently()) return result;
    HANDLE data = GetClipboardData(format);
    if (data != nullptr && GlobalSize(data) >= count) {
        const unsigned char* bytes = (const unsigned char*)GlobalLock(data);
        result.present = bytes != nullptr;
        if (bytes != nullptr) result.bytes.assign(bytes, bytes + count);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return result;
}

void PutMarkerText(const char* text) {
    ASSERT_TRUE(OpenClipboardPatiently());
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, strlen(text) + 1);
    strcpy((char*)GlobalLock(block), text);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

class Clipboard : public ::testing::Test {
protected:
    void SetUp() override { instance = NewTestInstance(CreateOwnerWindow()); }
    void TearDown() override { FreeTestInstance(instance); }
    PluginInstance* instance = nullptr;
};

TEST_F(Clipboard, CurrentFrameIsThePackedDibByteForByte) {
    for (const char* name : {"p0_09.j2k", "file1.jp2"}) {  // with palette, without
        SCOPED_TRACE(name);
        FreeTestInstance(instance);
        instance = NewTestInstance(CreateOwnerWindow());
        LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, name);
        PutMarkerText("before");
        RunMenuCommand(instance, ID_COPY_CURRENT_FRAME);
        EXPECT_EQ(GetClipboardOwner(), instance->window.hwnd);
        size_t size = (size_t)PackedDibSize(instance->picture.dib);
        ClipboardBytes copied = ReadClipboard(CF_DIB, size);
        ASSERT_TRUE(copied.present);
        EXPECT_EQ(copied.bytes, std::vector<unsigned char>(instance->picture.dib, instance->picture.dib + size));
        if (instance->picture.dibHeader->biBitCount == 8) {
            EXPECT_EQ(size, 40 + 1024 + (size_t)instance->picture.dibHeader->biSizeImage);
        }
    }
}

TEST_F(Clipboard, AddressesAreTextWithTheirTerminator) {
    // The whole address, however long.
    std::string address = "http://images.example/" + std::string(2000, 'a') + ".jp2";
    SetTestUrl(instance, address);
    strcpy(instance->element.href, "http://link.example/target page.html");
    instance->element.hasLink = 1;
    RunMenuCommand(instance, ID_COPY_IMAGE_LOCATION);
    ClipboardBytes url = ReadClipboard(CF_TEXT, address.size() + 1);
    EXPECT_EQ(std::string(url.bytes.begin(), url.bytes.end()), std::string(address.c_str(), address.size() + 1));
    RunMenuCommand(instance, ID_COPY_SHORTCUT);
    ClipboardBytes href = ReadClipboard(CF_TEXT, strlen(instance->element.href) + 1);
    EXPECT_EQ(std::string(href.bytes.begin(), href.bytes.end()),
              std::string(instance->element.href, strlen(instance->element.href) + 1));

    // An empty address is still copied, as a lone terminator.
    SetTestUrl(instance, "");
    RunMenuCommand(instance, ID_COPY_IMAGE_LOCATION);
    ClipboardBytes empty = ReadClipboard(CF_TEXT, 1);
    ASSERT_TRUE(empty.present);
    EXPECT_EQ(empty.bytes, std::vector<unsigned char>(1, 0));

    // Without a link the shortcut command leaves the clipboard alone.
    instance->element.hasLink = 0;
    PutMarkerText("kept");
    RunMenuCommand(instance, ID_COPY_SHORTCUT);
    EXPECT_EQ(ReadClipboard(CF_TEXT, 5).bytes, std::vector<unsigned char>({'k', 'e', 'p', 't', 0}));
}

TEST_F(Clipboard, NullBytesAreIgnoredSilently) {
    PutMarkerText("kept");
    std::vector<std::string> messages;
    RunModal([&] { CopyToClipboard(instance, nullptr, 10, CF_TEXT); }, {AnswerPluginMessage(&messages)}, 300);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ReadClipboard(CF_TEXT, 5).bytes, std::vector<unsigned char>({'k', 'e', 'p', 't', 0}));
}

// Another thread's window opens the clipboard and keeps it until released.
struct ClipboardHolder {
    HANDLE opened;
    HANDLE release;
};

DWORD WINAPI HoldClipboard(void* context) {
    ClipboardHolder* holder = (ClipboardHolder*)context;
    HWND window = CreateWindowA("STATIC", "holder", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    BOOL opened = OpenClipboard(window);
    SetEvent(holder->opened);
    WaitForSingleObject(holder->release, 10000);
    if (opened) CloseClipboard();
    DestroyWindow(window);
    return opened ? 0 : 1;
}

TEST_F(Clipboard, ClipboardHeldByAnotherWindowIsReported) {
    PutMarkerText("kept");
    SetTestUrl(instance, "http://images.example/a.jp2");
    ClipboardHolder holder = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, HoldClipboard, &holder, 0, nullptr);
    WaitForSingleObject(holder.opened, 5000);
    std::vector<std::string> messages;
    RunModal([&] { RunMenuCommand(instance, ID_COPY_IMAGE_LOCATION); }, {AnswerPluginMessage(&messages)});
    SetEvent(holder.release);
    WaitForSingleObject(thread, 10000);
    DWORD holderResult = 1;
    GetExitCodeThread(thread, &holderResult);
    EXPECT_EQ(holderResult, 0u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], IsJapaneseUi() ? "クリップボードを開けません" : "Can't open the clipboard");
    EXPECT_EQ(ReadClipboard(CF_TEXT, 5).bytes, std::vector<unsigned char>({'k', 'e', 'p', 't', 0}));
    CloseHandle(thread);
    CloseHandle(holder.opened);
    CloseHandle(holder.release);
}

}  // namespace
