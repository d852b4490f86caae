// Pixels read back from the screen or a device context, for the display
// tests that check what the plug-in drew.
#ifndef TESTS_WIN_DISPLAY_PIXEL_CAPTURE_H
#define TESTS_WIN_DISPLAY_PIXEL_CAPTURE_H

#include <stdint.h>
#include <windows.h>

#include <vector>

// Pixels as 0xRRGGBB, top-down.
struct Capture {
    int width;
    int height;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

Capture CaptureDc(HDC dc, int width, int height);
// The client area of a window as it is on screen, after pending paints.
Capture CaptureClient(HWND window);

#endif
