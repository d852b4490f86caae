// Helpers of the display tests that link the plug-in's code directly: test
// windows holding instances of the stand-in browser, streaming, waiting for
// decodes and reading pixels back from the screen.
#ifndef TESTS_WIN_DISPLAY_SUPPORT_H
#define TESTS_WIN_DISPLAY_SUPPORT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "fixture_path.h"
#include "pixel_capture.h"
#include "stand_in_browser.h"
#include "test_files.h"
#include "ui_driver.h"

// A top-level frame holding one child window that the instance attaches to.
// The child's own procedure records the messages passed on to it.
struct Element {
    HWND frame;
    HWND window;
    NPP_t npp;
    NPWindow npWindow;
};
extern std::vector<UINT> PassedOnMessages;

typedef std::vector<std::pair<std::string, std::string>> Attributes;

// NPP_New, then NPP_SetWindow with a child window of the given client size.
void CreateElement(Element* element, int width, int height, uint16_t mode, const Attributes& attributes);
void DestroyElement(Element* element);
HWND CreateChildWindow(HWND frame, int width, int height);
PluginInstance* RecordOf(Element* element);

// A file made by make_display_fixtures; a failure of the test when missing.
std::vector<uint8_t> ReadFixture(const char* name);

// Feeds bytes as one stream in blocks of blockSize; order lists block
// indexes (empty: in order). Returns the reason passed to NPP_DestroyStream.
struct StreamPlan {
    int32_t blockSize;
    int announceLength;  // 0: none; 1: the real length; more: that length
    std::vector<int> order;
    NPReason reason;
};
void SendStream(NPP npp, const std::vector<uint8_t>& bytes, const StreamPlan& plan);
void SendFile(Element* element, const char* fixtureName);
// CreateElement, SendFile and WaitForDecode; false when the decode did not end.
bool ShowFixture(Element* element, int width, int height, uint16_t mode, const char* fixtureName);

// Serves messages until no decode of the record (partial ones included)
// runs and the queue is empty.
// 0 on timeout.
int WaitForDecode(Element* element, DWORD timeoutMs = 20000);
void PumpMessages();

// A child of the shared test frame, brought on top and read back.
Capture CaptureWindow(HWND window);
// The same after the whole window is invalidated and painted again.
Capture RepaintAndCapture(HWND window);
// What the status box with this text (and this reason line below it) looks
// like at this size.
Capture RenderStatusBox(int width, int height, const char* text, const wchar_t* reason = nullptr);
// The status box's heading over a failure's reason.
const char ErrorText[] = "Plug-in's Error";


#endif
