// Pixels read back from the screen, a device context or a printed page,
// for the tests that check what the plug-in drew, and how close two
// pictures are.
#ifndef TESTS_WIN_DISPLAY_PIXEL_CAPTURE_H
#define TESTS_WIN_DISPLAY_PIXEL_CAPTURE_H

#include <stdint.h>
#include <windows.h>

#include <string>
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

// A packed DIB (24-bit colour or 8-bit grey) shrunk to width x height by
// averaging the pixels each one covers.
Capture ShrinkDib(const uint8_t* dib, int width, int height);
// A binary PPM file (P6, 8 bits a sample) as pdftoppm writes; empty when
// unreadable.
Capture ReadPpm(const std::string& path);
// The part of `capture` inside `area`.
Capture CropCapture(const Capture& capture, RECT area);
// Peak signal-to-noise ratio of two captures over `area`, all channels (99
// when equal).
double Psnr(const Capture& a, const Capture& b, RECT area);

#endif
