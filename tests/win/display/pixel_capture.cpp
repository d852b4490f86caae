// Reads pixels of a device context through a 32-bit DIB section, of a
// bitmap or a page rasterised into a PPM file, and compares them.
#include "pixel_capture.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "jpeg2000.h"

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

Capture ShrinkDib(const uint8_t* dib, int width, int height) {
    const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)dib;
    int sourceWidth = header->biWidth, sourceHeight = abs(header->biHeight);
    int channels = header->biBitCount / 8;
    size_t stride = ((size_t)sourceWidth * header->biBitCount + 31) / 32 * 4;
    const uint8_t* bits = PackedDibBits(dib);
    Capture shrunk = {width, height, std::vector<uint32_t>((size_t)width * height)};
    for (int y = 0; y < height; ++y) {
        int y0 = (int)((int64_t)y * sourceHeight / height), y1 = (int)((int64_t)(y + 1) * sourceHeight / height);
        y1 = y1 > y0 ? y1 : y0 + 1;
        for (int x = 0; x < width; ++x) {
            int x0 = (int)((int64_t)x * sourceWidth / width), x1 = (int)((int64_t)(x + 1) * sourceWidth / width);
            x1 = x1 > x0 ? x1 : x0 + 1;
            double sums[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const uint8_t* row = bits + stride * (size_t)(header->biHeight > 0 ? sourceHeight - 1 - sy : sy);
                for (int sx = x0; sx < x1; ++sx) {
                    for (int c = 0; c < 3; ++c) {
                        sums[c] += row[(size_t)sx * channels + (channels == 3 ? c : 0)];
                    }
                }
            }
            double count = (double)(y1 - y0) * (x1 - x0);
            uint32_t blue = (uint32_t)(sums[0] / count + 0.5), green = (uint32_t)(sums[1] / count + 0.5);
            uint32_t red = (uint32_t)(sums[2] / count + 0.5);
            shrunk.pixels[(size_t)y * width + x] = red << 16 | green << 8 | blue;
        }
    }
    return shrunk;
}

Capture ReadPpm(const std::string& path) {
    Capture capture = {0, 0, {}};
    FILE* file = fopen(path.c_str(), "rb");
    int width = 0, height = 0, depth = 0;
    if (file && fscanf(file, "P6 %d %d %d", &width, &height, &depth) == 3 && depth == 255 && fgetc(file) != EOF &&
        width > 0 && height > 0) {
        std::vector<uint8_t> samples((size_t)width * height * 3);
        if (fread(samples.data(), samples.size(), 1, file) == 1) {
            capture = {width, height, std::vector<uint32_t>((size_t)width * height)};
            for (size_t i = 0; i < capture.pixels.size(); ++i) {
                capture.pixels[i] = (uint32_t)samples[3 * i] << 16 | samples[3 * i + 1] << 8 | samples[3 * i + 2];
            }
        }
    }
    if (file) fclose(file);
    return capture;
}

Capture CropCapture(const Capture& capture, RECT area) {
    Capture part = {(int)(area.right - area.left), (int)(area.bottom - area.top), {}};
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            part.pixels.push_back(capture.At(x, y));
        }
    }
    return part;
}

double Psnr(const Capture& a, const Capture& b, RECT area) {
    double squares = 0;
    int count = 0;
    for (int y = area.top; y < area.bottom && y < a.height && y < b.height; ++y) {
        for (int x = area.left; x < area.right && x < a.width && x < b.width; ++x) {
            for (int shift = 0; shift < 24; shift += 8) {
                double d = (double)(a.At(x, y) >> shift & 255) - (double)(b.At(x, y) >> shift & 255);
                squares += d * d;
                ++count;
            }
        }
    }
    return count == 0 ? 0 : squares == 0 ? 99 : 10 * log10(255.0 * 255.0 * count / squares);
}
