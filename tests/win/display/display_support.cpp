// Test windows, streaming and pixel capture for the display tests.
#include "display_support.h"

#include "window/display.h"

#include <stdio.h>

#include <gtest/gtest.h>

#include "window/window.h"

std::vector<UINT> PassedOnMessages;

namespace {

LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PassedOnMessages.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterClasses() {
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = DefWindowProcA;
    frameClass.hInstance = GetModuleHandleA(NULL);
    frameClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    frameClass.lpszClassName = "DisplayTestFrame";
    RegisterClassA(&frameClass);
    WNDCLASSA childClass = frameClass;
    childClass.lpfnWndProc = ChildProc;
    childClass.lpszClassName = "DisplayTestChild";
    RegisterClassA(&childClass);
}

}  // namespace

void StartDisplayTests() {
    static int started = 0;
    if (started) return;
    started = 1;
    StartPlugin();
    RegisterClasses();
}

HWND CreateChildWindow(HWND frame, int width, int height) {
    return CreateWindowExA(0, "DisplayTestChild", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width, height,
                           frame, NULL, GetModuleHandleA(NULL), NULL);
}

void CreateElement(Element* element, int width, int height, uint16_t mode, const Attributes& attributes) {
    StartDisplayTests();
    *element = Element();
    // One frame for the whole run: mapping a new top-level window costs
    // Wine's X11 driver about a second each time.
    static HWND frame = CreateWindowExA(0, "DisplayTestFrame", "display test", WS_POPUP | WS_VISIBLE, 0, 0, 1100,
                                        1000, NULL, NULL, GetModuleHandleA(NULL), NULL);
    element->frame = frame;
    element->window = CreateChildWindow(element->frame, width, height);
    std::vector<char*> names;
    std::vector<char*> values;
    for (const auto& pair : attributes) {
        names.push_back((char*)pair.first.c_str());
        values.push_back((char*)pair.second.c_str());
    }
    char mime[] = "image/jp2";
    ASSERT_EQ(NPERR_NO_ERROR, NPP_New(mime, &element->npp, mode, (int16_t)names.size(), names.data(),
                                      values.data(), NULL));
    element->npWindow.window = element->window;
    element->npWindow.width = (uint32_t)width;
    element->npWindow.height = (uint32_t)height;
    element->npWindow.type = NPWindowTypeWindow;
    ASSERT_EQ(NPERR_NO_ERROR, NPP_SetWindow(&element->npp, &element->npWindow));
    PumpMessages();
}

void DestroyElement(Element* element) {
    if (element->npp.pdata) {
        NPP_Destroy(&element->npp, NULL);
    }
    DestroyWindow(element->window);
    PumpMessages();
}

PluginInstance* RecordOf(Element* element) { return (PluginInstance*)element->npp.pdata; }

std::vector<uint8_t> ReadFixture(const char* name) {
    std::string path = FixturePath(name);
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes)) ADD_FAILURE() << "missing fixture " << path;
    return bytes;
}

void SendStream(NPP npp, const std::vector<uint8_t>& bytes, const StreamPlan& plan) {
    NPStream stream = {};
    stream.url = "file:///fixtures/image.jp2";
    stream.end = plan.announceLength == 1 ? (uint32_t)bytes.size() : (uint32_t)plan.announceLength;
    uint16_t type = 0;
    char mime[] = "image/jp2";
    ASSERT_EQ(NPERR_NO_ERROR, NPP_NewStream(npp, mime, &stream, 0, &type));
    ASSERT_EQ(NP_NORMAL, type);
    int blockCount = (int)((bytes.size() + plan.blockSize - 1) / plan.blockSize);
    std::vector<int> order = plan.order;
    for (int i = 0; plan.order.empty() && i < blockCount; ++i) {
        order.push_back(i);
    }
    for (int block : order) {
        int32_t offset = block * plan.blockSize;
        int32_t length = std::min<int32_t>(plan.blockSize, (int32_t)bytes.size() - offset);
        ASSERT_GT(NPP_WriteReady(npp, &stream), 0);
        ASSERT_EQ(length, NPP_Write(npp, &stream, offset, length, (void*)(bytes.data() + offset)));
    }
    ASSERT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(npp, &stream, plan.reason));
}

void SendFile(Element* element, const char* fixtureName) {
    SendStream(&element->npp, ReadFixture(fixtureName), StreamPlan{16384, 1, {}, NPRES_DONE});
}

bool ShowFixture(Element* element, int width, int height, uint16_t mode, const char* fixtureName) {
    CreateElement(element, width, height, mode, {});
    SendFile(element, fixtureName);
    return WaitForDecode(element) != 0;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int WaitForDecode(Element* element, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        PluginInstance* record = RecordOf(element);
        PumpMessages();
        if (!record || !IsDecodeBusy(record)) {
            PumpMessages();
            return 1;
        }
        if (GetTickCount() - start > timeoutMs) {
            return 0;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
    }
}

Capture CaptureWindow(HWND window) {
    // Children of the shared frame overlap: the one read must be on top.
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    UpdateWindow(window);
    PumpMessages();
    return CaptureClient(window);
}

Capture RepaintAndCapture(HWND window) {
    InvalidateRect(window, NULL, TRUE);
    return CaptureWindow(window);
}

Capture RenderStatusBox(int width, int height, const char* text, const wchar_t* reason) {
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT box = {0, 0, width, height};
    Rectangle(memory, 0, 0, width, height);
    InflateRect(&box, -2, -2);
    // The plug-in's texts at 100 %, as a record at the screen's 96 dpi has.
    PluginInstance atOneHundredPercent = {};
    HFONT font = CreateUiFont(&atOneHundredPercent);
    HGDIOBJ oldFont = SelectObject(memory, font);
    RECT below = box;
    below.top += DrawTextA(memory, text, -1, &box, DT_WORDBREAK);
    if (reason != nullptr) DrawTextW(memory, reason, -1, &below, DT_WORDBREAK);
    SelectObject(memory, oldFont);
    DeleteObject(font);
    Capture capture = CaptureDc(memory, width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return capture;
}

