// Frames, layout, streaming from disk, navigation, screenshots and printing
// of the test browser.
#include "browser_page.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

const char FrameClass[] = "NpapiTestBrowserFrame";
const char PluginClass[] = "NpapiTestBrowserPlugin";
const UINT NavigateMessage = WM_APP + 1;
const UINT OpenBlankMessage = WM_APP + 2;
const int Margin = 8;

std::vector<BrowserFrame*> Frames;

struct MimeRow {
    const char* extension;
    const char* type;
};

// The registration's extensions and types, so the browser picks the plug-in
// by file name as a real one does.
const MimeRow MimeTypes[] = {
    {"jp2", "image/jp2"},    {"jpx", "image/jpx"},          {"mj2", "video/mj2"},  {"jpm", "image/jpm"},
    {"j3d", "image/x-j3d"},  {"j2k", "image/x-jpeg2000"},   {"jpc", "image/x-jpc"}, {"j2c", "image/x-j2c"},
    {"mjc", "video/x-mjc"},
};

std::string MimeTypeOf(const std::string& path) {
    size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : extension) {
        c = (char)tolower((unsigned char)c);
    }
    for (const MimeRow& row : MimeTypes) {
        if (extension == row.extension) {
            return row.type;
        }
    }
    return "image/jp2";
}

int ReadWholeFile(const std::string& path, std::string* bytes) {
    bytes->clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        return 0;
    }
    char chunk[65536];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->append(chunk, count);
    }
    fclose(file);
    return 1;
}

std::string FileUrl(const std::string& path) {
    std::string url = "file:///";
    for (char c : path) {
        url += c == '\\' ? '/' : c;
    }
    return url;
}

std::vector<int32_t> BlockOrder(int32_t count, int order) {
    std::vector<int32_t> blocks;
    for (int32_t i = 0; i < count; ++i) {
        blocks.push_back(i);
    }
    if (order == StreamReversed) {
        std::reverse(blocks.begin(), blocks.end());
    } else if (order == StreamPairsSwapped) {
        for (int32_t i = 0; i + 1 < count; i += 2) {
            std::swap(blocks[i], blocks[i + 1]);
        }
    }
    return blocks;
}

// Writes one block, as much as NPP_WriteReady allows at a time; 0 when the
// plug-in refused bytes (then the stream ends with a network error).
int WriteBlock(Browser* browser, PageInstance* instance, NPStream* stream, const std::string& bytes, int32_t offset,
               int32_t length) {
    while (length > 0) {
        int32_t ready = browser->pluginFuncs.writeready(&instance->npp, stream);
        int32_t now = std::min<int32_t>(length, ready > 0 ? ready : 1);
        int32_t written = browser->pluginFuncs.write(&instance->npp, stream, offset, now, (void*)(bytes.data() + offset));
        if (written <= 0) {
            return 0;
        }
        instance->bytesDelivered += written;
        offset += written;
        length -= written;
    }
    return 1;
}

void StreamFile(PageInstance* instance) {
    Browser* browser = instance->frame->browser;
    const StreamOptions& options = instance->frame->streamOptions;
    std::string bytes;
    if (!ReadWholeFile(instance->path, &bytes)) {
        printf("cannot read %s\n", instance->path.c_str());
        fflush(stdout);
        return;
    }
    std::string url = FileUrl(instance->path);
    std::string mime = MimeTypeOf(instance->path);
    NPStream stream = {};
    stream.ndata = browser;
    stream.url = url.c_str();
    stream.end = options.announceLength ? (uint32_t)bytes.size() : 0;
    uint16_t type = NP_NORMAL;
    if (browser->pluginFuncs.newstream(&instance->npp, (char*)mime.c_str(), &stream, 0, &type) != NPERR_NO_ERROR) {
        return;
    }
    int32_t blockSize = options.blockSize > 0 ? options.blockSize : 65536;
    int32_t count = (int32_t)((bytes.size() + blockSize - 1) / blockSize);
    NPReason reason = options.endReason;
    for (int32_t block : BlockOrder(count, options.order)) {
        int32_t offset = block * blockSize;
        int32_t length = std::min<int32_t>(blockSize, (int32_t)bytes.size() - offset);
        if (!WriteBlock(browser, instance, &stream, bytes, offset, length)) {
            reason = NPRES_NETWORK_ERR;
            break;
        }
    }
    browser->pluginFuncs.destroystream(&instance->npp, &stream, reason);
}

PageInstance* CreateInstance(BrowserFrame* frame, const EmbedElement& element, const std::string& path, uint16_t mode,
                             RECT place) {
    Browser* browser = frame->browser;
    PageInstance* instance = new PageInstance();
    instance->frame = frame;
    instance->element = element;
    instance->path = path;
    instance->npp.ndata = browser;
    instance->window = CreateWindowExA(0, PluginClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, place.left,
                                       place.top, place.right - place.left, place.bottom - place.top, frame->window,
                                       NULL, GetModuleHandleA(NULL), NULL);
    std::vector<char*> names;
    std::vector<char*> values;
    for (auto& attribute : instance->element.attributes) {
        names.push_back((char*)attribute.first.c_str());
        values.push_back((char*)attribute.second.c_str());
    }
    std::string mime = MimeTypeOf(path);
    instance->newResult = browser->pluginFuncs.newp((char*)mime.c_str(), &instance->npp, mode, (int16_t)names.size(),
                                                    names.data(), values.data(), NULL);
    frame->instances.push_back(instance);
    if (instance->newResult != NPERR_NO_ERROR) {
        return instance;
    }
    instance->npWindow.window = instance->window;
    instance->npWindow.x = place.left;
    instance->npWindow.y = place.top;
    instance->npWindow.width = (uint32_t)(place.right - place.left);
    instance->npWindow.height = (uint32_t)(place.bottom - place.top);
    instance->npWindow.clipRect.right = (uint16_t)instance->npWindow.width;
    instance->npWindow.clipRect.bottom = (uint16_t)instance->npWindow.height;
    instance->npWindow.type = NPWindowTypeWindow;
    browser->pluginFuncs.setwindow(&instance->npp, &instance->npWindow);
    StreamFile(instance);
    return instance;
}

void DestroyInstances(BrowserFrame* frame) {
    for (PageInstance* instance : frame->instances) {
        if (instance->newResult == NPERR_NO_ERROR) {
            frame->browser->pluginFuncs.destroy(&instance->npp, NULL);
        }
        DestroyWindow(instance->window);
        delete instance;
    }
    frame->instances.clear();
}

// Embeds flow left to right and wrap at the client width.
std::vector<RECT> LayOutEmbeds(const std::vector<EmbedElement>& elements, int clientWidth) {
    std::vector<RECT> places;
    int x = Margin, y = Margin, rowHeight = 0;
    for (const EmbedElement& element : elements) {
        if (x > Margin && x + element.width > clientWidth - Margin) {
            x = Margin;
            y += rowHeight + Margin;
            rowHeight = 0;
        }
        places.push_back(RECT{x, y, x + element.width, y + element.height});
        x += element.width + Margin;
        rowHeight = std::max(rowHeight, element.height);
    }
    return places;
}

void LoadDocument(BrowserFrame* frame, const std::string& document) {
    std::string path = ResolveLocalPath(document, "");
    frame->documentPath = path;
    SetWindowTextA(frame->window, path.c_str());
    RECT client;
    GetClientRect(frame->window, &client);
    if (!IsHtmlPath(path)) {
        frame->fullPage = 1;
        CreateInstance(frame, EmbedElement{AttributeList(), path, client.right, client.bottom}, path, NP_FULL, client);
        return;
    }
    frame->fullPage = 0;
    std::string html;
    if (!ReadWholeFile(path, &html)) {
        printf("cannot read %s\n", path.c_str());
        fflush(stdout);
    }
    std::vector<EmbedElement> elements = ParseEmbedElements(html);
    std::vector<RECT> places = LayOutEmbeds(elements, client.right);
    for (size_t i = 0; i < elements.size(); ++i) {
        CreateInstance(frame, elements[i], ResolveLocalPath(elements[i].src, path), NP_EMBED, places[i]);
    }
}

BrowserFrame* FrameOfWindow(HWND window) {
    for (BrowserFrame* frame : Frames) {
        if (frame->window == window) {
            return frame;
        }
    }
    return NULL;
}

void RemoveFrame(BrowserFrame* frame) {
    Frames.erase(std::remove(Frames.begin(), Frames.end(), frame), Frames.end());
    delete frame;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    BrowserFrame* frame = FrameOfWindow(window);
    if (frame && message == NavigateMessage) {
        std::string* document = (std::string*)lParam;
        NavigateFrame(frame, *document);
        delete document;
        return 0;
    }
    if (frame && message == OpenBlankMessage) {
        std::string* document = (std::string*)lParam;
        RECT client;
        GetClientRect(window, &client);
        OpenFrame(frame->browser, *document, client.right, client.bottom, frame->streamOptions);
        delete document;
        return 0;
    }
    if (frame && message == WM_SIZE && frame->fullPage && !frame->instances.empty()) {
        PageInstance* instance = frame->instances[0];
        MoveWindow(instance->window, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        instance->npWindow.width = LOWORD(lParam);
        instance->npWindow.height = HIWORD(lParam);
        if (instance->newResult == NPERR_NO_ERROR) {
            frame->browser->pluginFuncs.setwindow(&instance->npp, &instance->npWindow);
        }
        return 0;
    }
    if (frame && message == WM_CLOSE) {
        CloseFrame(frame);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterClasses() {
    static int registered = 0;
    if (registered) {
        return;
    }
    registered = 1;
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleA(NULL);
    frameClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    frameClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    frameClass.lpszClassName = FrameClass;
    RegisterClassA(&frameClass);
    WNDCLASSA pluginClass = frameClass;
    pluginClass.lpfnWndProc = DefWindowProcA;
    pluginClass.lpszClassName = PluginClass;
    RegisterClassA(&pluginClass);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int WriteBmp(const std::string& path, int width, int height, const std::vector<uint8_t>& rows) {
    int stride = (width * 3 + 3) & ~3;
    uint32_t imageSize = (uint32_t)stride * (uint32_t)height;
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fileHeader.bfSize = fileHeader.bfOffBits + imageSize;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = imageSize;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        return 0;
    }
    int ok = fwrite(&fileHeader, sizeof fileHeader, 1, file) == 1 && fwrite(&info, sizeof info, 1, file) == 1 &&
             fwrite(rows.data(), imageSize, 1, file) == 1;
    return (fclose(file) == 0) && ok;
}

}  // namespace

StreamOptions DefaultStreamOptions() { return StreamOptions{65536, 1, StreamInOrder, NPRES_DONE}; }

BrowserFrame* OpenFrame(Browser* browser, const std::string& document, int width, int height,
                        const StreamOptions& options) {
    RegisterClasses();
    RECT outer = {0, 0, width, height};
    DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&outer, style, FALSE);
    int offset = 30 * (int)Frames.size();
    HWND window = CreateWindowExA(0, FrameClass, "", style, offset, offset, outer.right - outer.left,
                                  outer.bottom - outer.top, NULL, NULL, GetModuleHandleA(NULL), NULL);
    if (!window) {
        return NULL;
    }
    BrowserFrame* frame = new BrowserFrame();
    frame->browser = browser;
    frame->window = window;
    frame->streamOptions = options;
    Frames.push_back(frame);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    LoadDocument(frame, document);
    return frame;
}

void NavigateFrame(BrowserFrame* frame, const std::string& document) {
    DestroyInstances(frame);
    InvalidateRect(frame->window, NULL, TRUE);
    LoadDocument(frame, document);
}

void CloseFrame(BrowserFrame* frame) {
    DestroyInstances(frame);
    HWND window = frame->window;
    RemoveFrame(frame);
    DestroyWindow(window);
}

const std::vector<BrowserFrame*>& OpenFrames() { return Frames; }

void ResizeFrame(BrowserFrame* frame, int width, int height) {
    RECT outer = {0, 0, width, height};
    AdjustWindowRect(&outer, (DWORD)GetWindowLongA(frame->window, GWL_STYLE), FALSE);
    SetWindowPos(frame->window, NULL, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    if (!frame->fullPage) {
        for (PageInstance* instance : frame->instances) {
            if (instance->newResult == NPERR_NO_ERROR) {
                frame->browser->pluginFuncs.setwindow(&instance->npp, &instance->npWindow);
            }
        }
    }
}

int WaitUntilQuiet(int quietMs, int maxMs) {
    DWORD start = GetTickCount();
    DWORD quietSince = start;
    double lastCpu = ProcessCpuSeconds();
    while ((int)(GetTickCount() - start) < maxMs) {
        PumpMessages();
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        double cpu = ProcessCpuSeconds();
        MSG waiting;
        int busy = cpu - lastCpu > 0.010 || PeekMessageA(&waiting, NULL, 0, 0, PM_NOREMOVE);
        lastCpu = cpu;
        DWORD now = GetTickCount();
        if (busy) {
            quietSince = now;
        } else if ((int)(now - quietSince) >= quietMs) {
            return 1;
        }
    }
    return 0;
}

void RunMessageLoop() {
    MSG message;
    while (!Frames.empty() && GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int SaveDcAreaToBmp(HDC source, int left, int top, int width, int height, const std::string& path) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!bitmap) {
        return 0;
    }
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, left, top, SRCCOPY);
    GdiFlush();
    int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> rows((const uint8_t*)bits, (const uint8_t*)bits + (size_t)stride * height);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return WriteBmp(path, width, height, rows);
}

int SaveFrameScreenshot(BrowserFrame* frame, const std::string& bmpPath) {
    RedrawWindow(frame->window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
    RECT client;
    GetClientRect(frame->window, &client);
    HDC dc = GetDC(frame->window);
    int ok = SaveDcAreaToBmp(dc, 0, 0, client.right, client.bottom, bmpPath);
    ReleaseDC(frame->window, dc);
    return ok;
}

int PrintElementToFile(PageInstance* instance, const std::string& bmpPath) {
    int width = (int)instance->npWindow.width;
    int height = (int)instance->npWindow.height;
    HDC screen = GetDC(NULL);
    HDC printer = CreateCompatibleDC(screen);
    HBITMAP page = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(printer, page);
    RECT all = {0, 0, width, height};
    FillRect(printer, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    NPPrint print = {};
    print.mode = NP_EMBED;
    print.print.embedPrint.window = instance->npWindow;
    print.print.embedPrint.window.x = 0;
    print.print.embedPrint.window.y = 0;
    print.print.embedPrint.platformPrint = printer;
    instance->frame->browser->pluginFuncs.print(&instance->npp, &print);
    int ok = SaveDcAreaToBmp(printer, 0, 0, width, height, bmpPath);
    SelectObject(printer, old);
    DeleteObject(page);
    DeleteDC(printer);
    ReleaseDC(NULL, screen);
    return ok;
}

namespace {

NPN_GetURLProcPtr RecordGetUrl;

void CarryOutGetUrl(Browser* browser, NPP instance, const char* url, const char* target) {
    BrowserFrame* frame = NULL;
    std::string base;
    for (BrowserFrame* candidate : Frames) {
        for (PageInstance* page : candidate->instances) {
            if (&page->npp == instance) {
                frame = candidate;
                base = candidate->documentPath;
            }
        }
    }
    std::string path = url ? ResolveLocalPath(url, base) : "";
    if (!frame || path.empty() || browser != frame->browser) {
        return;  // recorded only: not a local file, or no frame to load it in
    }
    // Like a real browser the load happens later, from the message loop: the
    // plug-in is still inside its own window procedure here.
    // The one frame of a document stands for _self, _top and _parent; any
    // other name is a new window, as no frame carries a name here.
    static const char* const sameFrame[] = {"", "_self", "_top", "_parent"};
    int blank = 1;
    for (const char* name : sameFrame) {
        blank &= !(target == NULL || strcmp(target, name) == 0);
    }
    PostMessageA(frame->window, blank ? OpenBlankMessage : NavigateMessage, 0, (LPARAM) new std::string(path));
}

NPError PageGetUrl(NPP instance, const char* url, const char* target) {
    NPError result = RecordGetUrl(instance, url, target);
    Browser* browser = instance ? (Browser*)instance->ndata : NULL;
    if (browser) {
        CarryOutGetUrl(browser, instance, url, target);
    }
    return result;
}

}  // namespace

void EnablePageBrowsing(Browser* browser) {
    if (browser->browserFuncs.geturl != PageGetUrl) {
        RecordGetUrl = browser->browserFuncs.geturl;
        browser->browserFuncs.geturl = PageGetUrl;
    }
}
