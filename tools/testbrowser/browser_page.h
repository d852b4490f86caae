// The test browser's documents: frames (top-level windows) that show a
// JPEG 2000 file as a full page or an HTML page's <embed> elements as
// embedded instances, stream each file from disk, follow NPN_GetURL, resize,
// print an element and save screenshots. Only NPAPI reaches the plug-in.
#ifndef TESTBROWSER_BROWSER_PAGE_H
#define TESTBROWSER_BROWSER_PAGE_H

#include <string>
#include <vector>

#include "browser.h"
#include "page.h"

// How a file is delivered: block size, whether NPStream.end announces the
// length, the order of the blocks and the reason NPP_DestroyStream gets.
enum { StreamInOrder = 0, StreamReversed = 1, StreamPairsSwapped = 2 };
struct StreamOptions {
    int32_t blockSize;
    int announceLength;
    int order;
    NPReason endReason;
};
StreamOptions DefaultStreamOptions();

struct BrowserFrame;

struct PageInstance {
    NPP_t npp;
    NPWindow npWindow;
    HWND window;
    BrowserFrame* frame;
    EmbedElement element;
    std::string path;
    NPError newResult;
    int32_t bytesDelivered;
};

struct BrowserFrame {
    Browser* browser;
    HWND window;
    std::string documentPath;
    int fullPage;
    StreamOptions streamOptions;
    std::vector<PageInstance*> instances;
};

// Opens a new top-level frame of the given client size showing the file or
// page (local path or file: URL). Null when the window cannot be made.
BrowserFrame* OpenFrame(Browser* browser, const std::string& document, int width, int height,
                        const StreamOptions& options);

// Replaces the frame's document: every instance is destroyed, new ones made.
void NavigateFrame(BrowserFrame* frame, const std::string& document);

// Destroys the frame's instances and its window.
void CloseFrame(BrowserFrame* frame);

// Every frame still open, oldest first.
const std::vector<BrowserFrame*>& OpenFrames();

// Sets the frame's client size; the instances get NPP_SetWindow again.
void ResizeFrame(BrowserFrame* frame, int width, int height);

// Serves messages until the process has been idle (no CPU time used, no
// message waiting) for quietMs, or maxMs have passed. 1 when it went quiet.
int WaitUntilQuiet(int quietMs, int maxMs);

// Serves messages until no frame is left (interactive use).
void RunMessageLoop();

// The width x height pixels at (left, top) of a device context as a 24-bit
// bottom-up .bmp file.
int SaveDcAreaToBmp(HDC source, int left, int top, int width, int height, const std::string& path);

// Client area of the frame, children included, as a 24-bit .bmp file.
int SaveFrameScreenshot(BrowserFrame* frame, const std::string& bmpPath);

// NPP_Print of an embedded instance into a memory device context of the
// element's size (white page), saved as a 24-bit .bmp file.
int PrintElementToFile(PageInstance* instance, const std::string& bmpPath);

// After StartPlugin: NPN_GetURL is still recorded and printed, and is then
// carried out as a browser does: "_self" (and "_top", "_parent") replaces
// the document of the caller's frame, "_blank" or any other name opens a
// new frame; local paths and file: URLs load, other URLs are only recorded.
void EnablePageBrowsing(Browser* browser);

#endif
