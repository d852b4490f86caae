// Pictures for the README: the context menu, the About box and the comments
// dialog of npkavrel.dll in the test browser, captured from the screen.
// Usage: commands_screenshots SAMPLE_JP2 OUTPUT_DIRECTORY SUFFIX
// Writes menu_SUFFIX.bmp, about_SUFFIX.bmp and comments_SUFFIX.bmp.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser_page.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {

void WriteBig32(std::vector<unsigned char>* bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++) (*bytes)[offset + i] = (unsigned char)(value >> (24 - 8 * i));
}

// The JP2 file with one more comment segment right after the codestream's
// SIZ segment, so that it is shown first.
bool AddComment(std::vector<unsigned char>* file, const std::string& text) {
    size_t box = 0;
    while (box + 8 <= file->size()) {
        uint32_t length = Be32(file->data() + box);
        if (memcmp(file->data() + box + 4, "jp2c", 4) == 0 && length != 1) {
            size_t codestream = box + 8;
            size_t afterSiz = codestream + 4 + Be16(file->data() + codestream + 4);
            uint16_t segment = (uint16_t)(4 + text.size());
            std::vector<unsigned char> comment = {0xFF, 0x64, (unsigned char)(segment >> 8), (unsigned char)segment,
                                                  0x00, 0x01};
            comment.insert(comment.end(), text.begin(), text.end());
            file->insert(file->begin() + afterSiz, comment.begin(), comment.end());
            if (length != 0) WriteBig32(file, box, length + (uint32_t)comment.size());
            return true;
        }
        if (length < 8) return false;
        box += length;
    }
    return false;
}

// The screen inside `area` as a 24-bit bottom-up .bmp file.
bool SaveScreenArea(const RECT& area, const std::string& path) {
    HDC screen = GetDC(nullptr);
    bool saved = SaveDcAreaToBmp(screen, area.left, area.top, area.right - area.left, area.bottom - area.top, path);
    ReleaseDC(nullptr, screen);
    return saved;
}

RECT WindowArea(HWND window) {
    RECT area = {0, 0, 0, 0};
    GetWindowRect(window, &area);
    return area;
}

// Step: once `find` returns a window and it has had time to paint, capture
// the area `frameOf` gives for it, then let `finish` close it.
UiStep Capture(std::function<HWND()> find, std::function<RECT(HWND)> frameOf, std::string path,
               std::function<void(HWND)> finish, bool* saved) {
    auto ticks = std::make_shared<int>(0);
    return [=]() {
        HWND window = find();
        if (window == nullptr || ++*ticks < 15) return false;  // 300 ms to paint
        *saved = SaveScreenArea(frameOf(window), path);
        finish(window);
        return true;
    };
}

int ServeUntil(bool* done, DWORD milliseconds) {
    DWORD deadline = GetTickCount() + milliseconds;
    MSG message;
    while (!*done && GetTickCount() < deadline) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return *done;
}

// Right-click in the image's middle, then run the steps.
bool RightClick(HWND image, std::vector<UiStep> steps) {
    RECT client;
    GetClientRect(image, &client);
    POINT point = {client.right / 2, client.bottom / 3};
    ClientToScreen(image, &point);
    SetCursorPos(point.x, point.y);
    bool done = false;
    steps.push_back([&done]() { return done = true; });
    RunModal(
        [&] {
            PostMessageA(image, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(client.right / 2, client.bottom / 3));
            PostMessageA(image, WM_RBUTTONUP, 0, MAKELPARAM(client.right / 2, client.bottom / 3));
            ServeUntil(&done, 15000);
        },
        steps, 12000);
    return done;
}

HWND FindDialogWith(int control) { return FindThreadWindow("#32770", nullptr, control); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: commands_screenshots SAMPLE_JP2 OUTPUT_DIRECTORY SUFFIX\n");
        return 2;
    }
    std::string output = argv[2], suffix = argv[3];
    bool japanese = GetUserDefaultLangID() == 1041;
    std::vector<unsigned char> sample = FileBytes(argv[1]);
    // UTF-8 without a byte-order mark (u8: plain literals are stored as
    // Shift_JIS); the sample's own comment follows.
    std::string comment = japanese ? std::string(u8"夕暮れの丘（サンプル画像）\r\n")
                                   : "Hills at sunset \xE2\x80\x94 seen from the caf\xC3\xA9 terrace\r\n";
    if (sample.empty() || !AddComment(&sample, comment)) {
        fprintf(stderr, "cannot read or extend %s\n", argv[1]);
        return 1;
    }
    // A short, stable place for the page: its path shows in the pictures.
    std::string work = "C:\\npkavrel-sample";
    CreateDirectoryA(work.c_str(), nullptr);
    WriteFileBytes(work + "\\sample.jp2", sample);
    WriteFileText(work + "\\page.html",
                  "<html><body><embed src=\"sample.jp2\" width=\"400\" height=\"300\" href=\"sample.jp2\"></body></html>");

    Browser browser;
    InitializeBrowser(&browser, 0x000B, nullptr);
    browser.printUrlRequests = 0;
    if (!LoadPluginLibrary(&browser, "npkavrel.dll") || !StartPlugin(&browser)) return 1;
    BrowserFrame* frame = OpenFrame(&browser, work + "\\page.html", 416, 316, DefaultStreamOptions());
    if (frame == nullptr || frame->instances.empty()) return 1;
    SetWindowPos(frame->window, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE);
    WaitUntilQuiet(300, 30000);
    HWND image = frame->instances[0]->window;

    bool menuSaved = false, aboutSaved = false, commentsSaved = false;
    RightClick(image, {Capture([] { return FindThreadWindow("#32768", nullptr); },
                               [&](HWND menu) {
                                   RECT area = WindowArea(frame->window), popup = WindowArea(menu);
                                   UnionRect(&area, &area, &popup);
                                   return area;
                               },
                               output + "\\menu_" + suffix + ".bmp",
                               [image](HWND) { PostMessageA(image, WM_KEYDOWN, VK_ESCAPE, 1); }, &menuSaved)});
    auto closeDialog = [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDOK, 0); };
    RightClick(image, {UseOpenMenu(image, [](HMENU) {}, {{WM_CHAR, 'a'}}),
                       Capture([] { return FindDialogWith(1003); }, WindowArea, output + "\\about_" + suffix + ".bmp",
                               closeDialog, &aboutSaved)});
    RightClick(image, {UseOpenMenu(image, [](HMENU) {}, {{WM_CHAR, 'm'}}),
                       Capture([] { return FindDialogWith(1004); }, WindowArea,
                               output + "\\comments_" + suffix + ".bmp", closeDialog, &commentsSaved)});
    CloseFrame(frame);
    ShutdownPlugin(&browser);
    printf("menu %d, about %d, comments %d\n", menuSaved, aboutSaved, commentsSaved);
    return menuSaved && aboutSaved && commentsSaved ? 0 : 1;
}
