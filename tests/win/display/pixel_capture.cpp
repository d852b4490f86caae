// Reads pixels of a device context through a 32-bit DIB section.
#include "pixel_capture.h"

Capture CaptureDc(HDC dc, int width, int height) {
    Capture capture = {width, height, std::vector<uint32_t>((size_t)width * height)};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* source = (const uint32_t*)bits;
    for (size_t i = 0; i < capture.pixels.size(); ++i) {
        capture.pixels[i] = source[i] & 0xFFFFFF;
    }
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return capture;
}

Capture CaptureClient(HWND window) {
    UpdateWindow(window);
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    Capture capture = CaptureDc(dc, client.right, client.bottom);
    ReleaseDC(window, dc);
    return capture;
}
